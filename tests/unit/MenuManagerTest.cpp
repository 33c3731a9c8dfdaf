// The tray controller: menu layout and menu actions.
#include "tests/fixtures/World.h"

using platform::ControlStateValueOff;
using platform::LoginItemStatus;
using ::testing::Return;

namespace {
auto state = [](const platform::MenuItem& i) { return i.state(); };
auto key = [](const platform::MenuItem& i) { return i.keyEquivalent(); };
} // namespace

// ---- Layout (the first run's menu as the desktop shows it: test_tray_lifecycle.py)

TEST_F(Tray, SlotSubmenusNameTheDesktopsKeysAndCheckTheirChannel)
{
    storeSlots({"velmora", "", "retired", "", "nimo"});
    hotKeys.boundKeys = {{0, "Alt+1"}, {1, "Alt+2"}, {4, "Alt+5"}}; // the desktop refused slots 3 and 4
    start();
    EXPECT_EQ(titles(slots()), (Strings{"Alt+1: Kovra Velmora", "Alt+2: hotkey_none", "hotkey_slot 3: hotkey_none",
                                        "hotkey_slot 4: hotkey_none", "Alt+5: Kovra Nimo"}));
    // The user gives slot 1 other keys in the desktop's settings: its item follows.
    hotKeys.boundKeys[0] = "Meta+Alt+1";
    hotKeys.bindingsChanged();
    EXPECT_EQ(titles(slots())[0], "Meta+Alt+1: Kovra Velmora");
    EXPECT_EQ(each(slotMenu(0), state), (std::vector<int>{0, 0, 1, 0, 0}));
    EXPECT_EQ(each(slotMenu(1), state), (std::vector<int>{1, 0, 0, 0, 0}));
    EXPECT_EQ(each(slotMenu(2), state), (std::vector<int>{0, 0, 0, 0, 0})); // an id we do not know
    // Each channel entry shows its lowest slot's shortcut.
    EXPECT_EQ(each(menu(), key), (Strings{"1", "", "5", "", "", "", "", "", "q"}));
    EXPECT_EQ(entry(2).keyEquivalentModifierMask(), platform::EventModifierFlagOption);
}

// ---- Actions

// Switching it on and off: test_menu.py, on the real autostart folder.
TEST_F(Tray, LaunchAtLoginShowsWhatTheSystemReports)
{
    start();
    ON_CALL(loginItem, status()).WillByDefault(Return(LoginItemStatus::RequiresApproval));
    EXPECT_CALL(loginItem, registerService()).WillOnce(Return(false));
    EXPECT_CALL(loginItem, unregisterService()).Times(0);
    choose(entry(4));
    EXPECT_EQ(entry(4).state(), ControlStateValueOff);
}

TEST_F(Tray, EmptySlotsUnknownIdsForeignSelectorsAndWhatOutlivesTheControllerDoNothing)
{
    storeSlots({"velmora", "retired", "", "", ""});
    start();
    press(key2);
    press(key3);
    EXPECT_FALSE(manager->performAction("launchMissiles:", entry(0)));
    const auto keptEntry = menu().items().at(0);
    manager.reset();
    player->pause();
    EXPECT_EQ(press(key1), platform::noErr);
    EXPECT_FALSE(choose(*keptEntry));
    EXPECT_TRUE(media.players.empty());
    EXPECT_EQ(item->menuCount, 1);
}
