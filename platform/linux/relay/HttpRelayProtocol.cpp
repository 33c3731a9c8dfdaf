// Reading request heads and writing response heads and chunks for the loopback relay.
#include "platform/linux/relay/HttpRelayProtocol.h"

#include <QList>
#include <QRegularExpression>

namespace platform::linux_impl {

namespace {

bool tokenChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
           || QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
}

bool isToken(QByteArrayView text)
{
    if (text.isEmpty())
        return false;
    for (char c : text) {
        if (!tokenChar(c))
            return false;
    }
    return true;
}

} // namespace

std::optional<RelayRequest> parseRequestHead(QByteArrayView head)
{
    // Lines end in CRLF (a bare LF is tolerated); a CR anywhere else could smuggle a header line
    // past us to the stream host, and a NUL is never text.
    if (head.contains('\0'))
        return std::nullopt;
    const QList<QByteArray> lines = head.toByteArray().split('\n');
    for (const QByteArray& line : lines) {
        const qsizetype cr = line.indexOf('\r');
        if (cr >= 0 && cr != line.size() - 1)
            return std::nullopt;
    }
    const QList<QByteArray> request = lines.front().trimmed().split(' ');
    if (request.size() != 3 || !isToken(request[0]) || request[1].isEmpty() || !request[2].startsWith("HTTP/1."))
        return std::nullopt;
    RelayRequest out;
    out.method = request[0];
    out.target = request[1];
    out.http11 = request[2] == "HTTP/1.1";
    QByteArray connection;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].chopped(lines[i].endsWith('\r') ? 1 : 0);
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || !isToken(line.left(colon)))
            return std::nullopt;
        const QByteArray name = line.left(colon).toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "range") {
            static const QRegularExpression kSingleRange(QStringLiteral(R"(^bytes=(\d{1,18}-\d{0,18}|-\d{1,18})$)"));
            out.range = kSingleRange.match(QString::fromLatin1(value)).hasMatch() ? value : QByteArray();
        } else if (name == "connection") {
            connection = value.toLower();
        } else if ((name == "content-length" && value != "0") || name == "transfer-encoding") {
            out.hasBody = true;
        }
    }
    out.keepAlive = out.http11 ? connection != "close" : connection == "keep-alive";
    return out;
}

QString relayedPath(QByteArrayView target, QByteArrayView prefix, const QSet<QString>& directories)
{
    static const QRegularExpression kAllowed(
        QStringLiteral(R"(^(/radio_[A-Za-z0-9_-]+/)[A-Za-z0-9_-][A-Za-z0-9_.-]*(\?[A-Za-z0-9_.=&-]*)?$)"));
    if (prefix.size() < 2 || !target.startsWith(prefix))
        return {};
    const QString rest = QString::fromLatin1(target.sliced(prefix.size() - 1));
    const auto match = kAllowed.match(rest);
    return match.hasMatch() && directories.contains(match.captured(1)) ? rest : QString();
}

QByteArray responseHead(int status, QByteArrayView headers, qint64 length, bool chunked, bool keepAlive)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + " Relayed\r\n" + headers.toByteArray();
    if (chunked)
        head += "Transfer-Encoding: chunked\r\n";
    else if (length >= 0)
        head += "Content-Length: " + QByteArray::number(length) + "\r\n";
    head += QByteArray("Connection: ") + (keepAlive ? "keep-alive" : "close") + "\r\n\r\n";
    return head;
}

QByteArray chunk(QByteArrayView data)
{
    return QByteArray::number(data.size(), 16) + "\r\n" + data.toByteArray() + "\r\n";
}

} // namespace platform::linux_impl
