// The status item as a tray icon (StatusNotifierItem with its exported menu, or XEmbed on old
// panels), created once the desktop has a tray to show it in.
#pragma once

#include "platform/StatusBar.h"

#include <memory>

namespace platform::linux_impl {

std::shared_ptr<StatusBar> makeStatusBar();

} // namespace platform::linux_impl
