// Start-up: which objects are made, and in which order, from process entry to the first menu.
#include "src/AppDelegate.h"
#include "tests/fixtures/World.h"

TEST_F(World, MediaCommandsAnswerBeforeTheTrayExists)
{
    AppDelegate delegate;
    EXPECT_TRUE(statusBar.items.empty());
    EXPECT_EQ(commands.playCommand().invoke(), platform::RemoteCommandHandlerStatus::CommandFailed);
    EXPECT_EQ(commands.pauseCommand().invoke(), platform::RemoteCommandHandlerStatus::Success);
}

TEST_F(World, TrayHotkeysUpdaterAndMenuComeBeforeTheAlertRequestAndOnlyOnce)
{
    AppDelegate delegate;
    d.application->setDelegate(&delegate);
    d.application->run();
    const Strings order{"Application.run",
                        "StatusBar.statusItemWithLength",
                        "HotKeyService.installEventHandler",
                        "HotKeyService.registerEventHotKey",
                        "UpdaterFactory.makeController",
                        "StatusButton.setImage",
                        "StatusItem.setMenu",
                        "Notifications.ask"};
    for (std::size_t i = 1; i < order.size(); ++i)
        EXPECT_LT(log.first(order[i - 1]).value_or(99), log.first(order[i]).value_or(0)) << order[i];
    EXPECT_TRUE(media.players.empty());
    // The answer, whatever it is, changes nothing; a stray second launch notice makes no second tray.
    const auto entries = log.entries().size();
    d.notifications->completions.at(0)(false, "denied");
    EXPECT_EQ(log.entries().size(), entries);
    delegate.applicationDidFinishLaunching();
    EXPECT_EQ(statusBar.items.size(), 1u);
    EXPECT_EQ(hotKeys.registrations.size(), 5u);
}
