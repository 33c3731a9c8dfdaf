// Live HLS playback on libmpv, audio only. One mpv handle serves every player the process makes:
// a new player costs a `loadfile` on a warm handle, not a new media core.
#include "MediaEngine.h"

#include "Factories.h"
#include "Mpris.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <mpv/client.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstring>

Q_LOGGING_CATEGORY(lcMedia, "kovra.media", QtCriticalMsg)

namespace platform::linux_impl {

namespace {

using namespace std::chrono_literals;

// Positions carry microseconds: fine enough for exact seeks, and a small common multiple with
// the 1/600 s steps the player adds.
constexpr int32_t positionTimescale = 1000000;

// A seek to the very last cached moment fails inside mpv (it then falls back to reopening the
// stream), so the seekable end is reported this far short of the cache's end.
constexpr double seekableEndMargin = 0.5;

constexpr int firstRetryMs = 500;
constexpr int maxRetryMs = 30000;
// Playback that has run this long without trouble counts as recovered.
constexpr auto recoveredAfter = 10s;
// No progress for this long while meant to play: the server hangs; reconnect.
constexpr auto stallLimit = 8s;

enum PropertyId : uint64_t { TimePos = 1, CacheState = 2 };

// Load commands carry their generation in the reply's user data; other commands carry 0.
constexpr uint64_t plainCommand = 0;

const mpv_node* mapValue(const mpv_node& map, const char* key)
{
    if (map.format != MPV_FORMAT_NODE_MAP || !map.u.list)
        return nullptr;
    for (int i = 0; i < map.u.list->num; ++i) {
        if (map.u.list->keys[i] && std::strcmp(map.u.list->keys[i], key) == 0)
            return &map.u.list->values[i];
    }
    return nullptr;
}

std::optional<double> number(const mpv_node* node)
{
    if (!node)
        return std::nullopt;
    if (node->format == MPV_FORMAT_DOUBLE && std::isfinite(node->u.double_))
        return node->u.double_;
    if (node->format == MPV_FORMAT_INT64)
        return double(node->u.int64);
    return std::nullopt;
}

void setOption(mpv_handle* mpv, const char* name, const char* value)
{
    const int error = mpv_set_option_string(mpv, name, value);
    if (error < 0)
        qCDebug(lcMedia) << "option" << name << "=" << value << "rejected:" << mpv_error_string(error);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// MediaSession

MediaSession::MediaSession() : backoffMs_(firstRetryMs)
{
    retryTimer_.setSingleShot(true);
    connect(&retryTimer_, &QTimer::timeout, this, [this] {
        if (owner_ && wantPlay_)
            load();
    });
    watchdogTimer_.setInterval(1000);
    connect(&watchdogTimer_, &QTimer::timeout, this, &MediaSession::watchdog);
    // The handle must be gone before the process exits, and its destruction blocks: start it
    // while the application is still tearing down its windows.
    if (auto* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &MediaSession::shutdown);
}

MediaSession::~MediaSession()
{
    shutdown();
    if (destroyer_.joinable())
        destroyer_.join();
}

bool MediaSession::ensureHandle()
{
    if (mpv_)
        return true;
    if (shutDown_)
        return false;
    // libmpv parses numbers with the C locale only.
    std::setlocale(LC_NUMERIC, "C");
    mpv_handle* mpv = mpv_create();
    if (!mpv)
        return false;

    // A media core with no face and no will of its own: no config files, scripts, key bindings,
    // terminal, video or on-screen display.
    setOption(mpv, "config", "no");
    setOption(mpv, "terminal", "no");
    setOption(mpv, "input-default-bindings", "no");
    setOption(mpv, "input-vo-keyboard", "no");
    setOption(mpv, "input-terminal", "no");
    setOption(mpv, "load-scripts", "no");
    setOption(mpv, "osc", "no");
    setOption(mpv, "ytdl", "no");
    setOption(mpv, "load-stats-overlay", "no");
    setOption(mpv, "load-osd-console", "no");
    setOption(mpv, "load-auto-profiles", "no");
    setOption(mpv, "resume-playback", "no");
    setOption(mpv, "save-position-on-quit", "no");
    setOption(mpv, "vid", "no");
    setOption(mpv, "vo", "null");
    // PulseAudio first: PipeWire desktops serve it too, and libmpv's own order tries the native
    // PipeWire client first, which writes errors to stderr wherever no PipeWire daemon runs.
    setOption(mpv, "ao", "pulse,pipewire,alsa,");
    setOption(mpv, "audio-display", "no");
    setOption(mpv, "sub-auto", "no");
    setOption(mpv, "osd-level", "0");
    setOption(mpv, "idle", "yes");
    setOption(mpv, "audio-client-name", "kovra-radio");
    setOption(mpv, "user-agent", "kovra-radio/" KOVRA_VERSION);

    // Verification is never off (libmpv's default is off). A CA bundle named by the environment
    // replaces the system's, as for every other TLS client.
    setOption(mpv, "tls-verify", "yes");
    const QByteArray caFile = qgetenv("SSL_CERT_FILE");
    if (!caFile.isEmpty())
        setOption(mpv, "tls-ca-file", caFile.constData());

    // Time to first sound: FFmpeg leaves Nagle on for its HTTPS connections (~40 ms lost on each
    // new one), opens one connection more than needed for HLS, and waits for the old demuxer
    // when a channel is switched.
    setOption(mpv, "stream-lavf-o", "tcp_nodelay=1");
    setOption(mpv, "demuxer-lavf-o", "http_multiple=0");
    setOption(mpv, "demuxer-termination-timeout", "0");
    // A hung server would otherwise keep us silent for a minute; the watchdog covers the rest.
    setOption(mpv, "network-timeout", "5");

    // Seeking back in a live stream works only within what was kept: keep minutes of audio.
    setOption(mpv, "cache", "yes");
    setOption(mpv, "demuxer-seekable-cache", "yes");
    setOption(mpv, "force-seekable", "yes");
    setOption(mpv, "demuxer-max-back-bytes", "64MiB");
    setOption(mpv, "demuxer-max-bytes", "32MiB");
    setOption(mpv, "hr-seek", "yes");

    if (lcMedia().isDebugEnabled())
        mpv_request_log_messages(mpv, "warn");

    if (mpv_initialize(mpv) < 0) {
        mpv_terminate_destroy(mpv);
        return false;
    }
    mpv_observe_property(mpv, TimePos, "time-pos", MPV_FORMAT_DOUBLE);
    mpv_observe_property(mpv, CacheState, "demuxer-cache-state", MPV_FORMAT_NODE);
    mpv_ = mpv;
    mpv_set_wakeup_callback(mpv_, &MediaSession::wakeup, this);
    return true;
}

void MediaSession::wakeup(void* context)
{
    // On one of libmpv's threads: only post; the events are read on the main thread.
    auto* self = static_cast<MediaSession*>(context);
    if (!self->drainQueued_.exchange(true))
        QMetaObject::invokeMethod(self, &MediaSession::drainEvents, Qt::QueuedConnection);
}

void MediaSession::command(std::initializer_list<const char*> args, uint64_t userdata)
{
    if (!mpv_)
        return;
    std::vector<const char*> argv(args);
    argv.push_back(nullptr);
    // Asynchronous, so the main thread never waits on the media core; requests keep their order.
    mpv_command_async(mpv_, userdata, argv.data());
}

void MediaSession::setPause(bool paused)
{
    if (!mpv_)
        return;
    int flag = paused ? 1 : 0;
    mpv_set_property_async(mpv_, plainCommand, "pause", MPV_FORMAT_FLAG, &flag);
}

void MediaSession::start(const void* owner, const MediaItem* item, const QString& url)
{
    if (!owner)
        return;
    owner_ = owner;
    item_ = item;
    url_ = url;
    wantPlay_ = true;
    backoffMs_ = firstRetryMs;
    load();
}

void MediaSession::resume(const void* owner)
{
    if (!owns(owner))
        return;
    wantPlay_ = true;
    if (entry_ != Entry::None && !retryTimer_.isActive()) {
        setPause(false);
        lastProgress_ = Clock::now();
        watchdogTimer_.start();
        return;
    }
    // The stream ended or failed while we were paused: open it again now.
    backoffMs_ = firstRetryMs;
    load();
}

void MediaSession::pause(const void* owner)
{
    if (!owns(owner))
        return;
    wantPlay_ = false;
    retryTimer_.stop();
    watchdogTimer_.stop();
    setPause(true);
}

void MediaSession::release(const void* owner)
{
    if (!owns(owner))
        return;
    silence();
    forget();
}

void MediaSession::silence()
{
    // Pausing corks the audio stream at once; `stop` then closes the connection and drops the
    // buffers. Both are queued, so the caller does not wait for either.
    setPause(true);
    command({"stop"});
    entry_ = Entry::None;
}

void MediaSession::forget()
{
    owner_ = nullptr;
    item_ = nullptr;
    url_.clear();
    wantPlay_ = false;
    retryTimer_.stop();
    watchdogTimer_.stop();
    timePos_.reset();
    pendingSeek_.reset();
    cachedRanges_.clear();
}

void MediaSession::seek(const void* owner, double seconds)
{
    if (!owns(owner) || entry_ != Entry::Playing || !std::isfinite(seconds))
        return;
    const QByteArray target = QByteArray::number(seconds, 'f', 6);
    command({"seek", target.constData(), "absolute+exact"});
    // Until the core has carried it out, the position is where we asked to go: a second skip
    // right after the first builds on it.
    pendingSeek_ = seconds;
    lastProgress_ = Clock::now();
}

std::optional<double> MediaSession::position(const void* owner) const
{
    if (!owns(owner))
        return std::nullopt;
    return pendingSeek_ ? pendingSeek_ : timePos_;
}

std::vector<MediaTimeRange> MediaSession::seekableRanges(const MediaItem* item) const
{
    std::vector<MediaTimeRange> ranges;
    if (!serves(item) || entry_ != Entry::Playing)
        return ranges;
    for (const auto& [start, end] : cachedRanges_) {
        const double usableEnd = end - seekableEndMargin;
        if (usableEnd <= start)
            continue;
        const MediaTime from = MediaTime::makeWithSeconds(start, positionTimescale);
        const MediaTime to = MediaTime::makeWithSeconds(usableEnd, positionTimescale);
        if (from.isValid() && to.isValid())
            ranges.push_back(MediaTimeRange{from, MediaTime{to.value - from.value, positionTimescale}});
    }
    return ranges;
}

void MediaSession::load()
{
    retryTimer_.stop();
    if (!ensureHandle()) {
        scheduleRetry();
        return;
    }
    ++loadGeneration_;
    expectedEntryId_ = -1;
    fileStarted_ = false;
    entry_ = Entry::Loading;
    timePos_.reset();
    pendingSeek_.reset();
    cachedRanges_.clear();
    lastProgress_ = Clock::now();
    playingSince_.reset();
    const QByteArray url = url_.toUtf8();
    // Unpausing as a per-file option takes effect only once the previous stream is gone, so
    // the old channel cannot sound again while the new one opens.
    command({"loadfile", url.constData(), "replace", "pause=no"}, loadGeneration_);
    watchdogTimer_.start();
    qCDebug(lcMedia) << "load" << url_ << "generation" << loadGeneration_;
}

void MediaSession::scheduleRetry()
{
    if (!owner_ || !wantPlay_ || shutDown_)
        return;
    qCDebug(lcMedia) << "retry in" << backoffMs_ << "ms";
    retryTimer_.start(backoffMs_);
    backoffMs_ = std::min(backoffMs_ * 2, maxRetryMs);
}

void MediaSession::watchdog()
{
    if (!owner_ || !wantPlay_ || retryTimer_.isActive())
        return;
    const auto now = Clock::now();
    if (playingSince_ && now - *playingSince_ >= recoveredAfter)
        backoffMs_ = firstRetryMs;
    if (entry_ == Entry::None || now - lastProgress_ < stallLimit)
        return;
    // Silent too long while meant to play (a hung server, or a stream that never started):
    // drop the connection now and reconnect after the backoff.
    qCDebug(lcMedia) << "stalled; reconnecting";
    silence();
    scheduleRetry();
}

void MediaSession::drainEvents()
{
    drainQueued_ = false;
    while (mpv_) {
        const mpv_event* event = mpv_wait_event(mpv_, 0);
        if (!event || event->event_id == MPV_EVENT_NONE)
            break;
        handleEvent(*event);
    }
}

void MediaSession::handleEvent(const mpv_event& event)
{
    switch (event.event_id) {
    case MPV_EVENT_COMMAND_REPLY: {
        if (event.reply_userdata == plainCommand || event.reply_userdata != loadGeneration_)
            break;
        if (event.error < 0) {
            qCDebug(lcMedia) << "load refused:" << mpv_error_string(event.error);
            entry_ = Entry::None;
            scheduleRetry();
            break;
        }
        const auto* reply = static_cast<const mpv_event_command*>(event.data);
        if (auto id = reply ? number(mapValue(reply->result, "playlist_entry_id")) : std::nullopt)
            expectedEntryId_ = int64_t(*id);
        break;
    }
    case MPV_EVENT_START_FILE: {
        const auto* start = static_cast<const mpv_event_start_file*>(event.data);
        if (start && start->playlist_entry_id == expectedEntryId_ && entry_ != Entry::None)
            fileStarted_ = true;
        break;
    }
    case MPV_EVENT_END_FILE: {
        const auto* end = static_cast<const mpv_event_end_file*>(event.data);
        if (!end || end->playlist_entry_id != expectedEntryId_ || entry_ == Entry::None)
            break;
        qCDebug(lcMedia) << "stream ended, reason" << end->reason << mpv_error_string(end->error);
        entry_ = Entry::None;
        fileStarted_ = false;
        timePos_.reset();
        pendingSeek_.reset();
        cachedRanges_.clear();
        // A live stream has no end: an end of file or an error means the server failed us.
        if (end->reason == MPV_END_FILE_REASON_EOF || end->reason == MPV_END_FILE_REASON_ERROR)
            scheduleRetry();
        break;
    }
    case MPV_EVENT_PLAYBACK_RESTART:
        lastProgress_ = Clock::now();
        if (pendingSeek_) {
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
                lastProgress_ = Clock::now();
                if (!playingSince_)
                    playingSince_ = lastProgress_;
            }
            timePos_ = value;
            entry_ = Entry::Playing;
        } else if (event.reply_userdata == CacheState) {
            cachedRanges_.clear();
            if (property->format != MPV_FORMAT_NODE || !property->data)
                break;
            const mpv_node* ranges = mapValue(*static_cast<const mpv_node*>(property->data), "seekable-ranges");
            if (!ranges || ranges->format != MPV_FORMAT_NODE_ARRAY || !ranges->u.list)
                break;
            for (int i = 0; i < ranges->u.list->num; ++i) {
                const mpv_node& range = ranges->u.list->values[i];
                const auto start = number(mapValue(range, "start"));
                const auto end = number(mapValue(range, "end"));
                if (start && end && *end > *start)
                    cachedRanges_.emplace_back(*start, *end);
            }
        }
        break;
    }
    case MPV_EVENT_LOG_MESSAGE: {
        const auto* message = static_cast<const mpv_event_log_message*>(event.data);
        if (message)
            qCDebug(lcMedia).noquote() << "mpv" << message->prefix << QString::fromUtf8(message->text).trimmed();
        break;
    }
    default:
        break;
    }
}

void MediaSession::shutdown()
{
    if (shutDown_)
        return;
    shutDown_ = true;
    retryTimer_.stop();
    watchdogTimer_.stop();
    owner_ = nullptr;
    wantPlay_ = false;
    if (!mpv_)
        return;
    mpv_handle* mpv = mpv_;
    mpv_ = nullptr;
    // No more wakeups once this returns; queued drains find no handle.
    mpv_set_wakeup_callback(mpv, nullptr, nullptr);
    // Destroying a core with an open stream takes 100-200 ms: not on the main thread.
    destroyer_ = std::thread([mpv] {
        const auto started = Clock::now();
        mpv_terminate_destroy(mpv);
        qCDebug(lcMedia) << "media core destroyed in"
                         << std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count() << "ms";
    });
}

// ---------------------------------------------------------------------------------------------
// Items, players and the engine

namespace {

class MpvMediaItem : public MediaItem {
public:
    MpvMediaItem(const URL& url, std::weak_ptr<MediaSession> session)
        : url_(QString::fromStdString(url.absoluteString())), session_(std::move(session))
    {
    }

    std::vector<MediaTimeRange> seekableTimeRanges() const override
    {
        auto session = session_.lock();
        return session ? session->seekableRanges(this) : std::vector<MediaTimeRange>{};
    }

    const QString& url() const { return url_; }

private:
    QString url_;
    std::weak_ptr<MediaSession> session_;
};

// A light front on the shared session: it owns the handle from its first play() until another
// player plays or it is released, and is obeyed only while it owns it.
class MpvMediaPlayer : public MediaPlayer {
public:
    MpvMediaPlayer(std::shared_ptr<MpvMediaItem> item, std::shared_ptr<MediaSession> session)
        : item_(std::move(item)), session_(std::move(session))
    {
    }

    ~MpvMediaPlayer() override { session_->release(this); }

    void play() override
    {
        if (!item_)
            return;
        if (session_->owns(this))
            session_->resume(this);
        else
            session_->start(this, item_.get(), item_->url());
        playing_ = true;
    }

    void pause() override
    {
        playing_ = false;
        session_->pause(this);
    }

    float rate() const override { return playing_ && session_->owns(this) ? 1.0f : 0.0f; }

    std::shared_ptr<MediaItem> currentItem() const override { return item_; }

    MediaTime currentTime() const override
    {
        const auto seconds = session_->position(this);
        return seconds ? MediaTime::makeWithSeconds(*seconds, positionTimescale) : MediaTime{};
    }

    void seekToTime(MediaTime time, MediaTime, MediaTime) override
    {
        // Every seek is exact: the tolerances the callers pass are zero.
        if (time.isValid())
            session_->seek(this, time.seconds());
    }

private:
    std::shared_ptr<MpvMediaItem> item_;
    std::shared_ptr<MediaSession> session_;
    bool playing_ = false;
};

class MpvMediaEngine : public MediaEngine {
public:
    MpvMediaEngine() : session_(std::make_shared<MediaSession>())
    {
        // MPRIS clients read the position and hear of seeks; the now-playing data has neither.
        setMprisPositionSource([session = std::weak_ptr<MediaSession>(session_)]() -> std::optional<double> {
            auto alive = session.lock();
            return alive ? alive->currentPosition() : std::nullopt;
        });
        QObject::connect(session_.get(), &MediaSession::seeked, session_.get(), &announceMprisSeek);
    }

    std::shared_ptr<MediaItem> itemWithURL(const URL& url) override
    {
        return std::make_shared<MpvMediaItem>(url, session_);
    }

    std::unique_ptr<MediaPlayer> playerWithItem(std::shared_ptr<MediaItem> item) override
    {
        return std::make_unique<MpvMediaPlayer>(std::dynamic_pointer_cast<MpvMediaItem>(std::move(item)), session_);
    }

private:
    std::shared_ptr<MediaSession> session_;
};

} // namespace

std::shared_ptr<MediaEngine> makeMediaEngine()
{
    return std::make_shared<MpvMediaEngine>();
}

} // namespace platform::linux_impl
