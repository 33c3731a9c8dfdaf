// In-memory doubles of every platform service, recording what the units ask of them, and
// PlatformDoubles, which installs a fresh set for one test.
#pragma once

#include "platform/testing/EventLog.h"

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
#include <variant>
#include <vector>

namespace doubles {

// ---- Application

class FakeApplication : public platform::Application {
public:
    void setDelegate(platform::ApplicationDelegate* delegate) override;
    // Finishes launching at once, as the real loop does first, then returns runResult.
    int run() override;
    void terminate() override;

    platform::ApplicationDelegate* delegate = nullptr;
    int runResult = 0;
    int terminateCount = 0;
};

// ---- Graphics

struct DrawCall {
    enum Kind { Text, Image } kind = Text;
    std::string text;
    platform::Point at;
    platform::Font font;
    platform::Rect in;
    std::string imageName;
};

class FakeImage : public platform::Image {
public:
    FakeImage(platform::Size size, std::string name) : name(std::move(name)), size_(size) {}
    platform::Size size() const override { return size_; }
    void lockFocus() override;
    void unlockFocus() override;
    void drawText(const std::string& text, platform::Point at, const platform::Font& font) override;
    void drawImage(const platform::Image& image, platform::Rect in) override;
    void setTemplate(bool isTemplate) override { template_ = isTemplate; }
    bool isTemplate() const override { return template_; }

    std::string name;
    // Drawing outside lockFocus()/unlockFocus() is recorded too, but flagged.
    std::vector<DrawCall> draws;
    bool drewOutsideFocus = false;
    bool focused = false;
    int focusCount = 0;

private:
    platform::Size size_;
    bool template_ = true;
};

class FakeGraphics : public platform::Graphics {
public:
    double smallSystemFontSize() override { return smallFontSize; }
    platform::Size sizeOfText(const std::string& text, const platform::Font& font) override;
    std::shared_ptr<platform::Image> imageWithSystemSymbolName(const std::string& name) override;
    std::shared_ptr<platform::Image> imageWithSize(platform::Size size) override;

    double smallFontSize = 11;
    platform::Size textSize{18, 17};
    std::vector<platform::Font> measuredFonts;
    std::set<std::string> symbols{"antenna.radiowaves.left.and.right"};
    std::vector<std::shared_ptr<FakeImage>> images;
};

// ---- Status bar

class FakeStatusButton : public platform::StatusButton {
public:
    void setImage(std::shared_ptr<platform::Image> image) override;
    void setTitle(const std::string& title) override;
    void setFont(const platform::Font& font) override;

    std::shared_ptr<platform::Image> image;
    std::string title;
    std::optional<platform::Font> font;
    // "image", "title", "font" in the order set.
    std::vector<std::string> calls;
    FakeImage* fakeImage() const { return dynamic_cast<FakeImage*>(image.get()); }
};

class FakeStatusItem : public platform::StatusItem {
public:
    explicit FakeStatusItem(bool withButton);
    platform::StatusButton* button() override { return button_.get(); }
    void setMenu(std::shared_ptr<platform::Menu> menu) override;

    FakeStatusButton* fakeButton() const { return button_.get(); }
    std::shared_ptr<platform::Menu> menu;
    int menuCount = 0;
    double length = 0;

private:
    std::unique_ptr<FakeStatusButton> button_;
};

class FakeStatusBar : public platform::StatusBar {
public:
    std::shared_ptr<platform::StatusItem> statusItemWithLength(double length) override;

    bool itemsHaveButtons = true;
    std::vector<std::shared_ptr<FakeStatusItem>> items;
};

// ---- Media

class FakeMediaItem : public platform::MediaItem {
public:
    explicit FakeMediaItem(std::string url) : url(std::move(url)) {}
    std::vector<platform::MediaTimeRange> seekableTimeRanges() const override { return ranges; }

    std::string url;
    std::vector<platform::MediaTimeRange> ranges;
};

struct Seek {
    platform::MediaTime time, toleranceBefore, toleranceAfter;
};

// What a player went through, kept after the player itself is released.
struct PlayerRecord {
    int number = 0;
    std::shared_ptr<FakeMediaItem> item;
    float rate = 0;
    platform::MediaTime currentTime = platform::MediaTime::zero();
    bool hasCurrentItem = true;
    std::vector<std::string> calls;
    std::vector<Seek> seeks;
    bool released = false;
};

class FakeMediaPlayer : public platform::MediaPlayer {
public:
    explicit FakeMediaPlayer(std::shared_ptr<PlayerRecord> record) : record_(std::move(record)) {}
    ~FakeMediaPlayer() override;
    void play() override;
    void pause() override;
    float rate() const override { return record_->rate; }
    std::shared_ptr<platform::MediaItem> currentItem() const override;
    platform::MediaTime currentTime() const override { return record_->currentTime; }
    void seekToTime(platform::MediaTime time, platform::MediaTime before, platform::MediaTime after) override;

private:
    std::shared_ptr<PlayerRecord> record_;
};

class FakeMediaEngine : public platform::MediaEngine {
public:
    std::shared_ptr<platform::MediaItem> itemWithURL(const platform::URL& url) override;
    std::unique_ptr<platform::MediaPlayer> playerWithItem(std::shared_ptr<platform::MediaItem> item) override;

    std::vector<std::shared_ptr<FakeMediaItem>> items;
    std::vector<std::shared_ptr<PlayerRecord>> players;
    std::shared_ptr<PlayerRecord> lastPlayer() const { return players.empty() ? nullptr : players.back(); }
    int livePlayers() const;
};

// ---- Now playing and media commands

class FakeNowPlayingCenter : public platform::NowPlayingCenter {
public:
    void setNowPlayingInfo(const platform::NowPlayingInfo& info) override;
    void setPlaybackState(platform::PlaybackState state) override;

    std::vector<platform::NowPlayingInfo> infos;
    std::vector<platform::PlaybackState> states;
};

class FakeRemoteCommandCenter : public platform::RemoteCommandCenter {};

// ---- Hot keys

struct HotKeyRegistration {
    uint32_t keyCode = 0;
    uint32_t modifiers = 0;
    platform::EventHotKeyID id;
    platform::EventTargetRef target = nullptr;
    uint32_t options = 0;
    bool succeeded = false;
};

class FakeHotKeyService : public platform::HotKeyService {
public:
    FakeHotKeyService();
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

    // A key press as the desktop would deliver it: reaches the handler only when a successful
    // registration matches the key and modifiers exactly and the handler asked for presses.
    // Returns the handler's status, or none when nothing was delivered.
    std::optional<platform::OSStatus> press(uint32_t keyCode, uint32_t modifiers);
    std::optional<platform::OSStatus> release(uint32_t keyCode, uint32_t modifiers);
    // Hands an arbitrary hot key event (or a null one) to the installed handler.
    std::optional<platform::OSStatus> deliver(std::optional<platform::EventHotKeyID> hotKeyID);

    // Runs inside installEventHandler(), to look at the world as the handler goes in.
    std::function<void()> onInstall;
    std::set<uint32_t> failingKeyCodes;
    // When set, reading the hot key id from an event fails with this status.
    std::optional<platform::OSStatus> parameterFailure;

    platform::EventHandlerProcPtr handler = nullptr;
    std::vector<platform::EventTypeSpec> handlerTypes;
    void* handlerUserData = reinterpret_cast<void*>(1);
    int handlerInstalls = 0;
    std::vector<HotKeyRegistration> registrations;

private:
    std::optional<platform::OSStatus> dispatch(uint32_t keyCode, uint32_t modifiers, uint32_t kind);
    char targetStorage_ = 0;
    std::vector<std::unique_ptr<char>> refStorage_;
};

// ---- Defaults, localisation, login item, notifications, updater

class FakeUserDefaults : public platform::UserDefaults {
public:
    std::optional<std::vector<platform::DefaultsValue>> arrayForKey(const std::string& key) override;
    void setObject(const std::vector<std::string>& array, const std::string& key) override;

    void storeArray(const std::string& key, std::vector<platform::DefaultsValue> values);
    void storeStrings(const std::string& key, const std::vector<std::string>& values);
    void storeValue(const std::string& key, platform::DefaultsValue value);
    // The stored strings, or none when the value is missing or not an array of strings.
    std::optional<std::vector<std::string>> strings(const std::string& key) const;

    int writes = 0;

private:
    using Stored = std::variant<std::vector<platform::DefaultsValue>, platform::DefaultsValue>;
    std::map<std::string, Stored> values_;
};

class FakeLocalization : public platform::Localization {
public:
    std::string localizedString(const std::string& key) override;
    std::map<std::string, std::string> translations;
};

class FakeLoginItemService : public platform::LoginItemService {
public:
    platform::LoginItemStatus status() override { return current; }
    bool registerService() override;
    bool unregisterService() override;

    platform::LoginItemStatus current = platform::LoginItemStatus::NotRegistered;
    bool failRegistration = false;
    bool failUnregistration = false;
    int registerCalls = 0;
    int unregisterCalls = 0;
};

class FakeNotificationCenter : public platform::NotificationCenter {
public:
    using Completion = std::function<void(bool, std::optional<std::string>)>;
    void requestAuthorization(unsigned options, Completion completion) override;

    std::vector<unsigned> requests;
    std::vector<Completion> completions;
};

class FakeUpdaterController : public platform::UpdaterController {
public:
    explicit FakeUpdaterController(bool started) : started(started) {}
    void checkForUpdates() override;
    bool started;
    int checks = 0;
};

class FakeUpdaterFactory : public platform::UpdaterFactory {
public:
    std::shared_ptr<platform::UpdaterController> makeController(bool startingUpdater) override;
    // Runs inside makeController(), to look at the world as the updater is made.
    std::function<void()> onMake;
    std::vector<std::shared_ptr<FakeUpdaterController>> controllers;
};

// ---- A fresh world of doubles

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

    EventLog& log() const { return eventLog(); }
};

} // namespace doubles
