// Knowing what tray the desktop has for our icon: a StatusNotifier watcher on the session bus (the
// trays of Plasma, GNOME's AppIndicator extension, Xfce, waybar and most others), or an old-style
// XEmbed tray on the X display; also when it comes up after us, or restarts.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class QDBusServiceWatcher;

namespace platform::linux_impl {

class TrayHostWatcher : public QObject {
    Q_OBJECT
public:
    // onAvailable is told once, when a tray first shows icons: a StatusNotifier host has registered
    // with the watcher, or an XEmbed tray is there.
    explicit TrayHostWatcher(std::function<void()> onAvailable = {});

    // The unique bus name of the watcher; empty while there is none. It changes when the watcher
    // restarts, and then every item must register with it again.
    const QString& watcherOwner() const { return watcherOwner_; }
    bool hasXEmbedTray() const { return xembed_; }
    // The bus has said whether a watcher is there: until then, no tray can be chosen.
    bool knowsWatcher() const { return watcherKnown_; }

Q_SIGNALS:
    // The watcher came, went or restarted, or an XEmbed tray appeared.
    void changed();

public Q_SLOTS:
    void check();

private:
    void setWatcherOwner(const QString& owner);
    void announce();

    std::function<void()> onAvailable_;
    QDBusServiceWatcher* serviceWatcher_ = nullptr;
    QString watcherOwner_;
    QTimer poll_;
    bool xembed_ = false;
    bool watcherKnown_ = false;
    bool announced_ = false;
};

} // namespace platform::linux_impl
