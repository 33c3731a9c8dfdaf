// The session's state machine: which player the core serves, opening, pausing and seeking its
// stream, reconnecting one that failed or stalled, and following the machine's sleeps and networks.
#include "platform/linux/playback/MpvSession.h"

#include <QLoggingCategory>

#include <cmath>
#include <malloc.h>

namespace platform::linux_impl {

MpvSession::MpvSession(MpvCore::LibraryOpener openLibrary, MpvSessionTiming timing)
    : timing_(std::move(timing)), core_(std::move(openLibrary), [this](const mpv_event& event) { handleEvent(event); }),
      stream_(core_, timing_.now, timing_.seekStart), reconnect_(timing_.now)
{
    retryTimer_.setSingleShot(true);
    connect(&retryTimer_, &QTimer::timeout, this, &MpvSession::load);
    watchdogTimer_.setInterval(timing_.watchdogTick);
    connect(&watchdogTimer_, &QTimer::timeout, this, &MpvSession::watchdog);
    quietTimer_.setSingleShot(true);
    connect(&quietTimer_, &QTimer::timeout, this, &MpvSession::wentQuiet);
    longPauseTimer_.setSingleShot(true);
    longPauseTimer_.setInterval(timing_.longPause);
    connect(&longPauseTimer_, &QTimer::timeout, this, &MpvSession::dropLongPausedStream);
}

void MpvSession::enter(State next)
{
    state_ = next;
    if (next != State::Retrying)
        retryTimer_.stop();
    if (next != State::Opening && next != State::Opened && next != State::Playing)
        watchdogTimer_.stop();
    if (!meantToPlay())
        quietTimer_.stop();
    if (next != State::PausedOpening && next != State::Paused)
        longPauseTimer_.stop();
}

void MpvSession::tell(Heard heard)
{
    if (heard_ == heard)
        return;
    const Heard was = heard_;
    heard_ = heard;
    // What stops being true is said before what starts to.
    if (was == Heard::Sounding) {
        volume_.follow(false);
        Q_EMIT soundingChanged(false);
    }
    if (was == Heard::Silent)
        Q_EMIT failedChanged(false);
    if (heard == Heard::Silent)
        Q_EMIT failedChanged(true);
    if (heard == Heard::Sounding) {
        volume_.follow(true);
        Q_EMIT soundingChanged(true);
    }
}

// -- what the player fronts ask -----------------------------------------------------------------

void MpvSession::start(const MediaPlayer* owner, const MediaItem* item, const QString& url)
{
    if (!owner || state_ == State::ShutDown)
        return;
    owner_ = owner;
    item_ = item;
    url_ = url;
    edgeReopened_ = false;
    // A new choice is given the benefit of the doubt until its stream fails.
    reopen(Grace::Renewed);
}

void MpvSession::resume(const MediaPlayer* owner)
{
    if (!owns(owner))
        return;
    clearFailure();
    // A core that refuses to unpause cannot be trusted with the stream it holds: open it anew.
    if (holdsStream() && !pausedPositionLost() && core_.setPause(false)) {
        pausedConnectionCutAt_.reset();
        enter(positioned() ? State::Playing : state_ == State::Opened ? State::Opened : State::Opening);
        stream_.setFlowing(true);
        reconnect_.progressed();
        watchdogTimer_.start();
        quietTimer_.start(timing_.openingQuiet);
        return;
    }
    // The stream ended or failed while we were paused: open it again now.
    reopen(Grace::Renewed);
}

void MpvSession::pause(const MediaPlayer* owner)
{
    if (!owns(owner))
        return;
    enter(positioned() ? State::Paused : opening() ? State::PausedOpening : State::Stopped);
    if (heard_ == Heard::Sounding)
        tell(Heard::Pending);
    pausedAtBoot_ = timing_.bootNow();
    // A core that will not pause must not go on sounding: drop the stream instead.
    if (!core_.setPause(true))
        silence(State::Stopped);
    stream_.setFlowing(false);
    if (holdsStream())
        longPauseTimer_.start();
}

void MpvSession::release(const MediaPlayer* owner)
{
    if (!owns(owner))
        return;
    silence(State::Idle);
    owner_ = nullptr;
    item_ = nullptr;
    url_.clear();
    stream_.forget();
    clearFailure();
}

void MpvSession::seek(const MediaPlayer* owner, double seconds)
{
    if (owns(owner) && positioned() && std::isfinite(seconds) && stream_.seek(seconds))
        reconnect_.progressed();
}

void MpvSession::shutdown()
{
    enter(State::ShutDown);
    if (heard_ == Heard::Sounding)
        tell(Heard::Pending);
    owner_ = nullptr;
    core_.shutdown();
}

// -- the machine and its network ----------------------------------------------------------------

void MpvSession::prepareForSleep()
{
    if (!owner_)
        return;
    if (!meantToPlay()) {
        // Kept for a short sleep; its connection will not survive, see pausedPositionLost().
        if (holdsStream())
            pausedConnectionCutAt_ = timing_.bootNow();
        return;
    }
    // After the sleep its connection is dead and its position far behind the live edge: drop the
    // stream now, while the network is still there to close it, and open it again on wake.
    silence(State::Waiting);
}

void MpvSession::wake()
{
    // Nothing was dropped (the sleep was not announced first): a stream that sounds goes on.
    if (!meantToPlayButSilent())
        return;
    // The network may take seconds to return: the first attempts fail fast and are retried often.
    reconnect_.woke();
    load();
}

void MpvSession::networkOnline()
{
    // A stream that sounds is left alone; one waiting out the backoff or stuck opening tries now.
    if (meantToPlayButSilent())
        reopen(Grace::Kept);
}

void MpvSession::networkSwitched(std::chrono::steady_clock::time_point since)
{
    if (!owner_ || state_ == State::ShutDown)
        return;
    if (!meantToPlay()) {
        if (holdsStream())
            pausedConnectionCutAt_ = timing_.bootNow();
        return;
    }
    // A stream opened on the new network and sounding needs nothing; any other waits for
    // connections that will only time out.
    if (state_ == State::Playing && loadedAt_ >= since && reconnect_.flowing())
        return;
    reopen(Grace::Kept);
}

bool MpvSession::pausedPositionLost() const
{
    const auto kept = std::chrono::nanoseconds(timing_.pausedPositionKept).count();
    return pausedConnectionCutAt_ && timing_.bootNow() - pausedAtBoot_ > kept;
}

// -- opening, losing and dropping the stream ----------------------------------------------------

bool MpvSession::reopenBehindLiveEdgeOnce()
{
    if (!failed() || edgeReopened_)
        return false;
    qCDebug(lcMedia) << "at the live edge; reopening a few segments back";
    edgeReopened_ = true;
    reopen(Grace::Kept);
    return true;
}

void MpvSession::reopen(Grace grace)
{
    reconnect_.reset();
    if (grace == Grace::Renewed) {
        clearFailure();
        quietTimer_.stop();
    }
    load();
}

void MpvSession::load()
{
    if (!core_.exists() && !(core_.create() && core_.observe(MpvStream::kTimePos, "time-pos", MPV_FORMAT_DOUBLE))) {
        core_.discard();
        tell(Heard::Silent);
        // A library that is not there will not appear by retrying; a core that failed might.
        if (core_.libraryMissing())
            enter(State::Waiting);
        else
            retryLater();
        return;
    }
    loadedAt_ = std::chrono::steady_clock::now();
    pausedConnectionCutAt_.reset();
    reconnect_.attempting();
    enter(State::Opening);
    if (!stream_.open(url_, reconnect_.connectionTimeout())) {
        // Refused outright: nothing will play, and the retries back off as for any failed load.
        lost();
        return;
    }
    stream_.setFlowing(true);
    watchdogTimer_.start();
    // A retry does not extend the grace of the open before it, nor the last moments of a stream.
    if (!quietTimer_.isActive())
        quietTimer_.start(timing_.openingQuiet);
}

void MpvSession::retryLater()
{
    enter(State::Retrying);
    const auto delay = reconnect_.nextDelay() / timing_.backoffDivisor;
    qCDebug(lcMedia) << "retry in" << delay.count() << "ms";
    retryTimer_.start(delay);
}

void MpvSession::lost()
{
    // Paused, nothing is retried until the listener resumes.
    if (!meantToPlay()) {
        enter(State::Stopped);
        return;
    }
    // Until it sounds again, the stream does not count as playing. One that ran to its end while
    // sounding has its last moments in the audio output: opened again at once if it played well (its
    // demuxer gave up in an outage its buffer outlasted), the new stream follows them.
    if (heard_ != Heard::Sounding) {
        tell(Heard::Silent);
    } else if (reconnect_.inOutage()) {
        quietTimer_.start(timing_.outputTail);
    } else {
        reconnect_.nextDelay();
        quietTimer_.start(timing_.openingQuiet); // the grace of an open
        enter(State::Retrying);
        retryTimer_.start(0);
        return;
    }
    retryLater();
}

void MpvSession::silence(State next)
{
    stream_.drop();
    enter(next);
    quietTimer_.stop();
    if (heard_ == Heard::Sounding)
        tell(Heard::Pending);
}

void MpvSession::ended(int reason)
{
    const State streamless = meantToPlay() ? State::Waiting : State::Stopped;
    // The stream was read as a list of other files: never play those behind our back.
    if (reason == MPV_END_FILE_REASON_REDIRECT)
        silence(streamless);
    else
        enter(streamless);
    // A live stream has no end: an end of file or an error means the server failed us.
    if (reason == MPV_END_FILE_REASON_EOF || reason == MPV_END_FILE_REASON_ERROR
        || reason == MPV_END_FILE_REASON_REDIRECT)
        lost();
}

void MpvSession::watchdog()
{
    if (!reconnect_.stalled())
        return;
    // Silent too long while meant to play (a hung server, or a stream that never started):
    // drop the connection now and reconnect after the backoff.
    qCDebug(lcMedia) << "stalled; reconnecting";
    silence(State::Waiting);
    lost();
}

void MpvSession::wentQuiet()
{
    if (!meantToPlay())
        return;
    qCDebug(lcMedia) << "silent; not counted as playing";
    tell(Heard::Silent);
    // A file that opened and plays nothing (garbage taken for its format) never will; one run dry may.
    if (state_ == State::Opened) {
        silence(State::Waiting);
        retryLater();
    }
}

void MpvSession::dropLongPausedStream()
{
    if (!holdsStream() || meantToPlay())
        return;
    qCDebug(lcMedia) << "paused long; dropping the stream";
    silence(State::Stopped);
    // The core frees the stream's buffers on its own threads once it has stopped; the allocator
    // keeps freed memory until asked, and a sleeping process has no use for it.
    QTimer::singleShot(std::chrono::seconds(2), this, [] { malloc_trim(0); });
}

void MpvSession::handleEvent(const mpv_event& event)
{
    volume_.handleEvent(event);
    const MpvStream::News news = stream_.take(event, holdsStream());
    switch (news.kind) {
    case MpvStream::News::Refused:
        lost();
        break;
    case MpvStream::News::Loaded:
        if (state_ == State::Opening && reopenBehindLiveEdgeOnce())
            break;
        if (state_ == State::Opening) {
            enter(State::Opened);
            reconnect_.answered();
            // An opened file sounds at once; a slow link that opened it late gets the same grace.
            if (quietTimer_.remainingTime() < timing_.openingQuiet.count())
                quietTimer_.start(timing_.openingQuiet);
        }
        [[fallthrough]];
    case MpvStream::News::Staged:
        // Stages of opening our stream: on a slow link each may take many seconds.
        if (opening())
            reconnect_.progressed();
        break;
    case MpvStream::News::Cached:
        // After silence, once: a slow start, or a link too slow for the stream, runs low as well.
        if (news.late && state_ == State::Playing && reopenBehindLiveEdgeOnce())
            break;
        // Audio arriving ahead of the first sound is progress too.
        if (opening())
            reconnect_.progressed();
        break;
    case MpvStream::News::Started:
        reconnect_.progressed();
        break;
    case MpvStream::News::Ended:
        ended(news.reason);
        break;
    case MpvStream::News::Restarted:
        reconnect_.progressed();
        if (news.seekedTo)
            Q_EMIT seeked(*news.seekedTo);
        break;
    case MpvStream::News::Position:
        positionArrived(news.moved);
        break;
    case MpvStream::News::Nothing:
        break;
    }
}

void MpvSession::positionArrived(bool moved)
{
    if (opening())
        enter(meantToPlay() ? State::Playing : State::Paused);
    if (!moved)
        return;
    reconnect_.sounding();
    if (!meantToPlay()) {
        clearFailure();
        return;
    }
    // The outage is over only once it sounds: a link slower than the quiet limit, silent again
    // before its reopened stream loads, would otherwise reopen it on every load and never play.
    edgeReopened_ = false;
    tell(Heard::Sounding);
    quietTimer_.start(timing_.quiet);
}

} // namespace platform::linux_impl
