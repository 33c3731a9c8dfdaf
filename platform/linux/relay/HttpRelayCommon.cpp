// What both sides of the loopback relay share: its log category, and how a stream host's reply is read.
#include "platform/linux/relay/HttpRelayCommon.h"

namespace platform::linux_impl {

Q_LOGGING_CATEGORY(lcRelay, "kovra.relay", QtWarningMsg)

bool transportFailed(QNetworkReply::NetworkError error)
{
    return (error > QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied)
           || error == QNetworkReply::ProtocolFailure;
}

bool lyingSegment(const QString& path, int status, const QByteArray& start)
{
    constexpr char kTsSync = 0x47;
    return status == 200 && path.endsWith(QLatin1String(".ts")) && !start.isEmpty() && start.front() != kTsSync;
}

QByteArray passedHeaders(const QNetworkReply& reply)
{
    QByteArray out;
    for (const char* name : {"Content-Type", "Content-Range", "Accept-Ranges", "Location"}) {
        if (reply.hasRawHeader(name))
            out += QByteArray(name) + ": " + reply.rawHeader(name) + "\r\n";
    }
    return out;
}

} // namespace platform::linux_impl
