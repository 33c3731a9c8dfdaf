// The option table of our libmpv cores: audio only, no will of its own, quick to first sound,
// strict about TLS, and keeping enough of a live stream to skip back in it.
#pragma once

#include "platform/linux/playback/MpvLibrary.h"

namespace platform::linux_impl {

// Sets them on a core not yet initialized. False when the core refused one that TLS verification
// rests on: such a core must not play.
bool setMpvOptions(const MpvLibrary& lib, mpv_handle* mpv);

} // namespace platform::linux_impl
