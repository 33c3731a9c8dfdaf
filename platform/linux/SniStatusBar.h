// The status item as a tray icon (StatusNotifierItem with its exported menu, or XEmbed on old
// panels), created once the desktop has a tray to show it in.
#pragma once

#include "platform/StatusBar.h"

#include <functional>
#include <memory>

namespace platform::linux_impl {

// Told true when the status item's menu is about to show, false when it closed.
using MenuWatch = std::function<void(bool open)>;

std::shared_ptr<StatusBar> makeStatusBar(MenuWatch menuWatch = {});

} // namespace platform::linux_impl
