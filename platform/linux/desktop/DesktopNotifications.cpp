// org.freedesktop.Notifications client: the start-up authorisation request and the notifier.
#include "platform/linux/desktop/DesktopNotifications.h"

#include "platform/linux/desktop/AppIdentity.h"

#include "platform/linux/desktop/AppcastFeed.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QDesktopServices>
#include <QTimer>
#include <QVariantMap>

namespace platform::linux_impl {

namespace {

constexpr auto kService = "org.freedesktop.Notifications";
constexpr auto kPath = "/org/freedesktop/Notifications";
constexpr auto kInterface = "org.freedesktop.Notifications";
// A server started by bus activation can take a moment; nothing waits for the answer anyway.
constexpr int kCallTimeoutMs = 10000;
// Bounds what a misbehaving server can make us remember.
constexpr qsizetype kMaxRememberedLinks = 16;

QDBusMessage call(const char* method)
{
    return QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath), QLatin1String(kInterface),
                                          QLatin1String(method));
}

} // namespace

DesktopNotificationCenter::DesktopNotificationCenter(QDBusConnection bus) : bus_(std::move(bus)) {}

void DesktopNotificationCenter::requestAuthorization(
    unsigned /*options*/, std::function<void(bool granted, std::optional<std::string> error)> completion)
{
    if (!completion)
        completion = [](bool, const std::optional<std::string>&) {};
    if (!bus_.isConnected()) {
        // Still answered later, as with a server: the caller never runs inside its own request.
        QTimer::singleShot(
            0, this, [completion = std::move(completion)] { completion(false, std::string("no D-Bus session bus")); });
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call("GetServerInformation"), kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [completion = std::move(completion)](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                const QDBusPendingReply<QString, QString, QString, QString> reply = *w;
                if (reply.isError())
                    completion(false, reply.error().message().toStdString());
                else
                    completion(true, std::nullopt);
            });
}

DesktopNotifier::DesktopNotifier(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), opener_([](const QUrl& url) { return QDesktopServices::openUrl(url); })
{
    if (!bus_.isConnected())
        return;
    // Signals are taken only from the owner of the server name, and only for our own ids.
    bus_.connect(QLatin1String(kService), QLatin1String(kPath), QLatin1String(kInterface),
                 QStringLiteral("ActionInvoked"), this, SLOT(onActionInvoked(uint, QString)));
    bus_.connect(QLatin1String(kService), QLatin1String(kPath), QLatin1String(kInterface),
                 QStringLiteral("NotificationClosed"), this, SLOT(onNotificationClosed(uint, uint)));
}

DesktopNotifier::~DesktopNotifier()
{
    if (!bus_.isConnected())
        return;
    bus_.disconnect(QLatin1String(kService), QLatin1String(kPath), QLatin1String(kInterface),
                    QStringLiteral("ActionInvoked"), this, SLOT(onActionInvoked(uint, QString)));
    bus_.disconnect(QLatin1String(kService), QLatin1String(kPath), QLatin1String(kInterface),
                    QStringLiteral("NotificationClosed"), this, SLOT(onNotificationClosed(uint, uint)));
}

void DesktopNotifier::setUrlOpener(UrlOpener opener) { opener_ = std::move(opener); }

void DesktopNotifier::postNotification(const QString& summary, const QString& body, const QUrl& downloadLink)
{
    if (!bus_.isConnected())
        return;
    const QUrl link = isSecureDownloadURL(downloadLink) ? downloadLink : QUrl();
    // A server that renders markup would read '&' or '<' in a link as markup: ask first.
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call("GetCapabilities"), kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, summary, body, link](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QStringList> reply = *w;
        notify(summary, body, link, !reply.isError() && reply.value().contains(QStringLiteral("body-markup")));
    });
}

void DesktopNotifier::notify(const QString& summary, const QString& body, const QUrl& link, bool markup)
{
    QStringList actions;
    if (link.isValid()) {
        const QString label = QCoreApplication::translate("Notifications", "Download");
        actions << QStringLiteral("default") << label << QStringLiteral("download") << label;
    }
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), AppIdentity::id());
    QDBusMessage message = call("Notify");
    message << AppIdentity::displayName() << shownId_ << AppIdentity::programName() << summary
            << (markup ? body.toHtmlEscaped() : body) << actions << hints << qint32(-1);

    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, link](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<uint> reply = *w;
        if (reply.isError())
            return;
        const uint id = reply.value();
        links_.remove(shownId_);
        shownId_ = id;
        if (link.isValid() && id != 0) {
            if (links_.size() >= kMaxRememberedLinks)
                links_.clear();
            links_.insert(id, link);
        }
    });
}

void DesktopNotifier::onActionInvoked(uint id, const QString& actionKey)
{
    if (actionKey != u"default" && actionKey != u"download")
        return;
    const auto found = links_.constFind(id);
    if (found == links_.constEnd())
        return;
    // The link was checked when we posted it; the server only names which one. A copy: opening it
    // may post a notification and change what we remember.
    QUrl link = *found; // NOLINT(performance-unnecessary-copy-initialization)
    if (isSecureDownloadURL(link) && opener_)
        opener_(link);
}

void DesktopNotifier::onNotificationClosed(uint id, uint /*reason*/)
{
    links_.remove(id);
    if (id == shownId_)
        shownId_ = 0;
}

std::shared_ptr<NotificationCenter> makeNotificationCenter() { return std::make_shared<DesktopNotificationCenter>(); }

} // namespace platform::linux_impl
