// Our stream in the media core: the commands that open, cork, drop and seek it, and what the
// core's events say of it: which entry is ours, where it is, a seek on its way, and the stretches
// of it a skip can reach. The session decides what to do about it.
#pragma once

#include "platform/Media.h"
#include "platform/linux/playback/MpvCore.h"

#include <QString>

#include <chrono>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace platform::linux_impl {

class MpvStream {
public:
    using Clock = std::chrono::steady_clock;
    using Ranges = std::vector<std::pair<double, double>>;
    // The user data of the observed position, which a new core must be asked for first.
    static constexpr uint64_t kTimePos = 1;

    // What one of the core's events says of our stream.
    struct News {
        enum Kind {
            Nothing,
            Refused,   // the core refused the load
            Started,   // our entry started
            Loaded,    // its file opened: its format is known and its first audio read
            Staged,    // it passed another stage of opening (its audio output set up)
            Ended,     // it ended; reason is the core's
            Restarted, // playback restarted, at seekedTo if that was a seek's doing
            Position,  // it has a position, which moved or not
            Cached,    // its cache reaches further than it did; late if little was left ahead
        };
        News(Kind what = Nothing, int why = 0) : kind(what), reason(why) {}
        Kind kind;
        int reason;
        bool moved = false;
        bool late = false;
        std::optional<double> seekedTo;
    };

    MpvStream(MpvCore& core, std::function<Clock::time_point()> now, std::chrono::milliseconds seekStart)
        : core_(core), now_(std::move(now)), seekStart_(seekStart)
    {
    }

    // Has the core open url in place of whatever it plays; false when refused outright. Nothing
    // of the last stream holds from here on.
    bool open(const QString& url, std::chrono::seconds connectionTimeout);
    // Corks it at once and has the core close its connection and drop its buffers.
    void drop();
    // Flowing, it reads far ahead and the core pushes its cache state; else it keeps what it holds.
    void setFlowing(bool on);
    // An exact seek; false when the core refused it.
    bool seek(double seconds);

    // Reads one event of the core; while no stream of ours is held, only seeks are followed.
    News take(const mpv_event& event, bool held);

    // The stream is gone: no position, seek or cache.
    void forget();
    // Seconds, or none while unknown. Until the core has carried a seek out, its target.
    std::optional<double> position() const { return seekPending() ? std::optional(seek_->target) : position_; }
    // What of the cache a skip can land in, in positions of this timescale.
    std::vector<MediaTimeRange> seekable(int32_t timescale) const;

private:
    struct Seek {
        double target;
        Clock::time_point sentAt;
        bool begun;
    };
    // A seek was sent and has not failed.
    bool seekPending() const;
    News property(const mpv_event_property& property, uint64_t id);

    MpvCore& core_;
    std::function<Clock::time_point()> now_;
    std::chrono::milliseconds seekStart_;
    bool cacheWatched_ = false;

    uint64_t generation_ = 0;
    // The core's playlist entry of our stream once the load's reply named it, and the entry that
    // last started: until ours has, the core's events are about the stream before.
    int64_t expectedEntry_ = -1;
    int64_t startedEntry_ = -1;

    std::optional<double> position_;
    std::optional<Seek> seek_;
    Ranges cached_;
    // How far the cache reaches (seconds).
    double cacheEnd_ = -1;
    // How far the cache reached past the position at most while the stream played from where it
    // was opened (seconds): a live start keeps a few segments ahead, so it tells the segment
    // length. Measured until the listener seeks.
    double openingLead_ = 0;
    bool leadMeasured_ = false;
};

} // namespace platform::linux_impl
