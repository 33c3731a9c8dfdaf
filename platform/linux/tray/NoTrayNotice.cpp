// The notice of a missing tray, as a desktop notification in the user's language and a log line.
#include "platform/linux/tray/NoTrayNotice.h"

#include "platform/linux/desktop/DesktopNotifications.h"
#include "platform/linux/tray/TrayHost.h"

#include <QCoreApplication>
#include <QTimer>

namespace platform::linux_impl {

namespace {

bool onGnome()
{
    return qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':')).contains(QLatin1String("GNOME"));
}

QString text(const char* key) { return QCoreApplication::translate("kovra-radio", key); }

} // namespace

NoTrayNotice::NoTrayNotice(std::chrono::milliseconds grace) : QObject(QCoreApplication::instance())
{
    // A tray in time: nothing to tell (later, as the watcher is still in its own call).
    watcher_ = new TrayHostWatcher([this] { deleteLater(); });
    watcher_->setParent(this);
    QTimer::singleShot(grace, this, &NoTrayNotice::tell);
}

void NoTrayNotice::tell()
{
    watcher_->deleteLater();
    watcher_ = nullptr;
    const bool gnome = onGnome();
    qWarning("kovra-radio: no system tray has appeared on this desktop, so the app runs on without an icon; its "
             "keyboard shortcuts and the media keys work. %s",
             gnome ? "On GNOME, install and enable the AppIndicator extension (gnome-shell-extension-appindicator)."
                   : "Add a system tray (status notifier area) to the panel.");
    notifier_ = new DesktopNotifier(QDBusConnection::sessionBus(), this);
    notifier_->postNotification(text("no_tray_summary"), text(gnome ? "no_tray_body_gnome" : "no_tray_body"));
}

} // namespace platform::linux_impl
