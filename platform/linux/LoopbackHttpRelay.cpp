// The loopback relay between the media core and the stream host. It runs on a thread of its own
// (it does network I/O), listens on 127.0.0.1 only, and answers only under a random path prefix
// the media core is told. What the server does reaches the media core as it was: an HTTP error as
// that error, a cut transfer as a cut, a hang as a hang. Only playlists are held, briefly.
#include "platform/linux/LoopbackHttpRelay.h"

#include "platform/linux/FeedUpdater.h"

#include <QHash>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <memory>
#include <utility>
#include <vector>

namespace platform::linux_impl {

namespace {

Q_LOGGING_CATEGORY(lcRelay, "kovra.relay", QtWarningMsg)

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A playlist fetched this recently is served again without asking the server: the media core
// reads each playlist twice when it opens a stream, and a menu choice follows its opening within
// seconds. A live playlist changes once per segment, and the core reloads it on its own cadence.
constexpr auto kPlaylistFresh = 3s;
// Opening and closing the menu quickly asks the server for each playlist at most this often
// (less than kPlaylistFresh, so what the menu's opening brought is still fresh at the click).
constexpr auto kAheadSpacing = 2s;
// A fetch ahead that nobody asked for is dropped this long after the menu closed (the choice made
// in it reaches us a moment after the close).
constexpr auto kDropAfterClose = 1500ms;
// A fetch ahead gives up after this long; a fetch the media core waits on is bounded by its own timeout.
constexpr int kAheadTimeoutMs = 5000;
// Playlists and the one segment fetched ahead of the media core are read whole, up to this size.
constexpr qint64 kBufferedLimit = qint64(8) << 20;
constexpr int kSegmentTimeoutMs = 10000;
constexpr qsizetype kLiveStartOffset = 3;
// Bytes queued towards the media core before we stop reading from the server.
constexpr qint64 kBacklog = 256 * 1024;
constexpr int kHeadLimit = 16 * 1024;

// Failed in transport (connection, TLS, timeout, cut off) rather than answered by the server.
bool transportFailed(QNetworkReply::NetworkError error)
{
    return (error > QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied)
           || error == QNetworkReply::ProtocolFailure;
}

// The server's headers the media core may need, as they came.
QByteArray passedHeaders(const QNetworkReply& reply)
{
    QByteArray out;
    for (const char* name : {"Content-Type", "Content-Range", "Accept-Ranges", "Location"}) {
        if (reply.hasRawHeader(name))
            out += QByteArray(name) + ": " + reply.rawHeader(name) + "\r\n";
    }
    return out;
}

} // namespace

class RelayWorker;

// One connection of the media core: requests one at a time, each answered from a playlist
// fetch or by streaming the server's reply.
class RelayClient : public QObject {
public:
    RelayClient(QTcpSocket* socket, RelayWorker& worker);
    ~RelayClient() override { dropReply(); }

    void respond(int status, const QByteArray& headers, const QByteArray& body);
    void fail(int status);
    void stream(QNetworkReply* reply);

private:
    void readRequests();
    void handleRequest();
    void sendHead();
    void pump();
    void streamFinished();
    void done();
    void dropReply();

    QTcpSocket* socket_;
    RelayWorker& worker_;
    QByteArray in_;
    bool busy_ = false;
    int requests_ = 0;
    bool keepAlive_ = true;
    bool http11_ = true;
    QPointer<QNetworkReply> reply_;
    bool headSent_ = false;
    bool chunked_ = false;
    qint64 expected_ = -1;
    qint64 sent_ = 0;
};

class RelayWorker : public QObject {
public:
    RelayWorker(const QString& host, const QStringList& playlistPaths, const QByteArray& token)
        : host_(host), playlists_(playlistPaths.begin(), playlistPaths.end()), prefix_("/" + token + "/")
    {
        for (const QString& path : playlistPaths)
            directories_.insert(path.left(path.lastIndexOf(QLatin1Char('/')) + 1));
        dropTimer_.setSingleShot(true);
        connect(&dropTimer_, &QTimer::timeout, this, [this] { dropAhead(); });
    }

    ~RelayWorker() override
    {
        // Transfers end before the connections they feed, and those before the network stack.
        for (const auto& pending : std::as_const(pending_)) {
            if (pending->reply)
                pending->reply->disconnect(this);
        }
        pending_.clear();
        // Not findChildren: without a meta-object of its own a client is any QObject to it.
        const QObjectList children = this->children();
        for (QObject* child : children)
            delete dynamic_cast<RelayClient*>(child);
        delete server_;
        delete network_;
    }

    quint16 listen()
    {
        network_ = new QNetworkAccessManager(this);
        tls_ = verifiedTlsConfiguration();
        server_ = new QTcpServer(this);
        if (!server_->listen(QHostAddress::LocalHost, 0))
            return 0;
        connect(server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_->nextPendingConnection()) {
                if (!socket->peerAddress().isLoopback()) {
                    socket->abort();
                    socket->deleteLater();
                    continue;
                }
                socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
                new RelayClient(socket, *this);
            }
        });
        return server_->serverPort();
    }

    // Serves `target` (the request's path and query) to `client`: a channel's file or nothing.
    // `opening`: the first request on the connection. The media core opens a stream on new
    // connections and reloads a live playlist on the one it opened it with: a reload always goes to
    // the server, whatever is kept.
    void handle(RelayClient* client, const QByteArray& target, const QByteArray& range, bool opening)
    {
        static const QRegularExpression allowed(
            QStringLiteral(R"(^(/radio_[A-Za-z0-9_-]+/)[A-Za-z0-9_.-]+(\?[A-Za-z0-9_.=&-]*)?$)"));
        const QString rest =
            target.startsWith(prefix_) ? QString::fromLatin1(target.mid(prefix_.size() - 1)) : QString();
        const auto match = allowed.match(rest);
        if (!match.hasMatch() || !directories_.contains(match.captured(1)) || rest.contains(QLatin1String("/.."))) {
            client->fail(404);
            return;
        }
        const bool whole = range.isEmpty() || range == "bytes=0-";
        qCDebug(lcRelay) << "request" << rest
                         << (kept_.contains(rest)      ? "kept"
                             : pending_.contains(rest) ? "pending"
                                                       : "");
        const bool expected = rest == expectedSegment_ && (kept_.contains(rest) || pending_.contains(rest));
        if (whole && playlists_.contains(rest) && !opening)
            startFetch(rest, 0, false)->waiters.emplace_back(client);
        else if (whole && (playlists_.contains(rest) || expected))
            serveBuffered(client, rest);
        else
            client->stream(get(rest, range, 0));
    }

    void fetchAhead()
    {
        dropTimer_.stop();
        // Each playlist at most once per spacing, however often the menu opens; one fetched
        // before that is still fresh when a choice follows within a second.
        for (const QString& path : std::as_const(playlists_)) {
            auto kept = kept_.find(path);
            const bool recent = kept != kept_.end() && Clock::now() - kept->fetched < kAheadSpacing;
            if (!recent && !pendingFor(path))
                startFetch(path, kAheadTimeoutMs, true);
        }
    }

    void dropAheadSoon() { dropTimer_.start(kDropAfterClose); }

    void startAfresh()
    {
        forgetExpectedSegment();
        kept_.clear();
        network_->clearConnectionCache();
    }

    // The listener chose this channel: its playlist, and the segment the media core will ask for
    // first, are fetched now, while the media core is still getting ready.
    void expect(const QString& playlist)
    {
        forgetExpectedSegment();
        expectedPlaylist_ = playlist;
        auto it = kept_.find(playlist);
        if (fresh(playlist))
            fetchSegmentAfter(playlist, it->body);
        else if (!pendingFor(playlist))
            startFetch(playlist, 0, false);
    }

private:
    // A fetch read whole before it is served, shared by every request for the file meanwhile.
    struct Pending {
        QPointer<QNetworkReply> reply;
        Clock::time_point started;
        std::vector<QPointer<RelayClient>> waiters;
        bool ahead = false;
    };
    struct Kept {
        int status = 0;
        QByteArray headers;
        QByteArray body;
        Clock::time_point fetched;
        bool askedFor = false;
    };

    QNetworkReply* get(const QString& path, const QByteArray& range, int timeoutMs)
    {
        QNetworkRequest request(QUrl(QStringLiteral("https://") + host_ + path, QUrl::StrictMode));
        request.setSslConfiguration(tls_);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
        // Qt holds every request to a new https host on one connection until it knows whether the
        // server speaks HTTP/2; over HTTP/1.1 the three playlists fetched ahead then come one round
        // trip after another. Without that wait they come over parallel connections at once.
        request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
        // What the server sends is what the media core gets: no decoding on the way.
        request.setRawHeader("Accept-Encoding", "identity");
        request.setHeader(QNetworkRequest::UserAgentHeader, QByteArray("kovra-radio/" KOVRA_VERSION));
        if (!range.isEmpty())
            request.setRawHeader("Range", range);
        if (timeoutMs > 0)
            request.setTransferTimeout(timeoutMs);
        return network_->get(request);
    }

    bool fresh(const QString& path) const
    {
        auto it = kept_.find(path);
        return it != kept_.end() && Clock::now() - it->fetched < kPlaylistFresh;
    }

    std::shared_ptr<Pending> pendingFor(const QString& path) const
    {
        auto it = pending_.find(path);
        if (it == pending_.end() || !(*it)->reply || Clock::now() - (*it)->started >= kPlaylistFresh)
            return nullptr;
        return *it;
    }

    void serveBuffered(RelayClient* client, const QString& path)
    {
        auto it = kept_.find(path);
        if (it != kept_.end() && Clock::now() - it->fetched < kPlaylistFresh) {
            it->askedFor = true;
            client->respond(it->status, it->headers, it->body);
            // A segment is read once.
            if (path == expectedSegment_)
                forgetExpectedSegment();
            return;
        }
        auto pending = pendingFor(path);
        if (!pending)
            pending = startFetch(path, 0, false);
        pending->waiters.emplace_back(client);
    }

    std::shared_ptr<Pending> startFetch(const QString& path, int timeoutMs, bool ahead)
    {
        auto pending = std::make_shared<Pending>();
        QNetworkReply* reply = get(path, {}, timeoutMs);
        pending->reply = reply;
        pending->started = Clock::now();
        pending->ahead = ahead;
        pending_.insert(path, pending);
        connect(reply, &QNetworkReply::readyRead, reply, [reply] {
            if (reply->bytesAvailable() > kBufferedLimit)
                reply->abort();
        });
        connect(reply, &QNetworkReply::finished, this, [this, path, pending] { fetched(path, *pending); });
        return pending;
    }

    void fetched(const QString& path, Pending& pending)
    {
        QNetworkReply* reply = pending.reply;
        if (!reply)
            return;
        reply->deleteLater();
        auto it = pending_.find(path);
        if (it != pending_.end() && it->get() == &pending)
            pending_.erase(it);
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        const QByteArray body = reply->readAll();
        const bool answered = !transportFailed(reply->error()) && status.isValid() && body.size() <= kBufferedLimit;
        const QByteArray headers = answered ? passedHeaders(*reply) : QByteArray();
        const bool playlist = playlists_.contains(path);
        qCDebug(lcRelay) << path << (pending.ahead ? "ahead" : "asked") << status.toInt() << reply->error();
        for (const auto& waiter : pending.waiters) {
            if (!waiter)
                continue;
            if (answered)
                waiter->respond(status.toInt(), headers, body);
            else
                waiter->fail(502);
        }
        if (!playlist) {
            // The expected segment: kept until asked for, unless someone already was given it.
            if (answered && pending.waiters.empty() && path == expectedSegment_)
                kept_.insert(path, Kept{status.toInt(), headers, body, Clock::now(), false});
            else if (path == expectedSegment_)
                forgetExpectedSegment();
            return;
        }
        if (answered && status.toInt() == 200) {
            kept_.insert(path, Kept{200, headers, body, Clock::now(), !pending.waiters.empty()});
            if (path == expectedPlaylist_ && expectedSegment_.isEmpty())
                fetchSegmentAfter(path, body);
        }
    }

    // The media core starts a live stream three segments before the newest (FFmpeg's
    // live_start_index, set to that in MpvOptions) of the playlist we hand it.
    void fetchSegmentAfter(const QString& playlist, const QByteArray& body)
    {
        expectedPlaylist_.clear();
        if (body.contains("#EXT-X-ENDLIST"))
            return;
        QList<QByteArray> segments;
        for (const QByteArray& line : body.split('\n')) {
            const QByteArray name = line.trimmed();
            if (!name.isEmpty() && !name.startsWith('#'))
                segments << name;
        }
        if (segments.isEmpty())
            return;
        const QByteArray first = segments[std::max<qsizetype>(segments.size() - kLiveStartOffset, 0)];
        static const QRegularExpression plainName(QStringLiteral(R"(^[A-Za-z0-9_-][A-Za-z0-9_.-]*$)"));
        if (!plainName.match(QString::fromLatin1(first)).hasMatch())
            return;
        expectedSegment_ = playlist.left(playlist.lastIndexOf(QLatin1Char('/')) + 1) + QString::fromLatin1(first);
        startFetch(expectedSegment_, kSegmentTimeoutMs, false);
    }

    void forgetExpectedSegment()
    {
        if (expectedSegment_.isEmpty())
            return;
        const QString path = std::exchange(expectedSegment_, QString());
        kept_.remove(path);
        if (auto pending = pending_.take(path); pending && pending->reply && pending->waiters.empty())
            pending->reply->abort();
    }

    // The menu closed without these being asked for: forget them, and stop fetching them.
    void dropAhead()
    {
        for (auto it = kept_.begin(); it != kept_.end();)
            it = (it->askedFor || it.key() == expectedSegment_) ? std::next(it) : kept_.erase(it);
        for (auto it = pending_.begin(); it != pending_.end();) {
            const auto pending = *it;
            if (pending->ahead && pending->waiters.empty()) {
                it = pending_.erase(it);
                if (pending->reply)
                    pending->reply->abort();
            } else {
                ++it;
            }
        }
    }

    QString host_;
    QSet<QString> playlists_;
    QSet<QString> directories_;
    QByteArray prefix_;
    QNetworkAccessManager* network_ = nullptr;
    QTcpServer* server_ = nullptr;
    QSslConfiguration tls_;
    QHash<QString, Kept> kept_;
    QString expectedPlaylist_;
    QString expectedSegment_;
    QHash<QString, std::shared_ptr<Pending>> pending_;
    QTimer dropTimer_;
};

RelayClient::RelayClient(QTcpSocket* socket, RelayWorker& worker) : QObject(&worker), socket_(socket), worker_(worker)
{
    socket_->setParent(this);
    connect(socket_, &QTcpSocket::readyRead, this, &RelayClient::readRequests);
    connect(socket_, &QTcpSocket::bytesWritten, this, [this] {
        if (reply_)
            pump();
    });
    connect(socket_, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    readRequests();
}

void RelayClient::readRequests()
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

void RelayClient::handleRequest()
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

void RelayClient::respond(int status, const QByteArray& headers, const QByteArray& body)
{
    socket_->write("HTTP/1.1 " + QByteArray::number(status) + " Relayed\r\n" + headers
                   + "Content-Length: " + QByteArray::number(body.size())
                   + "\r\nConnection: " + (keepAlive_ ? "keep-alive" : "close") + "\r\n\r\n" + body);
    done();
}

void RelayClient::fail(int status)
{
    keepAlive_ = false;
    respond(status, {}, {});
}

void RelayClient::stream(QNetworkReply* reply)
{
    reply_ = reply;
    headSent_ = false;
    sent_ = 0;
    expected_ = -1;
    reply_->setReadBufferSize(kBacklog);
    connect(reply_, &QNetworkReply::metaDataChanged, this, &RelayClient::sendHead);
    connect(reply_, &QNetworkReply::readyRead, this, &RelayClient::pump);
    connect(reply_, &QNetworkReply::finished, this, &RelayClient::streamFinished);
}

void RelayClient::sendHead()
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

void RelayClient::pump()
{
    sendHead();
    if (!headSent_)
        return;
    while (reply_->bytesAvailable() > 0 && socket_->bytesToWrite() < kBacklog) {
        const QByteArray data = reply_->read(64 * 1024);
        if (chunked_)
            socket_->write(QByteArray::number(data.size(), 16) + "\r\n" + data + "\r\n");
        else
            socket_->write(data);
        sent_ += data.size();
    }
}

void RelayClient::streamFinished()
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

void RelayClient::done()
{
    busy_ = false;
    if (!keepAlive_) {
        socket_->disconnectFromHost();
        return;
    }
    if (in_.contains("\r\n\r\n"))
        QMetaObject::invokeMethod(this, &RelayClient::readRequests, Qt::QueuedConnection);
}

void RelayClient::dropReply()
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

LoopbackHttpRelay::LoopbackHttpRelay(const QString& host, const QStringList& playlistPaths)
    : host_(host), playlistPaths_(playlistPaths)
{
    // Unguessable: other local users cannot read or steer the stream through us.
    quint32 random[4];
    QRandomGenerator::system()->fillRange(random);
    token_ = QByteArray(reinterpret_cast<const char*>(random), sizeof random).toHex();
    thread_.setObjectName(QStringLiteral("kovra-relay"));
}

LoopbackHttpRelay::~LoopbackHttpRelay() { stop(); }

bool LoopbackHttpRelay::ensureRunning()
{
    if (stopped_)
        return false;
    if (worker_)
        return port_ != 0;
    worker_ = new RelayWorker(host_, playlistPaths_, token_);
    worker_->moveToThread(&thread_);
    thread_.start();
    RelayWorker* worker = worker_;
    quint16 port = 0;
    QMetaObject::invokeMethod(
        worker, [worker, &port] { port = worker->listen(); }, Qt::BlockingQueuedConnection);
    port_ = port;
    if (!port_)
        qCWarning(lcRelay) << "cannot listen on the loopback interface; streams go to the server directly";
    return port_ != 0;
}

QString LoopbackHttpRelay::route(const QString& url)
{
    const QUrl parsed(url, QUrl::StrictMode);
    if (parsed.scheme() != QLatin1String("https") || parsed.authority().compare(host_, Qt::CaseInsensitive) != 0
        || !playlistPaths_.contains(parsed.path(QUrl::FullyEncoded)) || parsed.hasQuery() || !ensureRunning())
        return url;
    const QString path = parsed.path(QUrl::FullyEncoded);
    QMetaObject::invokeMethod(
        worker_, [worker = worker_, path] { worker->expect(path); }, Qt::QueuedConnection);
    return QStringLiteral("http://127.0.0.1:%1/%2%3").arg(port_).arg(QString::fromLatin1(token_), path);
}

void LoopbackHttpRelay::menuOpened()
{
    if (!ensureRunning())
        return;
    QMetaObject::invokeMethod(
        worker_, [worker = worker_] { worker->fetchAhead(); }, Qt::QueuedConnection);
}

void LoopbackHttpRelay::menuClosed()
{
    if (worker_ && port_)
        QMetaObject::invokeMethod(
            worker_, [worker = worker_] { worker->dropAheadSoon(); }, Qt::QueuedConnection);
}

void LoopbackHttpRelay::networkChanged()
{
    if (worker_ && port_)
        QMetaObject::invokeMethod(
            worker_, [worker = worker_] { worker->startAfresh(); }, Qt::QueuedConnection);
}

void LoopbackHttpRelay::stop()
{
    stopped_ = true;
    if (!worker_)
        return;
    RelayWorker* worker = std::exchange(worker_, nullptr);
    // Deleted on its own thread, which aborts every transfer and closes every connection.
    QMetaObject::invokeMethod(
        worker, [worker] { delete worker; }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

} // namespace platform::linux_impl
