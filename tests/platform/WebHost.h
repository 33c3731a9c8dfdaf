// A stand-in web host on 127.0.0.1 for the platform tests: over TLS with a throwaway certificate,
// trusted through SSL_CERT_FILE for as long as the host lives, or in plain text. Each request head
// goes to `answer`, which returns the reply, or nothing for a host that hangs.
#pragma once

#include "tests/fixtures/PlatformTestSupport.h"

#include <QProcess>
#include <QSslKey>
#include <QSslServer>
#include <QTcpSocket>

#include <optional>

namespace kovra_test {

// A whole HTTP/1.1 reply: its status line, a length for the body, and any further header lines.
inline QByteArray httpReply(const QByteArray& status, const QByteArray& body, const QByteArray& headers = {})
{
    const QByteArray length = "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    return "HTTP/1.1 " + status + "\r\n" + length + headers + "\r\n" + body;
}

class WebHost : public QObject {
public:
    using Answer = std::function<QByteArray(const QString& path, const QString& head)>;
    enum Transport { Tls, Plain };

    explicit WebHost(Answer answer, Transport transport = Tls)
        : answer_(std::move(answer)), server_(transport == Tls ? new QSslServer(this) : new QTcpServer(this))
    {
        qtApp(); // first, as the host may be a fixture's member, made before its SetUp
        if (auto* server = qobject_cast<QSslServer*>(server_)) {
            const QString cert = dir_.filePath("cert.pem"), key = dir_.filePath("key.pem");
            QProcess::execute("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                          "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1", "-addext",
                                          "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", cert});
            QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
            tls.setLocalCertificate(QSslCertificate::fromPath(cert).value(0));
            tls.setPrivateKey(QSslKey(readFile(key), QSsl::Ec));
            server->setSslConfiguration(tls);
            trust_.emplace("SSL_CERT_FILE", cert.toLocal8Bit());
        }
        server_->listen(QHostAddress::LocalHost);
        connect(server_, &QTcpServer::pendingConnectionAvailable, this, [this] {
            while (QTcpSocket* client = server_->nextPendingConnection())
                serve(client);
        });
    }
    QString authority() const { return QStringLiteral("127.0.0.1:%1").arg(server_->serverPort()); }

    int opened = 0, closed = 0; // connections

private:
    void serve(QTcpSocket* client)
    {
        ++opened;
        connect(client, &QTcpSocket::disconnected, this, [this, client] {
            ++closed;
            client->deleteLater();
        });
        connect(client, &QTcpSocket::readyRead, this, [this, client, in = QByteArray()]() mutable {
            in += client->readAll();
            for (qsizetype end; (end = in.indexOf("\r\n\r\n")) >= 0; in.remove(0, end + 4)) {
                const QString head = QString::fromLatin1(in.left(end));
                client->write(answer_(head.section(u' ', 1, 1), head));
            }
        });
    }

    Answer answer_;
    QTemporaryDir dir_;
    std::optional<ScopedEnv> trust_;
    QTcpServer* server_;
};

} // namespace kovra_test
