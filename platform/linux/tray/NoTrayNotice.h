// Telling the user, once, that the app runs where no tray shows its icon: how to get the icon on
// this desktop, and that the shortcuts and media keys work meanwhile.
#pragma once

#include <QObject>

#include <chrono>

namespace platform::linux_impl {

class DesktopNotifier;
class TrayHostWatcher;

// A panel may come up some seconds after the apps at login, so only a tray still missing after
// the grace period is told of; a tray that comes later shows the icon as ever. Lives as long as
// the application object, its parent.
class NoTrayNotice final : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kGrace{15000};

    explicit NoTrayNotice(std::chrono::milliseconds grace = kGrace);

private:
    void tell();

    TrayHostWatcher* watcher_ = nullptr;
    DesktopNotifier* notifier_ = nullptr;
};

} // namespace platform::linux_impl
