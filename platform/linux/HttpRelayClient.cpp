#include "platform/linux/HttpRelayClient.h"

#include "platform/linux/HttpRelayCommon.h"
#include "platform/linux/HttpRelayWorker.h"

#include <QMetaObject>
#include <QNetworkRequest>
#include <QVariant>

namespace platform::linux_impl {

namespace {

// Bytes queued towards the media core before we stop reading from the server.
constexpr qint64 kBacklog = qint64(256) * 1024;
constexpr int kHeadLimit = 16 * 1024;

} // namespace

HttpRelayClient::HttpRelayClient(QTcpSocket* socket, HttpRelayWorker& worker)
    : QObject(&worker), socket_(socket), worker_(worker)
{
    socket_->setParent(this);
    connect(socket_, &QTcpSocket::readyRead, this, &HttpRelayClient::readRequests);
    connect(socket_, &QTcpSocket::bytesWritten, this, [this] {
        if (reply_)
            pump();
    });
    connect(socket_, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    readRequests();
}

void HttpRelayClient::readRequests()
{
    in_ += socket_->readAll();
    if (in_.size() > kHeadLimit) {
        socket_->abort();
        deleteLater();
        return;
    }
    if (!busy_ && in_.contains("\r\n\r\n"))
        handleRequest();
}

void HttpRelayClient::handleRequest()
{
    const int end = int(in_.indexOf("\r\n\r\n"));
    const QByteArray head = in_.left(end);
    in_.remove(0, end + 4);
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> request = lines.front().trimmed().split(' ');
    QByteArray range;
    QByteArray connection;
    bool hasBody = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const int colon = int(lines[i].indexOf(':'));
        if (colon <= 0)
            continue;
        const QByteArray name = lines[i].left(colon).trimmed().toLower();
        const QByteArray value = lines[i].mid(colon + 1).trimmed();
        if (name == "range")
            range = value;
        else if (name == "connection")
            connection = value.toLower();
        else if ((name == "content-length" && value != "0") || name == "transfer-encoding")
            hasBody = true;
    }
    busy_ = true;
    http11_ = request.size() == 3 && request[2] == "HTTP/1.1";
    keepAlive_ = http11_ ? connection != "close" : connection == "keep-alive";
    if (request.size() != 3 || !request[2].startsWith("HTTP/1.") || hasBody) {
        keepAlive_ = false;
        fail(400);
    } else if (request[0] != "GET") {
        keepAlive_ = false;
        fail(405);
    } else {
        worker_.handle(this, request[1], range, requests_++ == 0);
    }
}

void HttpRelayClient::respond(int status, const QByteArray& headers, const QByteArray& body)
{
    socket_->write("HTTP/1.1 " + QByteArray::number(status) + " Relayed\r\n" + headers
                   + "Content-Length: " + QByteArray::number(body.size())
                   + "\r\nConnection: " + (keepAlive_ ? "keep-alive" : "close") + "\r\n\r\n" + body);
    done();
}

void HttpRelayClient::fail(int status)
{
    keepAlive_ = false;
    respond(status, {}, {});
}

void HttpRelayClient::stream(QNetworkReply* reply)
{
    reply_ = reply;
    headSent_ = false;
    sent_ = 0;
    expected_ = -1;
    reply_->setReadBufferSize(kBacklog);
    connect(reply_, &QNetworkReply::metaDataChanged, this, &HttpRelayClient::sendHead);
    connect(reply_, &QNetworkReply::readyRead, this, &HttpRelayClient::pump);
    connect(reply_, &QNetworkReply::finished, this, &HttpRelayClient::streamFinished);
}

void HttpRelayClient::sendHead()
{
    const QVariant status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (headSent_ || !status.isValid())
        return;
    headSent_ = true;
    const QVariant length = reply_->header(QNetworkRequest::ContentLengthHeader);
    expected_ = length.isValid() ? length.toLongLong() : -1;
    // Without a length only the chunk framing lets the media core tell a cut from the end.
    chunked_ = expected_ < 0 && http11_;
    if (expected_ < 0 && !http11_)
        keepAlive_ = false;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status.toInt()) + " Relayed\r\n" + passedHeaders(*reply_);
    head += chunked_         ? QByteArray("Transfer-Encoding: chunked\r\n")
            : expected_ >= 0 ? "Content-Length: " + QByteArray::number(expected_) + "\r\n"
                             : QByteArray();
    head += QByteArray("Connection: ") + (keepAlive_ ? "keep-alive" : "close") + "\r\n\r\n";
    socket_->write(head);
}

void HttpRelayClient::pump()
{
    sendHead();
    if (!headSent_)
        return;
    while (reply_->bytesAvailable() > 0 && socket_->bytesToWrite() < kBacklog) {
        const QByteArray data = reply_->read(qint64(64) * 1024);
        if (chunked_)
            socket_->write(QByteArray::number(data.size(), 16) + "\r\n" + data + "\r\n");
        else
            socket_->write(data);
        sent_ += data.size();
    }
}

void HttpRelayClient::streamFinished()
{
    QNetworkReply* reply = reply_;
    const bool cut = transportFailed(reply->error());
    if (!headSent_ && (cut || !reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())) {
        // No answer from the server at all (refused, TLS failed, reset): a gateway error.
        qCDebug(lcRelay) << "no answer:" << reply->error();
        dropReply();
        fail(502);
        return;
    }
    sendHead();
    while (reply->bytesAvailable() > 0) {
        const QByteArray data = reply->readAll();
        socket_->write(chunked_ ? QByteArray::number(data.size(), 16) + "\r\n" + data + "\r\n" : data);
        sent_ += data.size();
    }
    dropReply();
    if (cut || (expected_ >= 0 && sent_ != expected_)) {
        // Cut off mid-transfer: so is the media core's copy, without the end that would mark it whole.
        qCDebug(lcRelay) << "cut after" << sent_ << "bytes";
        socket_->flush();
        socket_->abort();
        deleteLater();
        return;
    }
    if (chunked_)
        socket_->write("0\r\n\r\n");
    done();
}

void HttpRelayClient::done()
{
    busy_ = false;
    if (!keepAlive_) {
        socket_->disconnectFromHost();
        return;
    }
    if (in_.contains("\r\n\r\n"))
        QMetaObject::invokeMethod(this, &HttpRelayClient::readRequests, Qt::QueuedConnection);
}

void HttpRelayClient::dropReply()
{
    if (!reply_)
        return;
    QNetworkReply* reply = reply_;
    reply_ = nullptr;
    reply->disconnect(this);
    if (!reply->isFinished())
        reply->abort();
    reply->deleteLater();
}

} // namespace platform::linux_impl
