// The status bar in the desktop's tray: a StatusNotifierItem of our own with its menu exported
// over dbusmenu wherever a StatusNotifier watcher is, an XEmbed icon on old panels without one;
// shown once the desktop has a tray for it.
#pragma once

#include "platform/StatusBar.h"
#include "platform/linux/tray/QtStatusItem.h"

#include <memory>

namespace platform::linux_impl {

class HotKeyFacade;

// The menu shows what the desktop bound for the shortcuts of hotKeys (none without), and follows
// its changes as long as it lives.
std::shared_ptr<StatusBar> makeStatusBar(StatusItemHooks hooks = {}, HotKeyFacade* hotKeys = nullptr);

} // namespace platform::linux_impl
