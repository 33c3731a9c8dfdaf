// The hot-key service in the shape the units call, spoken over one typed backend; and what the
// desktop bound for each of our shortcuts, for the tray menu to show.
#pragma once

#include "platform/HotKeys.h"
#include "platform/linux/hotkeys/HotKeyBackend.h"

#include <QKeySequence>
#include <QObject>

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <vector>

namespace platform::linux_impl {

// An application event target, a plain-function handler, registrations by virtual key code with
// status codes, and the hot key id read back from the event. This class alone speaks that shape;
// below it every backend is typed. Destroying it releases every binding its backend holds.
class HotKeyFacade final : public QObject, public HotKeyService {
    Q_OBJECT
public:
    explicit HotKeyFacade(std::unique_ptr<HotKeyBackend> backend);
    ~HotKeyFacade() override;
    HotKeyFacade(const HotKeyFacade&) = delete;
    HotKeyFacade& operator=(const HotKeyFacade&) = delete;

    EventTargetRef applicationEventTarget() override;
    OSStatus installEventHandler(EventTargetRef target, EventHandlerProcPtr handler, uint32_t numTypes,
                                 const EventTypeSpec* types, void* userData, EventHandlerRef* outRef) override;
    OSStatus registerEventHotKey(uint32_t keyCode, uint32_t modifiers, EventHotKeyID id, EventTargetRef target,
                                 uint32_t options, EventHotKeyRef* outRef) override;
    OSStatus getEventParameter(EventRef event, OSType name, OSType desiredType, OSType* actualType, size_t bufferSize,
                               size_t* actualSize, void* outData) override;
    std::string boundKeyText(EventHotKeyRef ref) const override;
    void setBindingsChangedHandler(std::function<void()> handler) override;

    // For a shortcut as a menu would show it: when one of our hot keys asked for that trigger,
    // what the desktop bound in its place (empty: nothing, so show none); none when no hot key
    // of ours asked for it.
    std::optional<QString> boundText(const QKeySequence& requested) const;
    // Runs the handler as a press of the shortcut registered with this id would, whether or not
    // the desktop bound it. False when no shortcut was asked for with it.
    bool press(uint32_t id);
    // The same, from the event loop, once the shortcut with this id has been asked for.
    void pressWhenRegistered(uint32_t id) { pressOnRegistration_ = id; }

Q_SIGNALS:
    // What the desktop bound has changed (at once, for each change).
    void bindingsChanged();

private:
    struct Registration {
        HotKeyTrigger trigger;
        EventHotKeyID id;
        std::unique_ptr<HotKeyBinding> binding;
    };
    struct Handler {
        EventHandlerProcPtr proc = nullptr;
        void* userData = nullptr;
        bool wantsPresses = false;
    };

    void notifyLater();
    void dispatch(EventHotKeyID id);

    std::unique_ptr<HotKeyBackend> backend_;
    std::list<Registration> registrations_;
    std::vector<EventHotKeyID> requested_;
    std::list<Handler> handlers_;
    std::vector<const void*> eventsInFlight_;
    std::function<void()> unitsHandler_;
    std::optional<uint32_t> pressOnRegistration_;
    bool notifyQueued_ = false;
};

} // namespace platform::linux_impl
