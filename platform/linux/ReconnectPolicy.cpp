// Backoff between reconnection attempts, and stall detection.
#include "platform/linux/ReconnectPolicy.h"

#include <algorithm>

namespace platform::linux_impl {

void ReconnectPolicy::reset()
{
    backoff_ = firstDelay;
    outageSince_.reset();
    soundingSince_.reset();
    progressed();
}

ReconnectPolicy::Milliseconds ReconnectPolicy::nextDelay()
{
    const auto now = now_();
    soundingSince_.reset();
    if (!outageSince_)
        outageSince_ = now;
    const Milliseconds cap = now - *outageSince_ < youngOutage ? youngOutageDelay : longestDelay;
    const Milliseconds delay = std::min(backoff_, cap);
    backoff_ = std::min(backoff_ * 2, longestDelay);
    return delay;
}

void ReconnectPolicy::progressed() { lastProgress_ = now_(); }

void ReconnectPolicy::sounding()
{
    progressed();
    if (!soundingSince_)
        soundingSince_ = lastProgress_;
    else if (outageSince_ && lastProgress_ - *soundingSince_ >= recoveredAfter)
        reset();
}

bool ReconnectPolicy::stalled() const { return now_() - lastProgress_ >= stallLimit; }

} // namespace platform::linux_impl
