// Start-up of the long-lived objects, in the order the rest of the system relies on.
#include "src/AppDelegate.h"

#include "platform/Notifications.h"

// The player, and with it the media command handlers, exist before the event loop runs.
AppDelegate::AppDelegate() : audioPlayer(std::make_shared<AudioPlayer>()) {}

void AppDelegate::applicationDidFinishLaunching()
{
    // Launching finishes once; a second call must not make a second tray icon and hot key set.
    if (menuManager)
        return;
    statusItem = platform::StatusBar::systemStatusBar().statusItemWithLength(platform::VariableStatusItemLength);
    menuManager = std::make_shared<MenuManager>(statusItem, audioPlayer);
    menuManager->start();
    // Asked only so the desktop knows us; the answer changes nothing.
    platform::NotificationCenter::currentNotificationCenter().requestAuthorization(
        platform::AuthorizationOptionAlert, [](bool, const std::optional<std::string>&) {});
}
