// The loopback relay's side of HTTP/1.1 as plain functions over bytes: reading a request head,
// deciding which of the stream host's files a target names, and writing response heads and chunks.
// No sockets here, so every rule can be tested and fuzzed on its own.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QSet>
#include <QString>

#include <optional>

namespace platform::linux_impl {

// A request head grows no larger than this; a connection that sends more without ending it is dropped.
constexpr qsizetype kRequestHeadLimit = qsizetype(16) * 1024;

struct RelayRequest {
    QByteArray method;
    QByteArray target;
    // A single byte range ("bytes=a-b", either end open) as the media core asked, else empty: any
    // other value is dropped rather than passed on.
    QByteArray range;
    bool keepAlive = true;
    bool http11 = true;
    bool hasBody = false;
};

// The head up to, not including, the blank line. None when it is not an HTTP/1.x request line
// followed by header lines (a stray CR or NUL anywhere, a line without a colon, a name with spaces).
std::optional<RelayRequest> parseRequestHead(QByteArrayView head);

// The stream host's path that `target` names under the relay's secret `prefix` ("/<token>/"): a
// plain file name (not starting with a dot) in one of `directories` ("/radio_<id>/"), with an
// optional plain query. Empty when it names nothing we serve.
QString relayedPath(QByteArrayView target, QByteArrayView prefix, const QSet<QString>& directories);

// A response head. `length` < 0: the body is sent in chunks (HTTP/1.1) or until the connection closes.
QByteArray responseHead(int status, QByteArrayView headers, qint64 length, bool chunked, bool keepAlive);

// One chunk of a chunked body; an empty one ends the body.
QByteArray chunk(QByteArrayView data);

} // namespace platform::linux_impl
