// Fuzz target: a request head as any local process may send it to the relay, and the target it names.
#include "platform/linux/relay/HttpRelayProtocol.h"

#include <cstdint>
#include <cstdlib>

using namespace platform::linux_impl;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView head(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto request = parseRequestHead(head);
    if (!request)
        return 0;
    // What goes upstream holds no line break, and a range only of its one plain form.
    for (const QByteArray& passed : {request->range, request->target}) {
        if (passed.contains('\r') || passed.contains('\n') || passed.contains('\0'))
            std::abort();
    }
    if (!request->range.isEmpty() && !request->range.startsWith("bytes="))
        std::abort();
    const QString path = relayedPath(request->target, "/token/", {QStringLiteral("/radio_a/")});
    if (!path.isEmpty()
        && (!path.startsWith(QLatin1String("/radio_a/")) || path.contains(QLatin1String("/."))
            || path.indexOf(QLatin1Char('/'), 9) >= 0))
        std::abort();
    return 0;
}
