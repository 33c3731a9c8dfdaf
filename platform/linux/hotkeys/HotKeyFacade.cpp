// The hot-key service in the shape the units call, over one typed backend.
#include "platform/linux/hotkeys/HotKeyFacade.h"

#include <algorithm>
#include <cstring>
#include <list>
#include <vector>

namespace platform::linux_impl {
namespace {

constexpr OSStatus kParamErr = -50;
constexpr OSStatus kEventInternalErr = -9868;
constexpr OSStatus kEventHotKeyExistsErr = -9878;

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

} // namespace

HotKeyFacade::HotKeyFacade(std::unique_ptr<HotKeyBackend> backend) : backend_(std::move(backend))
{
    connect(backend_.get(), &HotKeyBackend::activated, this, [this](int slot) {
        auto it = std::find_if(registrations_.begin(), registrations_.end(),
                               [slot](const Registration& r) { return r.id.id == uint32_t(slot); });
        if (it != registrations_.end())
            dispatch(it->id);
    });
    connect(backend_.get(), &HotKeyBackend::bindingsChanged, this, &HotKeyFacade::bindingsChanged);
    connect(backend_.get(), &HotKeyBackend::bindingsChanged, this, &HotKeyFacade::notifyLater);
}

HotKeyFacade::~HotKeyFacade()
{
    registrations_.clear(); // releases the bindings while their backend still lives
}

// The one application event target: the service itself; only its address matters.
EventTargetRef HotKeyFacade::applicationEventTarget() { return reinterpret_cast<EventTargetRef>(this); }

OSStatus HotKeyFacade::installEventHandler(EventTargetRef target, EventHandlerProcPtr handler, uint32_t numTypes,
                                           const EventTypeSpec* types, void* userData, EventHandlerRef* outRef)
{
    if (target != applicationEventTarget() || !handler || (numTypes > 0 && !types))
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

OSStatus HotKeyFacade::registerEventHotKey(uint32_t keyCode, uint32_t modifiers, EventHotKeyID id,
                                           EventTargetRef target, uint32_t /*options*/, EventHotKeyRef* outRef)
{
    const auto trigger = triggerFor(keyCode, modifiers);
    if (!outRef || target != applicationEventTarget() || !trigger)
        return kParamErr;
    // Asked for, whatever the desktop answers: the command line may still press it.
    if (std::none_of(requested_.begin(), requested_.end(), [&](const EventHotKeyID& r) { return r.id == id.id; }))
        requested_.push_back(id);
    if (pressOnRegistration_ == id.id) {
        pressOnRegistration_.reset();
        QMetaObject::invokeMethod(
            this, [this, id] { dispatch(id); }, Qt::QueuedConnection);
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

OSStatus HotKeyFacade::getEventParameter(EventRef event, OSType name, OSType desiredType, OSType* actualType,
                                         size_t bufferSize, size_t* actualSize, void* outData)
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

std::string HotKeyFacade::boundKeyText(EventHotKeyRef ref) const
{
    for (const auto& r : registrations_)
        if (static_cast<const void*>(ref) == static_cast<const void*>(&r))
            return backend_->boundTrigger(int(r.id.id)).toStdString();
    return {};
}

void HotKeyFacade::setBindingsChangedHandler(std::function<void()> handler) { unitsHandler_ = std::move(handler); }

std::optional<QString> HotKeyFacade::boundText(const QKeySequence& requested) const
{
    for (const auto& r : registrations_)
        if (QKeySequence::fromString(r.trigger.displayText(), QKeySequence::PortableText) == requested)
            return backend_->boundTrigger(int(r.id.id));
    return std::nullopt;
}

bool HotKeyFacade::press(uint32_t id)
{
    auto it = std::find_if(requested_.begin(), requested_.end(), [id](const EventHotKeyID& r) { return r.id == id; });
    if (it == requested_.end())
        return false;
    dispatch(*it);
    return true;
}

// Several changes in a row (the five slots of one answer) make one call, after they are all in.
void HotKeyFacade::notifyLater()
{
    if (notifyQueued_)
        return;
    notifyQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            notifyQueued_ = false;
            if (auto handler = unitsHandler_)
                handler();
        },
        Qt::QueuedConnection);
}

void HotKeyFacade::dispatch(EventHotKeyID id)
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

} // namespace platform::linux_impl
