// The one media core of the process, lent to whichever player was last told to play, and the
// state machine around it: loading, pausing, seeking, and reconnecting a failed or stalled stream.
#pragma once

#include "platform/Media.h"
#include "platform/linux/playback/MpvCore.h"
#include "platform/linux/playback/MpvOutputVolume.h"
#include "platform/linux/playback/ReconnectPolicy.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <optional>
#include <vector>

namespace platform::linux_impl {

// Nanoseconds on a clock that goes on while the machine sleeps.
int64_t bootClockNow();
// How long a paused stream is kept before it is dropped.
std::chrono::milliseconds longPauseLimit();

// Lends the one core (made on the first play, kept until the application quits) to the player
// front and item it currently serves. Everything runs on the main thread.
class MpvSession : public QObject {
    Q_OBJECT

public:
    // Positions carry microseconds: fine enough for exact seeks, and a small common multiple
    // with the 1/600 s steps the player adds.
    static constexpr int32_t kPositionTimescale = 1000000;

    explicit MpvSession(MpvCore::LibraryOpener openLibrary = &MpvLibrary::open);

    // Player fronts identify themselves; only the current owner is obeyed.
    void start(const MediaPlayer* owner, const MediaItem* item, const QString& url);
    void resume(const MediaPlayer* owner);
    void pause(const MediaPlayer* owner);
    void release(const MediaPlayer* owner);
    void seek(const MediaPlayer* owner, double seconds);

    // The current player's stream does not sound: libmpv is unusable or refused the load, or the
    // stream failed or stalled and is being reopened. Cleared by sound, or by a new play.
    bool failed() const { return failed_; }
    // The current player's stream is heard: meant to play, and its position moves.
    bool sounding() const { return sounding_; }
    // The stream's volume on the sound server, kept from one stream to the next.
    MpvOutputVolume& volume() { return volume_; }

    bool owns(const MediaPlayer* owner) const { return owner_ != nullptr && owner_ == owner; }
    bool serves(const MediaItem* item) const { return owner_ != nullptr && item_ == item; }
    // Seconds, or none while the position is unknown.
    std::optional<double> position(const MediaPlayer* owner) const;
    // The position of whichever player holds the handle, playing or paused.
    std::optional<double> currentPosition() const { return position(owner_); }
    std::vector<MediaTimeRange> seekableRanges(const MediaItem* item) const;

    // Silences playback and hands the handle to a worker thread for destruction.
    void shutdown();

    // The machine sleeps and wakes, the network comes back or changes (MpvSessionWake.cpp).
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
    void dropLongPausedStream();
    // Meant to play, yet not sounding: failed, waiting to retry, or still opening.
    bool meantToPlayButSilent() const;

    enum class Entry { None, Loading, Playing };
    // The user data of seek commands' replies (MpvSessionSeek.cpp).
    static constexpr uint64_t kSeekCommand = uint64_t(1) << 63;

    void load();
    void silence();
    void forget();
    void scheduleRetry();
    void retryAfterFailure();
    void watchdog();
    void handleEvent(const mpv_event& event);
    // A seek was sent and has not failed: the position is its target until it is carried out.
    bool seekPending() const;
    // Meant to flow (playing or opening) or not (paused, stopped).
    void setFlowing(bool on);
    void readAhead(bool playing);
    void setFailed(bool failed);
    // No sound yet after an open or resume, or no longer: said at once, whatever the cause.
    void wentQuiet();
    void setSounding(bool sounding)
    {
        if (sounding_ == sounding)
            return;
        sounding_ = sounding;
        volume_.follow(sounding);
        Q_EMIT soundingChanged(sounding);
    }
    // Opens the stream afresh, from the live edge, with the backoff started over.
    void reopen();
    // Once per outage: a stream found playing at the live edge, opened afresh a few segments back.
    void reopenBehindEdge();
    // The paused stream's connection died (sleep, another network) and its position is likely
    // gone from the server's window: resuming must open the stream again.
    bool pausedPositionLost() const;

    MpvCore core_;
    MpvOutputVolume volume_{core_};
    bool cacheWatched_ = false;
    bool failed_ = false;
    bool sounding_ = false;

    const MediaPlayer* owner_ = nullptr;
    const MediaItem* item_ = nullptr;
    QString url_;
    bool wantPlay_ = false;

    Entry entry_ = Entry::None;
    uint64_t loadGeneration_ = 0;
    int64_t expectedEntryId_ = -1;
    // The expected entry has started: property values now describe our stream, not the last one.
    bool fileStarted_ = false;
    // Its file has opened: its format is known and its first audio read.
    bool fileLoaded_ = false;
    std::optional<double> timePos_;
    // How far the cache of the current stream reaches (seconds).
    double loadedUpTo_ = -1;
    std::optional<double> pendingSeek_;
    std::chrono::steady_clock::time_point seekSentAt_;
    bool seekBegun_ = false;
    std::vector<std::pair<double, double>> cachedRanges_;
    // How far the cache reached past the position at most while the stream played from where it
    // was opened (seconds): a live start keeps a few segments ahead, so it tells the segment length.
    double openingLead_ = 0;
    bool openingLeadKept_ = false;
    // The stream was opened afresh because its audio came late (after an outage, at the live edge).
    bool edgeReopened_ = false;

    // When the current load was sent.
    std::chrono::steady_clock::time_point loadedAt_;
    // When the listener paused, on a clock that goes on while the machine sleeps (nanoseconds).
    int64_t pausedAtBoot_ = 0;
    bool pausedConnectionLost_ = false;

    QTimer retryTimer_;
    QTimer watchdogTimer_;
    // Runs while meant to play; restarted by each move of the position. Running out, the stream
    // is silent and no longer counts as playing (the reconnect logic decides what else to do).
    QTimer quietTimer_;
    // A paused live stream goes on downloading and waking the process; one paused this long is
    // dropped, and resuming opens it afresh at the live edge.
    QTimer longPauseTimer_;
    ReconnectPolicy reconnect_;
};

} // namespace platform::linux_impl
