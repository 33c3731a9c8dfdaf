// The status item, from the units' calls to what the tray hosts and our own menu show.
#include "platform/linux/tray/QtStatusItem.h"

#include "platform/linux/hotkeys/HotKeyFacade.h"
#include "platform/linux/tray/DBusMenuExport.h"
#include "platform/linux/tray/MenuRendering.h"
#include "platform/linux/tray/PopupMenu.h"
#include "platform/linux/tray/QtGraphics.h"
#include "platform/linux/tray/StatusNotifierItem.h"
#include "platform/linux/tray/TrayHost.h"

#include <QCursor>
#include <QDBusConnectionInterface>
#include <QGuiApplication>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QWheelEvent>

#include <algorithm>
#include <optional>

namespace platform::linux_impl {

namespace {

constexpr int kEighthsPerNotch = 120;
// What one event of a real wheel may carry at most; a host's larger numbers count as this.
constexpr int kMostNotches = 4;

bool onQtBasedDesktop()
{
    const QStringList desktops = qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'));
    return desktops.contains(QLatin1String("KDE"), Qt::CaseInsensitive)
           || desktops.contains(QLatin1String("LXQt"), Qt::CaseInsensitive);
}

BoundKeys boundKeysOf(const QPointer<HotKeyFacade>& hotKeys)
{
    return [hotKeys](const QKeySequence& requested) { return hotKeys ? hotKeys->boundText(requested) : std::nullopt; };
}

} // namespace

int WheelNotches::add(int delta, bool qtUnits)
{
    if (!qtUnits && std::abs(qint64(delta)) < kEighthsPerNotch)
        return delta > 0 ? -1 : 1;
    eighths_ = std::clamp<qint64>(eighths_ + delta, -qint64(kEighthsPerNotch) * kMostNotches,
                                  qint64(kEighthsPerNotch) * kMostNotches);
    const int notches = int(eighths_ / kEighthsPerNotch);
    eighths_ -= qint64(notches) * kEighthsPerNotch;
    return notches;
}

bool QtStatusItem::WheelFilter::eventFilter(QObject*, QEvent* event)
{
    if (event->type() != QEvent::Wheel)
        return false;
    onWheel_(static_cast<QWheelEvent*>(event)->angleDelta().y());
    return true;
}

QtStatusItem::QtStatusItem(StatusItemHooks hooks, HotKeyFacade* hotKeys)
    : hooks_(std::move(hooks)), hotKeys_(hotKeys), x11_(QGuiApplication::platformName() == QLatin1String("xcb")),
      qtHost_(onQtBasedDesktop()), wheelFilter_([this](int delta) { scroll(delta, true); }),
      toolTip_(toolTipForTitle(""))
{
    // A native Wayland client cannot place a menu of its own by a panel: there the host shows
    // the menu we export, on any click.
    if (x11_)
        popup_ = std::make_unique<PopupMenu>(hooks_.menuWatch, boundKeysOf(hotKeys_));
    trays_ = std::make_unique<TrayHostWatcher>();
    QObject::connect(trays_.get(), &TrayHostWatcher::changed, &context_, [this] { present(); });
    // The desktop may bind other keys than we asked for, and tell us late.
    if (hotKeys)
        QObject::connect(hotKeys, &HotKeyFacade::bindingsChanged, &context_, [this] {
            if (popup_)
                popup_->refresh();
            if (exported_)
                exported_->refresh();
        });
}

QtStatusItem::~QtStatusItem()
{
    trays_.reset();
    xembed_.reset();
    item_.reset();
    exported_.reset();
    popup_.reset();
}

void QtStatusItem::setMenu(std::shared_ptr<Menu> menu)
{
    model_ = std::move(menu);
    if (popup_)
        popup_->setModel(model_);
    if (exported_)
        exported_->setModel(model_);
}

void QtStatusItem::setImage(std::shared_ptr<Image> image)
{
    image_ = std::move(image);
    // Every menu rebuild sets the image again, mostly the same one: it is rendered at six
    // sizes with a colour font, and hosts refetch the pixmaps on each change, so an image
    // painted before costs a key lookup and nothing reaches the bus.
    const auto* icon = dynamic_cast<const StatusIcon*>(image_.get());
    const QString key = icon ? icon->contentKey() : QString();
    if (key == iconKey_)
        return;
    iconKey_ = key;
    std::vector<QImage> renderings;
    if (icon) {
        for (int side : kTrayIconSides)
            renderings.push_back(icon->renderSquare(side));
    }
    if (renderings == renderings_)
        return;
    renderings_ = std::move(renderings);
    icon_ = QIcon();
    for (const QImage& rendering : renderings_)
        icon_.addPixmap(QPixmap::fromImage(rendering));
    if (item_)
        item_->setIcon(renderings_);
    if (xembed_)
        xembed_->setIcon(icon_);
    present();
}

void QtStatusItem::setTitle(const std::string& title)
{
    toolTip_ = toolTipForTitle(title);
    label_ = QString::fromStdString(title).trimmed();
    if (item_) {
        item_->setToolTip(toolTip_);
        item_->setLabel(label_);
    }
    if (xembed_)
        xembed_->setToolTip(toolTip_);
}

// Shown once the first image has been drawn: an item without an icon is an empty slot in the
// panel.
void QtStatusItem::present()
{
    if (renderings_.empty() || !trays_->knowsWatcher())
        return;
    const QString& watcher = trays_->watcherOwner();
    if (!watcher.isEmpty()) {
        xembed_.reset();
        if (!item_)
            makeStatusNotifierItem();
        if (watcher != registeredWith_) {
            registeredWith_ = watcher;
            item_->registerWithWatcher();
        }
    } else {
        registeredWith_.clear();
        if (trays_->hasXEmbedTray() && popup_ && !xembed_)
            makeXEmbedIcon();
    }
}

void QtStatusItem::makeStatusNotifierItem()
{
    exported_ =
        std::make_unique<DBusMenuExport>(QDBusConnection::sessionBus(), hooks_.menuWatch, boundKeysOf(hotKeys_));
    exported_->setModel(model_);
    // On X11 a click asks us to open our menu at the icon; elsewhere the host opens the
    // exported one itself.
    item_ = std::make_unique<StatusNotifierItem>(QDBusConnection::sessionBus(), !x11_);
    item_->setIcon(renderings_);
    item_->setToolTip(toolTip_);
    item_->setLabel(label_);
    QObject::connect(item_.get(), &StatusNotifierItem::activated, &context_,
                     [this](QPoint reported) { openAtReportedPoint(reported); });
    QObject::connect(item_.get(), &StatusNotifierItem::secondaryActivated, &context_, [this] { secondaryActivate(); });
    QObject::connect(item_.get(), &StatusNotifierItem::scrolled, &context_,
                     [this](int delta) { scroll(delta, qtHost_); });
}

// Qt decides once, when its first tray icon is made, between the D-Bus tray and XEmbed, and
// never looks again: made only while no watcher is on the bus, it embeds in the XEmbed tray.
void QtStatusItem::makeXEmbedIcon()
{
    // Asked again at the last moment: a watcher that came just now would win Qt over.
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    if (bus && bus->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher")))
        return;
    xembed_ = std::make_unique<QSystemTrayIcon>();
    xembed_->setIcon(icon_);
    xembed_->setToolTip(toolTip_);
    // Its right click opens this menu by itself.
    xembed_->setContextMenu(popup_->menu());
    xembed_->installEventFilter(&wheelFilter_);
    QObject::connect(xembed_.get(), &QSystemTrayIcon::activated, &context_,
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::MiddleClick)
                             secondaryActivate();
                         // A left click on the icon opens the menu too, as on a StatusNotifier tray.
                         else if (reason == QSystemTrayIcon::Trigger && !popup_->menu()->isVisible())
                             popup_->popUpBeside(xembed_->geometry());
                     });
    xembed_->show();
}

// A StatusNotifier host tells where it was clicked; on X11 we can tell where the pointer is,
// but under XWayland the X pointer stays where it last left an X window.
void QtStatusItem::openAtReportedPoint(QPoint reported)
{
    if (!popup_ || popup_->menu()->isVisible())
        return;
    std::optional<QPoint> pointer;
    if (!qEnvironmentVariableIsSet("WAYLAND_DISPLAY"))
        pointer = QCursor::pos();
    QList<QRect> screens;
    for (const QScreen* screen : QGuiApplication::screens())
        screens << screen->geometry();
    if (const auto anchor = menuAnchor(reported, pointer, screens))
        popup_->popUpBeside(QRect(*anchor, QSize(1, 1)));
}

void QtStatusItem::secondaryActivate()
{
    if (hooks_.secondaryActivate)
        hooks_.secondaryActivate();
}

void QtStatusItem::scroll(int delta, bool qtUnits)
{
    const int notches = wheel_.add(delta, qtUnits);
    if (notches != 0 && hooks_.scroll)
        hooks_.scroll(notches);
}

} // namespace platform::linux_impl
