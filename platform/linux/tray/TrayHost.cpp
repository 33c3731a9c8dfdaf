// The tray's presence: the StatusNotifier watcher's owner on the bus, its hosts, and the XEmbed
// tray's selection on the X display.
#include "platform/linux/tray/TrayHost.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace platform::linux_impl {

namespace {

const char* const kWatcherService = "org.kde.StatusNotifierWatcher";
const char* const kWatcherPath = "/StatusNotifierWatcher";
constexpr int kHostPollMs = 2000;
// A hung bus peer must not keep the tray waiting.
constexpr int kCallTimeoutMs = 1000;

// True when an XEmbed system tray owns its selection on the X display.
bool xembedTrayExists()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return false;
    static const char kName[] = "_NET_SYSTEM_TRAY_S0";
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, sizeof kName - 1, kName), nullptr),
        &std::free);
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return false;
    std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom), nullptr),
        &std::free);
    return owner && owner->owner != XCB_WINDOW_NONE;
}

} // namespace

TrayHostWatcher::TrayHostWatcher(std::function<void()> onAvailable) : onAvailable_(std::move(onAvailable))
{
    poll_.setInterval(kHostPollMs);
    connect(&poll_, &QTimer::timeout, this, &TrayHostWatcher::check);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        serviceWatcher_ = new QDBusServiceWatcher(QString::fromLatin1(kWatcherService), bus,
                                                  QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(serviceWatcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
                [this](const QString&, const QString&, const QString& owner) { setWatcherOwner(owner); });
        bus.connect(QString::fromLatin1(kWatcherService), QString::fromLatin1(kWatcherPath),
                    QString::fromLatin1(kWatcherService), QStringLiteral("StatusNotifierHostRegistered"), this,
                    SLOT(check()));
        QDBusMessage owner = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetNameOwner"));
        owner << QString::fromLatin1(kWatcherService);
        auto* call = new QDBusPendingCallWatcher(bus.asyncCall(owner, kCallTimeoutMs), this);
        connect(call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
            finished->deleteLater();
            const QDBusPendingReply<QString> reply = *finished;
            watcherKnown_ = true;
            // A watcher that came while we asked has been told by the service watcher already.
            if (!reply.isError() && watcherOwner_.isEmpty())
                setWatcherOwner(reply.value());
            else
                Q_EMIT changed();
        });
    } else {
        watcherKnown_ = true;
    }
    // Not every watcher signals its hosts, and XEmbed trays come without any bus signal.
    poll_.start();
    QTimer::singleShot(0, this, &TrayHostWatcher::check);
}

void TrayHostWatcher::setWatcherOwner(const QString& owner)
{
    watcherKnown_ = true;
    if (owner == watcherOwner_)
        return;
    watcherOwner_ = owner;
    Q_EMIT changed();
    check();
}

void TrayHostWatcher::check()
{
    const bool xembed = xembedTrayExists();
    if (xembed != xembed_) {
        xembed_ = xembed;
        Q_EMIT changed();
    }
    if (xembed_)
        announce();
    if (!announced_ && !watcherOwner_.isEmpty()) {
        QDBusMessage get =
            QDBusMessage::createMethodCall(QString::fromLatin1(kWatcherService), QString::fromLatin1(kWatcherPath),
                                           QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        get << QString::fromLatin1(kWatcherService) << QStringLiteral("IsStatusNotifierHostRegistered");
        auto* call = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(get, kCallTimeoutMs), this);
        connect(call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
            finished->deleteLater();
            const QDBusPendingReply<QDBusVariant> reply = *finished;
            if (!reply.isError() && reply.value().variant().toBool())
                announce();
        });
    }
    // Looked for while an XEmbed tray may yet appear in place of a watcher, or a host with it.
    const bool settled = announced_ && (xembed_ || !watcherOwner_.isEmpty());
    if (settled)
        poll_.stop();
    else if (!poll_.isActive())
        poll_.start();
}

void TrayHostWatcher::announce()
{
    if (announced_)
        return;
    announced_ = true;
    if (onAvailable_)
        onAvailable_();
}

} // namespace platform::linux_impl
