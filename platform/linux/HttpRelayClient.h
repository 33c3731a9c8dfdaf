#pragma once

#include <QByteArray>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>

namespace platform::linux_impl {

class HttpRelayWorker;

// One connection of the media core: requests one at a time, each answered from a playlist
// fetch or by streaming the server's reply.
class HttpRelayClient : public QObject {
public:
    HttpRelayClient(QTcpSocket* socket, HttpRelayWorker& worker);
    ~HttpRelayClient() override { dropReply(); }

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
    HttpRelayWorker& worker_;
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

} // namespace platform::linux_impl
