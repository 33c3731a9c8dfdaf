// The test world: a fresh set of platform doubles per test, and a started tray controller.
#pragma once

#include "platform/testing/Doubles.h"
#include "src/AudioPlayer.h"
#include "src/HotkeyManager.h"
#include "src/MenuManager.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>
#include <vector>

using Strings = std::vector<std::string>;
// Key codes of the digit keys 1, 2, 3 and 5.
constexpr uint32_t key1 = 18, key2 = 19, key3 = 20, key5 = 23;

class World : public ::testing::Test {
protected:
    World() { hotkeyManagerInstance.reset(); }
    ~World() override { hotkeyManagerInstance.reset(); }

    void storeSlots(const Strings& ids) { defaults.storeStrings("hotkeyChannels", ids); }
    std::optional<Strings> storedSlots() const { return defaults.strings("hotkeyChannels"); }
    std::optional<platform::OSStatus> press(uint32_t key, uint32_t mods = platform::optionKey)
    {
        return hotKeys.press(key, mods);
    }

    doubles::PlatformDoubles d;
    doubles::FakeStatusBar& statusBar = *d.statusBar;
    doubles::FakeGraphics& graphics = *d.graphics;
    doubles::FakeMediaEngine& media = *d.media;
    platform::RemoteCommandCenter& commands = *d.commands;
    doubles::FakeHotKeyService& hotKeys = *d.hotKeys;
    doubles::FakeUserDefaults& defaults = *d.defaults;
    doubles::FakeLoginItemService& loginItem = *d.loginItem;
    doubles::EventLog& log = doubles::eventLog();
};

inline const KovraChannel& channel(std::size_t i) { return KovraChannel::allChannels.at(i); }

// A tray controller started over a fresh status item, as the delegate makes it.
class Tray : public World {
protected:
    void startWith(std::vector<KovraChannel> channels = KovraChannel::allChannels)
    {
        item = std::static_pointer_cast<doubles::FakeStatusItem>(statusBar.statusItemWithLength(-1));
        manager = std::make_shared<MenuManager>(item, player, std::move(channels));
        manager->start();
    }

    const platform::Menu& menu() const { return *item->menu; }
    const platform::MenuItem& entry(std::size_t i) const { return *menu().items().at(i); }
    const platform::Menu& slots() const { return *entry(menu().items().size() - 4).submenu(); }
    const platform::MenuItem& slotItem(std::size_t s) const { return *slots().items().at(s); }
    const platform::Menu& slotMenu(std::size_t s) const { return *slotItem(s).submenu(); }
    // Chooses an item as the desktop would, through its action and target. A copy, because the
    // rebuild an action sets off drops the menu the item came from.
    bool choose(const platform::MenuItem& chosen) { return platform::sendAction(platform::MenuItem(chosen)); }
    template <class F>
    auto each(const platform::Menu& m, F field) const
    {
        std::vector<decltype(field(*m.items().at(0)))> out;
        for (const auto& i : m.items())
            out.push_back(i->isSeparatorItem() ? decltype(field(*i)){} : field(*i));
        return out;
    }
    Strings titles(const platform::Menu& m) const
    {
        return each(m, [](const platform::MenuItem& i) { return i.title(); });
    }
    doubles::FakeStatusButton& button() const { return *item->fakeButton(); }
    doubles::FakeImage& icon() const { return *button().fakeImage(); }

    std::shared_ptr<AudioPlayer> player = std::make_shared<AudioPlayer>();
    std::shared_ptr<doubles::FakeStatusItem> item;
    std::shared_ptr<MenuManager> manager;
};
