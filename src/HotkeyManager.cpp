// Hotkey slot assignments in the user defaults, and the global shortcuts that fire them.
#include "src/HotkeyManager.h"

#include "platform/UserDefaults.h"

#include <algorithm>

std::shared_ptr<HotkeyManager> hotkeyManagerInstance;

namespace {
const char* const storageKey = "hotkeyChannels";
constexpr platform::OSType hotKeySignature = platform::fourCharCode("KOVM");
} // namespace

std::shared_ptr<HotkeyManager> HotkeyManager::create()
{
    std::shared_ptr<HotkeyManager> manager(new HotkeyManager());
    hotkeyManagerInstance = manager;
    auto& service = platform::HotKeyService::shared();
    const platform::EventTypeSpec pressed{platform::kEventClassKeyboard, platform::kEventHotKeyPressed};
    service.installEventHandler(service.applicationEventTarget(), hotkeyEventHandler, 1, &pressed, nullptr, nullptr);
    manager->registerAllHotkeys();
    service.setBindingsChangedHandler([weak = std::weak_ptr<HotkeyManager>(manager)] {
        auto alive = weak.lock();
        if (auto listener = alive ? alive->onBindingsChanged : nullptr)
            listener();
    });
    return manager;
}

void HotkeyManager::registerAllHotkeys()
{
    auto& service = platform::HotKeyService::shared();
    for (std::size_t slot = 0; slot < slotCount; ++slot) {
        platform::EventHotKeyRef ref = nullptr;
        const platform::EventHotKeyID id{hotKeySignature, uint32_t(slot)};
        // A key grabbed by someone else just stays null: the other slots still work.
        service.registerEventHotKey(keyCodes[slot], platform::optionKey, id, service.applicationEventTarget(), 0, &ref);
        hotKeyRefs[slot] = ref;
    }
}

std::vector<std::string> HotkeyManager::storedIds() const
{
    std::vector<std::string> ids;
    if (auto stored = platform::UserDefaults::standard().arrayForKey(storageKey)) {
        // One element of another type makes the whole list untrustworthy.
        const bool allStrings = std::all_of(stored->begin(), stored->end(), [](const platform::DefaultsValue& v) {
            return std::holds_alternative<std::string>(v);
        });
        if (allStrings) {
            for (const auto& value : *stored)
                ids.push_back(std::get<std::string>(value));
        }
    }
    // Pad, never truncate: entries beyond the fifth are kept and written back unchanged.
    if (ids.size() < slotCount)
        ids.resize(slotCount);
    return ids;
}

std::optional<std::string> HotkeyManager::channelIdForSlot(long slot) const
{
    const auto ids = storedIds();
    if (slot < 0 || std::size_t(slot) >= ids.size() || ids[std::size_t(slot)].empty())
        return std::nullopt;
    return ids[std::size_t(slot)];
}

std::optional<long> HotkeyManager::slotForChannelId(const std::string& channelId) const
{
    const auto ids = storedIds();
    const auto found = std::find(ids.begin(), ids.end(), channelId);
    // An empty id would otherwise match every empty slot.
    if (channelId.empty() || found == ids.end())
        return std::nullopt;
    return long(found - ids.begin());
}

void HotkeyManager::setChannelForSlot(const std::optional<std::string>& channelId, long slot)
{
    auto ids = storedIds();
    if (slot < 0 || std::size_t(slot) >= ids.size())
        return;
    ids[std::size_t(slot)] = channelId.value_or(std::string());
    platform::UserDefaults::standard().setObject(ids, storageKey);
}

void HotkeyManager::setDefaults(const std::vector<std::string>& channelIds)
{
    const auto ids = storedIds();
    if (std::any_of(ids.begin(), ids.end(), [](const std::string& id) { return !id.empty(); }))
        return;
    for (std::size_t slot = 0; slot < channelIds.size() && slot < slotCount; ++slot)
        setChannelForSlot(channelIds[slot], long(slot));
}

std::string HotkeyManager::boundKeyForSlot(long slot) const
{
    if (slot < 0 || std::size_t(slot) >= slotCount)
        return {};
    return platform::HotKeyService::shared().boundKeyText(hotKeyRefs[std::size_t(slot)]);
}

void HotkeyManager::handleHotkey(long slot)
{
    // A copy keeps the listener alive even if it replaces itself while running.
    if (auto listener = onHotkeyPressed)
        listener(slot);
}

platform::OSStatus hotkeyEventHandler(platform::EventHandlerCallRef, platform::EventRef event, void*)
{
    if (!event)
        return platform::eventNotHandledErr;
    platform::EventHotKeyID hotKeyID{};
    const platform::OSStatus status = platform::HotKeyService::shared().getEventParameter(
        event, platform::kEventParamDirectObject, platform::typeEventHotKeyID, nullptr, sizeof(hotKeyID), nullptr,
        &hotKeyID);
    if (status != platform::noErr)
        return status;
    // Held for the call, so a listener cannot pull the manager out from under itself.
    if (auto manager = hotkeyManagerInstance)
        manager->handleHotkey(long(hotKeyID.id));
    return platform::noErr;
}
