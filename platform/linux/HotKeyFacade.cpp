// The hot-key service in the shape the units call: an application event target, a plain-function
// handler, registrations by virtual key code with status codes, and the hot key id read back from
// the event. This file alone speaks that shape; below it every backend is typed.
#include "platform/linux/HotKeyFacade.h"

#include "platform/linux/DBusSlotCommand.h"

#include <algorithm>
#include <cstring>
#include <list>
#include <vector>

namespace platform::linux_impl {
namespace {

constexpr OSStatus kParamErr = -50;
constexpr OSStatus kEventInternalErr = -9868;
constexpr OSStatus kEventHotKeyExistsErr = -9878;

// The one application event target; only its address matters.
char applicationTargetToken;
EventTargetRef applicationTarget() { return reinterpret_cast<EventTargetRef>(&applicationTargetToken); }

// Virtual key codes of the digit keys 1 to 5, by position (5 is 23: 22 is the digit 6).
std::optional<int> digitForKeyCode(uint32_t keyCode)
{
    switch (keyCode) {
    case 18:
        return 1;
    case 19:
        return 2;
    case 20:
        return 3;
    case 21:
        return 4;
    case 23:
        return 5;
    default:
        return std::nullopt;
    }
}

std::optional<HotKeyTrigger> triggerFor(uint32_t keyCode, uint32_t modifiers)
{
    const auto digit = digitForKeyCode(keyCode);
    if (!digit || (modifiers & ~(cmdKey | shiftKey | optionKey | controlKey)))
        return std::nullopt;
    // Option is Alt; Command is the Super (logo) key.
    return HotKeyTrigger{*digit, bool(modifiers & optionKey), bool(modifiers & controlKey), bool(modifiers & shiftKey),
                         bool(modifiers & cmdKey)};
}

// What a handler receives as its EventRef. Only this file ever looks inside.
struct HotKeyEvent {
    EventHotKeyID id;
};

class HotKeyFacade;
HotKeyFacade* current = nullptr; // the most recently made service: the one installed
std::optional<uint32_t> pressOnRegistration;

class HotKeyFacade final : public HotKeyService {
public:
    explicit HotKeyFacade(std::unique_ptr<HotKeyBackend> backend) : backend_(std::move(backend))
    {
        QObject::connect(backend_.get(), &HotKeyBackend::activated, &context_, [this](int slot) {
            auto it = std::find_if(registrations_.begin(), registrations_.end(),
                                   [slot](const Registration& r) { return r.id.id == uint32_t(slot); });
            if (it != registrations_.end())
                dispatch(it->id);
        });
        QObject::connect(backend_.get(), &HotKeyBackend::bindingsChanged, &HotKeyBindings::instance(),
                         &HotKeyBindings::changed);
        QObject::connect(backend_.get(), &HotKeyBackend::bindingsChanged, &context_, [this] { notifyLater(); });
        current = this;
    }
    ~HotKeyFacade() override
    {
        if (current == this)
            current = nullptr;
        registrations_.clear(); // releases the bindings while their backend still lives
    }
    HotKeyFacade(const HotKeyFacade&) = delete;
    HotKeyFacade& operator=(const HotKeyFacade&) = delete;

    EventTargetRef applicationEventTarget() override { return applicationTarget(); }

    OSStatus installEventHandler(EventTargetRef target, EventHandlerProcPtr handler, uint32_t numTypes,
                                 const EventTypeSpec* types, void* userData, EventHandlerRef* outRef) override
    {
        if (target != applicationTarget() || !handler || (numTypes > 0 && !types))
            return kParamErr;
        Handler& installed = handlers_.emplace_back();
        installed.proc = handler;
        installed.userData = userData;
        installed.wantsPresses = std::any_of(types, types + numTypes, [](const EventTypeSpec& t) {
            return t.eventClass == kEventClassKeyboard && t.eventKind == kEventHotKeyPressed;
        });
        if (outRef)
            *outRef = reinterpret_cast<EventHandlerRef>(&installed);
        return noErr;
    }

    OSStatus registerEventHotKey(uint32_t keyCode, uint32_t modifiers, EventHotKeyID id, EventTargetRef target,
                                 uint32_t /*options*/, EventHotKeyRef* outRef) override
    {
        const auto trigger = triggerFor(keyCode, modifiers);
        if (!outRef || target != applicationTarget() || !trigger)
            return kParamErr;
        // Asked for, whatever the desktop answers: the command line may still press it.
        if (std::none_of(requested_.begin(), requested_.end(), [&](const EventHotKeyID& r) { return r.id == id.id; }))
            requested_.push_back(id);
        if (pressOnRegistration == id.id) {
            pressOnRegistration.reset();
            QMetaObject::invokeMethod(
                &context_, [this, id] { dispatch(id); }, Qt::QueuedConnection);
        }
        // The backend tells shortcuts apart by the id, so two registrations cannot share one.
        for (const auto& other : registrations_)
            if (other.trigger == *trigger || other.id.id == id.id)
                return kEventHotKeyExistsErr;
        auto binding = backend_->bind(int(id.id), *trigger);
        if (!binding)
            return kEventInternalErr;
        registrations_.push_back(Registration{*trigger, id, std::move(binding)});
        *outRef = reinterpret_cast<EventHotKeyRef>(&registrations_.back());
        return noErr;
    }

    OSStatus getEventParameter(EventRef event, OSType name, OSType desiredType, OSType* actualType, size_t bufferSize,
                               size_t* actualSize, void* outData) override
    {
        // Only events being delivered right now are ours to read; anything else is a stale or foreign pointer.
        if (!event || std::find(eventsInFlight_.begin(), eventsInFlight_.end(), event) == eventsInFlight_.end())
            return kParamErr;
        if (name != kEventParamDirectObject || desiredType != typeEventHotKeyID || bufferSize < sizeof(EventHotKeyID))
            return eventParameterNotFoundErr;
        if (!outData)
            return kParamErr;
        std::memcpy(outData, &reinterpret_cast<const HotKeyEvent*>(event)->id, sizeof(EventHotKeyID));
        if (actualType)
            *actualType = typeEventHotKeyID;
        if (actualSize)
            *actualSize = sizeof(EventHotKeyID);
        return noErr;
    }

    std::string boundKeyText(EventHotKeyRef ref) const override
    {
        for (const auto& r : registrations_)
            if (static_cast<const void*>(ref) == static_cast<const void*>(&r))
                return backend_->boundTrigger(int(r.id.id)).toStdString();
        return {};
    }

    void setBindingsChangedHandler(std::function<void()> handler) override { bindingsChanged_ = std::move(handler); }

    std::optional<QString> boundText(const QKeySequence& requested) const
    {
        for (const auto& r : registrations_)
            if (QKeySequence::fromString(r.trigger.displayText(), QKeySequence::PortableText) == requested)
                return backend_->boundTrigger(int(r.id.id));
        return std::nullopt;
    }

    bool press(uint32_t id)
    {
        auto it =
            std::find_if(requested_.begin(), requested_.end(), [id](const EventHotKeyID& r) { return r.id == id; });
        if (it == requested_.end())
            return false;
        dispatch(*it);
        return true;
    }

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

    // Several changes in a row (the five slots of one answer) make one call, after they are all in.
    void notifyLater()
    {
        if (notifyQueued_)
            return;
        notifyQueued_ = true;
        QMetaObject::invokeMethod(
            &context_,
            [this] {
                notifyQueued_ = false;
                if (auto handler = bindingsChanged_)
                    handler();
            },
            Qt::QueuedConnection);
    }

    void dispatch(EventHotKeyID id)
    {
        HotKeyEvent event{id};
        auto* ref = reinterpret_cast<EventRef>(&event);
        eventsInFlight_.push_back(ref);
        // The most recently installed handler first, as long as each declines the event.
        for (auto it = handlers_.rbegin(); it != handlers_.rend(); ++it) // NOLINT(modernize-loop-convert)
            if (it->wantsPresses && it->proc(nullptr, ref, it->userData) != eventNotHandledErr)
                break;
        eventsInFlight_.erase(std::find(eventsInFlight_.begin(), eventsInFlight_.end(), ref));
    }

    std::unique_ptr<HotKeyBackend> backend_;
    std::list<Registration> registrations_;
    std::vector<EventHotKeyID> requested_;
    std::list<Handler> handlers_;
    std::vector<const void*> eventsInFlight_;
    std::function<void()> bindingsChanged_;
    bool notifyQueued_ = false;
    QObject context_;
};

} // namespace

HotKeyBindings& HotKeyBindings::instance()
{
    static HotKeyBindings bindings;
    return bindings;
}

std::optional<QString> HotKeyBindings::boundText(const QKeySequence& requested)
{
    return current ? current->boundText(requested) : std::nullopt;
}

bool HotKeyBindings::press(uint32_t id) { return current && current->press(id); }

void HotKeyBindings::pressWhenRegistered(uint32_t id) { pressOnRegistration = id; }

std::shared_ptr<HotKeyService> makeHotKeyService(std::unique_ptr<HotKeyBackend> backend)
{
    return std::make_shared<HotKeyFacade>(std::move(backend));
}

std::shared_ptr<HotKeyService> makeHotKeyService()
{
    auto service = makeHotKeyService(makeHotKeyBackend());
    serveSlotCommands();
    return service;
}

} // namespace platform::linux_impl
