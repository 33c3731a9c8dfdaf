// The upstream side of the loopback relay: fetches from the stream host over Qt's network stack,
// the playlists kept briefly, and what is fetched ahead of the media core.
#pragma once

#include "platform/linux/HttpRelayClient.h"

#include <QByteArray>
#include <QHash>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTimer>

#include <chrono>
#include <memory>
#include <vector>

namespace platform::linux_impl {

// Listens on 127.0.0.1 for the media core's connections and answers them from the stream host.
class HttpRelayWorker : public QObject {
public:
    HttpRelayWorker(const QString& host, const QStringList& playlistPaths, const QByteArray& token);
    ~HttpRelayWorker() override;

    // Listens on 127.0.0.1 at a port of the system's choosing: that port, or 0 when it cannot.
    quint16 listen();

    // Serves `target` (the request's path and query) to `client`: a channel's file or nothing.
    // `opening`: the first request on the connection. The media core opens a stream on new
    // connections and reloads a live playlist on the one it opened it with: a reload always goes to
    // the server, whatever is kept.
    void handle(HttpRelayClient* client, const QByteArray& target, const QByteArray& range, bool opening);
    void fetchAhead();
    void dropAheadSoon();
    void startAfresh();

    // The listener chose this channel: its playlist, and the segment the media core will ask for
    // first, are fetched now, while the media core is still getting ready.
    void expect(const QString& playlist);

private:
    using Clock = std::chrono::steady_clock;

    // A fetch read whole before it is served, shared by every request for the file meanwhile.
    struct Pending {
        QPointer<QNetworkReply> reply;
        Clock::time_point started;
        std::vector<QPointer<HttpRelayClient>> waiters;
        bool ahead = false;
    };
    struct Kept {
        int status = 0;
        QByteArray headers;
        QByteArray body;
        Clock::time_point fetched;
        bool askedFor = false;
    };

    QNetworkReply* get(const QString& path, const QByteArray& range, int timeoutMs);
    bool fresh(const QString& path) const;
    std::shared_ptr<Pending> pendingFor(const QString& path) const;
    void serveBuffered(HttpRelayClient* client, const QString& path);
    std::shared_ptr<Pending> startFetch(const QString& path, int timeoutMs, bool ahead);
    void fetched(const QString& path, Pending& pending);
    void fetchSegmentAfter(const QString& playlist, const QByteArray& body);
    void forgetExpectedSegment();
    void dropAhead();

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

} // namespace platform::linux_impl
