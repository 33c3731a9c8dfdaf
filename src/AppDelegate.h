// The application delegate: makes the player at once, and the status item and menu
// controller when launching has finished.
#pragma once

#include "src/AudioPlayer.h"
#include "src/MenuManager.h"

#include "platform/Application.h"
#include "platform/StatusBar.h"

#include <memory>

class AppDelegate : public platform::ApplicationDelegate {
public:
    AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    void applicationDidFinishLaunching() override;

private:
    std::shared_ptr<platform::StatusItem> statusItem;
    std::shared_ptr<AudioPlayer> audioPlayer;
    std::shared_ptr<MenuManager> menuManager;
};
