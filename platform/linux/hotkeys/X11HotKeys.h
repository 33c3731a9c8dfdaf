// Global shortcuts on X11: passive key grabs on the root window through Qt's own xcb connection,
// one activation per physical press.
#pragma once

#include "platform/linux/hotkeys/HotKeyBackend.h"

#include <QAbstractNativeEventFilter>

#include <cstdint>
#include <list>
#include <memory>
#include <unordered_map>
#include <vector>

struct xcb_connection_t;

namespace platform::linux_impl {

class X11HotKeys final : public HotKeyBackend, private QAbstractNativeEventFilter {
    Q_OBJECT
public:
    // Finds the X connection of the running QGuiApplication. Without one (no QGuiApplication, or
    // a platform other than xcb) every bind fails; hasDisplay() says so.
    X11HotKeys();
    ~X11HotKeys() override;
    X11HotKeys(const X11HotKeys&) = delete;
    X11HotKeys& operator=(const X11HotKeys&) = delete;

    std::unique_ptr<HotKeyBinding> bind(int slot, const HotKeyTrigger& trigger) override;
    QString boundTrigger(int slot) const override;

    bool hasDisplay() const { return connection_ != nullptr; }

private:
    struct Grab {
        uint8_t keycode = 0;
        uint16_t modifiers = 0; // X modifier mask, without Lock and NumLock
        int slot = 0;
        HotKeyTrigger trigger;
    };
    struct KeyState {
        bool down = false;
        uint32_t lastPressTime = 0;
        uint32_t lastReleaseTime = 0;
        bool released = false;
    };
    class GrabBinding;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
    bool connectionUsable() const;
    void ungrab(const Grab& grab);
    void release(std::list<Grab>::iterator grab);
    bool isNewPress(uint8_t keycode, uint32_t time);

    xcb_connection_t* connection_ = nullptr;
    std::vector<uint32_t> roots_;
    uint8_t digitKeycodes_[5] = {10, 11, 12, 13, 14};
    uint32_t repeatGapMs_ = 1000;
    std::list<Grab> grabs_;
    std::unordered_map<uint8_t, KeyState> keys_;
};

} // namespace platform::linux_impl
