// The hot-key backend for this session, chosen from those there are.
#pragma once

#include "platform/linux/hotkeys/HotKeyBackend.h"

#include <memory>

namespace platform::linux_impl {

// Portal on a Wayland session whose desktop offers it, X11 grabs otherwise (also when the portal
// turns out missing); without either, a backend that binds nothing, and one line in the log.
std::unique_ptr<HotKeyBackend> makeHotKeyBackend();

} // namespace platform::linux_impl
