// Where a live stream starts: this many segments before the newest of its playlist. The media core
// is told it (FFmpeg's live_start_index, whose default it is), and the relay fetches that segment
// ahead, so the two must agree.
#pragma once

namespace platform::linux_impl {

inline constexpr int kLiveStartSegments = 3;

} // namespace platform::linux_impl
