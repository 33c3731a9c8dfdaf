// The typed interface every global-shortcut backend offers (X11 key grabs, the desktop portal):
// bind a numbered slot to a trigger, hold the binding as long as it should last, hear which slot
// fired, and say what the desktop really bound. makeHotKeyBackend() (HotKeyBackendChoice.h) picks
// the one this session has.
#pragma once

#include <QObject>
#include <QString>

#include <memory>

namespace platform::linux_impl {

// A shortcut on one of the digit keys 1 to 5, by position on the keyboard, with modifiers.
struct HotKeyTrigger {
    int digit = 1;
    bool alt = false;
    bool control = false;
    bool shift = false;
    bool super = false;

    // As the desktop portal writes triggers: "CTRL+ALT+1".
    QString portalText() const;
    // As a person reads it, and as the menu shows it: "Ctrl+Alt+1".
    QString displayText() const;
    bool operator==(const HotKeyTrigger&) const = default;
};

// A desktop's description of what it bound, as a person reads it and the menu shows it
// ("Ctrl+Alt+1"). Desktops write a key sequence ("Meta+Alt+1") or a sentence around a GTK
// accelerator ("Press <Alt>1", perhaps translated); empty when no key can be read from it, as
// a sentence shown beside a channel would mean nothing there.
QString readableTrigger(const QString& description);

// Held while a slot is bound; destroying it releases the binding.
class HotKeyBinding {
public:
    virtual ~HotKeyBinding() = default;
};

class HotKeyBackend : public QObject {
    Q_OBJECT
public:
    // Asks for the slot to fire on the trigger. Null when the backend can tell at once that it
    // cannot (the key is held by another program, there is no display); a backend that must ask
    // the desktop returns a binding at once and reports the outcome through bindingsChanged().
    virtual std::unique_ptr<HotKeyBinding> bind(int slot, const HotKeyTrigger& trigger) = 0;
    // The trigger the desktop actually bound for the slot, as a person reads it; empty while it
    // is not (or not yet) bound.
    virtual QString boundTrigger(int slot) const = 0;

Q_SIGNALS:
    // One physical press of a bound slot's trigger, delivered from the event loop.
    void activated(int slot);
    void bindingsChanged();
    // The backend cannot work in this session after all (the desktop turned out to lack it).
    void unavailable(const QString& reason);
};

} // namespace platform::linux_impl
