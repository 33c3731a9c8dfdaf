// Hotkey slot assignments and the global shortcuts.
#include "tests/unit/World.h"

using platform::DefaultsValue;
using Slots = std::vector<std::optional<std::string>>;

namespace {

const Strings catalogueIds{"velmora", "tarvesi", "nimo"};
const Strings firstRun{"velmora", "tarvesi", "nimo", "", ""};

class Hotkeys : public World {
protected:
    HotkeyManager& make()
    {
        manager = HotkeyManager::create();
        manager->onHotkeyPressed = [this](long slot) { pressed.push_back(slot); };
        return *manager;
    }
    Slots slots() const
    {
        Slots out;
        for (long s = 0; s < 5; ++s)
            out.push_back(manager->channelIdForSlot(s));
        return out;
    }

    std::shared_ptr<HotkeyManager> manager;
    std::vector<long> pressed;
    const Slots none = Slots(5);
};

} // namespace

// ---- Slot assignments

TEST_F(Hotkeys, NothingStoredThenFirstRunDefaults)
{
    make();
    EXPECT_EQ(slots(), none);
    EXPECT_FALSE(manager->slotForChannelId("velmora"));
    EXPECT_FALSE(manager->slotForChannelId("")); // an empty slot is no channel
    manager->setDefaults(catalogueIds);
    EXPECT_EQ(storedSlots(), firstRun);
    EXPECT_EQ(manager->channelIdForSlot(1), "tarvesi");
    EXPECT_FALSE(manager->channelIdForSlot(3));
    EXPECT_EQ(manager->slotForChannelId("nimo"), 2);
}

TEST_F(Hotkeys, DefaultsApplyOnlyWhenNoSlotHoldsAnything)
{
    const std::vector<Strings> stored{
        {"", "", "", "", ""}, {"", "", "", "nimo", ""}, {"velmora"}, {"", "", "", "", "", "nimo", ""}};
    const std::vector<Strings> after{firstRun, stored[1], stored[2], stored[3]};
    for (std::size_t i = 0; i < stored.size(); ++i) {
        storeSlots(stored[i]);
        make().setDefaults(catalogueIds);
        EXPECT_EQ(storedSlots(), after[i]) << i;
    }
    defaults.storeStrings("hotkeyChannels", {});
    make().setDefaults({});
    EXPECT_EQ(storedSlots(), Strings{});
    make().setDefaults({"a", "b", "c", "d", "e", "f", "g"});
    EXPECT_EQ(storedSlots(), (Strings{"a", "b", "c", "d", "e"}));
}

TEST_F(Hotkeys, AnythingButAnArrayOfStringsReadsAsEmptyAndIsReplaced)
{
    const std::vector<std::vector<DefaultsValue>> unusable{
        {std::string("velmora"), 3.0}, {std::string("velmora"), true}, {std::monostate{}}};
    for (const auto& array : unusable) {
        defaults.storeArray("hotkeyChannels", array);
        make();
        EXPECT_EQ(slots(), none);
        manager->setDefaults(catalogueIds);
        EXPECT_EQ(storedSlots(), firstRun);
    }
    defaults.storeValue("hotkeyChannels", std::string("velmora"));
    make();
    EXPECT_EQ(slots(), none);
}

TEST_F(Hotkeys, ShortListsArePaddedAndLongOnesKeptWhole)
{
    storeSlots({"velmora"});
    make().setChannelForSlot("nimo", 4);
    EXPECT_EQ(storedSlots(), (Strings{"velmora", "", "", "", "nimo"}));
    storeSlots({"nimo", "", "", "nimo", "", "tarvesi", ""});
    EXPECT_EQ(manager->channelIdForSlot(5), "tarvesi");
    EXPECT_EQ(manager->channelIdForSlot(3), "nimo");
    EXPECT_EQ(manager->slotForChannelId("nimo"), 0); // the lowest slot wins
    manager->setChannelForSlot(std::nullopt, 0);
    EXPECT_EQ(storedSlots(), (Strings{"", "", "", "nimo", "", "tarvesi", ""}));
    EXPECT_FALSE(manager->channelIdForSlot(0));
}

TEST_F(Hotkeys, SlotsOutsideTheListAreRejectedQuietly)
{
    storeSlots(firstRun);
    make();
    for (long slot : {-1L, 5L, 0xFFFFFFFFL, std::numeric_limits<long>::min(), std::numeric_limits<long>::max()}) {
        EXPECT_FALSE(manager->channelIdForSlot(slot));
        manager->setChannelForSlot("nimo", slot);
    }
    EXPECT_EQ(defaults.writes, 0);
}

// ---- Registration and dispatch

TEST_F(Hotkeys, PublishedThenHandlerThenOptionDigitOneToFive)
{
    const HotkeyManager* publishedAtInstall = nullptr;
    hotKeys.onInstall = [&] { publishedAtInstall = hotkeyManagerInstance.get(); };
    make();
    EXPECT_EQ(publishedAtInstall, manager.get());
    EXPECT_LT(*log.first("HotKeyService.installEventHandler"), *log.first("HotKeyService.registerEventHotKey"));
    EXPECT_EQ(hotKeys.handlerUserData, nullptr);
    ASSERT_EQ(hotKeys.handlerTypes.size(), 1u);
    EXPECT_EQ(hotKeys.handlerTypes[0].eventKind, platform::kEventHotKeyPressed);
    ASSERT_EQ(hotKeys.registrations.size(), 5u);
    const uint32_t codes[] = {key1, key2, key3, key4, key5};
    for (uint32_t i = 0; i < 5; ++i) {
        const auto& r = hotKeys.registrations[i];
        EXPECT_EQ(std::tie(r.keyCode, r.modifiers, r.id.signature, r.id.id, r.options),
                  std::make_tuple(codes[i], platform::optionKey, platform::fourCharCode("KOVM"), i, 0u));
        EXPECT_NE(manager->hotKeyRefs[i], nullptr);
    }
}

TEST_F(Hotkeys, EachPressReachesTheListenerOnceWithItsSlot)
{
    make();
    EXPECT_EQ(press(key1), platform::noErr);
    EXPECT_EQ(press(key5), platform::noErr);
    EXPECT_FALSE(hotKeys.release(key1, platform::optionKey));
    EXPECT_FALSE(press(key6));
    EXPECT_FALSE(press(key1, platform::cmdKey));
    EXPECT_FALSE(press(key1, 0));
    manager->setChannelForSlot("nimo", 1); // no new registration needed
    press(key2);
    EXPECT_EQ(hotKeys.registrations.size(), 5u);
    EXPECT_EQ(pressed, (std::vector<long>{0, 4, 1}));
}

TEST_F(Hotkeys, AKeyHeldElsewhereLeavesTheOtherFourWorking)
{
    hotKeys.failingKeyCodes = {key3};
    make();
    EXPECT_EQ(manager->hotKeyRefs[2], nullptr);
    for (uint32_t key : {key1, key2, key3, key4, key5})
        press(key);
    EXPECT_EQ(pressed, (std::vector<long>{0, 1, 3, 4}));
}

TEST_F(Hotkeys, HandlerStatuses)
{
    make();
    EXPECT_EQ(hotKeys.deliver(std::nullopt), platform::eventNotHandledErr);
    hotKeys.parameterFailure = platform::eventParameterNotFoundErr;
    EXPECT_EQ(press(key1), platform::eventParameterNotFoundErr);
    hotKeys.parameterFailure.reset();
    // A foreign id is passed on as it is, unsigned.
    hotKeys.deliver(platform::EventHotKeyID{0, 0xFFFFFFFFu});
    EXPECT_EQ(pressed, std::vector<long>{4294967295L});
    manager->onHotkeyPressed = nullptr;
    EXPECT_EQ(press(key1), platform::noErr);
    hotkeyManagerInstance.reset();
    EXPECT_EQ(press(key1), platform::noErr);
    EXPECT_EQ(pressed.size(), 1u);
}

TEST_F(Hotkeys, AListenerMayReplaceItselfWhileRunning)
{
    make();
    int calls = 0;
    manager->onHotkeyPressed = [&](long) { ++calls, manager->onHotkeyPressed = nullptr; };
    press(key1);
    press(key1);
    EXPECT_EQ(calls, 1);
}
