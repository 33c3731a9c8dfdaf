// The StatusNotifierItem object: its name on the bus, its registration with the watcher, and the
// properties and signals hosts read it by.
#include "platform/linux/tray/StatusNotifierItem.h"

#include "platform/linux/tray/DBusMenuExport.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QGuiApplication>

namespace platform::linux_impl {

namespace {
const char* const kWatcherService = "org.kde.StatusNotifierWatcher";
const char* const kWatcherPath = "/StatusNotifierWatcher";
} // namespace

StatusNotifierItem::StatusNotifierItem(QDBusConnection bus, bool itemIsMenu)
    : bus_(std::move(bus)),
      service_(QStringLiteral("org.kde.StatusNotifierItem-%1-1").arg(QCoreApplication::applicationPid())),
      itemIsMenu_(itemIsMenu)
{
    registerTrayTypes();
    auto* adaptor = new StatusNotifierItemAdaptor(this);
    connect(this, &StatusNotifierItem::iconChanged, adaptor, &StatusNotifierItemAdaptor::NewIcon);
    connect(this, &StatusNotifierItem::toolTipChanged, adaptor, &StatusNotifierItemAdaptor::NewToolTip);
    connect(this, &StatusNotifierItem::labelChanged, adaptor, &StatusNotifierItemAdaptor::XAyatanaNewLabel);
    registered_ = bus_.isConnected() && bus_.registerObject(QLatin1String(kPath), this, QDBusConnection::ExportAdaptors)
                  && bus_.registerService(service_);
}

StatusNotifierItem::~StatusNotifierItem()
{
    if (!registered_)
        return;
    // The watcher forgets an item whose name leaves the bus.
    bus_.unregisterService(service_);
    bus_.unregisterObject(QLatin1String(kPath));
}

void StatusNotifierItem::registerWithWatcher()
{
    if (!registered_)
        return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(QLatin1String(kWatcherService), QLatin1String(kWatcherPath),
                                       QLatin1String(kWatcherService), QStringLiteral("RegisterStatusNotifierItem"));
    // By object path, as libappindicator does: every watcher takes the caller's connection with it.
    // By the name, GNOME's extension watches that name as well, and its first report of it, coming
    // while the extension reads the item, makes it drop the item (about one start in three).
    call << QString::fromLatin1(kPath);
    // Nothing to do with the answer: a watcher that refuses leaves us where we were, unseen.
    bus_.asyncCall(call, 5000);
}

void StatusNotifierItem::setIcon(const std::vector<QImage>& renderings)
{
    TrayPixmaps pixmaps;
    for (const QImage& rendering : renderings)
        pixmaps.append(trayPixmap(rendering));
    pixmaps_ = std::move(pixmaps);
    Q_EMIT iconChanged();
}

void StatusNotifierItem::setToolTip(const QString& title)
{
    if (title == toolTip_)
        return;
    toolTip_ = title;
    Q_EMIT toolTipChanged();
}

void StatusNotifierItem::setLabel(const QString& label)
{
    if (label == label_)
        return;
    label_ = label;
    Q_EMIT labelChanged(label_, QString());
}

// ---------------------------------------------------------------------------------------------

StatusNotifierItemAdaptor::StatusNotifierItemAdaptor(StatusNotifierItem* item) : QDBusAbstractAdaptor(item), item_(item)
{
}

QString StatusNotifierItemAdaptor::id() const { return QCoreApplication::applicationName(); }

// Where a host lists its items by name (Plasma's tray settings, GNOME's accessible names).
QString StatusNotifierItemAdaptor::title() const { return QGuiApplication::applicationDisplayName(); }

QDBusObjectPath StatusNotifierItemAdaptor::menu() const
{
    return QDBusObjectPath(QLatin1String(DBusMenuExport::kPath));
}

TrayToolTip StatusNotifierItemAdaptor::toolTip() const { return TrayToolTip{{}, {}, item_->toolTipTitle(), {}}; }

void StatusNotifierItemAdaptor::Activate(int x, int y) { Q_EMIT item_->activated(QPoint(x, y)); }

// A host that has no menu of its own to show asks us to show ours.
void StatusNotifierItemAdaptor::ContextMenu(int x, int y) { Q_EMIT item_->activated(QPoint(x, y)); }

void StatusNotifierItemAdaptor::SecondaryActivate(int, int) { Q_EMIT item_->secondaryActivated(); }

// GNOME's extension asks this way first, and says SecondaryActivate only where this is missing.
void StatusNotifierItemAdaptor::XAyatanaSecondaryActivate(uint) { Q_EMIT item_->secondaryActivated(); }

void StatusNotifierItemAdaptor::Scroll(int delta, const QString& orientation)
{
    // Plasma writes "Vertical", GTK hosts "vertical"; sideways turns change nothing here.
    if (orientation.compare(QLatin1String("vertical"), Qt::CaseInsensitive) == 0 && delta != 0)
        Q_EMIT item_->scrolled(delta);
}

} // namespace platform::linux_impl
