// The D-Bus shapes of a tray item and its exported menu (StatusNotifierItem pixmaps and tooltip,
// com.canonical.dbusmenu layouts, properties and events), and how they are written and read.
#pragma once

#include <QDBusArgument>
#include <QDBusVariant>
#include <QImage>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace platform::linux_impl {

// One icon size: width, height and ARGB32 pixels in network byte order (a(iiay)).
struct TrayPixmap {
    int width = 0;
    int height = 0;
    QByteArray argb;
};
using TrayPixmaps = QList<TrayPixmap>;
TrayPixmap trayPixmap(const QImage& image);

// (sa(iiay)ss): icon name, icons, title, description.
struct TrayToolTip {
    QString iconName;
    TrayPixmaps pixmaps;
    QString title;
    QString description;
};

// A menu entry with its properties and, as variants, its children ((ia{sv}av)).
struct DBusMenuLayout {
    int id = 0;
    QVariantMap properties;
    QList<DBusMenuLayout> children;
};

// An entry's properties (ia{sv}), and names of properties it no longer has (ias).
struct DBusMenuItemProperties {
    int id = 0;
    QVariantMap properties;
};
struct DBusMenuItemKeys {
    int id = 0;
    QStringList keys;
};
using DBusMenuItemPropertiesList = QList<DBusMenuItemProperties>;
using DBusMenuItemKeysList = QList<DBusMenuItemKeys>;

// What a host reports the user did to an entry (isvu).
struct DBusMenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
using DBusMenuEventList = QList<DBusMenuEvent>;

// A key combination per element, each as modifier names and the key (aas).
using DBusMenuShortcut = QList<QStringList>;

// Makes the types above known to QtDBus; later calls do nothing.
void registerTrayTypes();

QDBusArgument& operator<<(QDBusArgument& argument, const TrayPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& argument, TrayPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& argument, const TrayToolTip& toolTip);
const QDBusArgument& operator>>(const QDBusArgument& argument, TrayToolTip& toolTip);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuLayout& layout);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuLayout& layout);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItemProperties& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItemProperties& item);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItemKeys& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItemKeys& item);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuEvent& event);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuEvent& event);

} // namespace platform::linux_impl

Q_DECLARE_METATYPE(platform::linux_impl::TrayPixmap)
Q_DECLARE_METATYPE(platform::linux_impl::TrayToolTip)
Q_DECLARE_METATYPE(platform::linux_impl::DBusMenuLayout)
Q_DECLARE_METATYPE(platform::linux_impl::DBusMenuItemProperties)
Q_DECLARE_METATYPE(platform::linux_impl::DBusMenuItemKeys)
Q_DECLARE_METATYPE(platform::linux_impl::DBusMenuEvent)
