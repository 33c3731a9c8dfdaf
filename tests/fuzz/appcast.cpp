// Fuzz target: an update feed as any server on the way may send it.
#include "platform/linux/desktop/AppcastFeed.h"

#include <cstdint>
#include <cstdlib>

using namespace platform::linux_impl;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto feed = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const UpdateCheckResult result = evaluateAppcast(feed, u"1.0");
    // Only a newer version with an https link is ever offered.
    if (result.outcome == UpdateOutcome::Available
        && (!isSecureDownloadURL(result.item.downloadURL) || compareVersions(result.item.version, u"1.0") <= 0))
        std::abort();
    return 0;
}
