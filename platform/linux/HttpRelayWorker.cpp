#include "platform/linux/HttpRelayWorker.h"

#include "platform/linux/FeedUpdater.h"
#include "platform/linux/HttpRelayCommon.h"

#include <QNetworkRequest>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QUrl>
#include <QVariant>

#include <algorithm>
#include <iterator>
#include <utility>

namespace platform::linux_impl {

namespace {

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

} // namespace

HttpRelayWorker::HttpRelayWorker(const QString& host, const QStringList& playlistPaths, const QByteArray& token)
    : host_(host), playlists_(playlistPaths.begin(), playlistPaths.end()), prefix_("/" + token + "/")
{
    for (const QString& path : playlistPaths)
        directories_.insert(path.left(path.lastIndexOf(QLatin1Char('/')) + 1));
    dropTimer_.setSingleShot(true);
    connect(&dropTimer_, &QTimer::timeout, this, [this] { dropAhead(); });
}

HttpRelayWorker::~HttpRelayWorker()
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
        delete dynamic_cast<HttpRelayClient*>(child);
    delete server_;
    delete network_;
}

quint16 HttpRelayWorker::listen()
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
            new HttpRelayClient(socket, *this);
        }
    });
    return server_->serverPort();
}

void HttpRelayWorker::handle(HttpRelayClient* client, const QByteArray& target, const QByteArray& range, bool opening)
{
    static const QRegularExpression kAllowed(
        QStringLiteral(R"(^(/radio_[A-Za-z0-9_-]+/)[A-Za-z0-9_.-]+(\?[A-Za-z0-9_.=&-]*)?$)"));
    const QString rest = target.startsWith(prefix_) ? QString::fromLatin1(target.mid(prefix_.size() - 1)) : QString();
    const auto match = kAllowed.match(rest);
    if (!match.hasMatch() || !directories_.contains(match.captured(1)) || rest.contains(QLatin1String("/.."))) {
        client->fail(404);
        return;
    }
    const bool whole = range.isEmpty() || range == "bytes=0-";
    qCDebug(lcRelay) << "request" << rest << (kept_.contains(rest) ? "kept" : pending_.contains(rest) ? "pending" : "");
    const bool expected = rest == expectedSegment_ && (kept_.contains(rest) || pending_.contains(rest));
    if (whole && playlists_.contains(rest) && !opening)
        startFetch(rest, 0, false)->waiters.emplace_back(client);
    else if (whole && (playlists_.contains(rest) || expected))
        serveBuffered(client, rest);
    else
        client->stream(get(rest, range, 0));
}

void HttpRelayWorker::fetchAhead()
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

void HttpRelayWorker::dropAheadSoon() { dropTimer_.start(kDropAfterClose); }

void HttpRelayWorker::startAfresh()
{
    forgetExpectedSegment();
    kept_.clear();
    network_->clearConnectionCache();
}

void HttpRelayWorker::expect(const QString& playlist)
{
    forgetExpectedSegment();
    expectedPlaylist_ = playlist;
    auto it = kept_.find(playlist);
    if (fresh(playlist))
        fetchSegmentAfter(playlist, it->body);
    else if (!pendingFor(playlist))
        startFetch(playlist, 0, false);
}

QNetworkReply* HttpRelayWorker::get(const QString& path, const QByteArray& range, int timeoutMs)
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

bool HttpRelayWorker::fresh(const QString& path) const
{
    auto it = kept_.find(path);
    return it != kept_.end() && Clock::now() - it->fetched < kPlaylistFresh;
}

std::shared_ptr<HttpRelayWorker::Pending> HttpRelayWorker::pendingFor(const QString& path) const
{
    auto it = pending_.find(path);
    if (it == pending_.end() || !(*it)->reply || Clock::now() - (*it)->started >= kPlaylistFresh)
        return nullptr;
    return *it;
}

void HttpRelayWorker::serveBuffered(HttpRelayClient* client, const QString& path)
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

std::shared_ptr<HttpRelayWorker::Pending> HttpRelayWorker::startFetch(const QString& path, int timeoutMs, bool ahead)
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

void HttpRelayWorker::fetched(const QString& path, Pending& pending)
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
void HttpRelayWorker::fetchSegmentAfter(const QString& playlist, const QByteArray& body)
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
    static const QRegularExpression kPlainName(QStringLiteral(R"(^[A-Za-z0-9_-][A-Za-z0-9_.-]*$)"));
    if (!kPlainName.match(QString::fromLatin1(first)).hasMatch())
        return;
    expectedSegment_ = playlist.left(playlist.lastIndexOf(QLatin1Char('/')) + 1) + QString::fromLatin1(first);
    startFetch(expectedSegment_, kSegmentTimeoutMs, false);
}

void HttpRelayWorker::forgetExpectedSegment()
{
    if (expectedSegment_.isEmpty())
        return;
    const QString path = std::exchange(expectedSegment_, QString());
    kept_.remove(path);
    if (auto pending = pending_.take(path); pending && pending->reply && pending->waiters.empty())
        pending->reply->abort();
}

// The menu closed without these being asked for: forget them, and stop fetching them.
void HttpRelayWorker::dropAhead()
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

} // namespace platform::linux_impl
