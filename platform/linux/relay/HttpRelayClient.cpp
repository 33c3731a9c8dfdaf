// One local connection to the relay, from its request heads to the end of each response.
#include "platform/linux/relay/HttpRelayClient.h"

#include "platform/linux/relay/HttpRelayCommon.h"

#include <QMetaObject>
#include <QNetworkRequest>
#include <QVariant>

namespace platform::linux_impl {

namespace {

// Bytes queued towards the media core before we stop reading from the server.
constexpr qint64 kBacklog = qint64(256) * 1024;

} // namespace

HttpRelayClient::HttpRelayClient(QTcpSocket* socket, HttpRelayServer& worker, QObject* parent)
    : QObject(parent), socket_(socket), worker_(worker)
{
    socket_->setParent(this);
    // Never more than one request head (and what pipelines behind it) read from the kernel.
    socket_->setReadBufferSize(kRequestHeadLimit);
    connect(socket_, &QTcpSocket::readyRead, this, &HttpRelayClient::readRequests);
    connect(socket_, &QTcpSocket::bytesWritten, this, [this] {
        if (fetch_)
            pump();
    });
    connect(socket_, &QTcpSocket::disconnected, this, &HttpRelayClient::close);
    headDeadline_.setSingleShot(true);
    connect(&headDeadline_, &QTimer::timeout, this, [this] {
        qCDebug(lcRelay) << "no whole request head in time";
        close();
    });
    headDeadline_.start(worker_.limits().head);
    readRequests();
}

HttpRelayClient::~HttpRelayClient()
{
    fetch_.reset();
    if (!closed_)
        worker_.clientGone(this);
}

void HttpRelayClient::close()
{
    if (closed_)
        return;
    closed_ = true;
    headDeadline_.stop();
    fetch_.reset();
    socket_->abort();
    worker_.clientGone(this);
    deleteLater();
}

void HttpRelayClient::readRequests()
{
    if (closed_)
        return;
    in_ += socket_->readAll();
    const bool whole = in_.contains("\r\n\r\n") || in_.contains("\n\n");
    if (in_.size() > kRequestHeadLimit || (!whole && in_.size() == kRequestHeadLimit)) {
        close();
        return;
    }
    if (busy_)
        return;
    if (whole)
        handleRequest();
    else if (!in_.isEmpty() && !headDeadline_.isActive())
        headDeadline_.start(worker_.limits().head);
}

void HttpRelayClient::handleRequest()
{
    const qsizetype crlf = in_.indexOf("\r\n\r\n");
    const qsizetype lf = in_.indexOf("\n\n");
    const qsizetype end = crlf >= 0 && (lf < 0 || crlf < lf) ? crlf : lf;
    const qsizetype blank = end == crlf ? 4 : 2;
    const auto request = parseRequestHead(QByteArrayView(in_).first(end));
    in_.remove(0, end + blank);
    headDeadline_.stop();
    busy_ = true;
    keepAlive_ = request && request->keepAlive && !request->hasBody;
    http11_ = !request || request->http11;
    if (!request || request->hasBody)
        fail(400);
    else if (request->method != "GET")
        fail(405);
    else
        worker_.handle(this, *request, requests_++ == 0);
}

void HttpRelayClient::respond(int status, const QByteArray& headers, const QByteArray& body)
{
    if (closed_)
        return;
    socket_->write(responseHead(status, headers, body.size(), false, keepAlive_) + body);
    done();
}

void HttpRelayClient::fail(int status)
{
    keepAlive_ = false;
    respond(status, {}, {});
}

void HttpRelayClient::stream(HttpRelayFetch* fetch, QString checkedPath)
{
    fetch->setParent(this);
    fetch_.reset(fetch);
    headSent_ = false;
    checkedPath_ = std::move(checkedPath);
    sent_ = 0;
    expected_ = -1;
    connect(fetch, &HttpRelayFetch::answered, this, [this] {
        fetch_->reply()->setReadBufferSize(kBacklog);
        const int status = fetch_->reply()->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        awaitingStart_ = !checkedPath_.isEmpty() && status == 200;
        if (!awaitingStart_)
            sendHead();
    });
    connect(fetch, &HttpRelayFetch::readyRead, this, &HttpRelayClient::pump);
    connect(fetch, &HttpRelayFetch::finished, this, &HttpRelayClient::streamFinished);
}

void HttpRelayClient::sendHead()
{
    QNetworkReply* reply = fetch_->reply();
    if (headSent_ || !reply)
        return;
    headSent_ = true;
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    expected_ = length.isValid() ? length.toLongLong() : -1;
    // Without a length only the chunk framing lets the media core tell a cut from the end.
    chunked_ = expected_ < 0 && http11_;
    if (expected_ < 0 && !http11_)
        keepAlive_ = false;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    socket_->write(responseHead(status, passedHeaders(*reply), expected_, chunked_, keepAlive_));
}

void HttpRelayClient::write(const QByteArray& body)
{
    socket_->write(chunked_ ? chunk(body) : body);
    sent_ += body.size();
}

void HttpRelayClient::pump()
{
    QNetworkReply* reply = fetch_->reply();
    if (awaitingStart_ && reply && reply->isOpen() && reply->bytesAvailable() > 0) {
        awaitingStart_ = false;
        if (lyingSegment(checkedPath_, 200, reply->peek(1))) {
            qCDebug(lcRelay) << "garbage for" << checkedPath_;
            dropFetch();
            fail(502);
            return;
        }
        sendHead();
    }
    if (!headSent_ || !reply || !reply->isOpen())
        return;
    while (reply->bytesAvailable() > 0 && socket_->bytesToWrite() < kBacklog)
        write(reply->read(qint64(64) * 1024));
}

void HttpRelayClient::streamFinished()
{
    if (awaitingStart_) {
        pump(); // the whole body may have come with the answer
        if (!fetch_)
            return;
        awaitingStart_ = false;
        sendHead();
    }
    QNetworkReply* reply = fetch_->reply();
    if (!headSent_) {
        // No answer from the server at all (refused, TLS failed, reset, hung): a gateway error.
        qCDebug(lcRelay) << "no answer:" << (reply ? reply->error() : QNetworkReply::TimeoutError);
        const int status = fetch_->timedOut() ? 504 : 502;
        dropFetch();
        fail(status);
        return;
    }
    const bool cut = !reply || transportFailed(reply->error());
    if (reply && reply->isOpen())
        write(reply->readAll());
    dropFetch();
    if (cut || (expected_ >= 0 && sent_ != expected_)) {
        // Cut off mid-transfer: so is the media core's copy, without the end that would mark it whole.
        qCDebug(lcRelay) << "cut after" << sent_ << "bytes";
        socket_->flush();
        close();
        return;
    }
    if (chunked_)
        socket_->write(chunk({}));
    done();
}

void HttpRelayClient::dropFetch() { fetch_.reset(); }

void HttpRelayClient::done()
{
    busy_ = false;
    if (!keepAlive_) {
        socket_->disconnectFromHost();
        return;
    }
    if (in_.contains("\n\n") || in_.contains("\r\n\r\n"))
        QMetaObject::invokeMethod(this, &HttpRelayClient::readRequests, Qt::QueuedConnection);
    else if (!in_.isEmpty())
        headDeadline_.start(worker_.limits().head);
}

} // namespace platform::linux_impl
