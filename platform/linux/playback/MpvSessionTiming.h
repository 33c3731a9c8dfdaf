// How long the media session waits for each thing, and the clocks it reads: the ones a listener
// lives by, gathered so that the session's tests can run its minutes in milliseconds.
#pragma once

#include "platform/linux/playback/ReconnectPolicy.h"

#include <chrono>
#include <cstdint>
#include <functional>

namespace platform::linux_impl {

struct MpvSessionTiming {
    using Milliseconds = std::chrono::milliseconds;

    // A healthy open or resume sounds in well under a second; one that has not sounded by this long
    // is taken for silent (a host that hangs, segments that fail and are skipped).
    Milliseconds openingQuiet{3000};
    // A stream that sounded and whose position has not moved for this long has run dry.
    Milliseconds quiet{2000};
    // How long the audio output goes on sounding what it was given before a stream ended.
    Milliseconds outputTail{500};
    // How often a stream meant to play is checked for a stall.
    Milliseconds watchdogTick{1000};
    // A seek the core can carry out begins at once; one that has not begun by then has failed (a
    // target in back-buffer already trimmed fails without any event).
    Milliseconds seekStart{1000};
    // A paused live stream goes on downloading and waking the process; one paused this long is
    // dropped, and resuming opens it afresh at the live edge.
    Milliseconds longPause{180000};
    // A paused position older than this is taken to have left the server's window once its
    // connection is gone; live HLS windows are rarely shorter.
    Milliseconds pausedPositionKept{20000};
    // The reconnect policy's backoff is waited out divided by this.
    int backoffDivisor = 1;

    std::function<ReconnectPolicy::Clock::time_point()> now = &ReconnectPolicy::Clock::now;
    // Nanoseconds on a clock that goes on while the machine sleeps.
    std::function<int64_t()> bootNow = &bootClockNow;

    static int64_t bootClockNow();
    // The times of a running app. Past a few minutes of pause, skipping back into what was heard
    // before matters less than a process that sleeps; KOVRA_LONG_PAUSE_SECONDS shortens that pause
    // for the scenario tests and the bench.
    static MpvSessionTiming standard();
};

} // namespace platform::linux_impl
