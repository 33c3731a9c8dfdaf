// Knowing when the desktop has a tray to show our icon in, and where its host says the icon was
// clicked.
#pragma once

#include <QObject>
#include <QPoint>
#include <QTimer>

#include <functional>
#include <optional>

class QDBusServiceWatcher;

namespace platform::linux_impl {

// Tells once that a tray host is there. Qt decides a single time, when the first tray icon is
// made, whether a StatusNotifier host exists (it asks the watcher's IsStatusNotifierHostRegistered)
// and falls back to XEmbed for good otherwise; so the icon is made only after a host has
// registered with the watcher, or when an XEmbed tray is already there.
class TrayHostWatcher : public QObject {
    Q_OBJECT
public:
    explicit TrayHostWatcher(std::function<void()> onAvailable);

public Q_SLOTS:
    void check();

private:
    void announce();

    std::function<void()> onAvailable_;
    QDBusServiceWatcher* serviceWatcher_ = nullptr;
    QTimer poll_;
    bool announced_ = false;
};

// Where the StatusNotifier host says the icon was clicked. The host passes the click's screen
// position with Activate, yet Qt's item passes on only that it was activated; the position
// reaches Qt's tray debug log and nothing else. So that log category is switched on and its
// messages are read here, and dropped unless the user asked to see them.
namespace HostClickPosition {
// Starts listening; later calls do nothing.
void install();
// The position of a click the host reported in the last second, if any.
std::optional<QPoint> recent();
} // namespace HostClickPosition

} // namespace platform::linux_impl
