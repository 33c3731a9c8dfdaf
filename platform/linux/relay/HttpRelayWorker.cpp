// The relay's thread-side half: its listener and bounds, and how each request is answered.
#include "platform/linux/relay/HttpRelayWorker.h"

#include "platform/linux/relay/HttpRelayCommon.h"
#include "platform/linux/relay/LiveStart.h"

#include <QNetworkRequest>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QVariant>

#include <algorithm>
#include <iterator>
#include <utility>

#include <malloc.h>

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
// A crowd of connections: once they have gone, the memory they held goes back to the system.
constexpr int kCrowd = 32;
// Playlists and the one segment fetched ahead of the media core are read whole, up to this size.
constexpr qint64 kBufferedLimit = qint64(8) << 20;

} // namespace

HttpRelayWorker::HttpRelayWorker(const QString& host, const QStringList& playlistPaths, const QByteArray& token,
                                 const HttpRelayLimits& limits)
    : playlists_(playlistPaths.begin(), playlistPaths.end()), prefix_("/" + token + "/"), limits_(limits),
      upstream_(host, this)
{
    for (const QString& path : playlistPaths)
        directories_.insert(path.left(path.lastIndexOf(QLatin1Char('/')) + 1));
    dropTimer_.setSingleShot(true);
    connect(&dropTimer_, &QTimer::timeout, this, [this] { dropAhead(); });
}

// Transfers end before the connections they feed (clients_ goes first of the members), and those
// before the network stack.
HttpRelayWorker::~HttpRelayWorker() { pending_.clear(); }

void HttpRelayWorker::start(qintptr listening)
{
    server_ = new QTcpServer(this);
    if (!server_->setSocketDescriptor(listening)) {
        qCWarning(lcRelay) << "cannot accept on the loopback interface:" << server_->errorString();
        return;
    }
    connect(server_, &QTcpServer::newConnection, this, &HttpRelayWorker::accept);
}

void HttpRelayWorker::accept()
{
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        if (!socket->peerAddress().isLoopback()) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // At the cap the longest-waiting stranger makes room; with none, the newcomer is turned away.
        while (connections_ >= limits_.maxConnections && !strangers_.empty()) {
            const QPointer<HttpRelayClient> oldest = strangers_.front();
            strangers_.pop_front();
            if (oldest)
                oldest->close();
        }
        if (connections_ >= limits_.maxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        peak_ = std::max(peak_, ++connections_);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        strangers_.emplace_back(new HttpRelayClient(socket, *this, &clients_));
    }
}

void HttpRelayWorker::clientGone(HttpRelayClient* client)
{
    --connections_;
    strangers_.remove(client);
    // Freed, the crowd's buffers would stay with the process: the allocator keeps what it had.
    if (peak_ >= kCrowd && connections_ <= kCrowd / 8) {
        peak_ = connections_;
        malloc_trim(0);
    }
    // A fetch nobody waits for any more is given up, unless it is one we keep for later.
    const auto all = pending_;
    for (const auto& pending : all) {
        auto& waiters = pending->waiters;
        const bool waited = !waiters.empty();
        waiters.erase(std::remove(waiters.begin(), waiters.end(), client), waiters.end());
        if (waited && waiters.empty() && !pending->ahead && pending->path != expectedSegment_)
            drop(pending);
    }
}

void HttpRelayWorker::handle(HttpRelayClient* client, const RelayRequest& request, bool opening)
{
    if (request.target.startsWith(prefix_))
        strangers_.remove(client);
    const QString rest = relayedPath(request.target, prefix_, directories_);
    if (rest.isEmpty()) {
        client->fail(404);
        return;
    }
    const QByteArray& range = request.range;
    const bool whole = range.isEmpty() || range == "bytes=0-";
    qCDebug(lcRelay) << "request" << rest << (kept_.contains(rest) ? "kept" : pendingFor(rest) ? "pending" : "");
    const bool expected = rest == expectedSegment_ && (kept_.contains(rest) || pendingFor(rest));
    if (whole && playlists_.contains(rest) && !opening)
        startFetch(rest, false)->waiters.emplace_back(client);
    else if (whole && (playlists_.contains(rest) || expected))
        serveBuffered(client, rest);
    else
        client->stream(new HttpRelayFetch(upstream_, limits_, rest, range, false, nullptr), whole ? rest : QString());
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
            startFetch(path, true);
    }
}

void HttpRelayWorker::dropAheadSoon() { dropTimer_.start(kDropAfterClose); }

void HttpRelayWorker::startAfresh()
{
    forgetExpectedSegment();
    kept_.clear();
    upstream_.startAfresh();
}

void HttpRelayWorker::expect(const QString& playlist)
{
    forgetExpectedSegment();
    expectedPlaylist_ = playlist;
    auto it = kept_.find(playlist);
    if (fresh(playlist))
        fetchSegmentAfter(playlist, it->body);
    else if (!pendingFor(playlist))
        startFetch(playlist, false);
}

bool HttpRelayWorker::fresh(const QString& path) const
{
    auto it = kept_.find(path);
    return it != kept_.end() && Clock::now() - it->fetched < kPlaylistFresh;
}

std::shared_ptr<HttpRelayWorker::Pending> HttpRelayWorker::pendingFor(const QString& path) const
{
    // The latest fetch of the file, while it is young enough to wait for.
    const auto latest =
        std::find_if(pending_.rbegin(), pending_.rend(), [&](const auto& p) { return p->path == path; });
    return latest != pending_.rend() && Clock::now() - (*latest)->started < kPlaylistFresh ? *latest : nullptr;
}

void HttpRelayWorker::drop(const std::shared_ptr<Pending>& pending)
{
    pending_.erase(std::remove(pending_.begin(), pending_.end(), pending), pending_.end());
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
        pending = startFetch(path, false);
    pending->waiters.emplace_back(client);
}

std::shared_ptr<HttpRelayWorker::Pending> HttpRelayWorker::startFetch(const QString& path, bool ahead)
{
    auto pending = std::make_shared<Pending>();
    pending->path = path;
    pending->fetch.reset(new HttpRelayFetch(upstream_, limits_, path, QByteArray(), ahead, this));
    pending->started = Clock::now();
    pending->ahead = ahead;
    // An earlier fetch of the same file is not waited for again: its waiters stay with it.
    pending_.push_back(pending);
    HttpRelayFetch* fetch = pending->fetch.get();
    std::weak_ptr<Pending> weak = pending;
    connect(fetch, &HttpRelayFetch::readyRead, this, [this, path, weak, fetch] {
        if (fetch->reply()->bytesAvailable() <= kBufferedLimit)
            return;
        qCDebug(lcRelay) << path << "larger than we read whole";
        if (auto held = weak.lock()) {
            for (const auto& waiter : held->waiters) {
                if (waiter)
                    waiter->fail(502);
            }
            held->waiters.clear();
            drop(held);
        }
    });
    connect(fetch, &HttpRelayFetch::finished, this, [this, path, weak] {
        if (auto held = weak.lock())
            fetched(held);
    });
    return pending;
}

void HttpRelayWorker::fetched(const std::shared_ptr<Pending>& pending)
{
    drop(pending);
    const QString& path = pending->path;
    const HttpRelayFetch& fetch = *pending->fetch;
    QNetworkReply* reply = fetch.reply();
    const QVariant status = reply ? reply->attribute(QNetworkRequest::HttpStatusCodeAttribute) : QVariant();
    // Only a reply that answered and ended whole is read; one given up on is never touched again.
    const bool answered = reply && reply->isFinished() && !transportFailed(reply->error()) && status.isValid()
                          && reply->bytesAvailable() <= kBufferedLimit;
    const QByteArray body = answered ? reply->readAll() : QByteArray();
    // Garbage for a segment is no answer: the media core fails it at once.
    const bool served = answered && !lyingSegment(path, status.toInt(), body);
    const QByteArray headers = answered ? passedHeaders(*reply) : QByteArray();
    const int failure = fetch.timedOut() ? 504 : 502;
    const bool playlist = playlists_.contains(path);
    qCDebug(lcRelay) << path << (pending->ahead ? "ahead" : "asked") << status.toInt()
                     << (reply ? reply->error() : QNetworkReply::UnknownNetworkError);
    for (const auto& waiter : pending->waiters) {
        if (!waiter)
            continue;
        if (served)
            waiter->respond(status.toInt(), headers, body);
        else
            waiter->fail(failure);
    }
    const bool waited = !pending->waiters.empty();
    pending->waiters.clear();
    if (!playlist) {
        // The expected segment: kept until asked for, unless someone already was given it.
        if (served && !waited && path == expectedSegment_)
            kept_.insert(path, Kept{status.toInt(), headers, body, Clock::now(), false});
        else if (path == expectedSegment_)
            forgetExpectedSegment();
        return;
    }
    if (answered && status.toInt() == 200) {
        kept_.insert(path, Kept{200, headers, body, Clock::now(), waited});
        if (path == expectedPlaylist_ && expectedSegment_.isEmpty())
            fetchSegmentAfter(path, body);
    }
}

// The media core starts a live stream kLiveStartSegments before the newest of the playlist we hand
// it: that segment is the one it asks for first.
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
    const QByteArray first = segments[std::max<qsizetype>(segments.size() - kLiveStartSegments, 0)];
    static const QRegularExpression kPlainName(QStringLiteral(R"(^[A-Za-z0-9_-][A-Za-z0-9_.-]*$)"));
    if (!kPlainName.match(QString::fromLatin1(first)).hasMatch())
        return;
    expectedSegment_ = playlist.left(playlist.lastIndexOf(QLatin1Char('/')) + 1) + QString::fromLatin1(first);
    startFetch(expectedSegment_, false);
}

void HttpRelayWorker::forgetExpectedSegment()
{
    if (expectedSegment_.isEmpty())
        return;
    const QString path = std::exchange(expectedSegment_, QString());
    kept_.remove(path);
    const auto all = pending_;
    for (const auto& pending : all) {
        if (pending->path == path && pending->waiters.empty())
            drop(pending);
    }
}

// The menu closed without these being asked for: forget them, and stop fetching them.
void HttpRelayWorker::dropAhead()
{
    for (auto it = kept_.begin(); it != kept_.end();)
        it = (it->askedFor || it.key() == expectedSegment_) ? std::next(it) : kept_.erase(it);
    std::erase_if(pending_, [](const auto& pending) { return pending->ahead && pending->waiters.empty(); });
}

} // namespace platform::linux_impl
