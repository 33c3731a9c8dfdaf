// The loopback relay between the media core and the stream host. It runs on a thread of its own
// (it does network I/O), listens on 127.0.0.1 only, and answers only under a random path prefix
// the media core is told. What the server does reaches the media core as it was: an HTTP error as
// that error, a cut transfer as a cut, a hang as a hang. Only playlists are held, briefly.
#include "platform/linux/LoopbackHttpRelay.h"

#include "platform/linux/HttpRelayCommon.h"
#include "platform/linux/HttpRelayWorker.h"

#include <QMetaObject>
#include <QRandomGenerator>
#include <QUrl>

#include <utility>

namespace platform::linux_impl {

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
    worker_ = new HttpRelayWorker(host_, playlistPaths_, token_);
    worker_->moveToThread(&thread_);
    thread_.start();
    HttpRelayWorker* worker = worker_;
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
    HttpRelayWorker* worker = std::exchange(worker_, nullptr);
    // Deleted on its own thread, which aborts every transfer and closes every connection.
    QMetaObject::invokeMethod(
        worker, [worker] { delete worker; }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

} // namespace platform::linux_impl
