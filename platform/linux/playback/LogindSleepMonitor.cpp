// logind's PrepareForSleep signal: true just before a suspend or hibernation, false after resume
// (or when the sleep was cancelled).
#include "platform/linux/playback/LogindSleepMonitor.h"

#include "platform/linux/playback/MediaLog.h"

#include <QDBusConnection>

namespace platform::linux_impl {

LogindSleepMonitor::LogindSleepMonitor(QObject* parent) : QObject(parent)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    // Containers and minimal sessions have no system bus: playback then never hears of sleeps.
    if (!bus.isConnected())
        return;
    // Only the owner of logind's name is listened to, not any client that sends the same signal.
    bus.connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
                SLOT(prepareForSleep(bool)));
}

void LogindSleepMonitor::prepareForSleep(bool sleeping)
{
    qCDebug(lcMedia) << (sleeping ? "the machine is going to sleep" : "the machine woke up");
    if (sleeping)
        Q_EMIT aboutToSleep();
    else
        Q_EMIT wokeUp();
}

} // namespace platform::linux_impl
