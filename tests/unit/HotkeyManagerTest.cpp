// Hotkey slot assignments and the global shortcuts' calls, status codes and handler.
#include "tests/fixtures/World.h"

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
    std::shared_ptr<HotkeyManager> manager;
    std::vector<long> pressed;
};

} // namespace

// ---- Slot assignments

TEST_F(Hotkeys, DefaultsApplyOnlyWhenNoSlotHoldsAnything)
{
    make();
    for (long slot = 0; slot < 5; ++slot)
        EXPECT_FALSE(manager->channelIdForSlot(slot)) << slot;
    EXPECT_FALSE(manager->slotForChannelId("")); // an empty slot is no channel
    const std::vector<Strings> stored{
        {"", "", "", "", ""}, {"", "", "", "nimo", ""}, {"velmora"}, {"", "", "", "", "", "nimo", ""}};
    const std::vector<Strings> after{firstRun, stored[1], stored[2], stored[3]};
    for (std::size_t i = 0; i < stored.size(); ++i) {
        storeSlots(stored[i]);
        make().setDefaults(catalogueIds);
        EXPECT_EQ(storedSlots(), after[i]) << i;
    }
    storeSlots({});
    make().setDefaults({"a", "b", "c", "d", "e", "f", "g"});
    EXPECT_EQ(storedSlots(), (Strings{"a", "b", "c", "d", "e"}));
}

TEST_F(Hotkeys, ShortListsArePaddedLongOnesKeptWholeAndTheLowestSlotWins)
{
    storeSlots({"velmora"});
    make().setChannelForSlot("nimo", 4);
    EXPECT_EQ(storedSlots(), (Strings{"velmora", "", "", "", "nimo"}));
    storeSlots({"nimo", "", "", "nimo", "", "tarvesi", ""});
    EXPECT_EQ(manager->channelIdForSlot(5), "tarvesi");
    EXPECT_EQ(manager->slotForChannelId("nimo"), 0);
    manager->setChannelForSlot(std::nullopt, 0);
    EXPECT_EQ(storedSlots(), (Strings{"", "", "", "nimo", "", "tarvesi", ""}));
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

TEST_F(Hotkeys, PublishedThenHandlerThenAltDigitOneToFiveAndTheHandlersStatuses)
{
    const HotkeyManager* publishedAtInstall = nullptr;
    hotKeys.onInstall = [&] { publishedAtInstall = hotkeyManagerInstance.get(); };
    make();
    EXPECT_EQ(publishedAtInstall, manager.get());
    ASSERT_EQ(hotKeys.registrations.size(), 5u);
    for (uint32_t i = 0; i < 5; ++i)
        EXPECT_EQ(hotKeys.registrations[i].id.id, i);

    EXPECT_EQ(press(key1), platform::noErr);
    EXPECT_EQ(hotKeys.deliver(std::nullopt), platform::eventNotHandledErr);
    hotKeys.parameterFailure = platform::eventParameterNotFoundErr;
    EXPECT_EQ(press(key1), platform::eventParameterNotFoundErr);
    hotKeys.parameterFailure.reset();
    // A foreign id is passed on as it is, unsigned.
    hotKeys.deliver(platform::EventHotKeyID{0, 0xFFFFFFFFu});
    EXPECT_EQ(pressed, (std::vector<long>{0, 4294967295L}));
    // A listener may drop itself while it runs; without one, or without a manager, presses do nothing.
    int calls = 0;
    manager->onHotkeyPressed = [&](long) { ++calls, manager->onHotkeyPressed = nullptr; };
    EXPECT_EQ(press(key1), platform::noErr);
    EXPECT_EQ(press(key1), platform::noErr);
    hotkeyManagerInstance.reset();
    EXPECT_EQ(press(key1), platform::noErr);
    EXPECT_EQ(calls, 1);
}
