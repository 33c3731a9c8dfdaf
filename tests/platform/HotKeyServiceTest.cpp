// The hot-key service the units call, over a backend that binds what it is told to (or refuses),
// and over X11 grabs where there is no X display. Real grabs and key presses: tests/platform/x11.
#include "platform/linux/hotkeys/HotKeyFacade.h"
#include "platform/linux/hotkeys/X11HotKeys.h"
#include "platform/linux/tray/MenuRendering.h"
#include "tests/fixtures/PlatformTestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

using namespace platform;
using namespace platform::linux_impl;

namespace {

class RecordingBackend final : public HotKeyBackend {
public:
    std::unique_ptr<HotKeyBinding> bind(int slot, const HotKeyTrigger& trigger) override
    {
        if (refused.count(trigger.digit))
            return nullptr;
        bound[slot] = trigger;
        return std::make_unique<HotKeyBinding>();
    }
    QString boundTrigger(int slot) const override { return descriptions.value(slot); }

    std::set<int> refused; // digits another program holds
    std::map<int, HotKeyTrigger> bound;
    QMap<int, QString> descriptions;
};

using kovra_test::pressedSlots;

TEST(HotKeyService, SlotsReachTheHandlerByIdAndWhatTheDesktopBoundIsShown)
{
    kovra_test::qtApp();
    auto owned = std::make_unique<RecordingBackend>();
    RecordingBackend& backend = *owned;
    backend.refused = {3};
    backend.descriptions = {{0, "Ctrl+Alt+K"}};
    auto service = std::make_shared<HotKeyFacade>(std::move(owned));
    const auto refs = kovra_test::registerSlots(*service).refs;
    // Alt+digit on the digit key of each slot (a held one: tests/platform/x11).
    EXPECT_EQ(backend.bound.size(), 4u);
    EXPECT_EQ(backend.bound[4], (HotKeyTrigger{5, true}));
    // The units read what the desktop bound per registration, and hear once of a burst of changes.
    EXPECT_EQ(service->boundKeyText(refs[0]), "Ctrl+Alt+K");
    EXPECT_EQ(service->boundKeyText(refs[2]), "");
    int changes = 0;
    service->setBindingsChangedHandler([&changes] { ++changes; });
    Q_EMIT backend.bindingsChanged();
    Q_EMIT backend.bindingsChanged();
    QCoreApplication::processEvents();
    EXPECT_EQ(changes, 1);
    // Key codes that are no digit 1 to 5, and modifiers that are none of the four, are refused.
    EventHotKeyRef other = nullptr;
    EXPECT_NE(service->registerEventHotKey(22, optionKey, {0, 7}, service->applicationEventTarget(), 0, &other), noErr);
    EXPECT_NE(service->registerEventHotKey(18, 0x0400, {0, 8}, service->applicationEventTarget(), 0, &other), noErr);
    EXPECT_EQ(other, nullptr);

    Q_EMIT backend.activated(1);
    Q_EMIT backend.activated(4);
    Q_EMIT backend.activated(7); // not a slot of ours
    EXPECT_EQ(pressedSlots, (std::vector<uint32_t>{1, 4}));

    // The command line presses a slot even when its key went to another program.
    EXPECT_TRUE(service->press(2));
    EXPECT_FALSE(service->press(5));
    EXPECT_EQ(pressedSlots, (std::vector<uint32_t>{1, 4, 2}));

    // The menu shows what the desktop bound as the entry's shortcut (test_portal.py); GNOME's tray
    // draws no shortcuts, so there the key is part of the entry's title.
    const BoundKeys boundKeys = [&service](const QKeySequence& keys) { return service->boundText(keys); };
    MenuItem channel("Kovra Velmora", "channelSelected:", "1");
    channel.setKeyEquivalentModifierMask(EventModifierFlagOption);
    ::setenv("XDG_CURRENT_DESKTOP", "ubuntu:GNOME", 1);
    EXPECT_EQ(shownItem(channel, boundKeys).text, "Kovra Velmora\tCtrl+Alt+K");
    ::unsetenv("XDG_CURRENT_DESKTOP");
}

TEST(HotKeyService, TheBoundKeyIsReadFromWhatTheDesktopSaysOrNotShownAtAll)
{
    const std::pair<const char*, const char*> descriptions[] = {{"Press <Alt>1", "Alt+1"}, // GNOME
                                                                {"Drücken Sie <Control><Alt>1", "Ctrl+Alt+1"},
                                                                {"<Super><Shift>5", "Meta+Shift+5"},
                                                                {"Meta+Alt+1", "Meta+Alt+1"}, // Plasma
                                                                {"Alt+2, Meta+2", "Alt+2"},
                                                                {"Press any key", ""},
                                                                {"<Hyper>1", ""},
                                                                {"", ""}};
    for (const auto& [description, shown] : descriptions)
        EXPECT_EQ(readableTrigger(QString::fromUtf8(description)), QString::fromUtf8(shown)) << description;
}

TEST(HotKeyService, WithoutAnXDisplayEveryRegistrationFailsAndTheAppRunsOn)
{
    kovra_test::qtApp(); // a QCoreApplication: no GUI platform, so no X connection
    auto x11 = std::make_unique<X11HotKeys>();
    EXPECT_FALSE(x11->hasDisplay());
    auto service = std::make_shared<HotKeyFacade>(std::move(x11));
    const auto [statuses, refs] = kovra_test::registerSlots(*service);
    for (OSStatus status : statuses)
        EXPECT_NE(status, noErr);
    EXPECT_EQ(refs, std::vector<EventHotKeyRef>(5, nullptr));
    // A pointer that never came from us is refused, not read.
    int foreign = 0;
    EventHotKeyID id;
    EXPECT_NE(service->getEventParameter(reinterpret_cast<EventRef>(&foreign), kEventParamDirectObject,
                                         typeEventHotKeyID, nullptr, sizeof id, nullptr, &id),
              noErr);
}

} // namespace
