// Menu controller: wiring, menu layout, menu actions and the status icon.
#include "src/MenuManager.h"

#include "platform/Localization.h"
#include "platform/LoginItem.h"

namespace {
const char* const antennaSymbol = "antenna.radiowaves.left.and.right";

std::shared_ptr<platform::MenuItem> makeItem(const std::string& title, const std::string& action)
{
    return std::make_shared<platform::MenuItem>(title, action, "");
}

// A slot as the user knows it: by the key the desktop bound for it, or, with none bound, by its
// number ("Slot 4").
std::string slotName(const HotkeyManager& hotkeys, long slot)
{
    std::string key = hotkeys.boundKeyForSlot(slot);
    if (!key.empty())
        return key;
    std::string name = platform::localizedString("hotkey_slot");
    const auto placeholder = name.find("%1");
    const std::string number = std::to_string(slot + 1);
    return placeholder == std::string::npos ? name + " " + number : name.replace(placeholder, 2, number);
}
} // namespace

MenuManager::MenuManager(std::shared_ptr<platform::StatusItem> statusItem, std::shared_ptr<AudioPlayer> audioPlayer)
    : hotkeyManager(HotkeyManager::create()), channels(KovraChannel::allChannels), statusItem(std::move(statusItem)),
      audioPlayer(std::move(audioPlayer)), updaterController(platform::UpdaterFactory::shared().makeController(true))
{
    weakSelf_ = std::shared_ptr<MenuManager>(lifetime_, this);
    const std::weak_ptr<MenuManager> weakSelf = weakSelf_;
    this->audioPlayer->onStateChange = [weakSelf] {
        if (auto self = weakSelf.lock())
            self->rebuildMenu();
    };
    hotkeyManager->onHotkeyPressed = [weakSelf](long slot) {
        if (auto self = weakSelf.lock())
            self->hotkeyTriggered(slot);
    };
    hotkeyManager->onBindingsChanged = [weakSelf] {
        if (auto self = weakSelf.lock())
            self->rebuildMenu();
    };
}

void MenuManager::start()
{
    if (auto* button = statusItem->button()) {
        button->setImage(menuBarIcon(homeFlag));
        button->setTitle("");
    }
    hotkeyManager->setDefaults(KovraChannel::defaultChannelIds);
    rebuildMenu();
}

// ---- Menu layout

void MenuManager::rebuildMenu()
{
    updateStatusIcon();
    auto menu = std::make_shared<platform::Menu>();

    for (const auto& channel : channels)
        menu->addItem(channelMenuItem(channel));
    menu->addItem(platform::MenuItem::separatorItem());

    auto launchAtLogin = makeItem(platform::localizedString("launch_at_login"), "toggleLaunchAtLogin");
    launchAtLogin->setTarget(weakSelf_);
    const bool registered = platform::LoginItemService::mainAppService().status() == platform::LoginItemStatus::Enabled;
    launchAtLogin->setState(registered ? platform::ControlStateValueOn : platform::ControlStateValueOff);
    menu->addItem(launchAtLogin);

    auto shortcuts = makeItem(platform::localizedString("keyboard_shortcuts"), "");
    auto shortcutsMenu = std::make_shared<platform::Menu>();
    const std::string none = platform::localizedString("hotkey_none");
    for (long slot = 0; slot < long(HotkeyManager::slotCount); ++slot) {
        const auto assigned = hotkeyManager->channelIdForSlot(slot);
        const KovraChannel* holder = assigned ? channelWithId(*assigned) : nullptr;
        auto slotItem = makeItem(slotName(*hotkeyManager, slot) + ": " + (holder ? holder->name : none), "");

        auto slotMenu = std::make_shared<platform::Menu>();
        auto noneItem = makeItem(none, "assignHotkey:");
        noneItem->setTarget(weakSelf_);
        noneItem->setTag(slot * slotTagStride);
        noneItem->setState(assigned ? platform::ControlStateValueOff : platform::ControlStateValueOn);
        slotMenu->addItem(noneItem);
        slotMenu->addItem(platform::MenuItem::separatorItem());
        for (std::size_t j = 0; j < channels.size(); ++j) {
            auto entry = makeItem(channels[j].name, "assignHotkey:");
            entry->setTarget(weakSelf_);
            entry->setTag(slot * slotTagStride + long(j) + 1);
            const bool holds = assigned && *assigned == channels[j].id;
            entry->setState(holds ? platform::ControlStateValueOn : platform::ControlStateValueOff);
            slotMenu->addItem(entry);
        }
        slotItem->setSubmenu(slotMenu);
        shortcutsMenu->addItem(slotItem);
    }
    shortcuts->setSubmenu(shortcutsMenu);
    menu->addItem(shortcuts);

    auto updates = makeItem(platform::localizedString("check_for_updates"), "checkForUpdates:");
    updates->setTarget(updaterController);
    menu->addItem(updates);
    menu->addItem(platform::MenuItem::separatorItem());
    // No target: the action goes to the application.
    menu->addItem(std::make_shared<platform::MenuItem>(platform::localizedString("quit"), "terminate:", "q"));

    statusItem->setMenu(menu);
}

std::shared_ptr<platform::MenuItem> MenuManager::channelMenuItem(const KovraChannel& channel) const
{
    const auto& current = audioPlayer->currentChannel();
    const bool playing = current && current->id == channel.id && audioPlayer->isPlaying();

    auto item = makeItem(channel.name, "channelSelected:");
    item->setTarget(weakSelf_);
    long tag = 0;
    for (std::size_t i = 0; i < channels.size(); ++i) {
        if (channels[i].id == channel.id) {
            tag = long(i);
            break;
        }
    }
    item->setTag(tag);
    item->setState(playing ? platform::ControlStateValueOn : platform::ControlStateValueOff);
    if (auto slot = hotkeyManager->slotForChannelId(channel.id)) {
        item->setKeyEquivalent(std::to_string(*slot + 1));
        item->setKeyEquivalentModifierMask(platform::EventModifierFlagOption);
    }
    return item;
}

const KovraChannel* MenuManager::channelWithId(const std::string& id) const
{
    for (const auto& channel : channels) {
        if (channel.id == id)
            return &channel;
    }
    return nullptr;
}

// ---- Menu actions

bool MenuManager::performAction(const std::string& selector, const platform::MenuItem& sender)
{
    if (selector == "channelSelected:")
        channelSelected(sender);
    else if (selector == "assignHotkey:")
        assignHotkey(sender);
    else if (selector == "toggleLaunchAtLogin")
        toggleLaunchAtLogin();
    else
        return false;
    return true;
}

// The one rule for menu choices and shortcut presses: the current channel pauses or resumes
// on the stream already loaded; any other channel starts afresh.
void MenuManager::selectOrToggle(const KovraChannel& channel)
{
    const auto& current = audioPlayer->currentChannel();
    if (current && current->id == channel.id) {
        if (audioPlayer->isPlaying())
            audioPlayer->pause();
        else
            audioPlayer->resume();
    } else {
        audioPlayer->play(channel);
    }
}

void MenuManager::channelSelected(const platform::MenuItem& sender)
{
    const long position = sender.tag();
    if (position < 0 || std::size_t(position) >= channels.size())
        return;
    const KovraChannel channel = channels[std::size_t(position)];
    selectOrToggle(channel);
}

void MenuManager::assignHotkey(const platform::MenuItem& sender)
{
    const long tag = sender.tag();
    const long slot = tag / slotTagStride;
    const long entry = tag - slot * slotTagStride;
    // Only tags the menu itself lays down mean anything; a negative or foreign one is ignored.
    if (tag < 0 || slot >= long(HotkeyManager::slotCount))
        return;
    if (entry == 0)
        hotkeyManager->setChannelForSlot(std::nullopt, slot);
    else if (std::size_t(entry) <= channels.size())
        hotkeyManager->setChannelForSlot(channels[std::size_t(entry - 1)].id, slot);
    else
        return;
    rebuildMenu();
}

void MenuManager::hotkeyTriggered(long slot)
{
    const auto assigned = hotkeyManager->channelIdForSlot(slot);
    if (!assigned)
        return;
    const KovraChannel* channel = channelWithId(*assigned);
    if (!channel)
        return;
    const KovraChannel chosen = *channel;
    selectOrToggle(chosen);
}

void MenuManager::toggleLaunchAtLogin()
{
    auto& service = platform::LoginItemService::mainAppService();
    // A failure is not reported: the rebuilt entry shows what the system now says.
    if (service.status() == platform::LoginItemStatus::Enabled)
        service.unregisterService();
    else
        service.registerService();
    rebuildMenu();
}

// ---- Status icon

void MenuManager::updateStatusIcon()
{
    auto* button = statusItem->button();
    if (!button)
        return;
    button->setImage(menuBarIcon(homeFlag));
    if (const auto& current = audioPlayer->currentChannel()) {
        button->setTitle(" " + current->name);
        button->setFont(platform::Font::systemFontOfSize(platform::Graphics::shared().smallSystemFontSize()));
    } else {
        button->setTitle("");
    }
}

// Laid out by the platform, for the shape of the tray's slots.
std::shared_ptr<platform::Image> MenuManager::menuBarIcon(const std::string& flag) const
{
    return platform::Graphics::shared().statusIcon(flag, antennaSymbol);
}
