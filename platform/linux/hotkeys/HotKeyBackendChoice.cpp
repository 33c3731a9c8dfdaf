// The choice of hot-key backend for this session: the desktop portal on Wayland, X11 grabs
// otherwise or when the portal turns out missing, and nothing (said once) without either.
#include "platform/linux/hotkeys/HotKeyBackendChoice.h"

#include "platform/linux/hotkeys/PortalGlobalShortcuts.h"
#include "platform/linux/hotkeys/X11HotKeys.h"

#include <QPointer>
#include <QtGlobal>

#include <map>
#include <utility>

namespace platform::linux_impl {

namespace {

void logNoShortcuts(const QString& reason)
{
    qWarning("kovra-radio: no global shortcuts in this session (%s); the app runs on without them. Bind "
             "'kovra-radio --slot N' in the desktop's keyboard settings instead.",
             qPrintable(reason));
}

// Starts on the first backend and, should it find the desktop lacks it, moves every binding
// still held to the second. A binding is a slot and trigger kept here, and the current
// backend's binding for it.
class FallbackHotKeys final : public HotKeyBackend {
    Q_OBJECT
public:
    FallbackHotKeys(std::unique_ptr<HotKeyBackend> first, std::unique_ptr<X11HotKeys> second)
        : second_(std::move(second))
    {
        use(std::move(first));
        connect(current_.get(), &HotKeyBackend::unavailable, this, [this](const QString& reason) {
            if (!second_->hasDisplay())
                logNoShortcuts(reason + QStringLiteral(", and no X display"));
            // Not from inside the first backend's own signal: it is destroyed here.
            QMetaObject::invokeMethod(
                this, [this] { switchToSecond(); }, Qt::QueuedConnection);
        });
    }

    std::unique_ptr<HotKeyBinding> bind(int slot, const HotKeyTrigger& trigger) override
    {
        auto inner = current_->bind(slot, trigger);
        if (!inner)
            return nullptr;
        entries_[slot] = Entry{trigger, std::move(inner)};
        return std::make_unique<Binding>(this, slot);
    }
    QString boundTrigger(int slot) const override { return current_->boundTrigger(slot); }

private:
    struct Entry {
        HotKeyTrigger trigger;
        std::unique_ptr<HotKeyBinding> inner;
    };
    class Binding final : public HotKeyBinding {
    public:
        Binding(FallbackHotKeys* owner, int slot) : owner_(owner), slot_(slot) {}
        ~Binding() override
        {
            if (owner_)
                owner_->entries_.erase(slot_);
        }

    private:
        QPointer<FallbackHotKeys> owner_;
        int slot_;
    };

    void use(std::unique_ptr<HotKeyBackend> backend)
    {
        current_ = std::move(backend);
        connect(current_.get(), &HotKeyBackend::activated, this, &HotKeyBackend::activated);
        connect(current_.get(), &HotKeyBackend::bindingsChanged, this, &HotKeyBackend::bindingsChanged);
    }

    void switchToSecond()
    {
        if (!second_)
            return;
        for (auto& [slot, entry] : entries_)
            entry.inner.reset();
        use(std::move(second_));
        for (auto& [slot, entry] : entries_)
            entry.inner = current_->bind(slot, entry.trigger);
        Q_EMIT bindingsChanged();
    }

    std::unique_ptr<HotKeyBackend> current_;
    std::unique_ptr<X11HotKeys> second_;
    std::map<int, Entry> entries_;
};

bool waylandSession()
{
    return qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland")
           || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace

std::unique_ptr<HotKeyBackend> makeHotKeyBackend()
{
    auto x11 = std::make_unique<X11HotKeys>();
    // On Wayland X11 grabs see keys only while one of the X11 windows has the focus.
    if (waylandSession())
        return std::make_unique<FallbackHotKeys>(std::make_unique<PortalGlobalShortcuts>(), std::move(x11));
    if (!x11->hasDisplay())
        logNoShortcuts(QStringLiteral("no X display, and not a Wayland session"));
    return x11;
}

} // namespace platform::linux_impl

#include "HotKeyBackendChoice.moc"
