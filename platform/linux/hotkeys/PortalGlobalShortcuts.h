// Global shortcuts through the desktop portal (org.freedesktop.portal.GlobalShortcuts), for
// Wayland sessions: one session with a fixed token, each slot a shortcut id with its preferred
// trigger; the desktop decides, possibly after asking the user, what is bound. The session's life
// is in PortalGlobalShortcutsSession.cpp, the shortcuts' in PortalGlobalShortcuts.cpp.
#pragma once

#include "platform/linux/hotkeys/HotKeyBackend.h"
#include "platform/linux/hotkeys/PortalAnswers.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QLoggingCategory>
#include <QTimer>
#include <QVariantMap>

#include <functional>
#include <map>
#include <set>

class QDBusServiceWatcher;

namespace platform::linux_impl {

Q_DECLARE_LOGGING_CATEGORY(lcShortcuts)

// The portal's names, for the two files of the class below.
namespace portal {
inline const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
inline const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
inline const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
inline const QString kSessionInterface = QStringLiteral("org.freedesktop.portal.Session");
} // namespace portal

class PortalGlobalShortcuts final : public HotKeyBackend {
    Q_OBJECT
public:
    // A connection of its own: from 1.19 the portal learns who we are from the first call on a
    // connection, and Qt itself may already have asked the portal things on the shared one.
    explicit PortalGlobalShortcuts(const QDBusConnection& bus = QDBusConnection::connectToBus(
                                       QDBusConnection::SessionBus, QStringLiteral("kovra-radio-shortcuts")));
    ~PortalGlobalShortcuts() override;

    // Every call below is asynchronous: binding may wait on a dialog for as long as the user likes.
    std::unique_ptr<HotKeyBinding> bind(int slot, const HotKeyTrigger& trigger) override;
    QString boundTrigger(int slot) const override;

private Q_SLOTS:
    void onResponse(const QDBusMessage& message);
    void onActivated(const QDBusMessage& message);
    void onShortcutsChanged(const QDBusMessage& message);
    void onSessionClosed(const QDBusMessage& message);

private:
    class Binding;
    using Results = std::function<void(uint32_t response, const QVariantMap& results)>;

    void start();
    void probe(unsigned generation);
    // Closes a request still waiting on the user, and the session; nothing starts again after it.
    void close();
    // Once per process: what the user loses, and what to do instead.
    void warnOnce(const QString& what);
    void createSession();
    void listShortcuts();
    void bindShortcuts();
    void syncLater();
    void request(const QString& method, QList<QVariant> arguments, QVariantMap options, Results then);
    void takeBound(const PortalBindings& bindings);
    void dropSession(bool retry);
    void release(int slot);

    QDBusConnection bus_;
    QDBusServiceWatcher* watcher_ = nullptr;
    QTimer retry_;
    int retryDelayMs_ = 1000;
    bool probed_ = false;
    bool creating_ = false;
    bool busy_ = false; // a List or Bind is waiting for the desktop
    bool syncQueued_ = false;
    bool warned_ = false;
    bool closed_ = false;
    bool registered_ = false; // with the portal now on the bus
    unsigned requestCount_ = 0;
    unsigned generation_ = 0; // answers from before the last restart are stale
    QString session_;
    std::map<int, HotKeyTrigger> wanted_;
    std::map<int, QString> bound_;       // slot → the desktop's description of its trigger
    std::set<int> asked_;                // slots the desktop has been asked to bind in this session
    std::map<QString, Results> pending_; // request path → what to do with its response
};

} // namespace platform::linux_impl
