// The media player that streams an HLS live playlist: its rate, position, seekable ranges and
// exact seeks, with rational times in the manner of the platform's time arithmetic.
#pragma once

#include "platform/Service.h"
#include "platform/URL.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace platform {

// A rational time: value / timescale seconds. An invalid time has timescale 0.
struct MediaTime {
    int64_t value = 0;
    int32_t timescale = 0;

    bool isValid() const { return timescale > 0; }
    double seconds() const { return isValid() ? double(value) / timescale : 0.0; }
    bool operator==(const MediaTime&) const = default;

    static MediaTime zero() { return MediaTime{0, 1}; }
    // Rounds to the nearest multiple of 1/timescale.
    static MediaTime makeWithSeconds(double seconds, int32_t preferredTimescale);
    // Exact sum; the result carries a timescale fine enough for both operands.
    static MediaTime add(MediaTime a, MediaTime b);
    // Negative, zero or positive as a is before, at or after b (exact for any timescales).
    static int compare(MediaTime a, MediaTime b);
};

struct MediaTimeRange {
    MediaTime start;
    MediaTime duration;
    MediaTime end() const { return MediaTime::add(start, duration); }
    bool operator==(const MediaTimeRange&) const = default;
};

class MediaItem {
public:
    virtual ~MediaItem() = default;
    // The stretches that can be sought to, possibly none.
    virtual std::vector<MediaTimeRange> seekableTimeRanges() const = 0;
};

class MediaPlayer {
public:
    virtual ~MediaPlayer() = default;
    virtual void play() = 0;
    virtual void pause() = 0;
    // Above 0 while playing, 0 when paused or when the stream has failed and is being reopened.
    virtual float rate() const = 0;
    virtual std::shared_ptr<MediaItem> currentItem() const = 0;
    virtual MediaTime currentTime() const = 0;
    // Moves the position; the playing or paused state does not change.
    virtual void seekToTime(MediaTime time, MediaTime toleranceBefore, MediaTime toleranceAfter) = 0;

    // Called when the rate changes by itself (the stream failed, or sounds again), never from
    // inside play() or pause().
    void setRateChangeHandler(std::function<void()> handler) { rateChangeHandler_ = std::move(handler); }

protected:
    void rateChanged() const
    {
        // A copy, so a handler that replaces itself does not destroy the one running.
        if (auto handler = rateChangeHandler_)
            handler();
    }

private:
    std::function<void()> rateChangeHandler_;
};

// Makes items and players. Releasing a player must silence it at once.
class MediaEngine : public Service<MediaEngine> {
public:
    virtual ~MediaEngine() = default;
    virtual std::shared_ptr<MediaItem> itemWithURL(const URL& url) = 0;
    virtual std::unique_ptr<MediaPlayer> playerWithItem(std::shared_ptr<MediaItem> item) = 0;
};

} // namespace platform
