// Start-up: what exists before the tray, and what one launch makes, whatever the alert answer.
#include "src/AppDelegate.h"
#include "tests/fixtures/World.h"

TEST_F(World, MediaCommandsAnswerBeforeTheTrayExists)
{
    AppDelegate delegate;
    EXPECT_TRUE(statusBar.items.empty());
    EXPECT_EQ(commands.playCommand().invoke(), platform::RemoteCommandHandlerStatus::CommandFailed);
    EXPECT_EQ(commands.pauseCommand().invoke(), platform::RemoteCommandHandlerStatus::Success);
}

TEST_F(World, ALaunchMakesOneTrayWithItsShortcutsAndMenuAndTheAlertAnswerChangesNothing)
{
    AppDelegate delegate;
    d.application->setDelegate(&delegate);
    d.application->run();
    ASSERT_EQ(statusBar.items.size(), 1u);
    EXPECT_EQ(statusBar.items[0]->menuCount, 1);
    EXPECT_EQ(hotKeys.registrations.size(), 5u);
    EXPECT_TRUE(media.players.empty());
    // A stray second launch notice makes no second tray.
    d.notifications->completions.at(0)(false, "denied");
    delegate.applicationDidFinishLaunching();
    EXPECT_EQ(statusBar.items.size(), 1u);
    EXPECT_EQ(statusBar.items[0]->menuCount, 1);
    EXPECT_EQ(hotKeys.registrations.size(), 5u);
}
