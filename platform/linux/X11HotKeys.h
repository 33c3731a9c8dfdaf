// System-wide hot keys on X11: passive key grabs on the root window through Qt's own xcb
// connection, delivered to the installed event handler one call per physical press.
#pragma once

#include "platform/HotKeys.h"

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <cstdint>
#include <list>
#include <memory>
#include <unordered_map>
#include <vector>

struct xcb_connection_t;

namespace platform::linux_impl {

class X11HotKeyService final : public HotKeyService, private QAbstractNativeEventFilter {
public:
    // Finds the X connection of the running QGuiApplication. Without one (no QGuiApplication, or
    // a platform other than xcb) the service still answers, but every registration fails.
    X11HotKeyService();
    ~X11HotKeyService() override;
    X11HotKeyService(const X11HotKeyService&) = delete;
    X11HotKeyService& operator=(const X11HotKeyService&) = delete;

    EventTargetRef applicationEventTarget() override;
    OSStatus installEventHandler(EventTargetRef target, EventHandlerProcPtr handler, uint32_t numTypes,
                                 const EventTypeSpec* types, void* userData, EventHandlerRef* outRef) override;
    OSStatus registerEventHotKey(uint32_t keyCode, uint32_t modifiers, EventHotKeyID id, EventTargetRef target,
                                 uint32_t options, EventHotKeyRef* outRef) override;
    OSStatus getEventParameter(EventRef event, OSType name, OSType desiredType, OSType* actualType, size_t bufferSize,
                               size_t* actualSize, void* outData) override;

    // Whether the server will leave out the fake releases of an auto-repeating key (XKB).
    bool detectableAutoRepeat() const { return detectableAutoRepeat_; }

private:
    struct Registration {
        uint8_t keycode = 0;
        uint16_t modifiers = 0; // X modifier mask, without Lock and NumLock
        EventHotKeyID id;
    };
    struct Handler {
        EventHandlerProcPtr proc = nullptr;
        void* userData = nullptr;
        std::vector<EventTypeSpec> types;
    };
    struct KeyState {
        bool down = false;
        uint32_t lastPressTime = 0;
        uint32_t lastReleaseTime = 0;
        bool released = false;
    };

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
    bool connectionUsable() const;
    void ungrab(const Registration& registration);
    bool isNewPress(uint8_t keycode, uint32_t time);
    void dispatch(EventHotKeyID id);

    xcb_connection_t* connection_ = nullptr;
    std::vector<uint32_t> roots_;
    uint8_t digitKeycodes_[5] = {10, 11, 12, 13, 14};
    uint32_t repeatGapMs_ = 1000;
    bool detectableAutoRepeat_ = false;
    std::list<Registration> registrations_;
    std::list<Handler> handlers_;
    std::unordered_map<uint8_t, KeyState> keys_;
    std::vector<const void*> eventsInFlight_;
    QObject queue_; // context of the queued deliveries; they die with the service
};

std::shared_ptr<HotKeyService> makeHotKeyService();

} // namespace platform::linux_impl
