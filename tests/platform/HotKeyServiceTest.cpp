// The X11 hot key service where there is no X display (a Wayland session, a headless run): it
// answers every call, registers nothing, and the app runs on. With a display: tests/platform/x11.
#include "platform/linux/X11HotKeys.h"
#include "tests/platform/PlatformTestSupport.h"

#include <gtest/gtest.h>

using namespace platform;
using platform::linux_impl::X11HotKeyService;

namespace {

OSStatus neverCalled(EventHandlerCallRef, EventRef, void*)
{
    ADD_FAILURE() << "no hot key can be pressed without a display";
    return noErr;
}

TEST(HotKeysWithoutDisplay, RegistrationsFailAndLeaveTheHandleAlone)
{
    kovra_test::qtApp(); // a QCoreApplication: no GUI platform, so no X connection
    X11HotKeyService hotKeys;
    const EventTargetRef target = hotKeys.applicationEventTarget();
    ASSERT_NE(target, nullptr);
    const EventTypeSpec pressed{kEventClassKeyboard, kEventHotKeyPressed};
    EXPECT_EQ(hotKeys.installEventHandler(target, neverCalled, 1, &pressed, nullptr, nullptr), noErr);

    int sentinel = 0;
    for (uint32_t keyCode : {18u, 19u, 20u, 21u, 23u}) {
        auto ref = reinterpret_cast<EventHotKeyRef>(&sentinel);
        EXPECT_NE(hotKeys.registerEventHotKey(keyCode, optionKey, {fourCharCode("KOVM"), keyCode}, target, 0, &ref),
                  noErr);
        EXPECT_EQ(ref, reinterpret_cast<EventHotKeyRef>(&sentinel));
    }
    EventHotKeyID id;
    EXPECT_NE(hotKeys.getEventParameter(nullptr, kEventParamDirectObject, typeEventHotKeyID, nullptr, sizeof id,
                                        nullptr, &id),
              noErr);
    // A pointer that never came from us is refused, not read.
    EXPECT_NE(hotKeys.getEventParameter(reinterpret_cast<EventRef>(&sentinel), kEventParamDirectObject,
                                        typeEventHotKeyID, nullptr, sizeof id, nullptr, &id),
              noErr);
    EXPECT_NE(hotKeys.installEventHandler(nullptr, neverCalled, 1, &pressed, nullptr, nullptr), noErr);
    EXPECT_NE(hotKeys.installEventHandler(target, nullptr, 1, &pressed, nullptr, nullptr), noErr);
    kovra_test::runUntil([] { return false; }, 100);
}

} // namespace
