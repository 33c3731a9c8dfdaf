// The tray controller: menu layout, menu actions and the status icon.
#include "tests/fixtures/World.h"

using platform::ControlStateValueOff;
using platform::ControlStateValueOn;
using platform::LoginItemStatus;

namespace {
auto tag = [](const platform::MenuItem& i) { return i.tag(); };
auto state = [](const platform::MenuItem& i) { return i.state(); };
auto key = [](const platform::MenuItem& i) { return i.keyEquivalent(); };
} // namespace

// ---- Layout

TEST_F(Tray, MainMenuTopToBottomWithItsActionsAndTargets)
{
    startWith();
    EXPECT_EQ(each(menu(), tag), (std::vector<long>{0, 1, 2, 0, 0, 0, 0, 0, 0}));
    for (std::size_t i : {0, 1, 2, 4})
        EXPECT_EQ(entry(i).target().lock().get(), manager.get());
    EXPECT_EQ(entry(0).action(), "channelSelected:");
    EXPECT_EQ(entry(4).action(), "toggleLaunchAtLogin");
    EXPECT_EQ(entry(6).action(), "checkForUpdates:");
    EXPECT_EQ(entry(8).action(), "terminate:");
    EXPECT_FALSE(entry(8).hasTarget());
    EXPECT_TRUE(choose(entry(6)));
    EXPECT_TRUE(choose(entry(8)));
    EXPECT_EQ(d.updaters->controllers.at(0)->checks, 1);
    EXPECT_EQ(d.application->terminateCount, 1);
}

TEST_F(Tray, SlotSubmenusWithTheirTagsAndChecks)
{
    storeSlots({"velmora", "", "retired", "", "nimo"});
    hotKeys.boundKeys = {{0, "Alt+1"}, {1, "Alt+2"}, {4, "Alt+5"}}; // the desktop refused slots 3 and 4
    startWith();
    EXPECT_EQ(titles(slots()), (Strings{"Alt+1: Kovra Velmora", "Alt+2: hotkey_none", "hotkey_slot 3: hotkey_none",
                                        "hotkey_slot 4: hotkey_none", "Alt+5: Kovra Nimo"}));
    // The user gives slot 1 other keys in the desktop's settings: its item follows.
    hotKeys.boundKeys[0] = "Meta+Alt+1";
    hotKeys.bindingsChanged();
    EXPECT_EQ(titles(slots())[0], "Meta+Alt+1: Kovra Velmora");
    EXPECT_EQ(each(slotMenu(4), tag), (std::vector<long>{400000, 0, 400001, 400002, 400003}));
    EXPECT_EQ(each(slotMenu(0), state), (std::vector<int>{0, 0, 1, 0, 0}));
    EXPECT_EQ(each(slotMenu(1), state), (std::vector<int>{1, 0, 0, 0, 0}));
    EXPECT_EQ(each(slotMenu(2), state), (std::vector<int>{0, 0, 0, 0, 0})); // an id we do not know
    // Each channel entry shows its lowest slot's shortcut.
    EXPECT_EQ(each(menu(), key), (Strings{"1", "", "5", "", "", "", "", "", "q"}));
    EXPECT_EQ(entry(2).keyEquivalentModifierMask(), platform::EventModifierFlagOption);
}

// ---- Actions

TEST_F(Tray, EmptySlotsUnknownIdsAndForeignSelectorsAreIgnored)
{
    storeSlots({"velmora", "retired", "", "", ""});
    startWith();
    press(key2);
    press(key3);
    EXPECT_FALSE(manager->performAction("launchMissiles:", entry(0)));
    EXPECT_TRUE(media.players.empty());
    EXPECT_EQ(item->menuCount, 1);
}

TEST_F(Tray, LaunchAtLoginShowsWhatTheSystemReports)
{
    startWith();
    choose(entry(4));
    EXPECT_EQ(entry(4).state(), ControlStateValueOn);
    choose(entry(4));
    EXPECT_EQ(entry(4).state(), ControlStateValueOff);
    loginItem.current = LoginItemStatus::RequiresApproval;
    loginItem.failRegistration = true;
    choose(entry(4));
    EXPECT_EQ(entry(4).state(), ControlStateValueOff);
    EXPECT_EQ(std::pair(loginItem.registerCalls, loginItem.unregisterCalls), std::pair(2, 1));
}

TEST_F(Tray, CallbacksAndItemsOutlivingTheControllerDoNothing)
{
    startWith();
    const auto keptEntry = menu().items().at(0);
    manager.reset();
    log.clear();
    player->pause();
    EXPECT_EQ(press(key1), platform::noErr);
    EXPECT_FALSE(choose(*keptEntry));
    EXPECT_TRUE(media.players.empty());
    EXPECT_FALSE(log.first("StatusItem"));
}

// ---- Status icon

TEST_F(Tray, IconIsTheFlagThenTheAntennaCentredInTheTallerOfTheTwo)
{
    struct Case {
        platform::Size text;
        double height, flagY, symbolY;
    };
    for (auto [text, height, flagY, symbolY] : {Case{{18, 17}, 17, 0, 2.5}, Case{{15, 9}, 12, 1.5, 0}}) {
        graphics.textSize = text;
        startWith();
        const auto& image = icon();
        EXPECT_EQ(image.size().width, text.width + 14);
        EXPECT_EQ(image.size().height, height);
        EXPECT_FALSE(image.isTemplate() || image.drewOutsideFocus);
        ASSERT_EQ(image.draws.size(), 2u);
        EXPECT_EQ(image.draws[0].text, MenuManager::homeFlag);
        EXPECT_EQ(image.draws[0].font, platform::Font::systemFontOfSize(14));
        EXPECT_EQ(image.draws[0].at.y, flagY);
        const auto in = image.draws[1].in;
        EXPECT_EQ(std::tie(in.x, in.y, in.width, in.height), std::make_tuple(text.width + 2, symbolY, 12.0, 12.0));
    }
    graphics.symbols.clear(); // without the symbol the flag stands alone
    startWith();
    EXPECT_EQ(icon().draws.size(), 1u);
}
