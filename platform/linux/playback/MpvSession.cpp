// The state machine around the one media core: which player it serves, loading, pausing,
// seeking, and reconnecting a live stream that failed or stalled.
#include "platform/linux/playback/MpvSession.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <algorithm>
#include <cmath>

namespace platform::linux_impl {

namespace {

// Audio that comes with less than this share of the most the stream had ahead left: at the live edge.
constexpr double kEdgeLeadShare = 0.25;

enum PropertyId : uint64_t { TimePos = 1, CacheState = 2 };

// Load commands carry their generation in the reply's user data, seeks kSeekCommand, others 0.
constexpr uint64_t kPlainCommand = 0;
// A healthy open or resume sounds in well under a second; one that has not sounded by this long
// is taken for silent (a host that hangs, segments that fail and are skipped).
constexpr auto kOpeningQuietLimit = std::chrono::seconds(3);
// A stream that sounded and whose position has not moved for this long has run dry.
constexpr auto kQuietLimit = std::chrono::seconds(2);
// How long the audio output goes on sounding what it was given before a stream ended.
constexpr auto kOutputTail = std::chrono::milliseconds(500);

} // namespace

MpvSession::MpvSession(MpvCore::LibraryOpener openLibrary)
    : core_(std::move(openLibrary), [this](const mpv_event& event) { handleEvent(event); })
{
    retryTimer_.setSingleShot(true);
    connect(&retryTimer_, &QTimer::timeout, this, [this] {
        if (owner_ && wantPlay_)
            load();
    });
    watchdogTimer_.setInterval(1000);
    connect(&watchdogTimer_, &QTimer::timeout, this, &MpvSession::watchdog);
    quietTimer_.setSingleShot(true);
    connect(&quietTimer_, &QTimer::timeout, this, &MpvSession::wentQuiet);
    longPauseTimer_.setSingleShot(true);
    longPauseTimer_.setInterval(longPauseLimit());
    connect(&longPauseTimer_, &QTimer::timeout, this, &MpvSession::dropLongPausedStream);
    // The handle must be gone before the process exits, and its destruction blocks: start it
    // while the application is still tearing down its windows.
    if (auto* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &MpvSession::shutdown);
}

void MpvSession::setFailed(bool failed)
{
    setSounding(sounding_ && !failed);
    if (failed_ == failed)
        return;
    failed_ = failed;
    Q_EMIT failedChanged(failed);
}

void MpvSession::wentQuiet()
{
    if (!owner_ || !wantPlay_ || core_.isShutDown())
        return;
    qCDebug(lcMedia) << "silent; not counted as playing";
    setFailed(true);
    edgeReopened_ = false;
    // A file that opened and plays nothing (garbage taken for its format) never will; one run dry may.
    if (entry_ == Entry::Loading && fileLoaded_) {
        silence();
        scheduleRetry();
    }
}

void MpvSession::setFlowing(bool on)
{
    if (!core_.exists())
        return;
    readAhead(on);
    // Pushed only while flowing (it changes several times a second); else asked for on request.
    if (on != cacheWatched_
        && (on ? core_.observe(CacheState, "demuxer-cache-state", MPV_FORMAT_NODE) : core_.unobserve(CacheState)))
        cacheWatched_ = on;
}

void MpvSession::start(const MediaPlayer* owner, const MediaItem* item, const QString& url)
{
    if (!owner)
        return;
    owner_ = owner;
    item_ = item;
    url_ = url;
    wantPlay_ = true;
    longPauseTimer_.stop();
    reconnect_.reset();
    edgeReopened_ = false;
    // A new choice is given the benefit of the doubt until its stream fails.
    setFailed(false);
    quietTimer_.stop();
    load();
}

void MpvSession::resume(const MediaPlayer* owner)
{
    if (!owns(owner))
        return;
    wantPlay_ = true;
    longPauseTimer_.stop();
    setFailed(false);
    // A core that refuses to unpause cannot be trusted with the stream it holds: open it anew.
    if (entry_ != Entry::None && !retryTimer_.isActive() && !pausedPositionLost() && core_.setPause(false)) {
        pausedConnectionLost_ = false;
        setFlowing(true);
        reconnect_.progressed();
        watchdogTimer_.start();
        quietTimer_.start(kOpeningQuietLimit);
        return;
    }
    // The stream ended or failed while we were paused: open it again now.
    reconnect_.reset();
    quietTimer_.stop();
    load();
}

void MpvSession::pause(const MediaPlayer* owner)
{
    if (!owns(owner))
        return;
    wantPlay_ = false;
    setSounding(false);
    pausedAtBoot_ = bootClockNow();
    retryTimer_.stop();
    watchdogTimer_.stop();
    quietTimer_.stop();
    // A core that will not pause must not go on sounding: drop the stream instead.
    if (!core_.setPause(true))
        silence();
    setFlowing(false);
    if (entry_ != Entry::None)
        longPauseTimer_.start();
}

void MpvSession::release(const MediaPlayer* owner)
{
    if (!owns(owner))
        return;
    silence();
    forget();
}

void MpvSession::silence()
{
    // Pausing corks the audio stream at once; `stop` then closes the connection and drops the
    // buffers. Both are queued, so the caller does not wait for either.
    core_.setPause(true);
    core_.command({{"name", "stop"}});
    setFlowing(false);
    entry_ = Entry::None;
    quietTimer_.stop();
    setSounding(false);
}

void MpvSession::forget()
{
    owner_ = nullptr;
    item_ = nullptr;
    url_.clear();
    wantPlay_ = false;
    retryTimer_.stop();
    watchdogTimer_.stop();
    quietTimer_.stop();
    longPauseTimer_.stop();
    timePos_.reset();
    pendingSeek_.reset();
    cachedRanges_.clear();
    setFailed(false);
}

void MpvSession::load()
{
    retryTimer_.stop();
    if (core_.isShutDown())
        return;
    if (!core_.exists() && !(core_.create() && core_.observe(TimePos, "time-pos", MPV_FORMAT_DOUBLE))) {
        core_.discard();
        setFailed(true);
        // A library that is not there will not appear by retrying; a core that failed might.
        if (!core_.libraryMissing())
            scheduleRetry();
        return;
    }
    ++loadGeneration_;
    loadedAt_ = std::chrono::steady_clock::now();
    pausedConnectionLost_ = false;
    expectedEntryId_ = -1;
    fileStarted_ = false;
    fileLoaded_ = false;
    entry_ = Entry::Loading;
    timePos_.reset();
    pendingSeek_.reset();
    cachedRanges_.clear();
    openingLead_ = 0;
    openingLeadKept_ = false;
    reconnect_.attempting();
    loadedUpTo_ = -1;
    const QByteArray url = url_.toUtf8();
    const QByteArray timeout = QByteArray::number(qlonglong(reconnect_.connectionTimeout().count()));
    // Unpausing as a per-file option takes effect only once the previous stream is gone, so the
    // old channel cannot sound again while the new one opens.
    if (!core_.command({{"name", "loadfile"}, {"url", url.constData()}, {"flags", "replace"}}, loadGeneration_,
                       {{"pause", "no"}, {"network-timeout", timeout.constData()}})) {
        // Refused outright: nothing will play, so the player must not claim to, and the
        // retries back off as for any failed load.
        entry_ = Entry::None;
        retryAfterFailure();
        return;
    }
    setFlowing(true);
    watchdogTimer_.start();
    // A retry does not extend the grace of the open before it, nor the last moments of a stream.
    if (!quietTimer_.isActive())
        quietTimer_.start(kOpeningQuietLimit);
    qCDebug(lcMedia) << "load" << url_ << "generation" << loadGeneration_;
}

void MpvSession::scheduleRetry()
{
    if (!owner_ || !wantPlay_ || core_.isShutDown())
        return;
    const auto delay = reconnect_.nextDelay();
    qCDebug(lcMedia) << "retry in" << delay.count() << "ms";
    retryTimer_.start(delay);
}

void MpvSession::retryAfterFailure()
{
    // Until it sounds again, the stream does not count as playing. One that ran to its end while
    // sounding has its last moments in the audio output: opened again at once if it played well (its
    // demuxer gave up in an outage its buffer outlasted), the new stream follows them.
    if (sounding_)
        quietTimer_.start(kOutputTail);
    else if (owner_ && wantPlay_)
        setFailed(true);
    if (sounding_ && !reconnect_.inOutage() && owner_ && wantPlay_) {
        reconnect_.nextDelay();
        quietTimer_.start(kOpeningQuietLimit); // the grace of an open
        retryTimer_.start(0);
        return;
    }
    scheduleRetry();
}

void MpvSession::watchdog()
{
    if (!owner_ || !wantPlay_ || retryTimer_.isActive() || entry_ == Entry::None || !reconnect_.stalled())
        return;
    // Silent too long while meant to play (a hung server, or a stream that never started):
    // drop the connection now and reconnect after the backoff.
    qCDebug(lcMedia) << "stalled; reconnecting";
    silence();
    retryAfterFailure();
}

void MpvSession::handleEvent(const mpv_event& event)
{
    volume_.handleEvent(event);
    switch (event.event_id) {
    case MPV_EVENT_COMMAND_REPLY: {
        if (event.reply_userdata == kSeekCommand && event.error < 0)
            pendingSeek_.reset();
        if (event.reply_userdata == kPlainCommand || event.reply_userdata != loadGeneration_)
            break;
        if (event.error < 0) {
            qCDebug(lcMedia) << "load refused:" << core_.errorString(event.error);
            entry_ = Entry::None;
            retryAfterFailure();
            break;
        }
        const auto* reply = static_cast<const mpv_event_command*>(event.data);
        if (auto id = reply ? mpvNumber(mpvMapValue(reply->result, "playlist_entry_id")) : std::nullopt)
            expectedEntryId_ = int64_t(*id);
        break;
    }
    case MPV_EVENT_START_FILE: {
        const auto* start = static_cast<const mpv_event_start_file*>(event.data);
        if (start && start->playlist_entry_id == expectedEntryId_ && entry_ != Entry::None) {
            fileStarted_ = true;
            reconnect_.progressed();
        }
        break;
    }
    case MPV_EVENT_FILE_LOADED:
        if (fileStarted_ && entry_ == Entry::Loading && wantPlay_) {
            // An open after silence may be at the live edge, past segments that failed: opened once more.
            if (failed_ && !edgeReopened_) {
                reopenBehindEdge();
                break;
            }
            fileLoaded_ = true;
            reconnect_.answered();
            // An opened file sounds at once; a slow link that opened it late gets the same grace.
            if (quietTimer_.remainingTime() < std::chrono::milliseconds(kOpeningQuietLimit).count())
                quietTimer_.start(kOpeningQuietLimit);
        }
        [[fallthrough]];
    case MPV_EVENT_AUDIO_RECONFIG:
        // Stages of opening our stream: on a slow link each may take many seconds.
        if (fileStarted_ && entry_ == Entry::Loading)
            reconnect_.progressed();
        break;
    case MPV_EVENT_END_FILE: {
        const auto* end = static_cast<const mpv_event_end_file*>(event.data);
        if (!end || end->playlist_entry_id != expectedEntryId_ || entry_ == Entry::None)
            break;
        qCDebug(lcMedia) << "stream ended, reason" << end->reason << core_.errorString(end->error);
        entry_ = Entry::None;
        fileStarted_ = false;
        timePos_.reset();
        pendingSeek_.reset();
        cachedRanges_.clear();
        // A live stream has no end: an end of file or an error means the server failed us.
        if (end->reason == MPV_END_FILE_REASON_EOF || end->reason == MPV_END_FILE_REASON_ERROR)
            retryAfterFailure();
        // The stream was read as a list of other files: never play those behind our back.
        if (end->reason == MPV_END_FILE_REASON_REDIRECT) {
            silence();
            retryAfterFailure();
        }
        break;
    }
    case MPV_EVENT_SEEK:
        seekBegun_ = true;
        break;
    case MPV_EVENT_PLAYBACK_RESTART:
        reconnect_.progressed();
        if (seekPending()) {
            const double target = *pendingSeek_;
            pendingSeek_.reset();
            // The seek was exact, so time-pos will read the target; until it is observed, say it.
            timePos_ = target;
            Q_EMIT seeked(target);
        }
        break;
    case MPV_EVENT_PROPERTY_CHANGE: {
        const auto* property = static_cast<const mpv_event_property*>(event.data);
        if (!property || entry_ == Entry::None || !fileStarted_)
            break;
        if (event.reply_userdata == TimePos) {
            if (property->format != MPV_FORMAT_DOUBLE || !property->data) {
                timePos_.reset();
                break;
            }
            const double value = *static_cast<const double*>(property->data);
            if (!std::isfinite(value))
                break;
            if (!timePos_ || *timePos_ != value) {
                reconnect_.sounding();
                setFailed(false);
                setSounding(wantPlay_);
                if (wantPlay_)
                    quietTimer_.start(kQuietLimit);
            }
            // A seek that never began has failed: the position is the core's again.
            if (!seekPending())
                pendingSeek_.reset();
            timePos_ = value;
            entry_ = Entry::Playing;
        } else if (event.reply_userdata == CacheState) {
            cachedRanges_.clear();
            if (property->format != MPV_FORMAT_NODE || !property->data)
                break;
            const auto& state = *static_cast<const mpv_node*>(property->data);
            cachedRanges_ = mpvSeekableRanges(state);
            // Audio arriving ahead of the first sound is progress too.
            const auto cacheEnd = mpvNumber(mpvMapValue(state, "cache-end"));
            if (!cacheEnd || *cacheEnd <= loadedUpTo_)
                break;
            if (entry_ == Entry::Playing && timePos_) {
                // After silence, once: a slow start, or a link too slow for the stream, runs low as well.
                const bool low = loadedUpTo_ >= 0 && loadedUpTo_ - *timePos_ < openingLead_ * kEdgeLeadShare;
                if (failed_ && !edgeReopened_ && low) {
                    reopenBehindEdge();
                    break;
                }
                if (!openingLeadKept_)
                    openingLead_ = std::max(openingLead_, *cacheEnd - *timePos_);
            }
            if (entry_ == Entry::Loading)
                reconnect_.progressed();
            loadedUpTo_ = *cacheEnd;
        }
        break;
    }
    default:
        break;
    }
}

} // namespace platform::linux_impl
