// In-memory doubles of the platform services the units call, and PlatformDoubles, which installs a
// fresh set for one test. The application, fonts and translations stay uninstalled: the units do
// without them (a status item with no button draws no icon, a missing translation reads as its key).
#pragma once

#include "platform/HotKeys.h"
#include "platform/LoginItem.h"
#include "platform/Media.h"
#include "platform/Notifications.h"
#include "platform/NowPlaying.h"
#include "platform/StatusBar.h"
#include "platform/Updater.h"
#include "platform/UserDefaults.h"

#include <gmock/gmock.h>

#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace doubles {

// Every call the player makes of the media services counts here, so a test can tell that nothing happened.
inline int mediaCalls = 0;

class FakeStatusItem : public platform::StatusItem {
public:
    // What the icon and its label show is the real tray's to test.
    platform::StatusButton* button() override { return nullptr; }
    void setMenu(std::shared_ptr<platform::Menu> m) override
    {
        menu = std::move(m);
        ++menuCount;
    }

    std::shared_ptr<platform::Menu> menu;
    int menuCount = 0;
};

class FakeStatusBar : public platform::StatusBar {
public:
    std::shared_ptr<platform::StatusItem> statusItemWithLength(double) override
    {
        return items.emplace_back(std::make_shared<FakeStatusItem>());
    }
    std::vector<std::shared_ptr<FakeStatusItem>> items;
};

struct Seek {
    platform::MediaTime time, toleranceBefore, toleranceAfter;
};

// The item the engine made, and what its player went through, kept after the player itself is gone.
struct PlayerRecord : platform::MediaItem {
    std::vector<platform::MediaTimeRange> seekableTimeRanges() const override { return ranges; }

    std::vector<platform::MediaTimeRange> ranges;
    float rate = 0;
    platform::MediaTime currentTime = platform::MediaTime::zero();
    bool hasCurrentItem = true;
    std::vector<Seek> seeks;
};

// The player the engine hands out, which the units own; what it went through stays in its record.
class FakeMediaPlayer : public platform::MediaPlayer {
public:
    explicit FakeMediaPlayer(std::shared_ptr<PlayerRecord> record) : record_(std::move(record)) {}
    void play() override { setRate(1); }
    void pause() override { setRate(0); }
    float rate() const override { return record_->rate; }
    std::shared_ptr<platform::MediaItem> currentItem() const override
    {
        return record_->hasCurrentItem ? record_ : nullptr;
    }
    platform::MediaTime currentTime() const override { return record_->currentTime; }
    void seekToTime(platform::MediaTime time, platform::MediaTime before, platform::MediaTime after) override
    {
        record_->seeks.push_back({time, before, after});
    }

private:
    void setRate(float rate)
    {
        ++mediaCalls;
        record_->rate = rate;
    }
    std::shared_ptr<PlayerRecord> record_;
};

class FakeMediaEngine : public platform::MediaEngine {
public:
    std::shared_ptr<platform::MediaItem> itemWithURL(const platform::URL&) override
    {
        return std::make_shared<PlayerRecord>();
    }
    std::unique_ptr<platform::MediaPlayer> playerWithItem(std::shared_ptr<platform::MediaItem> item) override
    {
        ++mediaCalls;
        return std::make_unique<FakeMediaPlayer>(players.emplace_back(std::dynamic_pointer_cast<PlayerRecord>(item)));
    }
    std::shared_ptr<PlayerRecord> lastPlayer() const { return players.back(); }

    std::vector<std::shared_ptr<PlayerRecord>> players;
};

class FakeNowPlayingCenter : public platform::NowPlayingCenter {
public:
    void setNowPlayingInfo(const platform::NowPlayingInfo&) override { ++mediaCalls; }
    void setPlaybackState(platform::PlaybackState) override { ++mediaCalls; }
};

struct HotKeyRegistration {
    uint32_t keyCode = 0;
    uint32_t modifiers = 0;
    platform::EventHotKeyID id;
};

// Our events are the hot key id itself, and a registration's reference is its record.
class FakeHotKeyService : public platform::HotKeyService {
public:
    platform::EventTargetRef applicationEventTarget() override { return nullptr; }
    platform::OSStatus installEventHandler(platform::EventTargetRef, platform::EventHandlerProcPtr installed, uint32_t,
                                           const platform::EventTypeSpec*, void*, platform::EventHandlerRef*) override
    {
        handler = installed;
        if (onInstall)
            onInstall();
        return platform::noErr;
    }
    platform::OSStatus registerEventHotKey(uint32_t keyCode, uint32_t modifiers, platform::EventHotKeyID id,
                                           platform::EventTargetRef, uint32_t,
                                           platform::EventHotKeyRef* outRef) override
    {
        registrations.push_back({keyCode, modifiers, id});
        *outRef = reinterpret_cast<platform::EventHotKeyRef>(&registrations.back());
        return platform::noErr;
    }
    platform::OSStatus getEventParameter(platform::EventRef event, platform::OSType name, platform::OSType desiredType,
                                         platform::OSType*, size_t bufferSize, size_t*, void* outData) override
    {
        if (parameterFailure)
            return *parameterFailure;
        if (name != platform::kEventParamDirectObject || desiredType != platform::typeEventHotKeyID
            || bufferSize < sizeof(platform::EventHotKeyID))
            return platform::eventParameterNotFoundErr;
        std::memcpy(outData, event, sizeof(platform::EventHotKeyID));
        return platform::noErr;
    }
    std::string boundKeyText(platform::EventHotKeyRef ref) const override
    {
        const auto* registration = reinterpret_cast<const HotKeyRegistration*>(ref);
        return registration && boundKeys.count(registration->id.id) ? boundKeys.at(registration->id.id) : "";
    }
    void setBindingsChangedHandler(std::function<void()> handler) override { bindingsChanged = std::move(handler); }

    // A key press as the desktop would deliver it: reaches the handler only when a registration
    // matches the key and modifiers exactly. The handler's status, or none when nothing was delivered.
    std::optional<platform::OSStatus> press(uint32_t keyCode, uint32_t modifiers)
    {
        for (const auto& r : registrations)
            if (r.keyCode == keyCode && r.modifiers == modifiers)
                return deliver(r.id);
        return std::nullopt;
    }
    // Hands an arbitrary hot key event (or a null one) to the installed handler.
    std::optional<platform::OSStatus> deliver(std::optional<platform::EventHotKeyID> id)
    {
        if (!handler)
            return std::nullopt;
        return handler(nullptr, id ? reinterpret_cast<platform::EventRef>(&*id) : nullptr, nullptr);
    }

    // Runs inside installEventHandler(), to look at the world as the handler goes in.
    std::function<void()> onInstall;
    // What the desktop bound, by hot key id; tell the manager with bindingsChanged().
    std::map<uint32_t, std::string> boundKeys;
    std::function<void()> bindingsChanged;
    // When set, reading the hot key id from an event fails with this status.
    std::optional<platform::OSStatus> parameterFailure;
    platform::EventHandlerProcPtr handler = nullptr;
    std::deque<HotKeyRegistration> registrations; // a deque, so the references handed out stay valid
};

class FakeUserDefaults : public platform::UserDefaults {
public:
    std::optional<std::vector<platform::DefaultsValue>> arrayForKey(const std::string& key) override
    {
        if (!stored.count(key))
            return std::nullopt;
        return std::vector<platform::DefaultsValue>(stored[key].begin(), stored[key].end());
    }
    void setObject(const std::vector<std::string>& array, const std::string& key) override
    {
        ++writes;
        stored[key] = array;
    }

    std::map<std::string, std::vector<std::string>> stored;
    int writes = 0;
};

class MockLoginItemService : public platform::LoginItemService {
public:
    MOCK_METHOD(platform::LoginItemStatus, status, (), (override));
    MOCK_METHOD(bool, registerService, (), (override));
    MOCK_METHOD(bool, unregisterService, (), (override));
};

class FakeNotificationCenter : public platform::NotificationCenter {
public:
    using Completion = std::function<void(bool, std::optional<std::string>)>;
    void requestAuthorization(unsigned, Completion c) override { completions.push_back(std::move(c)); }
    std::vector<Completion> completions;
};

// Makes no controller: the update check is the real binary's to test (test_menu.py).
class FakeUpdaterFactory : public platform::UpdaterFactory {
public:
    std::shared_ptr<platform::UpdaterController> makeController(bool) override { return nullptr; }
};

// Makes a double and installs it as the service, which keeps it.
template <class Service, class Fake>
Fake& installed()
{
    auto fake = std::make_shared<Fake>();
    Service::install(fake);
    return *fake;
}

// Installs a new double for every service; the previous ones are released. Services stay
// installed after this object is gone, so objects that outlive a test's scope still find them.
struct PlatformDoubles {
    FakeStatusBar& statusBar = installed<platform::StatusBar, FakeStatusBar>();
    FakeMediaEngine& media = installed<platform::MediaEngine, FakeMediaEngine>();
    FakeNowPlayingCenter& nowPlaying = installed<platform::NowPlayingCenter, FakeNowPlayingCenter>();
    platform::RemoteCommandCenter& commands = installed<platform::RemoteCommandCenter, platform::RemoteCommandCenter>();
    FakeHotKeyService& hotKeys = installed<platform::HotKeyService, FakeHotKeyService>();
    FakeUserDefaults& defaults = installed<platform::UserDefaults, FakeUserDefaults>();
    // Not registered, until a test says what the system answers.
    ::testing::NiceMock<MockLoginItemService>& loginItem =
        installed<platform::LoginItemService, ::testing::NiceMock<MockLoginItemService>>();
    FakeNotificationCenter& notifications = installed<platform::NotificationCenter, FakeNotificationCenter>();
    FakeUpdaterFactory& updaters = installed<platform::UpdaterFactory, FakeUpdaterFactory>();
};

} // namespace doubles
