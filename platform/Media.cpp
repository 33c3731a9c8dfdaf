// Exact rational time arithmetic for seeking within a live stream's seekable range.
#include "platform/Media.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <numeric>

namespace platform {

namespace {
// Products of a 64-bit value and a 32-bit timescale need 96 bits to stay exact.
__extension__ typedef __int128 Wide;
} // namespace

MediaTime MediaTime::makeWithSeconds(double seconds, int32_t preferredTimescale)
{
    if (!std::isfinite(seconds) || preferredTimescale <= 0)
        return MediaTime{};
    const double value = std::round(seconds * preferredTimescale);
    if (std::fabs(value) > double(std::numeric_limits<int64_t>::max()) / 2)
        return MediaTime{};
    return MediaTime{int64_t(value), preferredTimescale};
}

MediaTime MediaTime::add(MediaTime a, MediaTime b)
{
    if (!a.isValid() || !b.isValid())
        return MediaTime{};
    if (a.timescale == b.timescale)
        return MediaTime{a.value + b.value, a.timescale};
    const int64_t common = std::lcm(int64_t(a.timescale), int64_t(b.timescale));
    if (common <= std::numeric_limits<int32_t>::max()) {
        const Wide sum = Wide(a.value) * (common / a.timescale) + Wide(b.value) * (common / b.timescale);
        return MediaTime{int64_t(sum), int32_t(common)};
    }
    // Timescales without a small common multiple: keep the finer one, rounding the other.
    const int32_t scale = std::max(a.timescale, b.timescale);
    const double sum = std::round(a.seconds() * scale) + std::round(b.seconds() * scale);
    return MediaTime{int64_t(sum), scale};
}

int MediaTime::compare(MediaTime a, MediaTime b)
{
    const Wide left = Wide(a.value) * b.timescale;
    const Wide right = Wide(b.value) * a.timescale;
    return left < right ? -1 : (left > right ? 1 : 0);
}

} // namespace platform
