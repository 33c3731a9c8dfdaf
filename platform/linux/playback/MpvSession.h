// The one media core of the process, lent to whichever player was last told to play, and the
// state machine around it: loading, pausing, seeking, and reconnecting a failed or stalled stream.
#pragma once

#include "platform/Media.h"
#include "platform/linux/playback/MpvCore.h"
#include "platform/linux/playback/MpvOutputVolume.h"
#include "platform/linux/playback/MpvSessionTiming.h"
#include "platform/linux/playback/MpvStream.h"
#include "platform/linux/playback/ReconnectPolicy.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <optional>
#include <vector>

namespace platform::linux_impl {

// Lends the one core (made on the first play, kept until shutdown) to the player front and item it
// currently serves. Everything runs on the main thread.
class MpvSession : public QObject {
    Q_OBJECT

public:
    // Positions carry microseconds: fine enough for exact seeks, and a small common multiple
    // with the 1/600 s steps the player adds.
    static constexpr int32_t kPositionTimescale = 1000000;

    // Where the session stands: one value, changed only through enter().
    enum class State {
        Idle,          // serves no player
        Opening,       // meant to play: a load is out, its stream has no position yet
        Opened,        // meant to play: its file opened (format known, first audio read), no position yet
        Playing,       // meant to play: the stream has a position (heard, or gone quiet)
        Retrying,      // meant to play: no stream; the next load waits out the backoff
        Waiting,       // meant to play: no stream and none due (a sleep, no libmpv, ended by the core)
        PausedOpening, // paused before its stream had a position; the stream kept
        Paused,        // paused with its stream kept, corked, reading nothing ahead
        Stopped,       // paused without a stream: dropped after a long pause, or it failed meanwhile
        ShutDown,      // the core is gone; nothing is obeyed any more
    };
    // What the listener is told of the stream meant to play.
    enum class Heard {
        Pending,  // not yet, or not now: given the benefit of the doubt
        Sounding, // its position moves
        Silent,   // it failed, or has not sounded for too long
    };

    explicit MpvSession(MpvCore::LibraryOpener openLibrary = &MpvLibrary::open,
                        MpvSessionTiming timing = MpvSessionTiming::standard());

    // Player fronts identify themselves; only the current owner is obeyed.
    void start(const MediaPlayer* owner, const MediaItem* item, const QString& url);
    void resume(const MediaPlayer* owner);
    void pause(const MediaPlayer* owner);
    void release(const MediaPlayer* owner);
    void seek(const MediaPlayer* owner, double seconds);

    State state() const { return state_; }
    // The current player's stream does not sound: libmpv is unusable or refused the load, or the
    // stream failed or stalled and is being reopened. Cleared by sound, or by a new play.
    bool failed() const { return heard_ == Heard::Silent; }
    // The current player's stream is heard: meant to play, and its position moves.
    bool sounding() const { return heard_ == Heard::Sounding; }
    // The stream's volume on the sound server, kept from one stream to the next.
    MpvOutputVolume& volume() { return volume_; }

    bool owns(const MediaPlayer* owner) const { return owner_ != nullptr && owner_ == owner; }
    bool serves(const MediaItem* item) const { return owner_ != nullptr && item_ == item; }
    // Seconds, or none while the position is unknown.
    std::optional<double> position(const MediaPlayer* owner) const
    {
        return owns(owner) ? stream_.position() : std::nullopt;
    }
    // The position of whichever player holds the handle, playing or paused.
    std::optional<double> currentPosition() const { return position(owner_); }
    std::vector<MediaTimeRange> seekableRanges(const MediaItem* item) const
    {
        return serves(item) && positioned() ? stream_.seekable(kPositionTimescale) : std::vector<MediaTimeRange>{};
    }

    // Silences playback and hands the handle to a worker thread for destruction; for good.
    void shutdown();

    // The machine sleeps and wakes, the network comes back or changes.
    void prepareForSleep();
    void wake();
    void networkOnline();
    void networkSwitched(std::chrono::steady_clock::time_point since);

Q_SIGNALS:
    // An exact seek has been carried out; playback goes on from this position (seconds).
    void seeked(double seconds);
    void failedChanged(bool failed);
    void soundingChanged(bool sounding);

private:
    // The one transition: stops the timers that do not belong to the next state (the transitions
    // start those that do).
    void enter(State next);
    void tell(Heard heard);
    void clearFailure()
    {
        if (heard_ == Heard::Silent)
            tell(Heard::Pending);
    }

    bool meantToPlay() const
    {
        return state_ == State::Opening || state_ == State::Opened || state_ == State::Playing
               || state_ == State::Retrying || state_ == State::Waiting;
    }
    // The core holds our stream (opening, playing or paused).
    bool holdsStream() const { return opening() || positioned(); }
    // Our stream has a position (playing, or paused after it had one).
    bool positioned() const { return state_ == State::Playing || state_ == State::Paused; }
    bool opening() const
    {
        return state_ == State::Opening || state_ == State::Opened || state_ == State::PausedOpening;
    }
    // Meant to play, yet not flowing: failed, waiting to retry, or still opening.
    bool meantToPlayButSilent() const { return meantToPlay() && !(state_ == State::Playing && reconnect_.flowing()); }

    // Opens the stream (Opening), or fails to (Retrying, Waiting).
    void load();
    // Opens the stream afresh, from the live edge, with the backoff started over. The listener
    // asking again also starts over the grace before silence counts; the network coming back does not.
    enum class Grace { Kept, Renewed };
    void reopen(Grace grace);
    // After silence (an open that failed, or sound that came late), a stream at the live edge, past
    // segments that failed, is opened again a few segments back, once per outage; says whether it was.
    bool reopenBehindLiveEdgeOnce();
    void retryLater();
    // The stream failed or was cut off: retried after the backoff, or, paused, left stopped.
    void lost();
    // Drops the stream for a state that holds none.
    void silence(State next);
    void ended(int reason);
    void watchdog();
    void wentQuiet();
    void dropLongPausedStream();
    void handleEvent(const mpv_event& event);
    void positionArrived(bool moved);
    // The paused stream's connection died (sleep, another network) and its position is likely
    // gone from the server's window: resuming must open the stream again.
    bool pausedPositionLost() const;

    MpvSessionTiming timing_;
    MpvCore core_;
    MpvOutputVolume volume_{core_};
    MpvStream stream_;
    State state_ = State::Idle;
    Heard heard_ = Heard::Pending;

    const MediaPlayer* owner_ = nullptr;
    const MediaItem* item_ = nullptr;
    QString url_;

    // When the current load was sent.
    std::chrono::steady_clock::time_point loadedAt_;
    // When the listener paused, on a clock that goes on while the machine sleeps (nanoseconds),
    // and when the paused stream's connection was cut, if it was.
    int64_t pausedAtBoot_ = 0;
    std::optional<int64_t> pausedConnectionCutAt_;
    // The stream was opened afresh because its audio came late (after an outage, at the live
    // edge): once per outage, until it sounds again, as a link too slow for the stream would run
    // low again at any start.
    bool edgeReopened_ = false;

    QTimer retryTimer_;    // Retrying
    QTimer watchdogTimer_; // Opening, Opened, Playing
    // Runs while meant to play; restarted by each move of the position. Running out, the stream
    // is silent and no longer counts as playing (the reconnect logic decides what else to do).
    QTimer quietTimer_;
    QTimer longPauseTimer_; // PausedOpening, Paused
    ReconnectPolicy reconnect_;
};

} // namespace platform::linux_impl
