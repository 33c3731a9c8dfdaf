// When to try a live stream again after it failed, and when a stream that is meant to play has
// stopped making progress. Pure logic: the time comes from the clock it is given.
#pragma once

#include <chrono>
#include <functional>
#include <optional>

namespace platform::linux_impl {

class ReconnectPolicy {
public:
    using Clock = std::chrono::steady_clock;
    using Milliseconds = std::chrono::milliseconds;

    static constexpr Milliseconds kFirstDelay{500};
    static constexpr Milliseconds kLongestDelay{30000};
    // Someone is waiting for the channel: while an outage is young, try every few seconds so the
    // sound is back soon after the server is; only a long outage backs off further, sparing the
    // server and the battery.
    static constexpr Milliseconds kYoungOutageDelay{3000};
    static constexpr std::chrono::seconds kYoungOutage{60};
    // Sound that has run this long without trouble means the outage is over.
    static constexpr std::chrono::seconds kRecoveredAfter{10};
    // Nothing moved for this long while meant to play: the server hangs.
    static constexpr std::chrono::seconds kStallLimit{8};
    // Before the first sound of an attempt: opening a stream over a slow link passes stages many
    // seconds apart, and each connection gives up by itself when it makes no progress; this only
    // catches a core that wedges.
    static constexpr std::chrono::seconds kOpeningStallLimit{30};

    // How long one connection may wait for its next bytes before it is given up: short, so a hung
    // server is left soon, and longer after each attempt that waited out its timeout before it
    // sounded, so a link with seconds of round trip (a TLS handshake waits two of them) still
    // opens. A quick refusal (a 404, a closed port) says nothing of the link and lengthens nothing.
    static constexpr std::chrono::seconds kFirstConnectionTimeout{3};
    static constexpr std::chrono::seconds kLongestConnectionTimeout{12};

    // Just after the machine wakes its network takes a few seconds to come back: retry this often
    // for this long, and keep each attempt's timeout short.
    static constexpr Milliseconds kAfterWakeDelay{1000};
    static constexpr std::chrono::seconds kAfterWake{30};
    // Sound counts as flowing while the position moved this recently.
    static constexpr std::chrono::seconds kFlowingGap{2};

    explicit ReconnectPolicy(std::function<Clock::time_point()> now = &Clock::now) : now_(std::move(now)) {}

    // The listener asked afresh (play, resume): the next failure is retried at the first delay.
    void reset();
    // The machine woke up: a reset, and prompt retries for a while.
    void woke();
    // An attempt (a load) starts now; also progress.
    void attempting();
    // The attempt's stream opened: however it fails from here, its wait said nothing of the link.
    void answered() { attemptAt_.reset(); }
    // Attempts have failed since the stream last played well.
    bool inOutage() const { return outageSince_.has_value(); }
    // An attempt failed or was cut off: how long to wait before the next one.
    Milliseconds nextDelay();
    // An attempt starts, or the stream moved on: the stall clock starts over.
    void progressed();
    // The stream is sounding; also progress.
    void sounding();
    // The stream is sounding and its position moved just now.
    bool flowing() const;
    // For the next attempt's connections.
    std::chrono::seconds connectionTimeout() const;
    // Meant to play, yet nothing has moved for too long (longer before the first sound).
    bool stalled() const;

private:
    std::function<Clock::time_point()> now_;
    Milliseconds backoff_ = kFirstDelay;
    std::chrono::seconds connectionTimeout_ = kFirstConnectionTimeout;
    // When the current run of failures began; none while the stream is fine.
    std::optional<Clock::time_point> outageSince_;
    std::optional<Clock::time_point> soundingSince_;
    Clock::time_point lastProgress_{};
    std::optional<Clock::time_point> attemptAt_;
    std::optional<Clock::time_point> wokeAt_;
};

} // namespace platform::linux_impl
