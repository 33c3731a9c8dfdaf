// Backoff between reconnection attempts, and stall detection.
#include "platform/linux/playback/ReconnectPolicy.h"

#include <algorithm>

namespace platform::linux_impl {

void ReconnectPolicy::reset()
{
    backoff_ = kFirstDelay;
    connectionTimeout_ = kFirstConnectionTimeout;
    outageSince_.reset();
    soundingSince_.reset();
    progressed();
}

void ReconnectPolicy::woke()
{
    reset();
    wokeAt_ = now_();
}

ReconnectPolicy::Milliseconds ReconnectPolicy::nextDelay()
{
    const auto now = now_();
    const bool justWoke = wokeAt_ && now - *wokeAt_ < kAfterWake;
    if (justWoke) {
        soundingSince_.reset();
        return kAfterWakeDelay;
    }
    const bool waitedOut = attemptAt_ && now - *attemptAt_ >= connectionTimeout_;
    if (!soundingSince_ && waitedOut)
        connectionTimeout_ = std::min(connectionTimeout_ * 2, kLongestConnectionTimeout);
    soundingSince_.reset();
    attemptAt_.reset();
    if (!outageSince_)
        outageSince_ = now;
    const Milliseconds cap = now - *outageSince_ < kYoungOutage ? kYoungOutageDelay : kLongestDelay;
    const Milliseconds delay = std::min(backoff_, cap);
    backoff_ = std::min(backoff_ * 2, kLongestDelay);
    return delay;
}

std::chrono::seconds ReconnectPolicy::connectionTimeout() const { return connectionTimeout_; }

void ReconnectPolicy::progressed() { lastProgress_ = now_(); }

void ReconnectPolicy::attempting()
{
    progressed();
    attemptAt_ = lastProgress_;
}

void ReconnectPolicy::sounding()
{
    progressed();
    if (!soundingSince_)
        soundingSince_ = lastProgress_;
    else if (outageSince_ && lastProgress_ - *soundingSince_ >= kRecoveredAfter)
        reset();
}

bool ReconnectPolicy::flowing() const { return soundingSince_ && now_() - lastProgress_ < kFlowingGap; }

bool ReconnectPolicy::stalled() const
{
    const auto limit =
        soundingSince_ ? std::chrono::duration<double>(kStallLimit) : std::chrono::duration<double>(kOpeningStallLimit);
    return now_() - lastProgress_ >= limit;
}

} // namespace platform::linux_impl
