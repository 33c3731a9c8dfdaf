// System-wide hot keys in the shape of the classic event-manager calls: an application event
// target, a plain-function event handler, registrations by virtual key code and modifiers,
// and the hot key id read back from the event.
#pragma once

#include "platform/Service.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace platform {

using OSStatus = int32_t;
using OSType = uint32_t;

constexpr OSStatus noErr = 0;
constexpr OSStatus eventNotHandledErr = -9874;
constexpr OSStatus eventParameterNotFoundErr = -9870;

constexpr OSType fourCharCode(const char (&s)[5])
{
    return (OSType(uint8_t(s[0])) << 24) | (OSType(uint8_t(s[1])) << 16) | (OSType(uint8_t(s[2])) << 8)
           | OSType(uint8_t(s[3]));
}

constexpr OSType kEventClassKeyboard = fourCharCode("keyb");
constexpr uint32_t kEventHotKeyPressed = 5;
constexpr uint32_t kEventHotKeyReleased = 6;
constexpr OSType kEventParamDirectObject = fourCharCode("----");
constexpr OSType typeEventHotKeyID = fourCharCode("hkid");
constexpr uint32_t optionKey = 0x0800;
constexpr uint32_t cmdKey = 0x0100;
constexpr uint32_t shiftKey = 0x0200;
constexpr uint32_t controlKey = 0x1000;

struct EventHotKeyID {
    OSType signature = 0;
    uint32_t id = 0;
};
static_assert(sizeof(EventHotKeyID) == 8);

struct EventTypeSpec {
    OSType eventClass = 0;
    uint32_t eventKind = 0;
};

struct OpaqueEventTarget;
struct OpaqueEvent;
struct OpaqueEventHandlerCall;
struct OpaqueEventHandler;
struct OpaqueHotKey;
using EventTargetRef = OpaqueEventTarget*;
using EventRef = OpaqueEvent*;
using EventHandlerCallRef = OpaqueEventHandlerCall*;
using EventHandlerRef = OpaqueEventHandler*;
using EventHotKeyRef = OpaqueHotKey*;
using EventHandlerProcPtr = OSStatus (*)(EventHandlerCallRef nextHandler, EventRef event, void* userData);

class HotKeyService : public Service<HotKeyService> {
public:
    virtual ~HotKeyService() = default;
    virtual EventTargetRef applicationEventTarget() = 0;
    // From then on each press of one of this application's hot keys calls the handler on the main thread.
    virtual OSStatus installEventHandler(EventTargetRef target, EventHandlerProcPtr handler, uint32_t numTypes,
                                         const EventTypeSpec* types, void* userData, EventHandlerRef* outRef) = 0;
    // On success fills *outRef; on failure leaves it as it was. The registration lasts for the
    // life of the process.
    virtual OSStatus registerEventHotKey(uint32_t keyCode, uint32_t modifiers, EventHotKeyID id, EventTargetRef target,
                                         uint32_t options, EventHotKeyRef* outRef) = 0;
    virtual OSStatus getEventParameter(EventRef event, OSType name, OSType desiredType, OSType* actualType,
                                       size_t bufferSize, size_t* actualSize, void* outData) = 0;
    // What a desktop binds may differ from what was asked, and may change later (the user picks
    // other keys in its settings). The key it bound for a registration, in the desktop's notation
    // ("Alt+1", "Meta+Alt+1"); empty while it binds none (refused, cancelled, not yet answered)
    // and for a null registration.
    virtual std::string boundKeyText(EventHotKeyRef ref) const = 0;
    // Called on the main thread, from the event loop, after what the desktop bound has changed.
    // Replaces any earlier handler.
    virtual void setBindingsChangedHandler(std::function<void()> handler) = 0;
};

} // namespace platform
