// Whom our TLS clients trust, by one rule: a CA bundle named by SSL_CERT_FILE is trusted instead
// of the system's authorities, as OpenSSL's own clients read it; otherwise the system's. Peer
// verification is never off.
#pragma once

#include <QByteArray>
#include <QSslConfiguration>

namespace platform::linux_impl {

// For Qt's https clients (the update feed, the relay's fetches).
QSslConfiguration verifiedTlsConfiguration();

// For clients that take a bundle by its file name (libmpv's tls-ca-file): the bundle to trust
// instead of the system's authorities; empty when the environment names none.
QByteArray trustedCaFile();

} // namespace platform::linux_impl
