// Live HLS playback on libmpv, audio only. libmpv is loaded on the first play, so a tray app that
// has not played yet does not carry its two hundred libraries. One mpv handle serves every player
// the process makes: a new player costs a `loadfile` on a warm handle, not a new media core.
#include "platform/linux/MpvMediaEngine.h"

#include "platform/linux/Mpris.h"

#include <QCoreApplication>
#include <QLoggingCategory>

// Types and constants only: the functions are looked up at run time (MpvLibrary below).
#include <mpv/client.h>

#include <dlfcn.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstring>

Q_LOGGING_CATEGORY(lcMedia, "kovra.media", QtCriticalMsg)

namespace platform::linux_impl {

// libmpv, opened on demand. Lives as long as any handle made from it: the session and the
// thread that destroys its handles each hold a reference, and only the last one closes it.
class MpvLibrary {
public:
    static std::shared_ptr<const MpvLibrary> open(QString* error)
    {
        void* handle = dlopen("libmpv.so.2", RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            *error = QString::fromLocal8Bit(dlerror());
            return nullptr;
        }
        std::shared_ptr<MpvLibrary> lib(new MpvLibrary(handle));
        if (!lib->resolveAll(error))
            return nullptr;
        const unsigned long version = lib->client_api_version();
        if ((version >> 16) != (MPV_CLIENT_API_VERSION >> 16)) {
            *error = QStringLiteral("client API %1.%2, built for %3.%4")
                         .arg(version >> 16)
                         .arg(version & 0xffff)
                         .arg(MPV_CLIENT_API_VERSION >> 16)
                         .arg(MPV_CLIENT_API_VERSION & 0xffff);
            return nullptr;
        }
        return lib;
    }

    MpvLibrary(const MpvLibrary&) = delete;
    MpvLibrary& operator=(const MpvLibrary&) = delete;
    ~MpvLibrary() { dlclose(handle_); }

    decltype(&::mpv_client_api_version) client_api_version = nullptr;
    decltype(&::mpv_create) create = nullptr;
    decltype(&::mpv_initialize) initialize = nullptr;
    decltype(&::mpv_terminate_destroy) terminate_destroy = nullptr;
    decltype(&::mpv_set_option_string) set_option_string = nullptr;
    decltype(&::mpv_error_string) error_string = nullptr;
    decltype(&::mpv_request_log_messages) request_log_messages = nullptr;
    decltype(&::mpv_observe_property) observe_property = nullptr;
    decltype(&::mpv_unobserve_property) unobserve_property = nullptr;
    decltype(&::mpv_set_wakeup_callback) set_wakeup_callback = nullptr;
    decltype(&::mpv_command_node_async) command_node_async = nullptr;
    decltype(&::mpv_set_property_async) set_property_async = nullptr;
    decltype(&::mpv_get_property) get_property = nullptr;
    decltype(&::mpv_free_node_contents) free_node_contents = nullptr;
    decltype(&::mpv_wait_event) wait_event = nullptr;

private:
    explicit MpvLibrary(void* handle) : handle_(handle) {}

    template <typename Function>
    bool resolve(Function& function, const char* name, QString* error)
    {
        void* symbol = dlsym(handle_, name);
        if (!symbol) {
            *error = QStringLiteral("missing %1").arg(QLatin1String(name));
            return false;
        }
        // POSIX guarantees that a symbol's address converts to a function pointer.
        static_assert(sizeof(Function) == sizeof(void*));
        std::memcpy(&function, &symbol, sizeof(function));
        return true;
    }

    bool resolveAll(QString* error)
    {
        return resolve(client_api_version, "mpv_client_api_version", error) && resolve(create, "mpv_create", error)
               && resolve(initialize, "mpv_initialize", error)
               && resolve(terminate_destroy, "mpv_terminate_destroy", error)
               && resolve(set_option_string, "mpv_set_option_string", error)
               && resolve(error_string, "mpv_error_string", error)
               && resolve(request_log_messages, "mpv_request_log_messages", error)
               && resolve(observe_property, "mpv_observe_property", error)
               && resolve(unobserve_property, "mpv_unobserve_property", error)
               && resolve(set_wakeup_callback, "mpv_set_wakeup_callback", error)
               && resolve(command_node_async, "mpv_command_node_async", error)
               && resolve(set_property_async, "mpv_set_property_async", error)
               && resolve(get_property, "mpv_get_property", error)
               && resolve(free_node_contents, "mpv_free_node_contents", error)
               && resolve(wait_event, "mpv_wait_event", error);
    }

    void* handle_;
};

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
// Someone is waiting for the channel: while an outage is young, try every few seconds so the
// sound is back soon after the server is; only a long outage backs off further, sparing the
// server and the battery.
constexpr int youngOutageRetryMs = 3000;
constexpr auto youngOutage = 60s;
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

// The seekable ranges of a `demuxer-cache-state` value.
std::vector<std::pair<double, double>> cacheRanges(const mpv_node& state)
{
    std::vector<std::pair<double, double>> out;
    const mpv_node* ranges = mapValue(state, "seekable-ranges");
    if (!ranges || ranges->format != MPV_FORMAT_NODE_ARRAY || !ranges->u.list)
        return out;
    for (int i = 0; i < ranges->u.list->num; ++i) {
        const mpv_node& range = ranges->u.list->values[i];
        const auto start = number(mapValue(range, "start"));
        const auto end = number(mapValue(range, "end"));
        if (start && end && *end > *start)
            out.emplace_back(*start, *end);
    }
    return out;
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

bool MediaSession::ensureLibrary()
{
    if (lib_)
        return true;
    if (libraryMissing_ || shutDown_)
        return false;
    QString error;
    lib_ = MpvLibrary::open(&error);
    if (!lib_) {
        // Without it nothing can sound; say so once, and let plays do nothing from now on.
        libraryMissing_ = true;
        qCCritical(lcMedia).noquote() << "cannot play: libmpv (libmpv.so.2) is not usable:" << error;
        return false;
    }
    return true;
}

mpv_handle* MediaSession::makeCore()
{
    if (!ensureLibrary())
        return nullptr;
    // libmpv parses numbers with the C locale only.
    std::setlocale(LC_NUMERIC, "C");
    mpv_handle* mpv = lib_->create();
    if (!mpv)
        return nullptr;

    const auto setOption = [this, mpv](const char* name, const char* value) {
        const int error = lib_->set_option_string(mpv, name, value);
        if (error < 0)
            qCDebug(lcMedia) << "option" << name << "=" << value << "rejected:" << lib_->error_string(error);
    };

    // A media core with no face and no will of its own: no config files, scripts, key bindings,
    // terminal, video or on-screen display.
    setOption("config", "no");
    setOption("terminal", "no");
    setOption("input-default-bindings", "no");
    setOption("input-vo-keyboard", "no");
    setOption("input-terminal", "no");
    setOption("load-scripts", "no");
    setOption("osc", "no");
    setOption("ytdl", "no");
    setOption("load-stats-overlay", "no");
    setOption("load-osd-console", "no");
    setOption("load-auto-profiles", "no");
    setOption("resume-playback", "no");
    setOption("save-position-on-quit", "no");
    setOption("vid", "no");
    setOption("vo", "null");
    // PulseAudio first: PipeWire desktops serve it too, and libmpv's own order tries the native
    // PipeWire client first, which writes errors to stderr wherever no PipeWire daemon runs.
    setOption("ao", "pulse,pipewire,alsa,");
    setOption("audio-display", "no");
    setOption("sub-auto", "no");
    setOption("osd-level", "0");
    setOption("idle", "yes");
    setOption("audio-client-name", "kovra-radio");
    setOption("user-agent", "kovra-radio/" KOVRA_VERSION);

    // Verification is never off (libmpv's default is off). A CA bundle named by the environment
    // replaces the system's, as for every other TLS client.
    setOption("tls-verify", "yes");
    const QByteArray caFile = qgetenv("SSL_CERT_FILE");
    if (!caFile.isEmpty())
        setOption("tls-ca-file", caFile.constData());

    // Time to first sound: FFmpeg leaves Nagle on for its HTTPS connections (~40 ms lost on each
    // new one), opens one connection more than needed for HLS, and waits for the old demuxer
    // when a stream is replaced.
    setOption("stream-lavf-o", "tcp_nodelay=1");
    setOption("demuxer-lavf-o", "http_multiple=0");
    // Streams are HLS, read by FFmpeg. mpv's own playlist reader would take a playlist it fetched
    // while FFmpeg failed (a connection reset) for a list of separate files, and play stale
    // segments one by one instead of the live stream.
    setOption("demuxer", "lavf");
    setOption("demuxer-termination-timeout", "0");
    // A hung server would otherwise keep us silent for a minute; the watchdog covers the rest.
    setOption("network-timeout", "3");

    // Seeking back in a live stream works only within what was kept: keep minutes of audio.
    setOption("cache", "yes");
    setOption("demuxer-seekable-cache", "yes");
    setOption("force-seekable", "yes");
    setOption("demuxer-max-back-bytes", "64MiB");
    setOption("demuxer-max-bytes", "32MiB");
    setOption("hr-seek", "yes");

    if (lcMedia().isDebugEnabled())
        lib_->request_log_messages(mpv, "warn");

    if (lib_->initialize(mpv) < 0 || lib_->observe_property(mpv, TimePos, "time-pos", MPV_FORMAT_DOUBLE) < 0) {
        lib_->terminate_destroy(mpv);
        return nullptr;
    }
    lib_->set_wakeup_callback(mpv, &MediaSession::wakeup, this);
    return mpv;
}

void MediaSession::wakeup(void* context)
{
    // On one of libmpv's threads: only post; the events are read on the main thread.
    auto* self = static_cast<MediaSession*>(context);
    if (!self->drainQueued_.exchange(true))
        QMetaObject::invokeMethod(self, &MediaSession::drainEvents, Qt::QueuedConnection);
}

bool MediaSession::command(std::initializer_list<Argument> args, uint64_t userdata,
                           std::initializer_list<Argument> fileOptions)
{
    if (!mpv_)
        return false;
    const auto stringNode = [](const char* value) {
        mpv_node node{};
        node.format = MPV_FORMAT_STRING;
        node.u.string = const_cast<char*>(value); // libmpv copies what it is given
        return node;
    };
    std::vector<char*> optionKeys;
    std::vector<mpv_node> optionValues;
    for (const Argument& option : fileOptions) {
        optionKeys.push_back(const_cast<char*>(option.name));
        optionValues.push_back(stringNode(option.value));
    }
    mpv_node_list optionList{int(optionValues.size()), optionValues.data(), optionKeys.data()};
    std::vector<char*> keys;
    std::vector<mpv_node> values;
    for (const Argument& argument : args) {
        keys.push_back(const_cast<char*>(argument.name));
        values.push_back(stringNode(argument.value));
    }
    if (fileOptions.size() > 0) {
        mpv_node options{};
        options.format = MPV_FORMAT_NODE_MAP;
        options.u.list = &optionList;
        keys.push_back(const_cast<char*>("options"));
        values.push_back(options);
    }
    mpv_node_list list{int(values.size()), values.data(), keys.data()};
    mpv_node map{};
    map.format = MPV_FORMAT_NODE_MAP;
    map.u.list = &list;
    // Named arguments: the positions of a command's arguments change between libmpv releases
    // (0.38 put an index before loadfile's options), their names do not. Asynchronous, so the
    // main thread never waits on the media core; requests keep their order. A command the core
    // cannot parse is refused here, and no event ever answers it.
    const int error = lib_->command_node_async(mpv_, userdata, &map);
    if (error < 0)
        reportRefusal(args.begin()->value, error);
    return error >= 0;
}

bool MediaSession::setPause(bool paused)
{
    if (!mpv_)
        return false;
    int flag = paused ? 1 : 0;
    const int error = lib_->set_property_async(mpv_, plainCommand, "pause", MPV_FORMAT_FLAG, &flag);
    if (error < 0)
        reportRefusal("pause", error);
    return error >= 0;
}

void MediaSession::reportRefusal(const char* what, int error)
{
    // A refusal means this libmpv does not take our commands: the same one is refused again on
    // every retry, so say it once, loudly.
    if (refusalReported_)
        return;
    refusalReported_ = true;
    qCCritical(lcMedia).noquote() << "libmpv refused" << what << "(" << lib_->error_string(error) << ")";
}

void MediaSession::setFailed(bool failed)
{
    if (failed_ == failed)
        return;
    failed_ = failed;
    Q_EMIT failedChanged(failed);
}

void MediaSession::watchCache(bool on)
{
    // The cache state changes several times a second while the stream downloads, paused or not;
    // only a playing stream needs it pushed. A paused one is asked when someone wants to know.
    if (!mpv_ || on == cacheWatched_)
        return;
    const int error = on ? lib_->observe_property(mpv_, CacheState, "demuxer-cache-state", MPV_FORMAT_NODE)
                         : lib_->unobserve_property(mpv_, CacheState);
    // Unwatched, the ranges are asked for on request instead.
    if (error < 0)
        reportRefusal("demuxer-cache-state", error);
    else
        cacheWatched_ = on;
}

void MediaSession::start(const void* owner, const MediaItem* item, const QString& url)
{
    if (!owner)
        return;
    owner_ = owner;
    item_ = item;
    url_ = url;
    wantPlay_ = true;
    resetBackoff();
    load();
}

void MediaSession::resume(const void* owner)
{
    if (!owns(owner))
        return;
    wantPlay_ = true;
    // A core that refuses to unpause cannot be trusted with the stream it holds: open it anew.
    if (entry_ != Entry::None && !retryTimer_.isActive() && setPause(false)) {
        watchCache(true);
        lastProgress_ = Clock::now();
        watchdogTimer_.start();
        return;
    }
    // The stream ended or failed while we were paused: open it again now.
    resetBackoff();
    load();
}

void MediaSession::pause(const void* owner)
{
    if (!owns(owner))
        return;
    wantPlay_ = false;
    retryTimer_.stop();
    watchdogTimer_.stop();
    // A core that will not pause must not go on sounding: drop the stream instead.
    if (!setPause(true))
        silence();
    watchCache(false);
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
    command({{"name", "stop"}});
    watchCache(false);
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
    setFailed(false);
}

void MediaSession::seek(const void* owner, double seconds)
{
    if (!owns(owner) || entry_ != Entry::Playing || !std::isfinite(seconds))
        return;
    const QByteArray target = QByteArray::number(seconds, 'f', 6);
    if (!command({{"name", "seek"}, {"target", target.constData()}, {"flags", "absolute+exact"}}))
        return;
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
    if (!serves(item) || entry_ != Entry::Playing || !mpv_)
        return ranges;
    std::vector<std::pair<double, double>> cached;
    if (cacheWatched_) {
        cached = cachedRanges_;
    } else {
        // Paused: not pushed to us, so asked now (a short wait on the core, and only on request).
        mpv_node state{};
        if (lib_->get_property(mpv_, "demuxer-cache-state", MPV_FORMAT_NODE, &state) >= 0) {
            cached = cacheRanges(state);
            lib_->free_node_contents(&state);
        }
    }
    for (const auto& [start, end] : cached) {
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
    if (shutDown_)
        return;
    if (!mpv_) {
        mpv_ = makeCore();
        if (!mpv_) {
            setFailed(true);
            // A library that is not there will not appear by retrying; a core that failed might.
            if (!libraryMissing_)
                scheduleRetry();
            return;
        }
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
    // Unpausing as a per-file option takes effect only once the previous stream is gone, so the
    // old channel cannot sound again while the new one opens.
    if (!command({{"name", "loadfile"}, {"url", url.constData()}, {"flags", "replace"}}, loadGeneration_,
                 {{"pause", "no"}})) {
        // Refused outright: nothing will play, so the player must not claim to, and the
        // retries back off as for any failed load.
        entry_ = Entry::None;
        setFailed(true);
        scheduleRetry();
        return;
    }
    setFailed(false);
    watchCache(true);
    watchdogTimer_.start();
    qCDebug(lcMedia) << "load" << url_ << "generation" << loadGeneration_;
}

void MediaSession::scheduleRetry()
{
    if (!owner_ || !wantPlay_ || shutDown_)
        return;
    const auto now = Clock::now();
    if (!outageSince_)
        outageSince_ = now;
    const int cap = now - *outageSince_ < youngOutage ? youngOutageRetryMs : maxRetryMs;
    const int delay = std::min(backoffMs_, cap);
    qCDebug(lcMedia) << "retry in" << delay << "ms";
    retryTimer_.start(delay);
    backoffMs_ = std::min(backoffMs_ * 2, maxRetryMs);
}

void MediaSession::resetBackoff()
{
    backoffMs_ = firstRetryMs;
    outageSince_.reset();
}

void MediaSession::watchdog()
{
    if (!owner_ || !wantPlay_ || retryTimer_.isActive())
        return;
    const auto now = Clock::now();
    if (playingSince_ && now - *playingSince_ >= recoveredAfter)
        resetBackoff();
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
        const mpv_event* event = lib_->wait_event(mpv_, 0);
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
            qCDebug(lcMedia) << "load refused:" << lib_->error_string(event.error);
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
        qCDebug(lcMedia) << "stream ended, reason" << end->reason << lib_->error_string(end->error);
        entry_ = Entry::None;
        fileStarted_ = false;
        timePos_.reset();
        pendingSeek_.reset();
        cachedRanges_.clear();
        // A live stream has no end: an end of file or an error means the server failed us.
        if (end->reason == MPV_END_FILE_REASON_EOF || end->reason == MPV_END_FILE_REASON_ERROR)
            scheduleRetry();
        // The stream was read as a list of other files: never play those behind our back.
        if (end->reason == MPV_END_FILE_REASON_REDIRECT) {
            silence();
            scheduleRetry();
        }
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
            if (property->format == MPV_FORMAT_NODE && property->data)
                cachedRanges_ = cacheRanges(*static_cast<const mpv_node*>(property->data));
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
    lib_->set_wakeup_callback(mpv, nullptr, nullptr);
    // Destroying a core with an open stream takes 100-200 ms: not on the main thread. The thread
    // keeps the library loaded until the handle is gone.
    destroyer_ = std::thread([lib = lib_, mpv] {
        const auto started = Clock::now();
        lib->terminate_destroy(mpv);
        qCDebug(lcMedia) << "media core destroyed in"
                         << std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count()
                         << "ms";
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

    // A stream the engine cannot play does not count as playing, whatever was asked.
    float rate() const override { return playing_ && session_->owns(this) && !session_->failed() ? 1.0f : 0.0f; }

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
        QObject::connect(session_.get(), &MediaSession::failedChanged, session_.get(), &setMprisPlaybackFailed);
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

std::shared_ptr<MediaEngine> makeMediaEngine() { return std::make_shared<MpvMediaEngine>(); }

} // namespace platform::linux_impl
