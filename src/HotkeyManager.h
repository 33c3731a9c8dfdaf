// The five hotkey slots: which channel each holds (kept in the user defaults) and the
// system-wide Alt+1..Alt+5 shortcuts that fire them.
#pragma once

#include "platform/HotKeys.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class HotkeyManager {
public:
    static constexpr std::size_t slotCount = 5;

    // Makes the one manager: publishes it as hotkeyManagerInstance, installs the event
    // handler, then registers the five shortcuts, in that order.
    static std::shared_ptr<HotkeyManager> create();
    HotkeyManager(const HotkeyManager&) = delete;
    HotkeyManager& operator=(const HotkeyManager&) = delete;

    std::optional<std::string> channelIdForSlot(long slot) const;
    std::optional<long> slotForChannelId(const std::string& channelId) const;
    void setChannelForSlot(const std::optional<std::string>& channelId, long slot);
    void setDefaults(const std::vector<std::string>& channelIds);

    void handleHotkey(long slot);
    // The key the desktop bound for the slot's shortcut, as it writes it; empty when it bound none.
    std::string boundKeyForSlot(long slot) const;

    // Entry i for slot i; null where the registration failed.
    std::array<platform::EventHotKeyRef, slotCount> hotKeyRefs{};
    std::function<void(long)> onHotkeyPressed;
    // Told when what the desktop bound for the shortcuts has changed.
    std::function<void()> onBindingsChanged;

private:
    HotkeyManager() = default;
    std::vector<std::string> storedIds() const;
    void registerAllHotkeys();

    // Physical digit keys 1 to 5 (22 is the digit 6 key).
    static constexpr std::array<uint32_t, slotCount> keyCodes{18, 19, 20, 21, 23};
};

// Reaches the manager through hotkeyManagerInstance; user data is not used.
platform::OSStatus hotkeyEventHandler(platform::EventHandlerCallRef nextHandler, platform::EventRef event,
                                      void* userData);

extern std::shared_ptr<HotkeyManager> hotkeyManagerInstance;
