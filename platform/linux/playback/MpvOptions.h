// The option table of our libmpv cores: audio only, no will of its own, quick to first sound,
// strict about TLS, and keeping enough of a live stream to skip back in it.
#pragma once

#include "platform/linux/playback/MpvLibrary.h"

#include <QByteArray>

#include <utility>
#include <vector>

namespace platform::linux_impl {

// Name and value, in the order they are to be set before the core starts.
std::vector<std::pair<QByteArray, QByteArray>> mpvOptions();
// A started core with those options; none when libmpv cannot make one. With logWarnings, the
// core's warnings arrive as log-message events.
mpv_handle* createMpvCore(const MpvLibrary& lib, bool logWarnings);

} // namespace platform::linux_impl
