// The inhibition as a portal request: taken with Inhibit, given back by closing the request (the
// portal closes it by itself when our connection goes, also when the process is killed).
#include "platform/linux/playback/SleepInhibitor.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QVariantMap>

namespace platform::linux_impl {

namespace {

const char* const kPortal = "org.freedesktop.portal.Desktop";
const char* const kPortalPath = "/org/freedesktop/portal/desktop";
// Automatic suspend only: the logout, user switch and idle flags would also keep the screen on.
constexpr uint kSuspend = 4;
// A portal that never answers must not leave the request pending for good.
constexpr int kCallTimeoutMs = 5000;

} // namespace

SleepInhibitor::SleepInhibitor(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(std::move(bus))
{
    if (!bus_.isConnected())
        return;
    portalWatcher_ =
        new QDBusServiceWatcher(QString::fromLatin1(kPortal), bus_, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(portalWatcher_, &QDBusServiceWatcher::serviceOwnerChanged, this, [this] {
        // A portal that restarted has forgotten what it held for us.
        handle_.clear();
        if (wanted_ && !asking_)
            ask();
    });
}

SleepInhibitor::~SleepInhibitor() { release(); }

void SleepInhibitor::hold(const QString& reason)
{
    reason_ = reason;
    wanted_ = true;
    if (handle_.isEmpty() && !asking_)
        ask();
}

void SleepInhibitor::release()
{
    wanted_ = false;
    close();
}

void SleepInhibitor::ask()
{
    if (!bus_.isConnected())
        return;
    asking_ = true;
    QDBusMessage inhibit =
        QDBusMessage::createMethodCall(QString::fromLatin1(kPortal), QString::fromLatin1(kPortalPath),
                                       QStringLiteral("org.freedesktop.portal.Inhibit"), QStringLiteral("Inhibit"));
    const QVariantMap options{{QStringLiteral("handle_token"), QStringLiteral("kovra_inhibit_%1").arg(++requests_)},
                              {QStringLiteral("reason"), reason_}};
    inhibit << QString() << kSuspend << options;
    auto* call = new QDBusPendingCallWatcher(bus_.asyncCall(inhibit, kCallTimeoutMs), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        asking_ = false;
        const QDBusPendingReply<QDBusObjectPath> reply = *finished;
        if (reply.isError()) {
            if (!toldMissing_) {
                toldMissing_ = true;
                qWarning("kovra-radio: no desktop portal keeps the computer from suspending by itself while a "
                         "channel plays (%s); an automatic suspend may cut the radio off",
                         qPrintable(reply.error().message()));
            }
            return;
        }
        handle_ = reply.value().path();
        // Silent again before the portal answered.
        if (!wanted_)
            close();
    });
}

void SleepInhibitor::close()
{
    if (handle_.isEmpty())
        return;
    bus_.send(QDBusMessage::createMethodCall(QString::fromLatin1(kPortal), handle_,
                                             QStringLiteral("org.freedesktop.portal.Request"),
                                             QStringLiteral("Close")));
    handle_.clear();
}

} // namespace platform::linux_impl
