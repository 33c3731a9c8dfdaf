// Start-up: what exists before the tray, and what one launch makes, whatever the alert answer.
#include "src/AppDelegate.h"
#include "tests/fixtures/World.h"

// What one launch shows is the real binary's (test_tray_lifecycle.py, test_hotkeys.py).
TEST_F(World, MediaCommandsAnswerBeforeTheTrayAndAStrayLaunchNoticeMakesNoSecondTrayNorPlays)
{
    AppDelegate delegate;
    EXPECT_TRUE(statusBar.items.empty());
    EXPECT_EQ(commands.playCommand().invoke(), platform::RemoteCommandHandlerStatus::CommandFailed);
    EXPECT_EQ(commands.pauseCommand().invoke(), platform::RemoteCommandHandlerStatus::Success);
    delegate.applicationDidFinishLaunching();
    notifications.completions.at(0)(false, "denied");
    delegate.applicationDidFinishLaunching();
    EXPECT_TRUE(media.players.empty());
    ASSERT_EQ(statusBar.items.size(), 1u);
    EXPECT_EQ(statusBar.items[0]->menuCount, 1);
    EXPECT_EQ(hotKeys.registrations.size(), 5u);
}
