// In-memory doubles of every platform service, recording what the units ask of them in one shared
// event log (so a test can check the order of calls across services), and PlatformDoubles, which
// installs a fresh set for one test.
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
#include <set>
#include <string>
#include <vector>

namespace doubles {

class EventLog {
public:
    void add(std::string entry) { entries_.push_back(std::move(entry)); }
    void clear() { entries_.clear(); }
    const std::vector<std::string>& entries() const { return entries_; }
    // Position of the first entry starting with the prefix, if any; how many start with it.
    std::optional<std::size_t> first(const std::string& prefix) const;
    std::size_t count(const std::string& prefix) const;

private:
    std::vector<std::string> entries_;
};

EventLog& eventLog();

class FakeApplication : public platform::Application {
public:
    void setDelegate(platform::ApplicationDelegate* d) override { delegate = d; }
    // Finishes launching at once, as the real loop does first.
    int run() override;
    void terminate() override { ++terminateCount; }

    platform::ApplicationDelegate* delegate = nullptr;
    int terminateCount = 0;
};

struct DrawCall {
    std::string text; // empty for an image
    platform::Point at;
    platform::Font font;
    platform::Rect in;
};

class FakeImage : public platform::Image {
public:
    explicit FakeImage(platform::Size size) : size_(size) {}
    platform::Size size() const override { return size_; }
    void lockFocus() override { focused = true; }
    void unlockFocus() override { focused = false; }
    void drawText(const std::string& text, platform::Point at, const platform::Font& font) override;
    void drawImage(const platform::Image& image, platform::Rect in) override;
    void setTemplate(bool isTemplate) override { template_ = isTemplate; }
    bool isTemplate() const override { return template_; }

    std::vector<DrawCall> draws;
    bool drewOutsideFocus = false;
    bool focused = false;

private:
    platform::Size size_;
    bool template_ = true;
};

class FakeGraphics : public platform::Graphics {
public:
    double smallSystemFontSize() override { return 11; }
    platform::Size sizeOfText(const std::string&, const platform::Font&) override { return textSize; }
    std::shared_ptr<platform::Image> imageWithSystemSymbolName(const std::string& name) override;
    std::shared_ptr<platform::Image> imageWithSize(platform::Size size) override
    {
        return std::make_shared<FakeImage>(size);
    }

    platform::Size textSize{18, 17};
    std::set<std::string> symbols{"antenna.radiowaves.left.and.right"};
};

class FakeStatusButton : public platform::StatusButton {
public:
    void setImage(std::shared_ptr<platform::Image> i) override
    {
        eventLog().add("StatusButton.setImage");
        image = std::move(i);
    }
    void setTitle(const std::string& t) override { title = t; }
    void setFont(const platform::Font&) override {}
    FakeImage* fakeImage() const { return dynamic_cast<FakeImage*>(image.get()); }

    std::shared_ptr<platform::Image> image;
    std::string title;
};

class FakeStatusItem : public platform::StatusItem {
public:
    platform::StatusButton* button() override { return &button_; }
    void setMenu(std::shared_ptr<platform::Menu> m) override
    {
        eventLog().add("StatusItem.setMenu");
        menu = std::move(m);
        ++menuCount;
    }
    FakeStatusButton* fakeButton() { return &button_; }

    std::shared_ptr<platform::Menu> menu;
    int menuCount = 0;

private:
    FakeStatusButton button_;
};

class FakeStatusBar : public platform::StatusBar {
public:
    std::shared_ptr<platform::StatusItem> statusItemWithLength(double length) override;
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

class FakeRemoteCommandCenter : public platform::RemoteCommandCenter {};

struct HotKeyRegistration {
    uint32_t keyCode = 0;
    uint32_t modifiers = 0;
    platform::EventHotKeyID id;
    bool succeeded = false;
};

class FakeHotKeyService : public platform::HotKeyService {
public:
    platform::EventTargetRef applicationEventTarget() override;
    platform::OSStatus installEventHandler(platform::EventTargetRef target, platform::EventHandlerProcPtr handler,
                                           uint32_t numTypes, const platform::EventTypeSpec* types, void* userData,
                                           platform::EventHandlerRef* outRef) override;
    platform::OSStatus registerEventHotKey(uint32_t keyCode, uint32_t modifiers, platform::EventHotKeyID id,
                                           platform::EventTargetRef target, uint32_t options,
                                           platform::EventHotKeyRef* outRef) override;
    platform::OSStatus getEventParameter(platform::EventRef event, platform::OSType name, platform::OSType desiredType,
                                         platform::OSType* actualType, size_t bufferSize, size_t* actualSize,
                                         void* outData) override;

    // A key press (or release: kind) as the desktop would deliver it: reaches the handler only when a
    // successful registration matches the key and modifiers exactly and the handler asked for that
    // kind. Returns the handler's status, or none when nothing was delivered.
    std::optional<platform::OSStatus> press(uint32_t keyCode, uint32_t modifiers,
                                            uint32_t kind = platform::kEventHotKeyPressed);
    // Hands an arbitrary hot key event (or a null one) to the installed handler.
    std::optional<platform::OSStatus> deliver(std::optional<platform::EventHotKeyID> hotKeyID);

    // Runs inside installEventHandler(), to look at the world as the handler goes in.
    std::function<void()> onInstall;
    std::set<uint32_t> failingKeyCodes;
    // When set, reading the hot key id from an event fails with this status.
    std::optional<platform::OSStatus> parameterFailure;

    platform::EventHandlerProcPtr handler = nullptr;
    std::vector<platform::EventTypeSpec> handlerTypes;
    void* handlerUserData = nullptr;
    std::vector<HotKeyRegistration> registrations;

private:
    char target_ = 0;
    std::vector<std::unique_ptr<char>> refs_;
};

class FakeUserDefaults : public platform::UserDefaults {
public:
    std::optional<std::vector<platform::DefaultsValue>> arrayForKey(const std::string& key) override;
    void setObject(const std::vector<std::string>& array, const std::string& key) override;

    void storeStrings(const std::string& key, const std::vector<std::string>& values);
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
    bool registerService() override;
    bool unregisterService() override;

    platform::LoginItemStatus current = platform::LoginItemStatus::NotRegistered;
    bool failRegistration = false;
    int registerCalls = 0;
    int unregisterCalls = 0;
};

class FakeNotificationCenter : public platform::NotificationCenter {
public:
    using Completion = std::function<void(bool, std::optional<std::string>)>;
    void requestAuthorization(unsigned, Completion c) override
    {
        eventLog().add("Notifications.ask");
        completions.push_back(std::move(c));
    }
    std::vector<Completion> completions;
};

class FakeUpdaterController : public platform::UpdaterController {
public:
    void checkForUpdates() override { ++checks; }
    int checks = 0;
};

class FakeUpdaterFactory : public platform::UpdaterFactory {
public:
    std::shared_ptr<platform::UpdaterController> makeController(bool startingUpdater) override;
    std::vector<std::shared_ptr<FakeUpdaterController>> controllers;
};

// Installs a new double for every service and clears the event log; the previous ones are
// released. Services stay installed after this object is gone, so objects that outlive a test's
// scope still find them.
struct PlatformDoubles {
    PlatformDoubles();

    std::shared_ptr<FakeApplication> application = std::make_shared<FakeApplication>();
    std::shared_ptr<FakeStatusBar> statusBar = std::make_shared<FakeStatusBar>();
    std::shared_ptr<FakeGraphics> graphics = std::make_shared<FakeGraphics>();
    std::shared_ptr<FakeMediaEngine> media = std::make_shared<FakeMediaEngine>();
    std::shared_ptr<FakeNowPlayingCenter> nowPlaying = std::make_shared<FakeNowPlayingCenter>();
    std::shared_ptr<FakeRemoteCommandCenter> commands = std::make_shared<FakeRemoteCommandCenter>();
    std::shared_ptr<FakeHotKeyService> hotKeys = std::make_shared<FakeHotKeyService>();
    std::shared_ptr<FakeUserDefaults> defaults = std::make_shared<FakeUserDefaults>();
    std::shared_ptr<FakeLocalization> localization = std::make_shared<FakeLocalization>();
    std::shared_ptr<FakeLoginItemService> loginItem = std::make_shared<FakeLoginItemService>();
    std::shared_ptr<FakeNotificationCenter> notifications = std::make_shared<FakeNotificationCenter>();
    std::shared_ptr<FakeUpdaterFactory> updaters = std::make_shared<FakeUpdaterFactory>();
};

} // namespace doubles
