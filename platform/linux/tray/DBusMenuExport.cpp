// The menu export: the model flattened into numbered entries, sent whole when its shape changes
// and as the changed properties only when the same entries show new states.
#include "platform/linux/tray/DBusMenuExport.h"

#include "platform/linux/tray/MenuRendering.h"

#include <QTimer>

namespace platform::linux_impl {

namespace {

const char* const kUnknownEntry = "org.freedesktop.DBus.Error.InvalidArgs";

// A label marks its mnemonic with '_': the title has none, and its own underscores stay.
QString labelFor(QString title) { return title.replace(QLatin1Char('_'), QLatin1String("__")); }

// Each key combination as the names hosts read: modifiers first, then the key.
DBusMenuShortcut shortcutOf(const QKeySequence& keys)
{
    DBusMenuShortcut shortcut;
    for (int i = 0; i < keys.count(); ++i) {
        const QKeyCombination combination = keys[i];
        const Qt::KeyboardModifiers modifiers = combination.keyboardModifiers();
        QStringList names;
        for (const auto& [modifier, name] :
             {std::pair{Qt::MetaModifier, "Super"}, std::pair{Qt::ControlModifier, "Control"},
              std::pair{Qt::AltModifier, "Alt"}, std::pair{Qt::ShiftModifier, "Shift"}}) {
            if (modifiers & modifier)
                names << QLatin1String(name);
        }
        const QString key = QKeySequence(combination.key()).toString(QKeySequence::PortableText);
        names << (key == QLatin1String("+")   ? QStringLiteral("plus")
                  : key == QLatin1String("-") ? QStringLiteral("minus")
                                              : key);
        shortcut << names;
    }
    return shortcut;
}

// What hosts show of an item; values that are the protocol's defaults are left out.
QVariantMap propertiesOf(const MenuItem& item, const BoundKeys& boundKeys)
{
    if (item.isSeparatorItem())
        return {{QStringLiteral("type"), QStringLiteral("separator")}};
    const ShownItem shown = shownItem(item, boundKeys);
    QVariantMap properties{{QStringLiteral("label"), labelFor(shown.text)}};
    if (!isEnabledItem(item))
        properties.insert(QStringLiteral("enabled"), false);
    if (isToggleItem(item)) {
        properties.insert(QStringLiteral("toggle-type"), QStringLiteral("checkmark"));
        properties.insert(QStringLiteral("toggle-state"), item.state() == ControlStateValueOn ? 1 : 0);
    }
    if (item.submenu())
        properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    if (!shown.shortcut.isEmpty())
        properties.insert(QStringLiteral("shortcut"), QVariant::fromValue(shortcutOf(shown.shortcut)));
    return properties;
}

QVariantMap only(const QVariantMap& properties, const QStringList& names)
{
    if (names.isEmpty())
        return properties;
    QVariantMap kept;
    for (const QString& name : names) {
        if (properties.contains(name))
            kept.insert(name, properties.value(name));
    }
    return kept;
}

} // namespace

DBusMenuExport::DBusMenuExport(QDBusConnection bus, std::function<void(bool)> menuWatch, BoundKeys boundKeys)
    : bus_(std::move(bus)), menuWatch_(std::move(menuWatch)), boundKeys_(std::move(boundKeys)),
      entries_(flatten(nullptr, boundKeys_))
{
    registerTrayTypes();
    new DBusMenuAdaptor(this);
    registered_ =
        bus_.isConnected() && bus_.registerObject(QLatin1String(kPath), this, QDBusConnection::ExportAdaptors);
}

DBusMenuExport::~DBusMenuExport()
{
    if (registered_)
        bus_.unregisterObject(QLatin1String(kPath));
}

void DBusMenuExport::setModel(std::shared_ptr<Menu> model)
{
    model_ = std::move(model);
    if (publishQueued_)
        return;
    publishQueued_ = true;
    QTimer::singleShot(0, this, [this] {
        publishQueued_ = false;
        publish();
    });
}

std::vector<DBusMenuExport::Entry> DBusMenuExport::flatten(const Menu* model, const BoundKeys& boundKeys)
{
    std::vector<Entry> entries(1);
    entries[0].properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    if (model)
        append(*model, 0, entries, boundKeys);
    return entries;
}

void DBusMenuExport::append(const Menu& menu, std::size_t parent, std::vector<Entry>& entries,
                            const BoundKeys& boundKeys)
{
    for (const auto& item : menu.items()) {
        const std::size_t index = entries.size();
        entries.push_back({item, parent, {}, propertiesOf(*item, boundKeys)});
        entries[parent].children.push_back(index);
        if (item->submenu())
            append(*item->submenu(), index, entries, boundKeys);
    }
}

bool DBusMenuExport::sameShape(const std::vector<Entry>& a, const std::vector<Entry>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 1; i < a.size(); ++i) {
        if (a[i].parent != b[i].parent || a[i].item->isSeparatorItem() != b[i].item->isSeparatorItem()
            || bool(a[i].item->submenu()) != bool(b[i].item->submenu()))
            return false;
    }
    return true;
}

void DBusMenuExport::publish()
{
    std::vector<Entry> next = flatten(model_.get(), boundKeys_);
    if (!sameShape(entries_, next)) {
        // New ids for a new layout: a host's click on an entry it showed before must not land on
        // whatever now has its number.
        idBase_ = (idBase_ + int(entries_.size())) % (1 << 30);
        entries_ = std::move(next);
        Q_EMIT layoutUpdated(++revision_, 0);
        return;
    }
    DBusMenuItemPropertiesList updated;
    DBusMenuItemKeysList removed;
    for (std::size_t i = 1; i < next.size(); ++i) {
        const QVariantMap& before = entries_[i].properties;
        QVariantMap changed;
        QStringList gone;
        for (auto it = next[i].properties.cbegin(); it != next[i].properties.cend(); ++it) {
            if (before.value(it.key()) != it.value())
                changed.insert(it.key(), it.value());
        }
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            if (!next[i].properties.contains(it.key()))
                gone << it.key();
        }
        if (!changed.isEmpty())
            updated.append({idOf(i), changed});
        if (!gone.isEmpty())
            removed.append({idOf(i), gone});
    }
    entries_ = std::move(next);
    if (!updated.isEmpty() || !removed.isEmpty())
        Q_EMIT itemsPropertiesUpdated(updated, removed);
}

std::optional<std::size_t> DBusMenuExport::indexOf(int id) const
{
    if (id == 0)
        return 0;
    const qint64 index = qint64(id) - idBase_;
    if (index < 1 || index >= qint64(entries_.size()))
        return std::nullopt;
    return std::size_t(index);
}

DBusMenuLayout DBusMenuExport::layoutOf(std::size_t index, int depth, const QStringList& names) const
{
    DBusMenuLayout layout{idOf(index), only(entries_[index].properties, names), {}};
    // A negative depth asks for the whole subtree.
    if (depth != 0) {
        for (std::size_t child : entries_[index].children)
            layout.children.append(layoutOf(child, depth < 0 ? depth : depth - 1, names));
    }
    return layout;
}

std::optional<DBusMenuLayout> DBusMenuExport::layout(int parentId, int depth, const QStringList& names) const
{
    const auto index = indexOf(parentId);
    return index ? std::optional(layoutOf(*index, depth, names)) : std::nullopt;
}

DBusMenuItemPropertiesList DBusMenuExport::properties(const QList<int>& ids, const QStringList& names) const
{
    DBusMenuItemPropertiesList found;
    for (int id : ids) {
        if (const auto index = indexOf(id))
            found.append({id, only(entries_[*index].properties, names)});
    }
    return found;
}

std::optional<QVariant> DBusMenuExport::property(int id, const QString& name) const
{
    const auto index = indexOf(id);
    if (!index || !entries_[*index].properties.contains(name))
        return std::nullopt;
    return entries_[*index].properties.value(name);
}

bool DBusMenuExport::handleEvent(int id, const QString& eventId)
{
    const auto index = indexOf(id);
    if (!index)
        return false;
    if (eventId == QLatin1String("clicked")) {
        // Held by value: the action may replace the model, and with it this entry.
        const std::shared_ptr<MenuItem> item = entries_[*index].item;
        if (item && isEnabledItem(*item) && !item->action().empty())
            sendAction(*item);
    } else if (*index == 0 && menuWatch_
               && (eventId == QLatin1String("opened") || eventId == QLatin1String("closed"))) {
        menuWatch_(eventId == QLatin1String("opened"));
    }
    return true;
}

bool DBusMenuExport::aboutToShow(int id)
{
    const auto index = indexOf(id);
    if (index && *index == 0 && menuWatch_)
        menuWatch_(true);
    return index.has_value();
}

// ---------------------------------------------------------------------------------------------

DBusMenuAdaptor::DBusMenuAdaptor(DBusMenuExport* menu) : QDBusAbstractAdaptor(menu), menu_(menu)
{
    connect(menu, &DBusMenuExport::layoutUpdated, this, &DBusMenuAdaptor::LayoutUpdated);
    connect(menu, &DBusMenuExport::itemsPropertiesUpdated, this, &DBusMenuAdaptor::ItemsPropertiesUpdated);
}

void DBusMenuAdaptor::refuse(const QDBusMessage& message, int id) const
{
    message.setDelayedReply(true);
    menu_->bus().send(
        message.createErrorReply(QLatin1String(kUnknownEntry), QStringLiteral("No menu entry %1").arg(id)));
}

uint DBusMenuAdaptor::GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                                const QDBusMessage& message, DBusMenuLayout& layout)
{
    if (auto found = menu_->layout(parentId, recursionDepth, propertyNames))
        layout = std::move(*found);
    else
        refuse(message, parentId);
    return menu_->revision();
}

DBusMenuItemPropertiesList DBusMenuAdaptor::GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames)
{
    return menu_->properties(ids, propertyNames);
}

QDBusVariant DBusMenuAdaptor::GetProperty(int id, const QString& name, const QDBusMessage& message)
{
    const auto value = menu_->property(id, name);
    if (!value)
        refuse(message, id);
    return QDBusVariant(value.value_or(QVariant(0)));
}

void DBusMenuAdaptor::Event(int id, const QString& eventId, const QDBusVariant&, uint, const QDBusMessage& message)
{
    if (!menu_->handleEvent(id, eventId))
        refuse(message, id);
}

QList<int> DBusMenuAdaptor::EventGroup(const DBusMenuEventList& events, const QDBusMessage& message)
{
    QList<int> unknown;
    for (const DBusMenuEvent& event : events) {
        if (!menu_->handleEvent(event.id, event.eventId))
            unknown << event.id;
    }
    if (!events.isEmpty() && unknown.size() == events.size())
        refuse(message, unknown.first());
    return unknown;
}

bool DBusMenuAdaptor::AboutToShow(int id, const QDBusMessage& message)
{
    if (!menu_->aboutToShow(id))
        refuse(message, id);
    // The menu is always up to date: nothing to fetch before showing it.
    return false;
}

QList<int> DBusMenuAdaptor::AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors)
{
    for (int id : ids) {
        if (!menu_->aboutToShow(id))
            idErrors << id;
    }
    return {};
}

} // namespace platform::linux_impl
