// What both sides of the loopback relay share: its log category, and how a reply from the stream
// host is read (failed in transport or answered, and which of its headers go on).
#pragma once

#include <QByteArray>
#include <QLoggingCategory>
#include <QNetworkReply>

namespace platform::linux_impl {

Q_DECLARE_LOGGING_CATEGORY(lcRelay)

// Failed in transport (connection, TLS, timeout, cut off) rather than answered by the server.
bool transportFailed(QNetworkReply::NetworkError error);

// The server's headers the media core may need, as they came.
QByteArray passedHeaders(const QNetworkReply& reply);

// A 200 answer for an MPEG-TS segment whose body does not begin with the format's sync byte:
// garbage, which FFmpeg would go on probing across segment after segment, long after the host heals.
bool lyingSegment(const QString& path, int status, const QByteArray& start);

} // namespace platform::linux_impl
