// The tray controller: owns the hotkey manager and the updater, builds the whole menu afresh
// after every change, answers menu choices and shortcut presses, and draws the status icon.
#pragma once

#include "src/AudioPlayer.h"
#include "src/HotkeyManager.h"
#include "src/Models.h"

#include "platform/Graphics.h"
#include "platform/Menu.h"
#include "platform/MenuTarget.h"
#include "platform/StatusBar.h"
#include "platform/Updater.h"

#include <memory>
#include <string>
#include <vector>

class MenuManager : public platform::MenuTarget {
public:
    // The home flag drawn in the status icon: the European Union's.
    static constexpr const char* homeFlag = "\U0001F1EA\U0001F1FA";
    // Tag stride of the slot submenus: slot × stride + 0 (none) or channel position + 1.
    static constexpr long slotTagStride = 100000;

    MenuManager(std::shared_ptr<platform::StatusItem> statusItem, std::shared_ptr<AudioPlayer> audioPlayer);
    MenuManager(const MenuManager&) = delete;
    MenuManager& operator=(const MenuManager&) = delete;

    void start();

    void channelSelected(const platform::MenuItem& sender);
    void assignHotkey(const platform::MenuItem& sender);
    void hotkeyTriggered(long slot);
    void toggleLaunchAtLogin();

    bool performAction(const std::string& selector, const platform::MenuItem& sender) override;

private:
    void rebuildMenu();
    std::shared_ptr<platform::MenuItem> channelMenuItem(const KovraChannel& channel) const;
    void updateStatusIcon();
    std::shared_ptr<platform::Image> menuBarIcon(const std::string& flag) const;
    void selectOrToggle(const KovraChannel& channel);
    const KovraChannel* channelWithId(const std::string& id) const;

    // Declared in the order they are made: the hotkey manager comes first.
    std::shared_ptr<HotkeyManager> hotkeyManager;
    std::vector<KovraChannel> channels;
    std::shared_ptr<platform::StatusItem> statusItem;
    std::shared_ptr<AudioPlayer> audioPlayer;
    std::shared_ptr<platform::UpdaterController> updaterController;
    // What the callbacks and menu items hold instead of the controller itself, so that none of
    // them keeps it alive: a weak reference watching lifetime_, which is released first.
    std::weak_ptr<MenuManager> weakSelf_;
    std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
};
