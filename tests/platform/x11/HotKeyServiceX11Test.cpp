// The X11 hot key service on a private Xvfb server: real grabs, real key presses from xdotool,
// and a second X client (tests/fixtures/grabkey.py) holding a shortcut before we ask for it.
#include "platform/linux/X11HotKeys.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <memory>
#include <vector>

#include <sys/prctl.h>

using namespace platform;
using platform::linux_impl::X11HotKeyService;

namespace {

constexpr uint32_t keyCodes[5] = {18, 19, 20, 21, 23};
constexpr OSType signature = fourCharCode("KOVM");

// What the handler saw, press by press.
struct Received {
    EventHandlerCallRef nextHandler;
    void* userData;
    OSStatus status;
    EventHotKeyID id;
};
std::vector<Received> received;
HotKeyService* service = nullptr;
EventRef lastEvent = nullptr;

OSStatus recordingHandler(EventHandlerCallRef nextHandler, EventRef event, void* userData)
{
    EventHotKeyID id;
    const OSStatus status =
        service->getEventParameter(event, kEventParamDirectObject, typeEventHotKeyID, nullptr, sizeof id, nullptr, &id);
    // Anything but the hot key id is not there.
    EventHotKeyID unused;
    EXPECT_EQ(service->getEventParameter(event, fourCharCode("kcod"), typeEventHotKeyID, nullptr, 8, nullptr, &unused),
              eventParameterNotFoundErr);
    EXPECT_EQ(
        service->getEventParameter(event, kEventParamDirectObject, fourCharCode("magn"), nullptr, 8, nullptr, &unused),
        eventParameterNotFoundErr);
    EXPECT_EQ(
        service->getEventParameter(event, kEventParamDirectObject, typeEventHotKeyID, nullptr, 4, nullptr, &unused),
        eventParameterNotFoundErr);
    lastEvent = event;
    received.push_back({nextHandler, userData, status, id});
    return noErr;
}

class Process {
public:
    explicit Process(const QString& program, const QStringList& arguments)
    {
        process.setProgram(program);
        process.setArguments(arguments);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // Dies with the test process, even when that one is killed.
        process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        process.start();
    }
    ~Process()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.closeWriteChannel();
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    QString readLine(int timeoutMs = 15000)
    {
        while (!process.canReadLine() && process.waitForReadyRead(timeoutMs)) {
        }
        return QString::fromUtf8(process.readLine()).trimmed();
    }
    QProcess process;
};

class HotKeysOnX11 : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        xvfb = new Process("Xvfb", {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "640x480x24"});
        const QString number = xvfb->readLine();
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

    void SetUp() override
    {
        ASSERT_NE(app, nullptr);
        received.clear();
        hotKeys = std::make_unique<X11HotKeyService>();
        service = hotKeys.get();
        ASSERT_EQ(hotKeys->installEventHandler(hotKeys->applicationEventTarget(), recordingHandler, 1, &pressedSpec,
                                               &userDataToken, nullptr),
                  noErr);
    }
    void TearDown() override
    {
        hotKeys.reset();
        service = nullptr;
    }

    std::vector<OSStatus> registerAll(std::vector<EventHotKeyRef>& refs)
    {
        std::vector<OSStatus> statuses;
        refs.assign(5, nullptr);
        for (uint32_t slot = 0; slot < 5; ++slot)
            statuses.push_back(hotKeys->registerEventHotKey(keyCodes[slot], optionKey, {signature, slot},
                                                            hotKeys->applicationEventTarget(), 0, &refs[slot]));
        return statuses;
    }

    static void xdotool(const QStringList& arguments)
    {
        QProcess process;
        process.start("xdotool", arguments);
        ASSERT_TRUE(process.waitForFinished(15000));
        ASSERT_EQ(process.exitCode(), 0) << arguments.join(' ').toStdString();
    }

    // Events reach us in the order the server made them: once the marker press (Alt+5) has come
    // through, everything typed before it has too.
    std::vector<uint32_t> idsUpToMarker()
    {
        xdotool({"key", marker});
        const bool arrived = waitFor([] { return !received.empty() && received.back().id.id == 4; });
        EXPECT_TRUE(arrived) << "the marker press never arrived";
        std::vector<uint32_t> ids;
        for (const auto& r : received)
            ids.push_back(r.id.id);
        if (arrived)
            ids.pop_back();
        received.clear();
        return ids;
    }

    static bool waitFor(const std::function<bool()>& done)
    {
        for (int i = 0; i < 2000 && !done(); ++i) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(5);
        }
        return done();
    }

    static Process grabInAnotherClient(const QString& modifiers, const QString& key)
    {
        return Process("/usr/bin/python3", {KOVRA_FIXTURES_DIR "/grabkey.py", modifiers, key});
    }

    static inline QGuiApplication* app = nullptr;
    static inline Process* xvfb = nullptr;
    static inline int userDataToken = 0;
    static constexpr EventTypeSpec pressedSpec{kEventClassKeyboard, kEventHotKeyPressed};
    std::unique_ptr<X11HotKeyService> hotKeys;
    QString marker = "alt+5"; // the keysym on the digit-5 key in the current layout
};

TEST_F(HotKeysOnX11, AltWithDigitsOneToFiveReachTheHandlerWithTheirSlots)
{
    std::vector<EventHotKeyRef> refs;
    EXPECT_EQ(registerAll(refs), std::vector<OSStatus>(5, noErr));
    for (auto ref : refs)
        EXPECT_NE(ref, nullptr);
    EXPECT_TRUE(hotKeys->detectableAutoRepeat());

    xdotool({"key", "alt+1", "alt+2", "alt+3", "alt+4"});
    EXPECT_EQ(idsUpToMarker(), (std::vector<uint32_t>{0, 1, 2, 3}));

    // Each call carried the id as registered, no next handler, and the user data we installed.
    xdotool({"key", "alt+2"});
    ASSERT_TRUE(waitFor([] { return !received.empty(); }));
    EXPECT_EQ(received[0].status, noErr);
    EXPECT_EQ(received[0].id.signature, signature);
    EXPECT_EQ(received[0].id.id, 1u);
    EXPECT_EQ(received[0].nextHandler, nullptr);
    EXPECT_EQ(received[0].userData, &userDataToken);
    // Once the call is over its event is gone.
    EventHotKeyID id;
    EXPECT_NE(
        hotKeys->getEventParameter(lastEvent, kEventParamDirectObject, typeEventHotKeyID, nullptr, 8, nullptr, &id),
        noErr);
    EXPECT_NE(hotKeys->getEventParameter(nullptr, kEventParamDirectObject, typeEventHotKeyID, nullptr, 8, nullptr, &id),
              noErr);
    received.clear();

    // Other combinations are not ours.
    xdotool({"key", "alt+6", "ctrl+1", "1", "super+1", "shift+alt+1", "ctrl+alt+2", "alt+0"});
    EXPECT_EQ(idsUpToMarker(), std::vector<uint32_t>{});
}

TEST_F(HotKeysOnX11, CapsLockAndNumLockDoNotStopAShortcut)
{
    std::vector<EventHotKeyRef> refs;
    ASSERT_EQ(registerAll(refs), std::vector<OSStatus>(5, noErr));
    xdotool({"key", "Caps_Lock"});
    xdotool({"key", "alt+1"});
    xdotool({"key", "Num_Lock"});
    xdotool({"key", "alt+2"});
    xdotool({"key", "Caps_Lock"});
    xdotool({"key", "alt+3"});
    xdotool({"key", "Num_Lock"});
    EXPECT_EQ(idsUpToMarker(), (std::vector<uint32_t>{0, 1, 2}));
}

TEST_F(HotKeysOnX11, HoldingTheKeysGivesOnePressAndReleasingGivesNone)
{
    std::vector<EventHotKeyRef> refs;
    ASSERT_EQ(registerAll(refs), std::vector<OSStatus>(5, noErr));
    // Long enough for the server's auto-repeat to start (it waits 660 ms, then repeats at 25 Hz).
    xdotool({"keydown", "alt+1", "sleep", "1.5", "keyup", "1", "sleep", "0.2", "keyup", "alt"});
    xdotool({"keydown", "alt+2", "sleep", "1.5", "keyup", "alt", "sleep", "0.2", "keyup", "2"});
    // Pressed again after the release: a new press.
    xdotool({"key", "alt+1", "alt+1"});
    EXPECT_EQ(idsUpToMarker(), (std::vector<uint32_t>{0, 1, 0, 0}));
}

TEST_F(HotKeysOnX11, AShortcutHeldByAnotherClientFailsAloneAndIsLeftToIt)
{
    Process holder = grabInAnotherClient("alt", "3");
    ASSERT_EQ(holder.readLine(), "grabbed");

    std::vector<EventHotKeyRef> refs;
    const auto preset = reinterpret_cast<EventHotKeyRef>(&refs);
    refs.assign(5, preset);
    std::vector<OSStatus> statuses;
    for (uint32_t slot = 0; slot < 5; ++slot)
        statuses.push_back(hotKeys->registerEventHotKey(keyCodes[slot], optionKey, {signature, slot},
                                                        hotKeys->applicationEventTarget(), 0, &refs[slot]));
    EXPECT_EQ(statuses[0], noErr);
    EXPECT_NE(statuses[2], noErr);
    EXPECT_EQ(refs[2], preset) << "a failed registration must leave the handle alone";
    for (int slot : {0, 1, 3, 4}) {
        EXPECT_EQ(statuses[size_t(slot)], noErr) << slot;
        EXPECT_NE(refs[size_t(slot)], preset) << slot;
    }

    xdotool({"key", "alt+1", "alt+2", "alt+3", "alt+4"});
    EXPECT_EQ(idsUpToMarker(), (std::vector<uint32_t>{0, 1, 3}));

    // The lock-key variants we had grabbed before the refusal came back were given up again.
    Process lockVariant = grabInAnotherClient("alt+lock", "3");
    EXPECT_EQ(lockVariant.readLine(), "grabbed");
    Process numLockVariant = grabInAnotherClient("alt+numlock", "3");
    EXPECT_EQ(numLockVariant.readLine(), "grabbed");
}

TEST_F(HotKeysOnX11, OnlyTheFiveDigitKeysAndKnownModifiersRegister)
{
    EventHotKeyRef ref = nullptr;
    const EventTargetRef target = hotKeys->applicationEventTarget();
    EXPECT_EQ(target, hotKeys->applicationEventTarget());
    EXPECT_NE(target, nullptr);
    for (uint32_t other : {0u, 17u, 22u, 24u, 29u, 0x7Fu, 0x10012u})
        EXPECT_NE(hotKeys->registerEventHotKey(other, optionKey, {signature, 0}, target, 0, &ref), noErr) << other;
    EXPECT_NE(hotKeys->registerEventHotKey(18, optionKey | 0x0400, {signature, 0}, target, 0, &ref), noErr);
    EXPECT_NE(hotKeys->registerEventHotKey(18, optionKey, {signature, 0}, nullptr, 0, &ref), noErr);
    EXPECT_NE(hotKeys->registerEventHotKey(18, optionKey, {signature, 0}, target, 0, nullptr), noErr);
    EXPECT_EQ(ref, nullptr);

    // The same combination twice: the second is refused and the first keeps working.
    ASSERT_EQ(hotKeys->registerEventHotKey(18, optionKey, {signature, 0}, target, 0, &ref), noErr);
    EventHotKeyRef again = nullptr;
    EXPECT_NE(hotKeys->registerEventHotKey(18, optionKey, {signature, 7}, target, 0, &again), noErr);
    EXPECT_EQ(again, nullptr);
    // Other modifiers on the same key are a different shortcut.
    ASSERT_EQ(hotKeys->registerEventHotKey(18, controlKey | shiftKey, {signature, 8}, target, 0, &again), noErr);
    ASSERT_EQ(hotKeys->registerEventHotKey(23, optionKey, {signature, 4}, target, 0, &again), noErr);
    xdotool({"key", "alt+1", "ctrl+shift+1", "ctrl+1"});
    EXPECT_EQ(idsUpToMarker(), (std::vector<uint32_t>{0, 8}));
}

TEST_F(HotKeysOnX11, TheGrabsEndWithTheService)
{
    std::vector<EventHotKeyRef> refs;
    ASSERT_EQ(registerAll(refs), std::vector<OSStatus>(5, noErr));
    {
        Process other = grabInAnotherClient("alt", "1");
        EXPECT_EQ(other.readLine(), "taken");
    }
    hotKeys.reset();
    Process other = grabInAnotherClient("alt", "1");
    EXPECT_EQ(other.readLine(), "grabbed");
}

TEST_F(HotKeysOnX11, ThePhysicalDigitKeysCountWhateverTheLayout)
{
    // On a French keyboard the digit row types &, é, " ... without Shift: the keys still count.
    QProcess layout;
    layout.start("setxkbmap", {"fr"});
    ASSERT_TRUE(layout.waitForFinished(15000));
    ASSERT_EQ(layout.exitCode(), 0);
    hotKeys = std::make_unique<X11HotKeyService>();
    service = hotKeys.get();
    ASSERT_EQ(hotKeys->installEventHandler(hotKeys->applicationEventTarget(), recordingHandler, 1, &pressedSpec,
                                           &userDataToken, nullptr),
              noErr);
    std::vector<EventHotKeyRef> refs;
    ASSERT_EQ(registerAll(refs), std::vector<OSStatus>(5, noErr));
    marker = "alt+parenleft";
    xdotool({"key", "alt+ampersand", "alt+eacute", "alt+quotedbl"});
    const auto ids = idsUpToMarker();
    QProcess restore;
    restore.start("setxkbmap", {"us"});
    restore.waitForFinished(15000);
    EXPECT_EQ(ids, (std::vector<uint32_t>{0, 1, 2}));
}

} // namespace
