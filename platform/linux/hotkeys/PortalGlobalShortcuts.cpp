// Global shortcuts through the desktop portal. Nothing here waits on the bus: the portal answers
// each request with a Response signal, perhaps only after the user closes a dialog, or never.
#include "platform/linux/hotkeys/PortalGlobalShortcuts.h"

#include "platform/linux/desktop/AppIdentity.h"
#include "platform/linux/hotkeys/PortalAnswers.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QPointer>

namespace {

// One entry of the portal's shortcut lists, a(sa{sv}): an id and its properties.
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(PortalShortcut)

namespace platform::linux_impl {

// QT_LOGGING_RULES=kovra.shortcuts.debug=true follows the talk with the desktop.
Q_LOGGING_CATEGORY(lcShortcuts, "kovra.shortcuts", QtWarningMsg)

namespace {

using namespace portal;

QString shortcutId(int slot) { return QStringLiteral("slot-%1").arg(slot + 1); }

std::optional<int> slotForId(const QString& id)
{
    bool ok = false;
    const int number = id.startsWith(QLatin1String("slot-")) ? id.mid(5).toInt(&ok) : 0;
    return ok && number >= 1 ? std::optional<int>(number - 1) : std::nullopt;
}

} // namespace

class PortalGlobalShortcuts::Binding final : public HotKeyBinding {
public:
    Binding(PortalGlobalShortcuts* backend, int slot) : backend_(backend), slot_(slot) {}
    ~Binding() override
    {
        if (backend_)
            backend_->release(slot_);
    }

private:
    QPointer<PortalGlobalShortcuts> backend_;
    int slot_;
};

PortalGlobalShortcuts::PortalGlobalShortcuts(const QDBusConnection& bus) : bus_(bus)
{
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, &PortalGlobalShortcuts::start);
    // 1.16 sends every session's presses to every listener: onActivated keeps our own.
    bus_.connect(kService, kPath, kInterface, QStringLiteral("Activated"), this, SLOT(onActivated(QDBusMessage)));
    bus_.connect(kService, kPath, kInterface, QStringLiteral("ShortcutsChanged"), this,
                 SLOT(onShortcutsChanged(QDBusMessage)));
    watcher_ = new QDBusServiceWatcher(kService, bus_, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString& oldOwner, const QString& newOwner) {
                // Until the first probe answers, an owner that comes is the portal our own first call
                // started, and that call's answer is still to come.
                qCDebug(lcShortcuts) << "portal owner" << oldOwner << "->" << newOwner;
                if (!probed_)
                    return;
                // A restarted portal knows nothing of us: neither our registration nor our session.
                if (!oldOwner.isEmpty()) {
                    registered_ = false;
                    dropSession(newOwner.isEmpty());
                }
                if (newOwner.isEmpty())
                    return;
                // One start at a time: one already under way (its call may be what started this
                // portal) goes on with it.
                retry_.stop();
                retryDelayMs_ = 1000;
                start();
            });
    if (!bus_.isConnected()) {
        QMetaObject::invokeMethod(
            this, [this] { Q_EMIT unavailable(QStringLiteral("no session bus")); }, Qt::QueuedConnection);
        return;
    }
    start();
}

std::unique_ptr<HotKeyBinding> PortalGlobalShortcuts::bind(int slot, const HotKeyTrigger& trigger)
{
    wanted_[slot] = trigger;
    syncLater();
    return std::make_unique<Binding>(this, slot);
}

QString PortalGlobalShortcuts::boundTrigger(int slot) const
{
    auto it = bound_.find(slot);
    return it == bound_.end() ? QString() : it->second;
}

void PortalGlobalShortcuts::release(int slot)
{
    // The portal cannot unbind one shortcut: its presses are simply no longer ours to act on.
    wanted_.erase(slot);
    if (bound_.erase(slot))
        Q_EMIT bindingsChanged();
}

void PortalGlobalShortcuts::createSession()
{
    if (creating_ || !session_.isEmpty())
        return;
    creating_ = true;
    // One session per connection, always under the same token.
    request(QStringLiteral("CreateSession"), {}, {{QStringLiteral("session_handle_token"), AppIdentity::busToken()}},
            [this](uint32_t response, const QVariantMap& results) {
                creating_ = false;
                session_ = response == 0 ? portalPath(results.value(QStringLiteral("session_handle"))) : QString();
                if (session_.isEmpty()) {
                    dropSession(true);
                    return;
                }
                retryDelayMs_ = 1000;
                bus_.connect(kService, session_, kSessionInterface, QStringLiteral("Closed"), this,
                             SLOT(onSessionClosed(QDBusMessage)));
                listShortcuts();
            });
}

void PortalGlobalShortcuts::syncLater()
{
    if (syncQueued_)
        return;
    syncQueued_ = true;
    // The five slots come one after another: they go to the desktop as one request.
    QMetaObject::invokeMethod(
        this,
        [this] {
            syncQueued_ = false;
            bindShortcuts();
        },
        Qt::QueuedConnection);
}

void PortalGlobalShortcuts::listShortcuts()
{
    if (session_.isEmpty() || busy_)
        return;
    busy_ = true;
    // What the desktop already holds for us is not asked for again.
    request(QStringLiteral("ListShortcuts"), {QVariant::fromValue(QDBusObjectPath(session_))}, {},
            [this](uint32_t response, const QVariantMap& results) {
                busy_ = false;
                if (response == 0)
                    takeBound(portalBindings(results.value(QStringLiteral("shortcuts"))).value_or(PortalBindings()));
                bindShortcuts();
            });
}

void PortalGlobalShortcuts::bindShortcuts()
{
    if (session_.isEmpty() || busy_)
        return;
    QList<PortalShortcut> shortcuts;
    bool anyNew = false;
    for (const auto& [slot, trigger] : wanted_) {
        anyNew = anyNew || (!bound_.count(slot) && !asked_.count(slot));
        // Shown among every other app's shortcuts, in the user's language: whose it is, and which.
        const QString description = QCoreApplication::translate("kovra-radio", "shortcut_description").arg(slot + 1);
        shortcuts.push_back({shortcutId(slot),
                             {{QStringLiteral("description"), description},
                              {QStringLiteral("preferred_trigger"), trigger.portalText()}}});
    }
    if (!anyNew)
        return;
    busy_ = true;
    for (const auto& entry : wanted_)
        asked_.insert(entry.first);
    request(QStringLiteral("BindShortcuts"),
            {QVariant::fromValue(QDBusObjectPath(session_)), QVariant::fromValue(shortcuts), QString()}, {},
            [this](uint32_t response, const QVariantMap& results) {
                busy_ = false;
                // Cancelled: the slots stay as they were. Otherwise the answer lists what is bound;
                // a slot it leaves out is not. GNOME 48 answers "failed" yet lists what it bound.
                if (response == 0 || results.contains(QStringLiteral("shortcuts")))
                    takeBound(portalBindings(results.value(QStringLiteral("shortcuts"))).value_or(PortalBindings()));
                QStringList unbound;
                for (const auto& entry : wanted_)
                    if (!bound_.count(entry.first))
                        unbound << QString::number(entry.first + 1);
                if (!unbound.isEmpty())
                    warnOnce(response == 1    ? QStringLiteral("the request for the global shortcuts was cancelled")
                             : bound_.empty() ? QStringLiteral("the desktop bound none of the global shortcuts")
                                              : QStringLiteral("the desktop bound no key for slot %1")
                                                    .arg(unbound.join(QStringLiteral(", "))));
                bindShortcuts();
            });
}

void PortalGlobalShortcuts::takeBound(const PortalBindings& bindings)
{
    bound_.clear();
    for (const auto& [id, trigger] : bindings) {
        const auto slot = slotForId(id);
        if (slot && wanted_.count(*slot))
            bound_[*slot] = readableTrigger(trigger);
    }
    Q_EMIT bindingsChanged();
}

void PortalGlobalShortcuts::request(const QString& method, QList<QVariant> arguments, QVariantMap options, Results then)
{
    // The Response goes to a path made of our bus name and the token: listen before asking.
    const QString token = AppIdentity::busToken() + QStringLiteral("_%1").arg(++requestCount_);
    QString sender = bus_.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    options.insert(QStringLiteral("handle_token"), token);
    pending_[path] = std::move(then);
    bus_.connect(kService, path, kRequestInterface, QStringLiteral("Response"), this, SLOT(onResponse(QDBusMessage)));

    auto message = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    arguments.push_back(options);
    message.setArguments(arguments);
    auto* call = new QDBusPendingCallWatcher(bus_.asyncCall(message), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this, path](QDBusPendingCallWatcher* watcher) {
        watcher->deleteLater();
        auto it = pending_.find(path);
        if (it == pending_.end())
            return;
        const QDBusPendingReply<QDBusObjectPath> reply = *watcher;
        if (reply.isError()) {
            Results then = std::move(it->second);
            pending_.erase(it);
            bus_.disconnect(kService, path, kRequestInterface, QStringLiteral("Response"), this,
                            SLOT(onResponse(QDBusMessage)));
            then(2, {});
        }
    });
}

void PortalGlobalShortcuts::onResponse(const QDBusMessage& message)
{
    auto it = pending_.find(message.path());
    if (it == pending_.end())
        return;
    Results then = std::move(it->second);
    pending_.erase(it);
    bus_.disconnect(kService, message.path(), kRequestInterface, QStringLiteral("Response"), this,
                    SLOT(onResponse(QDBusMessage)));
    qCDebug(lcShortcuts) << "answer to" << message.path() << message.arguments();
    // An answer we cannot read counts as a failed request.
    const auto answer = portalResponse(message.arguments()).value_or(PortalResponse());
    then(answer.response, answer.results);
}

void PortalGlobalShortcuts::onActivated(const QDBusMessage& message)
{
    const auto activation = portalActivation(message.arguments());
    if (session_.isEmpty() || !activation || activation->first != session_)
        return;
    const auto slot = slotForId(activation->second);
    if (slot && wanted_.count(*slot) && bound_.count(*slot))
        Q_EMIT activated(*slot);
}

void PortalGlobalShortcuts::onShortcutsChanged(const QDBusMessage& message)
{
    const auto changed = portalBindingsChanged(message.arguments());
    if (!session_.isEmpty() && changed && changed->first == session_)
        takeBound(changed->second);
}

void PortalGlobalShortcuts::onSessionClosed(const QDBusMessage& message)
{
    if (!session_.isEmpty() && message.path() == session_)
        dropSession(true);
}

} // namespace platform::linux_impl
