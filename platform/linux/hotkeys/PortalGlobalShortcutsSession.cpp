// The portal session's life: the app's registration, the probe of the portal, the session dropped
// when the portal goes, and the request and session closed at quit; and the one warning of lost keys.
#include "platform/linux/hotkeys/PortalGlobalShortcuts.h"

#include "platform/linux/desktop/AppIdentity.h"
#include "platform/linux/hotkeys/PortalAnswers.h"

#include <QDBusPendingCallWatcher>
#include <QDeadlineTimer>

#include <algorithm>

namespace platform::linux_impl {

using namespace portal;

namespace {

constexpr int kMaxRetryDelayMs = 60000;
// What quitting may wait for the portal to close our dialogs and session, all of them together.
constexpr int kCloseTimeoutMs = 500;

} // namespace

PortalGlobalShortcuts::~PortalGlobalShortcuts() { close(); }

void PortalGlobalShortcuts::close()
{
    // A dialog still asking the user about our shortcuts goes with us, and so does the session;
    // waited for (briefly, under one deadline however many there are), as the process may end
    // right after. Past the deadline the rest are sent without waiting.
    const QDeadlineTimer deadline(kCloseTimeoutMs);
    const auto closeObject = [this, &deadline](const QString& path, const QString& interface) {
        const auto call = QDBusMessage::createMethodCall(kService, path, interface, QStringLiteral("Close"));
        if (deadline.hasExpired())
            bus_.send(call);
        else
            bus_.call(call, QDBus::Block, int(std::max<qint64>(1, deadline.remainingTime())));
    };
    for (const auto& entry : pending_)
        closeObject(entry.first, kRequestInterface);
    if (!session_.isEmpty())
        closeObject(session_, kSessionInterface);
    dropSession(false);
    retry_.stop();
    closed_ = true;
}

void PortalGlobalShortcuts::start()
{
    if (closed_ || creating_ || !session_.isEmpty())
        return;
    creating_ = true;
    const unsigned generation = ++generation_;
    // A portal takes one registration per connection: a second one is refused.
    if (registered_) {
        probe(generation);
        return;
    }
    // From 1.19 the portal learns who an unsandboxed app is from this, its first call; older
    // portals have no registry and answer with an error, which changes nothing.
    auto registration = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.host.portal.Registry"), QStringLiteral("Register"));
    registration << AppIdentity::id() << QVariantMap();
    auto* registered = new QDBusPendingCallWatcher(bus_.asyncCall(registration), this);
    connect(registered, &QDBusPendingCallWatcher::finished, this, [this, generation](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        if (generation != generation_)
            return;
        const auto error = call->error().type();
        if (!call->isError())
            registered_ = true;
        // Older portals have no registry, and a portal that is not there says nothing of us;
        // any other refusal leaves the desktop without our id.
        else if (error != QDBusError::UnknownMethod && error != QDBusError::UnknownInterface
                 && error != QDBusError::UnknownObject && error != QDBusError::ServiceUnknown
                 && error != QDBusError::NoReply && error != QDBusError::Timeout && error != QDBusError::Disconnected)
            warnOnce(QStringLiteral("the desktop cannot tell which app this is (%1)").arg(call->error().message()));
        probe(generation);
    });
}

void PortalGlobalShortcuts::probe(unsigned generation)
{
    auto probe = QDBusMessage::createMethodCall(kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                QStringLiteral("Get"));
    probe << kInterface << QStringLiteral("version");
    auto* probed = new QDBusPendingCallWatcher(bus_.asyncCall(probe), this);
    connect(probed, &QDBusPendingCallWatcher::finished, this, [this, generation](QDBusPendingCallWatcher* answer) {
        answer->deleteLater();
        if (generation != generation_)
            return;
        creating_ = false;
        const QDBusMessage reply = answer->reply();
        if (answer->isError() || !portalVersion(reply.arguments().value(0))) {
            if (!probed_)
                Q_EMIT unavailable(
                    QStringLiteral("the desktop portal offers no GlobalShortcuts: %1").arg(answer->error().message()));
            else
                dropSession(true);
            return;
        }
        probed_ = true;
        createSession();
    });
}

void PortalGlobalShortcuts::warnOnce(const QString& what)
{
    if (warned_)
        return;
    warned_ = true;
    qWarning("kovra-radio: %s, so the global shortcuts may do nothing on this desktop. Install %s "
             "(the desktop knows an app by its installed entry %s) and allow its shortcuts, "
             "or bind 'kovra-radio --slot N' (N from 1 to 5) in the desktop's keyboard settings instead.",
             qPrintable(what), qPrintable(AppIdentity::displayName()), qPrintable(AppIdentity::desktopEntryName()));
}

void PortalGlobalShortcuts::dropSession(bool retry)
{
    qCDebug(lcShortcuts) << "session dropped" << session_ << "retry" << retry;
    if (!session_.isEmpty())
        bus_.disconnect(kService, session_, kSessionInterface, QStringLiteral("Closed"), this,
                        SLOT(onSessionClosed(QDBusMessage)));
    for (const auto& entry : pending_)
        bus_.disconnect(kService, entry.first, kRequestInterface, QStringLiteral("Response"), this,
                        SLOT(onResponse(QDBusMessage)));
    pending_.clear();
    ++generation_;
    session_.clear();
    asked_.clear();
    creating_ = busy_ = false;
    if (!bound_.empty()) {
        bound_.clear();
        Q_EMIT bindingsChanged();
    }
    if (retry && !retry_.isActive()) {
        retry_.start(retryDelayMs_);
        retryDelayMs_ = std::min(retryDelayMs_ * 2, kMaxRetryDelayMs);
    }
}

} // namespace platform::linux_impl
