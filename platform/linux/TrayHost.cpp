// The tray host's presence (StatusNotifier watcher with a host, or an XEmbed tray) and the click
// positions it reports.
#include "platform/linux/TrayHost.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QRegularExpression>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace platform::linux_impl {

namespace {

const char* const kWatcherService = "org.kde.StatusNotifierWatcher";
const char* const kWatcherPath = "/StatusNotifierWatcher";
constexpr int kHostPollMs = 2000;

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

namespace click {
constexpr const char* kCategory = "qt.qpa.tray";
bool installed = false;
bool userWantsIt = false;
QtMessageHandler previousHandler = nullptr;
QLoggingCategory::CategoryFilter previousFilter = nullptr;
QPoint position;
QElapsedTimer age;

void filter(QLoggingCategory* category)
{
    if (previousFilter)
        previousFilter(category);
    if (qstrcmp(category->categoryName(), kCategory) == 0) {
        userWantsIt = category->isDebugEnabled();
        category->setEnabled(QtDebugMsg, true);
    }
}

void handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtDebugMsg && context.category && qstrcmp(context.category, kCategory) == 0) {
        // Activate and ContextMenu log their x and y, and nothing else.
        static const QRegularExpression kCoordinates(QStringLiteral("^(-?\\d+) (-?\\d+)$"));
        const QRegularExpressionMatch match = kCoordinates.match(message);
        if (match.hasMatch()) {
            position = QPoint(match.captured(1).toInt(), match.captured(2).toInt());
            age.start();
        }
        if (!userWantsIt)
            return;
    }
    previousHandler(type, context, message);
}
} // namespace click

} // namespace

void HostClickPosition::install()
{
    if (click::installed)
        return;
    click::installed = true;
    click::previousHandler = qInstallMessageHandler(&click::handle);
    click::previousFilter = QLoggingCategory::installFilter(&click::filter);
}

std::optional<QPoint> HostClickPosition::recent()
{
    if (!click::age.isValid() || click::age.elapsed() > 1000)
        return std::nullopt;
    return click::position;
}

TrayHostWatcher::TrayHostWatcher(std::function<void()> onAvailable) : onAvailable_(std::move(onAvailable))
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        // Without a bus only XEmbed is possible, and Qt follows that tray by itself.
        QTimer::singleShot(0, this, [this] { announce(); });
        return;
    }
    serviceWatcher_ = new QDBusServiceWatcher(QString::fromLatin1(kWatcherService), bus,
                                              QDBusServiceWatcher::WatchForRegistration, this);
    connect(serviceWatcher_, &QDBusServiceWatcher::serviceRegistered, this, &TrayHostWatcher::check);
    bus.connect(QString::fromLatin1(kWatcherService), QString::fromLatin1(kWatcherPath),
                QString::fromLatin1(kWatcherService), QStringLiteral("StatusNotifierHostRegistered"), this,
                SLOT(check()));
    // Not every watcher signals its hosts, and XEmbed trays come without any bus signal.
    poll_.setInterval(kHostPollMs);
    connect(&poll_, &QTimer::timeout, this, &TrayHostWatcher::check);
    poll_.start();
    check();
}

void TrayHostWatcher::check()
{
    if (announced_)
        return;
    if (xembedTrayExists()) {
        announce();
        return;
    }
    QDBusMessage get =
        QDBusMessage::createMethodCall(QString::fromLatin1(kWatcherService), QString::fromLatin1(kWatcherPath),
                                       QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QString::fromLatin1(kWatcherService) << QStringLiteral("IsStatusNotifierHostRegistered");
    // Asynchronous, with a short timeout: a hung watcher must not freeze the menu.
    auto* call = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(get, 1000), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        QDBusPendingReply<QDBusVariant> reply = *finished;
        if (!reply.isError() && reply.value().variant().toBool())
            announce();
    });
}

void TrayHostWatcher::announce()
{
    if (announced_)
        return;
    announced_ = true;
    poll_.stop();
    onAvailable_();
}

} // namespace platform::linux_impl
