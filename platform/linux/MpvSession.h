// The one media core of the process, lent to whichever player was last told to play, and the
// state machine around it: loading, pausing, seeking, and reconnecting a failed or stalled stream.
#pragma once

#include "platform/Media.h"
#include "platform/linux/MpvLibrary.h"
#include "platform/linux/ReconnectPolicy.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace platform::linux_impl {

// Owns the libmpv handle (created on first playback, kept until the application quits) and
// remembers which player front and item it currently serves. Everything runs on the main
// thread; libmpv's own threads only post a queued call that drains its events here.
class MpvSession : public QObject {
    Q_OBJECT

public:
    using LibraryOpener = std::function<std::shared_ptr<const MpvLibrary>(QString* error)>;

    // Positions carry microseconds: fine enough for exact seeks, and a small common multiple
    // with the 1/600 s steps the player adds.
    static constexpr int32_t kPositionTimescale = 1000000;

    explicit MpvSession(LibraryOpener openLibrary = &MpvLibrary::open);
    ~MpvSession() override;

    // Player fronts identify themselves; only the current owner is obeyed.
    void start(const MediaPlayer* owner, const MediaItem* item, const QString& url);
    void resume(const MediaPlayer* owner);
    void pause(const MediaPlayer* owner);
    void release(const MediaPlayer* owner);
    void seek(const MediaPlayer* owner, double seconds);

    // The current player's stream cannot play: libmpv is unusable or refused the load.
    bool failed() const { return failed_; }

    bool owns(const MediaPlayer* owner) const { return owner_ != nullptr && owner_ == owner; }
    bool serves(const MediaItem* item) const { return owner_ != nullptr && item_ == item; }
    // Seconds, or none while the position is unknown.
    std::optional<double> position(const MediaPlayer* owner) const;
    // The position of whichever player holds the handle, playing or paused.
    std::optional<double> currentPosition() const { return position(owner_); }
    std::vector<MediaTimeRange> seekableRanges(const MediaItem* item) const;

    // Silences playback and hands the handle to a worker thread for destruction.
    void shutdown();

Q_SIGNALS:
    // An exact seek has been carried out; playback goes on from this position (seconds).
    void seeked(double seconds);
    void failedChanged(bool failed);

private:
    enum class Entry { None, Loading, Playing };

    bool ensureLibrary();
    mpv_handle* makeCore();
    void load();
    void silence();
    void forget();
    void scheduleRetry();
    void watchdog();
    void drainEvents();
    void handleEvent(const mpv_event& event);
    // Each returns false when the core refused the request.
    bool command(std::initializer_list<MpvArgument> args, uint64_t userdata = 0,
                 std::initializer_list<MpvArgument> fileOptions = {});
    bool setPause(bool paused);
    // A seek was sent and has not failed: the position is its target until it is carried out.
    bool seekPending() const;
    void watchCache(bool on);
    void reportRefusal(const char* what, int error);
    void setFailed(bool failed);
    static void wakeup(void* context);

    LibraryOpener openLibrary_;
    std::shared_ptr<const MpvLibrary> lib_;
    bool libraryMissing_ = false;
    mpv_handle* mpv_ = nullptr;
    bool cacheWatched_ = false;
    bool shutDown_ = false;
    bool failed_ = false;
    bool refusalReported_ = false;
    std::thread destroyer_;
    std::atomic<bool> drainQueued_{false};

    const MediaPlayer* owner_ = nullptr;
    const MediaItem* item_ = nullptr;
    QString url_;
    bool wantPlay_ = false;

    Entry entry_ = Entry::None;
    uint64_t loadGeneration_ = 0;
    int64_t expectedEntryId_ = -1;
    // The expected entry has started: property values now describe our stream, not the last one.
    bool fileStarted_ = false;
    std::optional<double> timePos_;
    // How far the cache of the stream being opened reaches (seconds).
    double loadedUpTo_ = -1;
    std::optional<double> pendingSeek_;
    std::chrono::steady_clock::time_point seekSentAt_;
    bool seekBegun_ = false;
    std::vector<std::pair<double, double>> cachedRanges_;

    QTimer retryTimer_;
    QTimer watchdogTimer_;
    ReconnectPolicy reconnect_;
};

} // namespace platform::linux_impl
