// Our tray item on the session bus (org.kde.StatusNotifierItem, with the Ayatana label hosts such as
// GNOME's AppIndicator extension show beside the icon), registered with the desktop's watcher.
#pragma once

#include "platform/linux/tray/DBusTrayTypes.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QImage>
#include <QObject>
#include <QPoint>

#include <vector>

namespace platform::linux_impl {

class StatusNotifierItem final : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kPath = "/StatusNotifierItem";

    // itemIsMenu: hosts show the exported menu on any click instead of asking us to act.
    StatusNotifierItem(QDBusConnection bus, bool itemIsMenu);
    ~StatusNotifierItem() override;
    StatusNotifierItem(const StatusNotifierItem&) = delete;
    StatusNotifierItem& operator=(const StatusNotifierItem&) = delete;

    // Tells the watcher on the bus of the item: when it first appears, and after it restarted.
    void registerWithWatcher();

    void setIcon(const std::vector<QImage>& renderings);
    void setToolTip(const QString& title);
    void setLabel(const QString& label);

    const TrayPixmaps& pixmaps() const { return pixmaps_; }
    const QString& toolTipTitle() const { return toolTip_; }
    const QString& label() const { return label_; }
    bool itemIsMenu() const { return itemIsMenu_; }

Q_SIGNALS:
    // What the host says the user did: a click at a screen position as the host reports it (the
    // position is checked where the menu is placed), a middle click, a vertical turn of the wheel in
    // the host's own units (hosts count differently: see the status item).
    void activated(QPoint reported);
    void secondaryActivated();
    void scrolled(int delta);

    void iconChanged();
    void toolTipChanged();
    void labelChanged(const QString& label, const QString& guide);

private:
    QDBusConnection bus_;
    QString service_;
    bool itemIsMenu_;
    bool registered_ = false;
    TrayPixmaps pixmaps_;
    QString toolTip_;
    QString label_;
};

// org.kde.StatusNotifierItem as hosts call it; the values of its calls arrive typed (a call of
// another signature does not reach a slot) and are checked before anything acts on them.
class StatusNotifierItemAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconThemePath READ empty)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QString IconName READ empty)
    Q_PROPERTY(platform::linux_impl::TrayPixmaps IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ empty)
    Q_PROPERTY(platform::linux_impl::TrayPixmaps OverlayIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionIconName READ empty)
    Q_PROPERTY(platform::linux_impl::TrayPixmaps AttentionIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionMovieName READ empty)
    Q_PROPERTY(platform::linux_impl::TrayToolTip ToolTip READ toolTip)
    Q_PROPERTY(QString XAyatanaLabel READ label)
    Q_PROPERTY(QString XAyatanaLabelGuide READ empty)

public:
    explicit StatusNotifierItemAdaptor(StatusNotifierItem* item);

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const;
    QString title() const;
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString empty() const { return {}; }
    QDBusObjectPath menu() const;
    bool itemIsMenu() const { return item_->itemIsMenu(); }
    TrayPixmaps iconPixmap() const { return item_->pixmaps(); }
    TrayPixmaps noPixmaps() const { return {}; }
    TrayToolTip toolTip() const;
    QString label() const { return item_->label(); }

public Q_SLOTS:
    void Activate(int x, int y);
    void ContextMenu(int x, int y);
    void SecondaryActivate(int x, int y);
    void XAyatanaSecondaryActivate(uint timestamp);
    void Scroll(int delta, const QString& orientation);
    void ProvideXdgActivationToken(const QString&) {}

Q_SIGNALS:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);
    void XAyatanaNewLabel(const QString& label, const QString& guide);

private:
    StatusNotifierItem* item_;
};

} // namespace platform::linux_impl
