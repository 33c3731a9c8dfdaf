// Tells when the machine is about to sleep and when it has woken, as logind announces it on the
// system bus. Without a system bus or logind it simply never says anything.
#pragma once

#include <QObject>

namespace platform::linux_impl {

class LogindSleepMonitor : public QObject {
    Q_OBJECT

public:
    explicit LogindSleepMonitor(QObject* parent = nullptr);

Q_SIGNALS:
    void aboutToSleep();
    void wokeUp();

private Q_SLOTS:
    void prepareForSleep(bool sleeping);
};

} // namespace platform::linux_impl
