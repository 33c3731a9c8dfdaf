// Desktop notifications over org.freedesktop.Notifications: the authorisation request the
// application makes at start-up, and the notifier the update check tells its result through.
#pragma once

#include <memory>

#include "platform/Notifications.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

namespace platform::linux_impl {

// Asks whether a notification server answers; nothing waits for it.
class DesktopNotificationCenter final : public QObject, public NotificationCenter {
    Q_OBJECT
public:
    explicit DesktopNotificationCenter(QDBusConnection bus = QDBusConnection::sessionBus());
    void requestAuthorization(unsigned options,
                              std::function<void(bool granted, std::optional<std::string> error)> completion) override;

private:
    QDBusConnection bus_;
};

// Posts notifications and opens a notification's https download link when the user picks its
// action. A newer notification replaces the one this notifier showed before.
class DesktopNotifier final : public QObject {
    Q_OBJECT
public:
    using UrlOpener = std::function<bool(const QUrl&)>;

    explicit DesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);
    ~DesktopNotifier() override;

    // Asynchronous; a missing server or bus loses the notification and nothing else. A link that
    // is not https is not offered.
    void postNotification(const QString& summary, const QString& body, const QUrl& downloadLink = {});
    // Opens links; QDesktopServices::openUrl unless replaced (tests).
    void setUrlOpener(UrlOpener opener);

private Q_SLOTS:
    void onActionInvoked(uint id, const QString& actionKey);
    void onNotificationClosed(uint id, uint reason);

private:
    void notify(const QString& summary, const QString& body, const QUrl& link, bool markup);

    QDBusConnection bus_;
    UrlOpener opener_;
    uint shownId_ = 0;
    // The download link of each notification of ours still on screen.
    QHash<uint, QUrl> links_;
};

std::shared_ptr<NotificationCenter> makeNotificationCenter();

} // namespace platform::linux_impl
