// The session across sleeps, long pauses and network changes: a stream meant to play is dropped
// before the machine sleeps and opened afresh, from the live edge, as soon as it wakes or a new
// network is up; a stream paused for long is dropped so the process can sleep too; and its end.
#include "platform/linux/playback/MpvSession.h"

#include <QLoggingCategory>

#include <ctime>
#include <malloc.h>

namespace platform::linux_impl {

namespace {

// A paused position older than this is taken to have left the server's window once its
// connection is gone; live HLS windows are rarely shorter.
constexpr std::chrono::seconds kPausedPositionKept{20};

} // namespace

// Past a few minutes of pause, skipping back into what was heard before matters less than a
// process that sleeps. KOVRA_LONG_PAUSE_SECONDS (read once) shortens it for tests and the bench.
std::chrono::milliseconds longPauseLimit()
{
    static const auto kLimit = [] {
        bool ok = false;
        const double seconds = qEnvironmentVariable("KOVRA_LONG_PAUSE_SECONDS").toDouble(&ok);
        return std::chrono::milliseconds(ok && seconds >= 0 && seconds < 86400 ? qint64(seconds * 1000) : 180000);
    }();
    return kLimit;
}

void MpvSession::dropLongPausedStream()
{
    if (!owner_ || wantPlay_ || entry_ == Entry::None)
        return;
    qCDebug(lcMedia) << "paused long; dropping the stream";
    silence();
    // The core frees the stream's buffers on its own threads once it has stopped; the allocator
    // keeps freed memory until asked, and a sleeping process has no use for it.
    QTimer::singleShot(std::chrono::seconds(2), this, [] { malloc_trim(0); });
}

int64_t bootClockNow()
{
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void MpvSession::reopen()
{
    reconnect_.reset();
    load();
}

void MpvSession::reopenBehindEdge()
{
    qCDebug(lcMedia) << "at the live edge; reopening a few segments back";
    edgeReopened_ = true;
    reopen();
}

void MpvSession::prepareForSleep()
{
    if (!owner_)
        return;
    if (!wantPlay_) {
        // Kept for a short sleep; its connection will not survive, see pausedPositionLost().
        pausedConnectionLost_ = entry_ != Entry::None;
        return;
    }
    // After the sleep its connection is dead and its position far behind the live edge: drop the
    // stream now, while the network is still there to close it, and open it again on wake.
    retryTimer_.stop();
    watchdogTimer_.stop();
    silence();
}

bool MpvSession::meantToPlayButSilent() const
{
    return owner_ && wantPlay_ && !core_.isShutDown()
           && !(entry_ == Entry::Playing && !retryTimer_.isActive() && reconnect_.flowing());
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
        reopen();
}

void MpvSession::networkSwitched(std::chrono::steady_clock::time_point since)
{
    if (!owner_ || core_.isShutDown())
        return;
    if (!wantPlay_) {
        pausedConnectionLost_ = entry_ != Entry::None;
        return;
    }
    // A stream opened on the new network and sounding needs nothing; any other waits for
    // connections that will only time out.
    if (entry_ == Entry::Playing && loadedAt_ >= since && reconnect_.flowing())
        return;
    reopen();
}

void MpvSession::readAhead(bool playing)
{
    // Playing, the demuxer reads ahead as far as its byte limit allows (mpv's own default: 1000 h),
    // so a skip forward or a slow host finds audio waiting. Paused, it keeps what it holds and asks
    // for nothing more: a paused live stream would otherwise go on fetching a playlist and a segment
    // every few seconds, waking the relay and its network thread for audio nobody may hear. A pause
    // that outlasts the server's window resumes at its oldest segment, as a paused live stream does.
    constexpr double kPlayingSeconds = 1000.0 * 3600;
    constexpr double kPausedSeconds = 0;
    core_.setProperty("cache-secs", playing ? kPlayingSeconds : kPausedSeconds, 0);
}

bool MpvSession::pausedPositionLost() const
{
    return pausedConnectionLost_
           && bootClockNow() - pausedAtBoot_ > std::chrono::nanoseconds(kPausedPositionKept).count();
}

void MpvSession::shutdown()
{
    setSounding(false);
    retryTimer_.stop();
    watchdogTimer_.stop();
    quietTimer_.stop();
    longPauseTimer_.stop();
    owner_ = nullptr;
    wantPlay_ = false;
    core_.shutdown();
}

} // namespace platform::linux_impl
