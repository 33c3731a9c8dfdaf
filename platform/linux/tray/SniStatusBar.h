// The status item in the desktop's tray: a StatusNotifierItem of our own with its menu exported
// over dbusmenu wherever a StatusNotifier watcher is, an XEmbed icon on old panels without one;
// shown once the desktop has a tray for it.
#pragma once

#include "platform/StatusBar.h"

#include <functional>
#include <memory>

namespace platform::linux_impl {

// What the tray may tell the item besides a choice in its menu.
struct StatusItemHooks {
    // True when the item's menu is about to show, false when it closed.
    std::function<void(bool open)> menuWatch;
    // A middle click on the icon.
    std::function<void()> secondaryActivate;
    // The wheel turned over the icon by this many notches, upward positive.
    std::function<void(int notches)> scroll;
};

class HotKeyFacade;

// The menu shows what the desktop bound for the shortcuts of hotKeys (none without), and follows
// its changes as long as it lives.
std::shared_ptr<StatusBar> makeStatusBar(StatusItemHooks hooks = {}, HotKeyFacade* hotKeys = nullptr);

} // namespace platform::linux_impl
