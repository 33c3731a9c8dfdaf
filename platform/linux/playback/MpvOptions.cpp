// The options every media core of ours starts with, and why each is set.
#include "platform/linux/playback/MpvOptions.h"

#include "platform/linux/desktop/AppIdentity.h"
#include "platform/linux/desktop/TlsTrust.h"
#include "platform/linux/playback/MediaLog.h"
#include "platform/linux/relay/LiveStart.h"

#include <QByteArray>

#include <utility>
#include <vector>

#include <malloc.h>

namespace platform::linux_impl {

namespace {

// Every stream opened starts new demuxer, decoder and network threads, and glibc gives each thread
// that meets contention an arena of its own, whose freed memory it keeps: a few dozen reopenings
// (faults, switches) grew the process by some 40 MiB, against some 10 with one arena. An audio
// player has no use for more; the limit only counts if set before the first thread starts, so it
// is set while the program is being loaded, before main() runs.
[[maybe_unused]] const bool kOneArena = mallopt(M_ARENA_MAX, 1) == 1;

// Name and value, in the order they are set before the core starts.
std::vector<std::pair<QByteArray, QByteArray>> options()
{
    return {
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
        {"audio-client-name", AppIdentity::programName().toUtf8()},
        {"user-agent", AppIdentity::userAgent()},

        // Time to first sound: FFmpeg leaves Nagle on for its HTTPS connections (~40 ms lost on each
        // new one), opens one connection more than needed for HLS, and waits for the old demuxer
        // when a stream is replaced. A live stream starts where the relay expects it to.
        {"stream-lavf-o", "tcp_nodelay=1"},
        {"demuxer-lavf-o", "http_multiple=0,live_start_index=-" + QByteArray::number(kLiveStartSegments)},
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
        // (a paused stream reads no further ahead: MpvStream::setFlowing).
        {"cache", "yes"},
        {"demuxer-seekable-cache", "yes"},
        {"force-seekable", "yes"},
        {"demuxer-max-back-bytes", "8MiB"},
        {"demuxer-max-bytes", "8MiB"},
        {"hr-seek", "yes"},
    };
}

// Verification is never off (libmpv's default is off), and whom it trusts is TlsTrust's one rule.
// A core that would not take these would play without the trust we promise: it is not started.
std::vector<std::pair<QByteArray, QByteArray>> securityOptions()
{
    std::vector<std::pair<QByteArray, QByteArray>> options = {{"tls-verify", "yes"}};
    const QByteArray caFile = trustedCaFile();
    if (!caFile.isEmpty())
        options.emplace_back("tls-ca-file", caFile);
    return options;
}

} // namespace

bool setMpvOptions(const MpvLibrary& lib, mpv_handle* mpv)
{
    for (const auto& [name, value] : options()) {
        // An option an older libmpv does not know costs only what it was for.
        const int error = lib.set_option_string(mpv, name.constData(), value.constData());
        if (error < 0)
            qCDebug(lcMedia) << "option" << name << "=" << value << "rejected:" << lib.error_string(error);
    }
    for (const auto& [name, value] : securityOptions()) {
        const int error = lib.set_option_string(mpv, name.constData(), value.constData());
        if (error < 0) {
            qCCritical(lcMedia) << "cannot play: libmpv refused" << name << "=" << value << "("
                                << lib.error_string(error) << ")";
            return false;
        }
    }
    return true;
}

} // namespace platform::linux_impl
