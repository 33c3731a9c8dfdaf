// A plain-HTTP relay on the loopback interface that serves the media core the channels' playlists
// and segments over warm, verified TLS connections of our own to the stream host, so a channel
// start costs requests, not connection and TLS set-ups; playlists can be fetched ahead while the
// menu is open.
#pragma once

#include "platform/linux/relay/HttpRelayFetch.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QThread>

namespace platform::linux_impl {

class HttpRelayWorker;

class LoopbackHttpRelay : public QObject {
public:
    // `host` is the stream host ("name" or "name:port"); `playlistPaths` the channels' playlists
    // ("/radio_<id>/kovra_<id>.m3u8"): only those and the files beside them are served.
    LoopbackHttpRelay(const QString& host, const QStringList& playlistPaths, const HttpRelayLimits& limits = {});
    ~LoopbackHttpRelay() override;

    // The loopback address serving `url`, or `url` unchanged when it is not one of the channels'
    // streams on the stream host or the relay cannot run. Asked when the listener chose the
    // channel: its playlist and first segment are fetched from then on.
    QString route(const QString& url);
    // A choice in the menu may be coming: fetch the playlists ahead (not their audio).
    void menuOpened();
    // The menu closed: playlists fetched ahead and not asked for are dropped soon after.
    void menuClosed();
    // After a sleep or a change of network the idle connections may lead nowhere: new ones from now
    // on, and no playlist fetched before.
    void networkChanged();
    // Ends every transfer and the relay's thread (without waiting for it); later routes go
    // straight to the stream host.
    void stop();

private:
    bool ensureRunning();
    template <typename Call>
    void post(Call call);

    QString host_;
    QStringList playlistPaths_;
    HttpRelayLimits limits_;
    // Ends by itself once stopped: nobody waits for it.
    QThread* thread_ = nullptr;
    HttpRelayWorker* worker_ = nullptr;
    QByteArray token_;
    quint16 port_ = 0;
    bool stopped_ = false;
};

} // namespace platform::linux_impl
