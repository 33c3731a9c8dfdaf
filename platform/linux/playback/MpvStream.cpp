// Our stream in the media core: its commands, and the core's events sorted into what they say of it.
#include "platform/linux/playback/MpvStream.h"

#include <QLoggingCategory>

#include <algorithm>
#include <cmath>

namespace platform::linux_impl {

namespace {

constexpr uint64_t kCacheState = 2;
// Load commands carry their generation in the reply's user data, seeks this tag, others 0.
constexpr uint64_t kPlainCommand = 0;
constexpr uint64_t kSeekCommand = uint64_t(1) << 63;
// A seek to the very last cached moment fails inside mpv (it then falls back to reopening the
// stream), so the seekable end is reported this far short of the cache's end.
constexpr double kSeekableEndMargin = 0.5;
// A position closer to the live edge than this share of the lead the live start kept runs dry
// before the next segment is out: a skip forward stops short of it.
constexpr double kSkipLeadShare = 2.0 / 3.0;
// New audio that comes in when less than this share of the most the stream had ahead is left has
// come late: the stream plays at the live edge, where each segment arrives only as the last runs out.
constexpr double kEdgeLeadShare = 0.25;

} // namespace

bool MpvStream::open(const QString& url, std::chrono::seconds connectionTimeout)
{
    ++generation_;
    expectedEntry_ = -1;
    startedEntry_ = -1;
    forget();
    cacheEnd_ = -1;
    openingLead_ = 0;
    leadMeasured_ = false;
    const QByteArray address = url.toUtf8();
    const QByteArray timeout = QByteArray::number(qlonglong(connectionTimeout.count()));
    // Unpausing as a per-file option takes effect only once the previous stream is gone, so the
    // old channel cannot sound again while the new one opens.
    if (!core_.command({{"name", "loadfile"}, {"url", address.constData()}, {"flags", "replace"}}, generation_,
                       {{"pause", "no"}, {"network-timeout", timeout.constData()}}))
        return false;
    qCDebug(lcMedia) << "load" << url << "generation" << generation_;
    return true;
}

void MpvStream::drop()
{
    // Pausing corks the audio stream at once; `stop` then closes the connection and drops the
    // buffers. Both are queued, so the caller does not wait for either.
    core_.setPause(true);
    core_.command({{"name", "stop"}});
    setFlowing(false);
}

void MpvStream::setFlowing(bool on)
{
    if (!core_.exists())
        return;
    // Playing, the demuxer reads ahead as far as its byte limit allows (mpv's own default: 1000 h),
    // so a skip forward or a slow host finds audio waiting. Paused, it keeps what it holds and asks
    // for nothing more: a paused live stream would otherwise go on fetching a playlist and a segment
    // every few seconds, waking the relay and its network thread for audio nobody may hear. A pause
    // that outlasts the server's window resumes at its oldest segment, as a paused live stream does.
    constexpr double kPlayingSeconds = 1000.0 * 3600;
    constexpr double kPausedSeconds = 0;
    core_.setProperty("cache-secs", on ? kPlayingSeconds : kPausedSeconds, 0);
    // Pushed only while flowing (it changes several times a second); else asked for on request.
    if (on != cacheWatched_
        && (on ? core_.observe(kCacheState, "demuxer-cache-state", MPV_FORMAT_NODE) : core_.unobserve(kCacheState)))
        cacheWatched_ = on;
}

bool MpvStream::seek(double seconds)
{
    const QByteArray target = QByteArray::number(seconds, 'f', 6);
    if (!core_.command({{"name", "seek"}, {"target", target.constData()}, {"flags", "absolute+exact"}}, kSeekCommand))
        return false;
    // A second skip right after the first builds on this one's target.
    seek_ = Seek{seconds, now_(), false};
    // From here on the distance to the cache's end is the listener's doing, not the live start's.
    leadMeasured_ = true;
    return true;
}

void MpvStream::forget()
{
    position_.reset();
    seek_.reset();
    cached_.clear();
}

bool MpvStream::seekPending() const { return seek_ && (seek_->begun || now_() - seek_->sentAt < seekStart_); }

MpvStream::News MpvStream::take(const mpv_event& event, bool held)
{
    switch (event.event_id) {
    case MPV_EVENT_COMMAND_REPLY:
        if (event.reply_userdata == kSeekCommand && event.error < 0)
            seek_.reset();
        if (event.reply_userdata == kPlainCommand || event.reply_userdata != generation_)
            break;
        if (event.error < 0) {
            qCDebug(lcMedia) << "load refused:" << core_.errorString(event.error);
            return held ? News{News::Refused} : News{};
        }
        if (const auto* reply = static_cast<const mpv_event_command*>(event.data))
            if (const auto id = mpvNumber(mpvMapValue(reply->result, "playlist_entry_id")))
                expectedEntry_ = int64_t(*id);
        break;
    case MPV_EVENT_START_FILE: {
        const auto* start = static_cast<const mpv_event_start_file*>(event.data);
        if (!start || start->playlist_entry_id != expectedEntry_ || !held)
            break;
        startedEntry_ = start->playlist_entry_id;
        return News{News::Started};
    }
    case MPV_EVENT_FILE_LOADED:
    case MPV_EVENT_AUDIO_RECONFIG:
        if (held && startedEntry_ >= 0 && startedEntry_ == expectedEntry_)
            return News{event.event_id == MPV_EVENT_FILE_LOADED ? News::Loaded : News::Staged};
        break;
    case MPV_EVENT_END_FILE: {
        const auto* end = static_cast<const mpv_event_end_file*>(event.data);
        if (!end || end->playlist_entry_id != expectedEntry_ || !held)
            break;
        qCDebug(lcMedia) << "stream ended, reason" << end->reason << core_.errorString(end->error);
        startedEntry_ = -1;
        forget();
        return News{News::Ended, end->reason};
    }
    case MPV_EVENT_SEEK:
        if (seek_)
            seek_->begun = true;
        break;
    case MPV_EVENT_PLAYBACK_RESTART: {
        News news{News::Restarted};
        if (seekPending()) {
            news.seekedTo = seek_->target;
            seek_.reset();
            // The seek was exact, so the position will read the target; until it is observed, say it.
            position_ = news.seekedTo;
        }
        return news;
    }
    case MPV_EVENT_PROPERTY_CHANGE:
        if (event.data && held && startedEntry_ >= 0 && startedEntry_ == expectedEntry_)
            return property(*static_cast<const mpv_event_property*>(event.data), event.reply_userdata);
        break;
    default:
        break;
    }
    return News{};
}

MpvStream::News MpvStream::property(const mpv_event_property& property, uint64_t id)
{
    if (id == kCacheState) {
        cached_.clear();
        if (property.format != MPV_FORMAT_NODE || !property.data)
            return News{};
        const auto& state = *static_cast<const mpv_node*>(property.data);
        cached_ = mpvSeekableRanges(state);
        const auto end = mpvNumber(mpvMapValue(state, "cache-end"));
        if (!end || *end <= cacheEnd_)
            return News{};
        News news{News::Cached};
        if (position_) {
            news.late = cacheEnd_ >= 0 && cacheEnd_ - *position_ < openingLead_ * kEdgeLeadShare;
            if (!leadMeasured_)
                openingLead_ = std::max(openingLead_, *end - *position_);
        }
        cacheEnd_ = *end;
        return news;
    }
    if (id != kTimePos)
        return News{};
    if (property.format != MPV_FORMAT_DOUBLE || !property.data) {
        position_.reset();
        return News{};
    }
    const double seconds = *static_cast<const double*>(property.data);
    if (!std::isfinite(seconds))
        return News{};
    News news{News::Position};
    news.moved = !position_ || *position_ != seconds;
    // A seek that never began has failed: the position is the core's again.
    if (!seekPending())
        seek_.reset();
    position_ = seconds;
    return news;
}

std::vector<MediaTimeRange> MpvStream::seekable(int32_t timescale) const
{
    std::vector<MediaTimeRange> ranges;
    if (!core_.exists())
        return ranges;
    Ranges cached = cacheWatched_ ? cached_ : Ranges{};
    // Paused, it is not pushed to us: asked now (a short wait on the core, and only on request).
    if (!cacheWatched_)
        core_.readNode("demuxer-cache-state", [&](const mpv_node& state) { cached = mpvSeekableRanges(state); });
    const double margin = std::max(kSeekableEndMargin, openingLead_ * kSkipLeadShare);
    for (const auto& [start, end] : cached) {
        const double usableEnd = end - margin;
        if (usableEnd <= start)
            continue;
        const MediaTime from = MediaTime::makeWithSeconds(start, timescale);
        const MediaTime to = MediaTime::makeWithSeconds(usableEnd, timescale);
        if (from.isValid() && to.isValid())
            ranges.push_back(MediaTimeRange{from, MediaTime{to.value - from.value, timescale}});
    }
    return ranges;
}

} // namespace platform::linux_impl
