// The status item's menu model on com.canonical.dbusmenu, for tray hosts that draw the menu
// themselves (every StatusNotifier host does on a right click, and on any click where the item
// says it is a menu).
#pragma once

#include "platform/Menu.h"
#include "platform/linux/tray/DBusTrayTypes.h"
#include "platform/linux/tray/MenuRendering.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace platform::linux_impl {

class DBusMenuExport final : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kPath = "/MenuBar";

    // Told true when a host opens the menu, false when it closed it.
    DBusMenuExport(QDBusConnection bus, std::function<void(bool open)> menuWatch, BoundKeys boundKeys = {});
    ~DBusMenuExport() override;
    DBusMenuExport(const DBusMenuExport&) = delete;
    DBusMenuExport& operator=(const DBusMenuExport&) = delete;

    // The model goes out from the event loop: an entry's action may replace the model it is part
    // of, and several changes in a row reach the hosts as one.
    void setModel(std::shared_ptr<Menu> model);
    // The same model shown again (what the desktop bound for our shortcuts changed).
    void refresh() { setModel(model_); }

    // What the adaptor answers hosts with; none for an entry that is not (or no longer) there.
    uint revision() const { return revision_; }
    std::optional<DBusMenuLayout> layout(int parentId, int depth, const QStringList& names) const;
    DBusMenuItemPropertiesList properties(const QList<int>& ids, const QStringList& names) const;
    std::optional<QVariant> property(int id, const QString& name) const;
    // False for an entry that is not there.
    bool handleEvent(int id, const QString& eventId);
    bool aboutToShow(int id);
    const QDBusConnection& bus() const { return bus_; }

Q_SIGNALS:
    void layoutUpdated(uint revision, int parent);
    void itemsPropertiesUpdated(const DBusMenuItemPropertiesList& updated, const DBusMenuItemKeysList& removed);

private:
    // The menu flattened: the root first, then every entry, each after its parent.
    struct Entry {
        std::shared_ptr<MenuItem> item;
        std::size_t parent = 0;
        std::vector<std::size_t> children;
        QVariantMap properties;
    };
    static std::vector<Entry> flatten(const Menu* model, const BoundKeys& boundKeys);
    static void append(const Menu& menu, std::size_t parent, std::vector<Entry>& entries, const BoundKeys& boundKeys);
    static bool sameShape(const std::vector<Entry>& a, const std::vector<Entry>& b);
    void publish();
    int idOf(std::size_t index) const { return index == 0 ? 0 : idBase_ + int(index); }
    std::optional<std::size_t> indexOf(int id) const;
    DBusMenuLayout layoutOf(std::size_t index, int depth, const QStringList& names) const;

    QDBusConnection bus_;
    std::function<void(bool)> menuWatch_;
    BoundKeys boundKeys_;
    std::shared_ptr<Menu> model_;
    std::vector<Entry> entries_;
    int idBase_ = 0;
    uint revision_ = 1;
    bool publishQueued_ = false;
    bool registered_ = false;
};

// com.canonical.dbusmenu, as hosts call it. Calls name entries by id: one that names none is
// answered with an error.
class DBusMenuAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    explicit DBusMenuAdaptor(DBusMenuExport* menu);

    uint version() const { return 3; }
    QString textDirection() const { return QStringLiteral("ltr"); }
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

public Q_SLOTS:
    // QtDBus finds parameter types by their full names.
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames, const QDBusMessage& message,
                   platform::linux_impl::DBusMenuLayout& layout);
    DBusMenuItemPropertiesList GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames);
    QDBusVariant GetProperty(int id, const QString& name, const QDBusMessage& message);
    void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp, const QDBusMessage& message);
    QList<int> EventGroup(const QList<platform::linux_impl::DBusMenuEvent>& events, const QDBusMessage& message);
    bool AboutToShow(int id, const QDBusMessage& message);
    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

Q_SIGNALS:
    void ItemsPropertiesUpdated(const QList<platform::linux_impl::DBusMenuItemProperties>& updatedProps,
                                const QList<platform::linux_impl::DBusMenuItemKeys>& removedProps);
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

private:
    void refuse(const QDBusMessage& message, int id) const;

    DBusMenuExport* menu_;
};

} // namespace platform::linux_impl
