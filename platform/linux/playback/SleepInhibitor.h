// Keeping the computer from suspending by itself while a channel is heard, through the desktop
// portal (org.freedesktop.portal.Inhibit, suspend only): the screen still blanks and locks, and a
// suspend the user asks for still happens.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

class QDBusServiceWatcher;

namespace platform::linux_impl {

class SleepInhibitor final : public QObject {
    Q_OBJECT
public:
    explicit SleepInhibitor(QDBusConnection bus, QObject* parent = nullptr);
    ~SleepInhibitor() override;

    // Asks the desktop to hold off automatic suspend, giving the user this reason; a call while
    // held or being asked for changes nothing.
    void hold(const QString& reason);
    // Lets the desktop suspend again.
    void release();

private:
    void ask();
    void close();

    QDBusConnection bus_;
    QDBusServiceWatcher* portalWatcher_ = nullptr;
    QString reason_;
    // The portal's request that holds the inhibition, while it does.
    QString handle_;
    bool wanted_ = false;
    bool asking_ = false;
    bool toldMissing_ = false;
    int requests_ = 0;
};

} // namespace platform::linux_impl
