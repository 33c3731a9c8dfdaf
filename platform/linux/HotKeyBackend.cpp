// Trigger texts, and the choice of backend for this session: the desktop portal on Wayland, X11
// grabs otherwise or when the portal turns out missing, and nothing (said once) without either.
#include "platform/linux/HotKeyBackend.h"

#include "platform/linux/PortalGlobalShortcuts.h"
#include "platform/linux/X11HotKeys.h"

#include <QKeySequence>
#include <QPointer>
#include <QRegularExpression>
#include <QtGlobal>

#include <map>
#include <utility>

namespace platform::linux_impl {

namespace {

// The trigger spelled with the given modifier names, in the order both spellings use.
QString spelled(const HotKeyTrigger& trigger, const char* control, const char* alt, const char* shift,
                const char* super)
{
    QString text;
    for (const auto& [on, name] : {std::pair{trigger.control, control}, std::pair{trigger.alt, alt},
                                   std::pair{trigger.shift, shift}, std::pair{trigger.super, super}}) {
        if (on)
            text += QLatin1String(name) + QLatin1Char('+');
    }
    return text + QString::number(trigger.digit);
}

} // namespace

QString HotKeyTrigger::portalText() const { return spelled(*this, "CTRL", "ALT", "SHIFT", "LOGO"); }

QString HotKeyTrigger::displayText() const { return spelled(*this, "Ctrl", "Alt", "Shift", "Meta"); }

namespace {

// One key sequence in Qt's portable notation, normalised; empty unless the text is exactly one.
QString portableKeys(const QString& text)
{
    const QKeySequence keys = QKeySequence::fromString(text, QKeySequence::PortableText);
    if (keys.count() != 1 || keys[0].key() == Qt::Key_unknown)
        return {};
    const QString normal = keys.toString(QKeySequence::PortableText);
    return normal.compare(text, Qt::CaseInsensitive) == 0 ? normal : QString();
}

// "<Control><Alt>1" as "Ctrl+Alt+1"; empty for a modifier GTK has and Qt does not.
QString fromGtkAccelerator(const QString& modifiers, const QString& key)
{
    static const QRegularExpression kModifier(QStringLiteral("<([^<>]+)>"));
    QString text;
    for (auto it = kModifier.globalMatch(modifiers); it.hasNext();) {
        const QString name = it.next().captured(1).toLower();
        if (name == u"control" || name == u"ctrl" || name == u"primary")
            text += QStringLiteral("Ctrl+");
        else if (name == u"alt" || name == u"mod1")
            text += QStringLiteral("Alt+");
        else if (name == u"shift")
            text += QStringLiteral("Shift+");
        else if (name == u"super" || name == u"meta" || name == u"mod4")
            text += QStringLiteral("Meta+");
        else
            return {};
    }
    return portableKeys(text + key);
}

} // namespace

QString readableTrigger(const QString& description)
{
    // GNOME: a sentence (its words translated) around the accelerator.
    static const QRegularExpression kGtk(QStringLiteral("((?:<[A-Za-z0-9_]+>)+)([A-Za-z0-9_]+)"));
    const QRegularExpressionMatch gtk = kGtk.match(description);
    if (gtk.hasMatch())
        return fromGtkAccelerator(gtk.captured(1), gtk.captured(2));
    // Plasma: the key sequence itself; of several alternatives, the first.
    return portableKeys(description.section(QStringLiteral(", "), 0, 0).trimmed());
}

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

#include "HotKeyBackend.moc"
