// The options every media core of ours starts with, and why each is set.
#include "platform/linux/playback/MpvOptions.h"

#include <QtGlobal>

#include <clocale>
#include <malloc.h>

namespace platform::linux_impl {

namespace {

// Every stream opened starts new demuxer, decoder and network threads, and glibc gives each thread
// that meets contention an arena of its own, whose freed memory it keeps: a few dozen reopenings
// (faults, switches) grew the process by some 40 MiB, against some 10 with one arena. An audio
// player has no use for more; the limit only counts if set before the first thread starts, so it
// is set while the program is being loaded, before main() runs.
[[maybe_unused]] const bool kOneArena = mallopt(M_ARENA_MAX, 1) == 1;

} // namespace

std::vector<std::pair<QByteArray, QByteArray>> mpvOptions()
{
    std::vector<std::pair<QByteArray, QByteArray>> options = {
        // A media core with no face and no will of its own: no config files, scripts, key bindings,
        // terminal, video or on-screen display.
        {"config", "no"},
        {"terminal", "no"},
        {"input-default-bindings", "no"},
        {"input-vo-keyboard", "no"},
        {"input-terminal", "no"},
        {"load-scripts", "no"},
        {"osc", "no"},
        {"ytdl", "no"},
        {"load-stats-overlay", "no"},
        {"load-osd-console", "no"},
        {"load-auto-profiles", "no"},
        {"resume-playback", "no"},
        {"save-position-on-quit", "no"},
        {"vid", "no"},
        {"vo", "null"},
        // PulseAudio first: PipeWire desktops serve it too, and libmpv's own order tries the native
        // PipeWire client first, which writes errors to stderr wherever no PipeWire daemon runs.
        {"ao", "pulse,pipewire,alsa,"},
        {"audio-display", "no"},
        {"sub-auto", "no"},
        {"osd-level", "0"},
        {"idle", "yes"},
        {"audio-client-name", "kovra-radio"},
        {"user-agent", "kovra-radio/" KOVRA_VERSION},

        // Time to first sound: FFmpeg leaves Nagle on for its HTTPS connections (~40 ms lost on each
        // new one), opens one connection more than needed for HLS, and waits for the old demuxer
        // when a stream is replaced. A live stream starts three segments before the newest (FFmpeg's
        // default, named because the stream relay fetches that segment ahead).
        {"stream-lavf-o", "tcp_nodelay=1"},
        {"demuxer-lavf-o", "http_multiple=0,live_start_index=-3"},
        // Streams are HLS, read by FFmpeg. mpv's own playlist reader would take a playlist it fetched
        // while FFmpeg failed (a connection reset) for a list of separate files, and play stale
        // segments one by one instead of the live stream.
        {"demuxer", "lavf"},
        {"demuxer-termination-timeout", "0"},
        // The audio output stays open from one channel to the next (they share one format), so a
        // channel change does not wait for the sound server to close and reopen a stream.
        {"gapless-audio", "yes"},
        // A connection that makes no progress for this long is given up (a minute by default); each
        // load sets its own (ReconnectPolicy::connectionTimeout). A stream that stops mid-play is
        // caught by the stall watch.
        {"network-timeout", "3"},

        // Seeking back in a live stream works only within what was kept: keep minutes of audio
        // (8 MiB is 17 minutes at 64 kbit/s, 3.5 at 320), and no more, so hours of listening hold
        // no more memory than the first minutes. Ahead, the same again, for a position skipped back
        // (a paused stream reads no further ahead: MpvSession::readAhead).
        {"cache", "yes"},
        {"demuxer-seekable-cache", "yes"},
        {"force-seekable", "yes"},
        {"demuxer-max-back-bytes", "8MiB"},
        {"demuxer-max-bytes", "8MiB"},
        {"hr-seek", "yes"},
    };
    // Verification is never off (libmpv's default is off). A CA bundle named by the environment
    // replaces the system's, as for every other TLS client.
    options.emplace_back("tls-verify", "yes");
    const QByteArray caFile = qgetenv("SSL_CERT_FILE");
    if (!caFile.isEmpty())
        options.emplace_back("tls-ca-file", caFile);
    return options;
}

mpv_handle* createMpvCore(const MpvLibrary& lib, bool logWarnings)
{
    // libmpv parses numbers with the C locale only.
    std::setlocale(LC_NUMERIC, "C");
    mpv_handle* mpv = lib.create();
    if (!mpv)
        return nullptr;
    for (const auto& [name, value] : mpvOptions()) {
        const int error = lib.set_option_string(mpv, name.constData(), value.constData());
        if (error < 0)
            qCDebug(lcMedia) << "option" << name << "=" << value << "rejected:" << lib.error_string(error);
    }
    if (logWarnings)
        lib.request_log_messages(mpv, "warn");
    if (lib.initialize(mpv) < 0) {
        lib.terminate_destroy(mpv);
        return nullptr;
    }
    return mpv;
}

} // namespace platform::linux_impl
