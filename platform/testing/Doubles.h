// In-memory doubles of every platform service, and PlatformDoubles, which installs a fresh set for
// one test. What the player asks of the media services goes into one event log, so a test can tell
// that nothing happened.
#pragma once

#include "platform/Application.h"
#include "platform/Graphics.h"
#include "platform/HotKeys.h"
#include "platform/Localization.h"
#include "platform/LoginItem.h"
#include "platform/Media.h"
#include "platform/Notifications.h"
#include "platform/NowPlaying.h"
#include "platform/StatusBar.h"
#include "platform/Updater.h"
#include "platform/UserDefaults.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace doubles {

class EventLog {
public:
    void add(std::string entry) { entries_.push_back(std::move(entry)); }
    void clear() { entries_.clear(); }
    const std::vector<std::string>& entries() const { return entries_; }

private:
    std::vector<std::string> entries_;
};

EventLog& eventLog();

class FakeApplication : public platform::Application {
public:
    void setDelegate(platform::ApplicationDelegate* d) override { delegate = d; }
    // Finishes launching at once, as the real loop does first.
    int run() override
    {
        if (delegate)
            delegate->applicationDidFinishLaunching();
        return 0;
    }
    void terminate() override {}

    platform::ApplicationDelegate* delegate = nullptr;
};

class FakeGraphics : public platform::Graphics {
public:
    double smallSystemFontSize() override { return 11; }
    std::shared_ptr<platform::Image> statusIcon(const std::string&, const std::string&) override
    {
        return std::make_shared<platform::Image>();
    }
};

class FakeStatusButton : public platform::StatusButton {
public:
    void setImage(std::shared_ptr<platform::Image>) override {}
    void setTitle(const std::string&) override {}
    void setFont(const platform::Font&) override {}
};

class FakeStatusItem : public platform::StatusItem {
public:
    platform::StatusButton* button() override { return &button_; }
    void setMenu(std::shared_ptr<platform::Menu> m) override
    {
        menu = std::move(m);
        ++menuCount;
    }

    std::shared_ptr<platform::Menu> menu;
    int menuCount = 0;

private:
    FakeStatusButton button_;
};

class FakeStatusBar : public platform::StatusBar {
public:
    std::shared_ptr<platform::StatusItem> statusItemWithLength(double) override
    {
        return items.emplace_back(std::make_shared<FakeStatusItem>());
    }
    std::vector<std::shared_ptr<FakeStatusItem>> items;
};

class FakeMediaItem : public platform::MediaItem {
public:
    std::vector<platform::MediaTimeRange> seekableTimeRanges() const override { return ranges; }
    std::vector<platform::MediaTimeRange> ranges;
};

struct Seek {
    platform::MediaTime time, toleranceBefore, toleranceAfter;
};

// What a player went through, kept after the player itself is gone.
struct PlayerRecord {
    std::shared_ptr<FakeMediaItem> item;
    float rate = 0;
    platform::MediaTime currentTime = platform::MediaTime::zero();
    bool hasCurrentItem = true;
    std::vector<Seek> seeks;
};

class FakeMediaEngine : public platform::MediaEngine {
public:
    std::shared_ptr<platform::MediaItem> itemWithURL(const platform::URL&) override
    {
        return std::make_shared<FakeMediaItem>();
    }
    std::unique_ptr<platform::MediaPlayer> playerWithItem(std::shared_ptr<platform::MediaItem> item) override;
    std::shared_ptr<PlayerRecord> lastPlayer() const { return players.back(); }

    std::vector<std::shared_ptr<PlayerRecord>> players;
};

class FakeNowPlayingCenter : public platform::NowPlayingCenter {
public:
    void setNowPlayingInfo(const platform::NowPlayingInfo&) override { eventLog().add("NowPlaying.info"); }
    void setPlaybackState(platform::PlaybackState) override { eventLog().add("NowPlaying.state"); }
};

struct HotKeyRegistration {
    uint32_t keyCode = 0;
    uint32_t modifiers = 0;
    platform::EventHotKeyID id;
};

class FakeHotKeyService : public platform::HotKeyService {
public:
    platform::EventTargetRef applicationEventTarget() override
    {
        return reinterpret_cast<platform::EventTargetRef>(&target_);
    }
    platform::OSStatus installEventHandler(platform::EventTargetRef target, platform::EventHandlerProcPtr handler,
                                           uint32_t numTypes, const platform::EventTypeSpec* types, void* userData,
                                           platform::EventHandlerRef* outRef) override;
    platform::OSStatus registerEventHotKey(uint32_t keyCode, uint32_t modifiers, platform::EventHotKeyID id,
                                           platform::EventTargetRef target, uint32_t options,
                                           platform::EventHotKeyRef* outRef) override;
    platform::OSStatus getEventParameter(platform::EventRef event, platform::OSType name, platform::OSType desiredType,
                                         platform::OSType* actualType, size_t bufferSize, size_t* actualSize,
                                         void* outData) override;

    // A key press as the desktop would deliver it: reaches the handler only when a registration
    // matches the key and modifiers exactly and the handler asked for presses.
    // Returns the handler's status, or none when nothing was delivered.
    std::optional<platform::OSStatus> press(uint32_t keyCode, uint32_t modifiers);
    // Hands an arbitrary hot key event (or a null one) to the installed handler.
    std::optional<platform::OSStatus> deliver(std::optional<platform::EventHotKeyID> hotKeyID);
    std::string boundKeyText(platform::EventHotKeyRef ref) const override;
    void setBindingsChangedHandler(std::function<void()> handler) override { bindingsChanged = std::move(handler); }

    // Runs inside installEventHandler(), to look at the world as the handler goes in.
    std::function<void()> onInstall;
    // What the desktop bound, by hot key id; tell the manager with bindingsChanged().
    std::map<uint32_t, std::string> boundKeys;
    std::function<void()> bindingsChanged;
    // When set, reading the hot key id from an event fails with this status.
    std::optional<platform::OSStatus> parameterFailure;

    platform::EventHandlerProcPtr handler = nullptr;
    std::vector<platform::EventTypeSpec> handlerTypes;
    void* handlerUserData = nullptr;
    std::vector<HotKeyRegistration> registrations;

private:
    char target_ = 0;
    std::vector<std::unique_ptr<uint32_t>> refs_; // each holds its registration's id
};

class FakeUserDefaults : public platform::UserDefaults {
public:
    std::optional<std::vector<platform::DefaultsValue>> arrayForKey(const std::string& key) override
    {
        const auto found = values_.find(key);
        return found == values_.end() ? std::nullopt : std::optional(found->second);
    }
    void setObject(const std::vector<std::string>& array, const std::string& key) override
    {
        ++writes;
        storeStrings(key, array);
    }
    void storeStrings(const std::string& key, const std::vector<std::string>& values)
    {
        values_[key] = std::vector<platform::DefaultsValue>(values.begin(), values.end());
    }
    // The stored strings, or none when the value is missing or holds anything but strings.
    std::optional<std::vector<std::string>> strings(const std::string& key) const;

    int writes = 0;

private:
    std::map<std::string, std::vector<platform::DefaultsValue>> values_;
};

class FakeLocalization : public platform::Localization {
public:
    std::string localizedString(const std::string& key) override { return key; }
};

class FakeLoginItemService : public platform::LoginItemService {
public:
    platform::LoginItemStatus status() override { return current; }
    bool registerService() override
    {
        ++registerCalls;
        if (!failRegistration)
            current = platform::LoginItemStatus::Enabled;
        return !failRegistration;
    }
    bool unregisterService() override
    {
        ++unregisterCalls;
        current = platform::LoginItemStatus::NotRegistered;
        return true;
    }

    platform::LoginItemStatus current = platform::LoginItemStatus::NotRegistered;
    bool failRegistration = false;
    int registerCalls = 0;
    int unregisterCalls = 0;
};

class FakeNotificationCenter : public platform::NotificationCenter {
public:
    using Completion = std::function<void(bool, std::optional<std::string>)>;
    void requestAuthorization(unsigned, Completion c) override { completions.push_back(std::move(c)); }
    std::vector<Completion> completions;
};

class FakeUpdaterController : public platform::UpdaterController {
public:
    void checkForUpdates() override {}
};

class FakeUpdaterFactory : public platform::UpdaterFactory {
public:
    std::shared_ptr<platform::UpdaterController> makeController(bool) override
    {
        return std::make_shared<FakeUpdaterController>();
    }
};

// Makes a double and installs it as the service.
template <class Service, class Fake>
std::shared_ptr<Fake> installed()
{
    auto fake = std::make_shared<Fake>();
    Service::install(fake);
    return fake;
}

// Clears the event log and installs a new double for every service; the previous ones are
// released. Services stay installed after this object is gone, so objects that outlive a test's
// scope still find them.
struct PlatformDoubles {
    bool logCleared = (eventLog().clear(), true);
    std::shared_ptr<FakeApplication> application = installed<platform::Application, FakeApplication>();
    std::shared_ptr<FakeStatusBar> statusBar = installed<platform::StatusBar, FakeStatusBar>();
    std::shared_ptr<FakeGraphics> graphics = installed<platform::Graphics, FakeGraphics>();
    std::shared_ptr<FakeMediaEngine> media = installed<platform::MediaEngine, FakeMediaEngine>();
    std::shared_ptr<FakeNowPlayingCenter> nowPlaying = installed<platform::NowPlayingCenter, FakeNowPlayingCenter>();
    std::shared_ptr<platform::RemoteCommandCenter> commands =
        installed<platform::RemoteCommandCenter, platform::RemoteCommandCenter>();
    std::shared_ptr<FakeHotKeyService> hotKeys = installed<platform::HotKeyService, FakeHotKeyService>();
    std::shared_ptr<FakeUserDefaults> defaults = installed<platform::UserDefaults, FakeUserDefaults>();
    std::shared_ptr<FakeLocalization> localization = installed<platform::Localization, FakeLocalization>();
    std::shared_ptr<FakeLoginItemService> loginItem = installed<platform::LoginItemService, FakeLoginItemService>();
    std::shared_ptr<FakeNotificationCenter> notifications =
        installed<platform::NotificationCenter, FakeNotificationCenter>();
    std::shared_ptr<FakeUpdaterFactory> updaters = installed<platform::UpdaterFactory, FakeUpdaterFactory>();
};

} // namespace doubles
