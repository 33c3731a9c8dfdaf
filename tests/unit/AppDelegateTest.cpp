// Start-up: which objects are made, and in which order, from process entry to the first menu.
#include "src/AppDelegate.h"
#include "tests/unit/World.h"

namespace {

class StartUp : public World {
protected:
    // What the process entry does, against the doubles.
    void launch()
    {
        delegate = std::make_unique<AppDelegate>();
        d.application->setDelegate(delegate.get());
        d.application->run();
    }
    doubles::FakeStatusItem& statusItem() const { return *statusBar.items.at(0); }

    std::unique_ptr<AppDelegate> delegate;
};

} // namespace

TEST_F(StartUp, MediaCommandsWorkBeforeTheTrayExists)
{
    delegate = std::make_unique<AppDelegate>();
    EXPECT_TRUE(statusBar.items.empty());
    EXPECT_EQ(commands.playCommand().invoke(), platform::RemoteCommandHandlerStatus::CommandFailed);
    EXPECT_EQ(commands.pauseCommand().invoke(), platform::RemoteCommandHandlerStatus::Success);
    EXPECT_EQ(nowPlaying.states, std::vector{platform::PlaybackState::Paused});
}

TEST_F(StartUp, TrayHotkeysUpdaterAndMenuComeBeforeTheAlertRequest)
{
    launch();
    const Strings order{"Application.run",
                        "StatusBar.statusItemWithLength",
                        "HotKeyService.installEventHandler",
                        "HotKeyService.registerEventHotKey",
                        "UpdaterFactory.makeController",
                        "StatusButton.setImage",
                        "StatusItem.setMenu",
                        "NotificationCenter.requestAuthorization"};
    for (std::size_t i = 1; i < order.size(); ++i)
        EXPECT_LT(log.first(order[i - 1]).value_or(99), log.first(order[i]).value_or(0)) << order[i];
    EXPECT_EQ(statusItem().length, platform::VariableStatusItemLength);
    EXPECT_EQ(d.notifications->requests, std::vector<unsigned>{platform::AuthorizationOptionAlert});
    EXPECT_TRUE(media.players.empty());
    // The answer, whatever it is, changes nothing.
    const auto entries = log.entries().size();
    d.notifications->completions.at(0)(false, "denied");
    EXPECT_EQ(log.entries().size(), entries);
    // Launching is finished once; a stray second notice makes no second tray.
    delegate->applicationDidFinishLaunching();
    EXPECT_EQ(statusBar.items.size(), 1u);
    EXPECT_EQ(hotKeys.registrations.size(), 5u);
}

TEST_F(StartUp, MenuShortcutAndMediaKeyDriveTheSamePlayer)
{
    launch();
    platform::sendAction(platform::MenuItem(*statusItem().menu->items().at(0)));
    EXPECT_EQ(statusItem().fakeButton()->title, " Kovra Velmora");
    press(key2);
    EXPECT_EQ(statusItem().fakeButton()->title, " Kovra Tarvesi");
    commands.togglePlayPauseCommand().invoke();
    EXPECT_EQ(statusItem().menu->items().at(1)->state(), platform::ControlStateValueOff);
    EXPECT_EQ(media.livePlayers(), 1);
}
