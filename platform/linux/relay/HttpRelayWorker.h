// The relay's thread-side half: the listener on 127.0.0.1 and its bounds, the fetches from the
// stream host, the playlists kept briefly, and what is fetched ahead of the media core.
#pragma once

#include "platform/linux/relay/HttpRelayClient.h"
#include "platform/linux/relay/HttpRelayFetch.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTimer>

#include <chrono>
#include <list>
#include <memory>
#include <vector>

namespace platform::linux_impl {

// Answers the media core's connections from the stream host.
class HttpRelayWorker : public QObject, public HttpRelayServer {
public:
    HttpRelayWorker(const QString& host, const QStringList& playlistPaths, const QByteArray& token,
                    const HttpRelayLimits& limits);
    ~HttpRelayWorker() override;

    // Accepts connections on `listening`, a socket already listening on 127.0.0.1 (made on the
    // caller's thread, so that it knows the port without waiting for this one).
    void start(qintptr listening);

    // Serves `request` to `client`: a channel's file or nothing. `opening`: the first request on the
    // connection. The media core opens a stream on new connections and reloads a live playlist on
    // the one it opened it with: a reload always goes to the server, whatever is kept.
    void handle(HttpRelayClient* client, const RelayRequest& request, bool opening) override;
    // The connection has gone: what was fetched only for it is not fetched any more.
    void clientGone(HttpRelayClient* client) override;
    const HttpRelayLimits& limits() const override { return limits_; }
    HttpRelayUpstream& upstream() { return upstream_; }

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
        QString path;
        HttpRelayFetchHandle fetch;
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

    void accept();
    bool fresh(const QString& path) const;
    std::shared_ptr<Pending> pendingFor(const QString& path) const;
    void serveBuffered(HttpRelayClient* client, const QString& path);
    std::shared_ptr<Pending> startFetch(const QString& path, bool ahead);
    void fetched(const std::shared_ptr<Pending>& pending);
    void drop(const std::shared_ptr<Pending>& pending);
    void fetchSegmentAfter(const QString& playlist, const QByteArray& body);
    void forgetExpectedSegment();
    void dropAhead();

    QSet<QString> playlists_;
    QSet<QString> directories_;
    QByteArray prefix_;
    HttpRelayLimits limits_;
    HttpRelayUpstream upstream_;
    QTcpServer* server_ = nullptr;
    QHash<QString, Kept> kept_;
    QString expectedPlaylist_;
    QString expectedSegment_;
    // Oldest first; a later fetch of a file is the one new requests wait for.
    std::vector<std::shared_ptr<Pending>> pending_;
    QTimer dropTimer_{this};
    int connections_ = 0;
    int peak_ = 0;
    // Connections that have not yet shown the secret path, oldest first: the first to make room.
    std::list<QPointer<HttpRelayClient>> strangers_;
    // Last, so its connections go first, while what they refer to is still there.
    QObject clients_{this};
};

} // namespace platform::linux_impl
