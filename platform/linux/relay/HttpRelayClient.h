// One local connection to the relay: its requests read one at a time within the head deadline, and
// each answered whole from a fetch read ahead or by streaming the stream host's reply as it comes.
#pragma once

#include "platform/linux/relay/HttpRelayFetch.h"
#include "platform/linux/relay/HttpRelayProtocol.h"

#include <QByteArray>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>

namespace platform::linux_impl {

class HttpRelayClient;

// What a connection asks of the relay that accepted it (the worker, HttpRelayWorker.h).
class HttpRelayServer {
public:
    virtual void handle(HttpRelayClient* client, const RelayRequest& request, bool opening) = 0;
    virtual void clientGone(HttpRelayClient* client) = 0;
    virtual const HttpRelayLimits& limits() const = 0;

protected:
    ~HttpRelayServer() = default;
};

class HttpRelayClient : public QObject {
public:
    HttpRelayClient(QTcpSocket* socket, HttpRelayServer& worker, QObject* parent);
    ~HttpRelayClient() override;

    void respond(int status, const QByteArray& headers, const QByteArray& body);
    void fail(int status);
    // Streams what `fetch` brings (the client owns it from now on); a whole file at `checkedPath` is
    // answered only once its first bytes are known not to be garbage.
    void stream(HttpRelayFetch* fetch, QString checkedPath = {});
    // Drops the connection at once.
    void close();

private:
    void readRequests();
    void handleRequest();
    void sendHead();
    void pump();
    void streamFinished();
    void write(const QByteArray& body);
    void done();
    void dropFetch();

    QTcpSocket* socket_;
    HttpRelayServer& worker_;
    QByteArray in_;
    QTimer headDeadline_{this};
    bool busy_ = false;
    bool closed_ = false;
    int requests_ = 0;
    bool keepAlive_ = true;
    bool http11_ = true;
    HttpRelayFetchHandle fetch_;
    bool headSent_ = false;
    QString checkedPath_;
    bool awaitingStart_ = false;
    bool chunked_ = false;
    qint64 expected_ = -1;
    qint64 sent_ = 0;
};

} // namespace platform::linux_impl
