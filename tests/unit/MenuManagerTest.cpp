// The tray controller: wiring, menu layout, menu actions and the status icon.
#include "tests/unit/World.h"

using platform::ControlStateValueOff;
using platform::ControlStateValueOn;
using platform::LoginItemStatus;

namespace {
auto tag = [](const platform::MenuItem& i) { return i.tag(); };
auto state = [](const platform::MenuItem& i) { return i.state(); };
auto key = [](const platform::MenuItem& i) { return i.keyEquivalent(); };
const Strings firstRun{"velmora", "tarvesi", "nimo", "", ""};
} // namespace

// ---- Wiring

TEST_F(Tray, HotkeysFirstUpdaterNextCallbacksLast)
{
    bool callbacksAtUpdater = true;
    int earlierListener = 0;
    player->onStateChange = [&] { ++earlierListener; };
    d.updaters->onMake = [&] { callbacksAtUpdater = bool(hotkeyManagerInstance->onHotkeyPressed); };
    startWith();
    EXPECT_FALSE(callbacksAtUpdater);
    EXPECT_LT(*log.last("HotKeyService.registerEventHotKey"), *log.first("UpdaterFactory.makeController"));
    EXPECT_TRUE(d.updaters->controllers.at(0)->started);
    player->pause(); // the controller replaced the earlier listener, and rebuilds once per change
    EXPECT_EQ(earlierListener, 0);
    EXPECT_EQ(item->menuCount, 2);
}

TEST_F(Tray, StartShowsIconAndEmptyTitleThenDefaultsThenTheFirstMenu)
{
    startWith();
    EXPECT_EQ(button().calls, (Strings{"image", "title", "image", "title"}));
    EXPECT_EQ(button().title, "");
    EXPECT_LT(*log.first("StatusButton.setImage"), *log.first("UserDefaults.setObject"));
    EXPECT_LT(*log.last("UserDefaults.setObject"), *log.first("StatusItem.setMenu"));
    EXPECT_EQ(storedSlots(), firstRun);
    EXPECT_EQ(slotItem(2).title(), "\u23253: Kovra Nimo");
}

TEST_F(Tray, ALaterRunKeepsTheUsersSlots)
{
    storeSlots({"", "nimo", "", "", ""});
    startWith();
    EXPECT_EQ(defaults.writes, 0);
}

TEST_F(Tray, AnItemWithoutButtonStillGetsDefaultsAndMenus)
{
    statusBar.itemsHaveButtons = false;
    startWith();
    player->play(channel(0));
    EXPECT_EQ(storedSlots(), firstRun);
    EXPECT_EQ(item->menuCount, 2);
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
    EXPECT_EQ(log.count("StatusItem"), 0u);
}

TEST_F(Tray, AnyHotKeyIdReachesTheSlotLookupUnchanged)
{
    storeSlots({"", "", "", "", "", "tarvesi"});
    startWith();
    hotKeys.deliver(platform::EventHotKeyID{platform::fourCharCode("KOVM"), 5});
    EXPECT_EQ(player->currentChannel()->id, "tarvesi");
}

// ---- Layout

TEST_F(Tray, MainMenuTopToBottom)
{
    startWith();
    EXPECT_EQ(titles(menu()), (Strings{"Kovra Velmora", "Kovra Tarvesi", "Kovra Nimo", "", "launch_at_login",
                                       "keyboard_shortcuts", "check_for_updates", "", "quit"}));
    EXPECT_EQ(each(menu(), tag), (std::vector<long>{0, 1, 2, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(each(menu(), key), (Strings{"1", "2", "3", "", "", "", "", "", "q"}));
    for (std::size_t i : {0, 1, 2, 4})
        EXPECT_EQ(entry(i).target().lock().get(), manager.get());
    EXPECT_EQ(entry(0).action(), "channelSelected:");
    EXPECT_EQ(entry(4).action(), "toggleLaunchAtLogin");
    EXPECT_FALSE(entry(5).hasTarget());
    EXPECT_EQ(entry(6).target().lock(), d.updaters->controllers.at(0));
    EXPECT_EQ(entry(6).action(), "checkForUpdates:");
    EXPECT_FALSE(entry(8).hasTarget());
    EXPECT_EQ(entry(8).action(), "terminate:");
    EXPECT_EQ(entry(8).keyEquivalentModifierMask(), platform::EventModifierFlagCommand);
    EXPECT_TRUE(choose(entry(6)));
    EXPECT_TRUE(choose(entry(8)));
    EXPECT_EQ(d.updaters->controllers[0]->checks, 1);
    EXPECT_EQ(d.application->terminateCount, 1);
}

TEST_F(Tray, FixedTitlesAreLocalised)
{
    d.localization->translations = {{"launch_at_login", "Start at login"},
                                    {"keyboard_shortcuts", "Shortcuts"},
                                    {"hotkey_none", "None"},
                                    {"check_for_updates", "Updates…"},
                                    {"quit", "Quit"}};
    storeSlots({"", "velmora", "", "", ""});
    startWith();
    EXPECT_EQ(titles(menu()), (Strings{"Kovra Velmora", "Kovra Tarvesi", "Kovra Nimo", "", "Start at login",
                                       "Shortcuts", "Updates…", "", "Quit"}));
    EXPECT_EQ(slotItem(0).title(), "\u23251: None");
    EXPECT_EQ(titles(slotMenu(0)), (Strings{"None", "", "Kovra Velmora", "Kovra Tarvesi", "Kovra Nimo"}));
}

TEST_F(Tray, SlotSubmenusWithTheirTagsAndChecks)
{
    storeSlots({"velmora", "", "retired", "", "nimo"});
    startWith();
    EXPECT_EQ(titles(slots()), (Strings{"\u23251: Kovra Velmora", "\u23252: hotkey_none", "\u23253: hotkey_none",
                                        "\u23254: hotkey_none", "\u23255: Kovra Nimo"}));
    EXPECT_EQ(each(slotMenu(0), tag), (std::vector<long>{0, 0, 1, 2, 3}));
    EXPECT_EQ(each(slotMenu(4), tag), (std::vector<long>{400000, 0, 400001, 400002, 400003}));
    EXPECT_EQ(each(slotMenu(0), state), (std::vector<int>{0, 0, 1, 0, 0}));
    EXPECT_EQ(each(slotMenu(1), state), (std::vector<int>{1, 0, 0, 0, 0}));
    EXPECT_EQ(each(slotMenu(2), state), (std::vector<int>{0, 0, 0, 0, 0})); // an id we do not know
    EXPECT_EQ(slotMenu(4).items()[4]->target().lock().get(), manager.get());
}

TEST_F(Tray, ChannelEntriesShowTheLowestSlotsOptionShortcut)
{
    storeSlots({"", "nimo", "", "nimo", "velmora"});
    startWith();
    EXPECT_EQ(each(menu(), key), (Strings{"5", "", "2", "", "", "", "", "", "q"}));
    EXPECT_EQ(entry(0).keyEquivalentModifierMask(), platform::EventModifierFlagOption);
    EXPECT_EQ(entry(2).keyEquivalentModifierMask(), platform::EventModifierFlagOption);
}

TEST_F(Tray, LaunchAtLoginIsCheckedOnlyWhenEnabled)
{
    startWith();
    for (auto [status, expected] : {std::pair{LoginItemStatus::Enabled, ControlStateValueOn},
                                    {LoginItemStatus::NotRegistered, ControlStateValueOff},
                                    {LoginItemStatus::RequiresApproval, ControlStateValueOff},
                                    {LoginItemStatus::NotFound, ControlStateValueOff}}) {
        loginItem.current = status;
        player->pause(); // any state change rebuilds
        EXPECT_EQ(entry(4).state(), expected) << int(status);
    }
}

TEST_F(Tray, AnEmptyCatalogueLeavesOnlyTheFixedEntries)
{
    startWith({});
    EXPECT_EQ(titles(menu()), (Strings{"", "launch_at_login", "keyboard_shortcuts", "check_for_updates", "", "quit"}));
    for (std::size_t s = 0; s < 5; ++s) {
        EXPECT_EQ(slotItem(s).title(), "\u2325" + std::to_string(s + 1) + ": hotkey_none");
        EXPECT_EQ(titles(slotMenu(s)), (Strings{"hotkey_none", ""}));
    }
}

// ---- Actions

TEST_F(Tray, ChoosingChannelsFollowsTheSelectOrToggleRule)
{
    startWith();
    const auto checks = [&] { return std::vector<int>{entry(0).state(), entry(1).state(), entry(2).state()}; };
    EXPECT_EQ(checks(), (std::vector<int>{0, 0, 0}));
    choose(entry(0)); // nothing current: play
    EXPECT_EQ(checks(), (std::vector<int>{1, 0, 0}));
    choose(entry(0)); // playing: pause
    EXPECT_EQ(checks(), (std::vector<int>{0, 0, 0}));
    choose(entry(0)); // paused: resume the same stream
    EXPECT_EQ(checks(), (std::vector<int>{1, 0, 0}));
    EXPECT_EQ(media.players.size(), 1u);
    choose(entry(0));
    choose(entry(2)); // another while paused: play it
    EXPECT_EQ(checks(), (std::vector<int>{0, 0, 1}));
    choose(entry(1)); // another while playing
    EXPECT_EQ(checks(), (std::vector<int>{0, 1, 0}));
    EXPECT_EQ(media.players.size(), 3u);
    EXPECT_EQ(media.livePlayers(), 1);
}

TEST_F(Tray, TheFirstSlotsShortcutPlaysPausesAndResumes)
{
    startWith();
    press(key1);
    press(key1);
    EXPECT_FALSE(player->isPlaying());
    press(key1);
    EXPECT_TRUE(player->isPlaying());
    EXPECT_EQ(player->currentChannel()->id, "velmora");
    EXPECT_EQ(media.players.size(), 1u);
}

TEST_F(Tray, EmptySlotsUnknownIdsAndForeignTagsAreIgnored)
{
    storeSlots({"velmora", "retired", "", "", ""});
    startWith();
    press(key2);
    press(key3);
    for (long t : {-1L, 3L, 100000L, std::numeric_limits<long>::min(), std::numeric_limits<long>::max()})
        EXPECT_TRUE(chooseTag("channelSelected:", t));
    for (long t : {4L, 99999L, 400004L, 500001L, 500000L, -100000L, -1L, -400001L})
        EXPECT_TRUE(chooseTag("assignHotkey:", t));
    EXPECT_FALSE(manager->performAction("launchMissiles:", entry(0)));
    EXPECT_TRUE(media.players.empty());
    EXPECT_EQ(storedSlots(), (Strings{"velmora", "retired", "", "", ""}));
    EXPECT_EQ(item->menuCount, 1);
}

TEST_F(Tray, AssigningAndClearingSlotsFromTheMenu)
{
    storeSlots({"velmora", "tarvesi", "velmora", "", ""});
    startWith();
    ASSERT_EQ(slotMenu(4).items().at(4)->tag(), 400003);
    choose(*slotMenu(4).items().at(4));
    EXPECT_EQ(storedSlots(), (Strings{"velmora", "tarvesi", "velmora", "", "nimo"}));
    EXPECT_EQ(slotItem(4).title(), "\u23255: Kovra Nimo");
    choose(*slotMenu(0).items().at(0));
    choose(*slotMenu(1).items().at(0));
    EXPECT_EQ(slotItem(0).title(), "\u23251: hotkey_none");
    EXPECT_EQ(slotMenu(0).items().at(0)->state(), ControlStateValueOn);
    EXPECT_EQ(each(menu(), key), (Strings{"3", "", "5", "", "", "", "", "", "q"}));
    EXPECT_EQ(item->menuCount, 4);
}

TEST_F(Tray, LaunchAtLoginSwitchesByWhatTheSystemReports)
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
    EXPECT_EQ(item->menuCount, 4);
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
        EXPECT_FALSE(image.isTemplate());
        EXPECT_FALSE(image.drewOutsideFocus || image.focused);
        ASSERT_EQ(image.draws.size(), 2u);
        EXPECT_EQ(image.draws[0].text, MenuManager::homeFlag);
        EXPECT_EQ(image.draws[0].text.size(), 8u);
        EXPECT_EQ(image.draws[0].font, platform::Font::systemFontOfSize(14));
        EXPECT_EQ(image.draws[0].at.x, 0);
        EXPECT_EQ(image.draws[0].at.y, flagY);
        EXPECT_EQ(image.draws[1].imageName, "antenna.radiowaves.left.and.right");
        const auto in = image.draws[1].in;
        EXPECT_EQ(std::tie(in.x, in.y, in.width, in.height), std::make_tuple(text.width + 2, symbolY, 12.0, 12.0));
    }
    EXPECT_EQ(graphics.measuredFonts.at(0), platform::Font::systemFontOfSize(14));
}

TEST_F(Tray, WithoutTheSymbolTheFlagStandsAloneAtFullWidth)
{
    graphics.symbols.clear();
    startWith();
    EXPECT_EQ(icon().size().width, graphics.textSize.width + 14);
    ASSERT_EQ(icon().draws.size(), 1u);
    EXPECT_EQ(icon().draws[0].kind, doubles::DrawCall::Text);
}

TEST_F(Tray, TheTitleNamesTheLastChannelStartedInTheSmallFont)
{
    graphics.smallFontSize = 10.5;
    startWith();
    choose(entry(1));
    choose(entry(1));
    EXPECT_EQ(button().title, " Kovra Tarvesi");
    EXPECT_EQ(button().font, platform::Font::systemFontOfSize(10.5));
    EXPECT_EQ(Strings(button().calls.end() - 3, button().calls.end()), (Strings{"image", "title", "font"}));
}
