// Skips within a live stream: exact seeks, the position while one is under way, and how far a
// skip may go, which stops short of where the stream would run dry.
#include "platform/linux/playback/MpvSession.h"

#include <algorithm>
#include <cmath>

namespace platform::linux_impl {

namespace {

// A seek to the very last cached moment fails inside mpv (it then falls back to reopening the
// stream), so the seekable end is reported this far short of the cache's end.
constexpr double kSeekableEndMargin = 0.5;
// A position closer to the live edge than this share of the lead the live start kept runs dry
// before the next segment is out: a skip forward stops short of it.
constexpr double kSkipLeadShare = 2.0 / 3.0;
// A seek the core can carry out begins at once; one that has not begun by then has failed (a
// target in back-buffer already trimmed fails without any event).
constexpr auto kSeekStartLimit = std::chrono::seconds(1);

} // namespace

void MpvSession::seek(const MediaPlayer* owner, double seconds)
{
    if (!owns(owner) || entry_ != Entry::Playing || !std::isfinite(seconds))
        return;
    const QByteArray target = QByteArray::number(seconds, 'f', 6);
    if (!core_.command({{"name", "seek"}, {"target", target.constData()}, {"flags", "absolute+exact"}}, kSeekCommand))
        return;
    // Until the core has carried it out, the position is where we asked to go: a second skip
    // right after the first builds on it.
    pendingSeek_ = seconds;
    // From here on the distance to the cache's end is the listener's doing, not the live start's.
    openingLeadKept_ = true;
    seekSentAt_ = std::chrono::steady_clock::now();
    seekBegun_ = false;
    reconnect_.progressed();
}

std::optional<double> MpvSession::position(const MediaPlayer* owner) const
{
    if (!owns(owner))
        return std::nullopt;
    return seekPending() ? pendingSeek_ : timePos_;
}

bool MpvSession::seekPending() const
{
    return pendingSeek_ && (seekBegun_ || std::chrono::steady_clock::now() - seekSentAt_ < kSeekStartLimit);
}

std::vector<MediaTimeRange> MpvSession::seekableRanges(const MediaItem* item) const
{
    std::vector<MediaTimeRange> ranges;
    if (!serves(item) || entry_ != Entry::Playing || !core_.exists())
        return ranges;
    std::vector<std::pair<double, double>> cached;
    if (cacheWatched_) {
        cached = cachedRanges_;
    } else {
        // Paused: not pushed to us, so asked now (a short wait on the core, and only on request).
        core_.readNode("demuxer-cache-state", [&](const mpv_node& state) { cached = mpvSeekableRanges(state); });
    }
    const double margin = std::max(kSeekableEndMargin, openingLead_ * kSkipLeadShare);
    for (const auto& [start, end] : cached) {
        const double usableEnd = end - margin;
        if (usableEnd <= start)
            continue;
        const MediaTime from = MediaTime::makeWithSeconds(start, kPositionTimescale);
        const MediaTime to = MediaTime::makeWithSeconds(usableEnd, kPositionTimescale);
        if (from.isValid() && to.isValid())
            ranges.push_back(MediaTimeRange{from, MediaTime{to.value - from.value, kPositionTimescale}});
    }
    return ranges;
}

} // namespace platform::linux_impl
