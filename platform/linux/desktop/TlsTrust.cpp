// The one trust rule for Qt's TLS and for libmpv's.
#include "platform/linux/desktop/TlsTrust.h"

#include <QSslCertificate>
#include <QtGlobal>

namespace platform::linux_impl {

QByteArray trustedCaFile() { return qgetenv("SSL_CERT_FILE"); }

QSslConfiguration verifiedTlsConfiguration()
{
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    const QByteArray bundle = trustedCaFile();
    if (!bundle.isEmpty()) {
        // A bundle that cannot be read trusts no one: falling back to the system's authorities
        // would trust what the environment asked us not to.
        const auto certificates = QSslCertificate::fromPath(QString::fromLocal8Bit(bundle), QSsl::Pem,
                                                            QSslCertificate::PatternSyntax::FixedString);
        tls.setCaCertificates(certificates);
    }
    return tls;
}

} // namespace platform::linux_impl
