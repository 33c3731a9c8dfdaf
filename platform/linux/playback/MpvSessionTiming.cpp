// The session's times as a running app has them, and the clock that counts a sleep.
#include "platform/linux/playback/MpvSessionTiming.h"

#include <QString>

#include <ctime>

namespace platform::linux_impl {

int64_t MpvSessionTiming::bootClockNow()
{
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

MpvSessionTiming MpvSessionTiming::standard()
{
    MpvSessionTiming timing;
    bool ok = false;
    const double seconds = qEnvironmentVariable("KOVRA_LONG_PAUSE_SECONDS").toDouble(&ok);
    if (ok && seconds >= 0 && seconds < 86400)
        timing.longPause = Milliseconds(qint64(seconds * 1000));
    return timing;
}

} // namespace platform::linux_impl
