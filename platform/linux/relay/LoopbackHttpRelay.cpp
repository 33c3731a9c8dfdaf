// The loopback relay between the media core and the stream host. It runs on a thread of its own
// (it does network I/O), listens on 127.0.0.1 only, and answers only under a random path prefix
// the media core is told. What the server does reaches the media core as it was: an HTTP error as
// that error, a cut transfer as a cut, a hang as a hang until the relay gives up on it. Only
// playlists are held, briefly.
#include "platform/linux/relay/LoopbackHttpRelay.h"

#include "platform/linux/relay/HttpRelayCommon.h"
#include "platform/linux/relay/HttpRelayWorker.h"

#include <QDeadlineTimer>
#include <QMetaObject>
#include <QRandomGenerator>
#include <QUrl>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>

namespace platform::linux_impl {

namespace {

// What stopping waits for the relay's thread to end.
constexpr int kStopWaitMs = 800;

// A socket listening on 127.0.0.1 at a port of the system's choosing: (socket, port), or (-1, 0).
std::pair<int, quint16> listenOnLoopback()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {-1, 0};
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(fd, SOMAXCONN) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        ::close(fd);
        return {-1, 0};
    }
    return {fd, ntohs(address.sin_port)};
}

} // namespace

LoopbackHttpRelay::LoopbackHttpRelay(const QString& host, const QStringList& playlistPaths,
                                     const HttpRelayLimits& limits)
    : host_(host), playlistPaths_(playlistPaths), limits_(limits)
{
    // Unguessable: other local users cannot read or steer the stream through us.
    quint32 random[4];
    QRandomGenerator::system()->fillRange(random);
    token_ = QByteArray(reinterpret_cast<const char*>(random), sizeof random).toHex();
}

LoopbackHttpRelay::~LoopbackHttpRelay() { stop(); }

template <typename Call>
void LoopbackHttpRelay::post(Call call)
{
    if (worker_)
        QMetaObject::invokeMethod(
            worker_, [worker = worker_, call] { call(*worker); }, Qt::QueuedConnection);
}

bool LoopbackHttpRelay::ensureRunning()
{
    if (stopped_)
        return false;
    if (worker_)
        return true;
    const auto [listening, port] = listenOnLoopback();
    const int fd = listening;
    if (fd < 0) {
        qCWarning(lcRelay) << "cannot listen on the loopback interface; streams go to the server directly";
        stopped_ = true;
        return false;
    }
    port_ = port;
    thread_ = new QThread;
    thread_->setObjectName(QStringLiteral("kovra-relay"));
    worker_ = new HttpRelayWorker(host_, playlistPaths_, token_, limits_);
    worker_->moveToThread(thread_);
    QObject::connect(thread_, &QThread::finished, worker_, &QObject::deleteLater);
    QObject::connect(thread_, &QThread::finished, thread_, &QObject::deleteLater);
    thread_->start();
    post([fd](HttpRelayWorker& worker) { worker.start(fd); });
    return true;
}

QString LoopbackHttpRelay::route(const QString& url)
{
    const QUrl parsed(url, QUrl::StrictMode);
    if (parsed.scheme() != QLatin1String("https") || parsed.authority().compare(host_, Qt::CaseInsensitive) != 0
        || !playlistPaths_.contains(parsed.path(QUrl::FullyEncoded)) || parsed.hasQuery() || !ensureRunning())
        return url;
    const QString path = parsed.path(QUrl::FullyEncoded);
    post([path](HttpRelayWorker& worker) { worker.expect(path); });
    return QStringLiteral("http://127.0.0.1:%1/%2%3").arg(port_).arg(QString::fromLatin1(token_), path);
}

void LoopbackHttpRelay::menuOpened()
{
    if (ensureRunning())
        post([](HttpRelayWorker& worker) { worker.fetchAhead(); });
}

void LoopbackHttpRelay::menuClosed()
{
    post([](HttpRelayWorker& worker) { worker.dropAheadSoon(); });
}

void LoopbackHttpRelay::networkChanged()
{
    post([](HttpRelayWorker& worker) { worker.startAfresh(); });
}

void LoopbackHttpRelay::stop()
{
    stopped_ = true;
    if (!worker_)
        return;
    worker_ = nullptr;
    // The worker is deleted on its own thread once that thread's loop has ended, which aborts every
    // transfer and closes every connection; then the thread object goes too. Waited for briefly,
    // so that at quit nothing of ours runs on past the application; a thread that does not end in
    // time deletes itself later, or ends with the process.
    thread_->quit();
    if (thread_->wait(QDeadlineTimer(kStopWaitMs)))
        delete thread_;
    thread_ = nullptr;
}

} // namespace platform::linux_impl
