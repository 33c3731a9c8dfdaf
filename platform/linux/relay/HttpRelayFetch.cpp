// Fetches from the stream host for the relay: attempts, their deadlines, and fresh connections after a hang.
#include "platform/linux/relay/HttpRelayFetch.h"

#include "platform/linux/desktop/AppIdentity.h"
#include "platform/linux/desktop/TlsTrust.h"
#include "platform/linux/relay/HttpRelayCommon.h"

#include <QNetworkRequest>
#include <QUrl>
#include <QVariant>

#include <algorithm>

namespace platform::linux_impl {

namespace {

// Attempts of one fetch alive at once; an older one still in the race may yet answer first.
constexpr size_t kMaxAttempts = 3;

} // namespace

QNetworkReply* HttpRelayUpstream::get(const QString& path, const QByteArray& range, bool ahead)
{
    if (!haveTls_) {
        // Built on the relay's thread, at its first fetch: reading the system's authorities takes a while.
        tls_ = verifiedTlsConfiguration();
        haveTls_ = true;
    }
    if (!network_)
        network_ = new QNetworkAccessManager(this);
    QNetworkRequest request(QUrl(QStringLiteral("https://") + host_ + path, QUrl::StrictMode));
    request.setSslConfiguration(tls_);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    // Qt holds every request to a new https host on one connection until it knows whether the
    // server speaks HTTP/2; over HTTP/1.1 the three playlists fetched ahead then come one round
    // trip after another. Without that wait they come over parallel connections at once.
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    // What the media core waits for goes before what is fetched in case it is wanted.
    request.setPriority(ahead ? QNetworkRequest::LowPriority : QNetworkRequest::HighPriority);
    // What the server sends is what the media core gets: no decoding on the way.
    request.setRawHeader("Accept-Encoding", "identity");
    request.setHeader(QNetworkRequest::UserAgentHeader, AppIdentity::userAgent());
    if (!range.isEmpty())
        request.setRawHeader("Range", range);
    QNetworkAccessManager* network = network_;
    QNetworkReply* reply = network->get(request);
    ++transfers_[network];
    // A retired network stack goes once its last transfer has.
    connect(reply, &QObject::destroyed, this, [this, network] {
        if (--transfers_[network] == 0 && network != network_) {
            transfers_.remove(network);
            network->deleteLater();
        }
    });
    return reply;
}

void HttpRelayUpstream::startAfresh()
{
    if (!network_)
        return;
    QNetworkAccessManager* old = std::exchange(network_, nullptr);
    if (transfers_.value(old) == 0) {
        transfers_.remove(old);
        old->deleteLater();
    }
}

HttpRelayFetch::HttpRelayFetch(HttpRelayUpstream& upstream, const HttpRelayLimits& limits, QString path,
                               QByteArray range, bool ahead, QObject* parent)
    : QObject(parent), upstream_(upstream), limits_(limits), path_(std::move(path)), range_(std::move(range)),
      ahead_(ahead)
{
    watchdog_.setSingleShot(true);
    connect(&watchdog_, &QTimer::timeout, this, &HttpRelayFetch::checkProgress);
    attempt();
}

HttpRelayFetch::~HttpRelayFetch()
{
    for (const auto& reply : attempts_) {
        if (reply)
            abandon(reply);
    }
}

void HttpRelayFetch::dispose()
{
    watchdog_.stop();
    disconnect();
    for (const auto& reply : attempts_) {
        if (reply)
            abandon(reply);
    }
    attempts_.clear();
    winner_ = nullptr;
    deleteLater();
}

void HttpRelayFetch::abandon(QNetworkReply* reply)
{
    // Nothing of an abandoned reply is read again. It is not aborted: an error the network thread
    // has already sent would reach it after the abort's own and fail it a second time. Its
    // destruction stops the transfer instead, and drops whatever the thread still sends it.
    reply->disconnect(this);
    reply->deleteLater();
}

void HttpRelayFetch::attempt()
{
    QNetworkReply* reply = upstream_.get(path_, range_, ahead_);
    const bool first = attempts_.empty();
    attempts_.emplace_back(reply);
    // Until an answer comes, the first attempt's steps are the host's progress: a later attempt's
    // handshake says nothing of whether the host answers requests.
    if (first) {
        for (auto signal : {&QNetworkReply::socketStartedConnecting, &QNetworkReply::encrypted})
            connect(reply, signal, this, &HttpRelayFetch::progressed);
        connect(reply, &QNetworkReply::requestSent, this, [this] {
            sent_ = true;
            progressed();
        });
    }
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] {
        if (!winner_ && reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
            win(reply);
        if (reply == winner_)
            progressed();
    });
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] {
        if (reply != winner_)
            return;
        progressed();
        Q_EMIT readyRead();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { attemptFinished(reply); });
    if (first)
        progressed();
}

void HttpRelayFetch::win(QNetworkReply* reply)
{
    // The first answer wins; the other attempts are no longer needed.
    winner_ = reply;
    for (const auto& other : attempts_) {
        if (other && other != reply)
            abandon(other);
    }
    attempts_.assign({winner_});
    Q_EMIT answered();
}

void HttpRelayFetch::progressed()
{
    lastProgress_ = std::chrono::steady_clock::now();
    watchdog_.start(winner_ ? limits_.stall : std::min(limits_.stall, limits_.retryAfter));
}

void HttpRelayFetch::checkProgress()
{
    using std::chrono::milliseconds;
    const auto quiet = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - lastProgress_);
    // Bytes in hand that the reader takes no more of for now (a paused media core with a full cache):
    // it is the reader that waits, not the host that stalls.
    if (winner_ && winner_->readBufferSize() > 0 && winner_->bytesAvailable() > 0) {
        progressed();
        return;
    }
    if (quiet >= limits_.stall) {
        qCDebug(lcRelay) << path_ << "no progress: given up";
        // The connections it went out on may all lead nowhere now.
        upstream_.startAfresh();
        end(true);
        return;
    }
    watchdog_.start(std::min(limits_.stall - quiet, winner_ ? limits_.stall : limits_.retryAfter));
    // Asked, and no answer yet: asked again on a fresh connection, the first attempt kept in the
    // race (its answer may be on the way) and the oldest of the others making room.
    if (winner_ || !sent_)
        return;
    qCDebug(lcRelay) << path_ << "no answer yet: asked again";
    attempts_.erase(std::remove(attempts_.begin(), attempts_.end(), nullptr), attempts_.end());
    if (attempts_.size() >= kMaxAttempts) {
        abandon(attempts_[1]);
        attempts_.erase(attempts_.begin() + 1);
    }
    upstream_.startAfresh();
    attempt();
}

void HttpRelayFetch::attemptFinished(QNetworkReply* reply)
{
    if (reply == winner_) {
        end(false);
        return;
    }
    const bool hasStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
    attempts_.erase(std::remove(attempts_.begin(), attempts_.end(), reply), attempts_.end());
    if (hasStatus && !winner_) {
        // Answered and ended in one go (metaDataChanged came with finished).
        attempts_.emplace_back(reply);
        win(reply);
        end(false);
        return;
    }
    // Refused, reset, a certificate not trusted: an error the media core is told of, unless
    // another attempt is still under way.
    reply->disconnect(this);
    reply->deleteLater();
    attempts_.erase(std::remove(attempts_.begin(), attempts_.end(), nullptr), attempts_.end());
    if (attempts_.empty())
        end(false);
}

void HttpRelayFetch::end(bool timedOut)
{
    if (finished_)
        return;
    finished_ = true;
    timedOut_ = timedOut;
    watchdog_.stop();
    if (timedOut) {
        for (const auto& reply : attempts_) {
            if (reply)
                abandon(reply);
        }
        attempts_.clear();
        winner_ = nullptr;
    }
    Q_EMIT finished();
}

} // namespace platform::linux_impl
