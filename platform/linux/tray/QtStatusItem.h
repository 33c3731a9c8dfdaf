// One status item in the desktop's tray: the drawn image as icon, the title as tooltip and as the
// label beside the icon, the menu model exported to the tray and, on X11, shown by us at the icon.
// Where a StatusNotifier watcher is, our own item registers with it (again after the watcher
// restarts); where none is but an XEmbed tray is, Qt's tray icon embeds in it.
#pragma once

#include "platform/StatusBar.h"

#include <QIcon>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QSystemTrayIcon;

namespace platform::linux_impl {

class DBusMenuExport;
class HotKeyFacade;
class PopupMenu;
class StatusNotifierItem;
class TrayHostWatcher;

// What the tray may tell the item besides a choice in its menu.
struct StatusItemHooks {
    // True when the item's menu is about to show, false when it closed.
    std::function<void(bool open)> menuWatch;
    // A middle click on the icon.
    std::function<void()> secondaryActivate;
    // The wheel turned over the icon by this many notches, upward positive.
    std::function<void(int notches)> scroll;
};

// Turns of the wheel as hosts count them, in notches. Qt-based hosts (Plasma, LXQt) send Qt's
// eighths of a degree, 120 to a notch, upward positive, and touchpads send parts of a notch;
// GTK-based hosts (GNOME's extension, Xfce, waybar, MATE) send one unit a notch, downward
// positive, as libappindicator reads them. A delta of a whole notch or more is Qt's, whoever
// sends it.
class WheelNotches {
public:
    int add(int delta, bool qtUnits);

private:
    qint64 eighths_ = 0;
};

// The menu shows what the desktop bound for the shortcuts of hotKeys (none without), and follows
// its changes as long as both live.
class QtStatusItem final : public StatusItem, public StatusButton {
public:
    QtStatusItem(StatusItemHooks hooks, HotKeyFacade* hotKeys);
    ~QtStatusItem() override;
    QtStatusItem(const QtStatusItem&) = delete;
    QtStatusItem& operator=(const QtStatusItem&) = delete;

    StatusButton* button() override { return this; }
    void setMenu(std::shared_ptr<Menu> menu) override;
    void setImage(std::shared_ptr<Image> image) override;
    void setTitle(const std::string& title) override;
    // The panel draws the label in its own font: the one the units pick has nowhere to go.
    void setFont(const Font&) override {}

private:
    // Qt's XEmbed icon hands its wheel events to the QSystemTrayIcon object.
    class WheelFilter final : public QObject {
    public:
        explicit WheelFilter(std::function<void(int)> onWheel) : onWheel_(std::move(onWheel)) {}
        bool eventFilter(QObject*, QEvent* event) override;

    private:
        std::function<void(int)> onWheel_;
    };

    void present();
    void makeStatusNotifierItem();
    void makeXEmbedIcon();
    void openAtReportedPoint(QPoint reported);
    void secondaryActivate();
    void scroll(int delta, bool qtUnits);

    StatusItemHooks hooks_;
    QPointer<HotKeyFacade> hotKeys_;
    const bool x11_;
    const bool qtHost_;
    QObject context_;
    WheelFilter wheelFilter_;
    WheelNotches wheel_;
    std::unique_ptr<PopupMenu> popup_;
    std::unique_ptr<DBusMenuExport> exported_;
    std::unique_ptr<StatusNotifierItem> item_;
    std::unique_ptr<QSystemTrayIcon> xembed_;
    std::unique_ptr<TrayHostWatcher> trays_;
    QString registeredWith_;
    std::shared_ptr<Menu> model_;
    std::shared_ptr<Image> image_;
    QString iconKey_;
    std::vector<QImage> renderings_;
    QIcon icon_;
    QString toolTip_;
    QString label_;
};

} // namespace platform::linux_impl
