// The hot-key service over X11 grabs on a private Xvfb server: real grabs, real key presses from
// xdotool, and a second X client (tests/fixtures/grabkey.py) holding a shortcut before we ask for it.
// Which slot a press reaches and which keys are not ours is the real binary's test
// (tests/integration/test_hotkeys.py); here, what the X server itself does: lock keys, auto-repeat,
// another layout, grabs held by others or left behind.
#include "platform/linux/hotkeys/HotKeyFacade.h"
#include "platform/linux/hotkeys/X11HotKeys.h"
#include "tests/fixtures/PlatformTestSupport.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

using namespace platform;
using platform::linux_impl::X11HotKeys;

namespace {

using kovra_test::pressedSlots;
using kovra_test::Process;

class HotKeysOnX11 : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        xvfb = new Process("Xvfb", {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "640x480x24"});
        const QString number = xvfb->line();
        ASSERT_FALSE(number.isEmpty()) << "Xvfb did not start";
        qputenv("DISPLAY", (":" + number).toUtf8());
        qputenv("QT_QPA_PLATFORM", "xcb");
        static int argc = 1;
        static char name[] = "hotkey-x11-tests";
        static char* argv[] = {name, nullptr};
        app = new QGuiApplication(argc, argv);
    }
    static void TearDownTestSuite()
    {
        delete app;
        app = nullptr;
        delete xvfb;
        xvfb = nullptr;
    }

    void SetUp() override { ASSERT_NE(app, nullptr); }

    // A new service, with every slot asked for; each slot's status.
    std::vector<OSStatus> registerAll()
    {
        hotKeys = std::make_unique<platform::linux_impl::HotKeyFacade>(std::make_unique<X11HotKeys>());
        return kovra_test::registerSlots(*hotKeys).statuses;
    }

    static void xdotool(const QStringList& arguments)
    {
        ASSERT_EQ(QProcess::execute("xdotool", arguments), 0) << arguments.join(' ').toStdString();
    }

    // Events reach us in the order the server made them: once the marker press (Alt+5) has come
    // through, everything typed before it has too.
    std::vector<uint32_t> idsUpToMarker()
    {
        xdotool({"key", marker});
        const bool arrived = kovra_test::runUntil([] { return !pressedSlots.empty() && pressedSlots.back() == 4; });
        EXPECT_TRUE(arrived) << "the marker press never arrived";
        std::vector<uint32_t> ids = pressedSlots;
        if (arrived)
            ids.pop_back();
        pressedSlots.clear();
        return ids;
    }

    // Whether another X client gets the grab ("grabbed") or finds it held ("taken").
    static QString grabInAnotherClient(const QString& modifiers, const QString& key)
    {
        return Process("/usr/bin/python3", {KOVRA_FIXTURES_DIR "/grabkey.py", modifiers, key}).line();
    }

    static inline QGuiApplication* app = nullptr;
    static inline Process* xvfb = nullptr;
    std::unique_ptr<HotKeyService> hotKeys;
    QString marker = "alt+5"; // the keysym on the digit-5 key in the current layout
};

TEST_F(HotKeysOnX11, LockKeysAndAutoRepeatChangeNoPress)
{
    ASSERT_EQ(registerAll(), std::vector<OSStatus>(5, noErr));
    xdotool({"key", "Caps_Lock", "alt+1", "Num_Lock", "alt+2", "Caps_Lock", "alt+3", "Num_Lock"});
    // Held long enough for the server's auto-repeat to start (it waits 660 ms, then repeats at
    // 25 Hz), and let go in either order: one press each.
    xdotool({"keydown", "alt+1", "sleep", "1.5", "keyup", "1", "sleep", "0.2", "keyup", "alt"});
    xdotool({"keydown", "alt+2", "sleep", "1.5", "keyup", "alt", "sleep", "0.2", "keyup", "2"});
    // Pressed again after the release: a new press.
    xdotool({"key", "alt+1", "alt+1"});
    EXPECT_EQ(idsUpToMarker(), (std::vector<uint32_t>{0, 1, 2, 0, 1, 0, 0}));
}

// What the integration tests cannot see: a shortcut another client holds fails alone, and the
// lock-key variants grabbed before the refusal came back are given up again; ours end with the service.
TEST_F(HotKeysOnX11, AHeldShortcutFailsAloneAndNoGrabOutlivesItsService)
{
    Process holder("/usr/bin/python3", {KOVRA_FIXTURES_DIR "/grabkey.py", "alt", "3"});
    ASSERT_EQ(holder.line(), "grabbed");
    const auto statuses = registerAll();
    EXPECT_EQ(statuses, (std::vector<OSStatus>{noErr, noErr, statuses[2], noErr, noErr}));
    EXPECT_NE(statuses[2], noErr);
    EXPECT_EQ(grabInAnotherClient("alt+lock", "3"), "grabbed");
    EXPECT_EQ(grabInAnotherClient("alt+numlock", "3"), "grabbed");
    EXPECT_EQ(grabInAnotherClient("alt", "1"), "taken");
    hotKeys.reset();
    EXPECT_EQ(grabInAnotherClient("alt", "1"), "grabbed");
}

TEST_F(HotKeysOnX11, ThePhysicalDigitKeysCountWhateverTheLayout)
{
    // On a French keyboard the digit row types &, é, " ... without Shift: the keys still count.
    ASSERT_EQ(QProcess::execute("setxkbmap", {"fr"}), 0);
    ASSERT_EQ(registerAll(), std::vector<OSStatus>(5, noErr));
    marker = "alt+parenleft";
    xdotool({"key", "alt+ampersand", "alt+eacute", "alt+quotedbl"});
    const auto ids = idsUpToMarker();
    QProcess::execute("setxkbmap", {"us"});
    EXPECT_EQ(ids, (std::vector<uint32_t>{0, 1, 2}));
}

} // namespace
