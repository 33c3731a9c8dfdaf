// The relay's fetches from the stream host: each asked again on a fresh connection while the host
// does not answer, and given up when it makes no progress, so a hung host never holds the media
// core's requests (or Qt's few connections per host) for longer than a few seconds.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QString>
#include <QTimer>

#include <chrono>
#include <memory>
#include <vector>

namespace platform::linux_impl {

// What the relay allows its peers: the stream host on one side, local connections on the other.
struct HttpRelayLimits {
    // No answer for this long: the request goes out again on a fresh connection, the first kept.
    std::chrono::milliseconds retryAfter{2500};
    // No progress for this long (no bytes, no handshake step): the fetch is given up.
    std::chrono::milliseconds stall{8000};
    // A connection sends a whole request head within this long of its first byte (or of its opening).
    std::chrono::milliseconds head{5000};
    // Connections at once; at the cap, those that have not shown the secret path make room first.
    int maxConnections = 128;
};

// The stream host's connections: one network stack at a time; after a hang a new one, so the next
// requests do not go out on connections that may lead nowhere.
class HttpRelayUpstream : public QObject {
public:
    HttpRelayUpstream(QString host, QObject* parent) : QObject(parent), host_(std::move(host)) {}

    // A GET of `path` on the stream host; `range` as the media core asked (or empty).
    QNetworkReply* get(const QString& path, const QByteArray& range, bool ahead);
    // Later requests open new connections; transfers under way go on.
    void startAfresh();

private:
    QString host_;
    bool haveTls_ = false;
    QSslConfiguration tls_;
    QNetworkAccessManager* network_ = nullptr;
    QHash<QNetworkAccessManager*, int> transfers_;
};

// One file fetched for the relay, over one or more attempts until one answers.
class HttpRelayFetch : public QObject {
    Q_OBJECT
public:
    HttpRelayFetch(HttpRelayUpstream& upstream, const HttpRelayLimits& limits, QString path, QByteArray range,
                   bool ahead, QObject* parent);
    ~HttpRelayFetch() override;

    // The attempt whose answer came, once it has (its status and headers are in).
    QNetworkReply* reply() const { return winner_; }
    // Ended without an answer because the host made no progress.
    bool timedOut() const { return timedOut_; }
    // Ended: answered and read to the end, refused, or given up.
    bool isFinished() const { return finished_; }
    // Given up from outside: no more attempts, no more signals, deleted soon.
    void dispose();

Q_SIGNALS:
    void answered();
    void readyRead();
    void finished();

private:
    void attempt();
    void win(QNetworkReply* reply);
    void progressed();
    void checkProgress();
    void attemptFinished(QNetworkReply* reply);
    void end(bool timedOut);
    void abandon(QNetworkReply* reply);

    HttpRelayUpstream& upstream_;
    HttpRelayLimits limits_;
    QString path_;
    QByteArray range_;
    bool ahead_;
    std::vector<QPointer<QNetworkReply>> attempts_;
    QPointer<QNetworkReply> winner_;
    QTimer watchdog_{this};
    std::chrono::steady_clock::time_point lastProgress_;
    bool sent_ = false;
    bool timedOut_ = false;
    bool finished_ = false;
};

// Owns a fetch that may be dropped from inside one of its own signals: it is silenced at once and
// deleted once that signal has returned.
struct HttpRelayFetchDeleter {
    void operator()(HttpRelayFetch* fetch) const { fetch->dispose(); }
};
using HttpRelayFetchHandle = std::unique_ptr<HttpRelayFetch, HttpRelayFetchDeleter>;

} // namespace platform::linux_impl
