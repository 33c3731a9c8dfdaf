// In-memory doubles of the platform services.
#include "platform/testing/Doubles.h"

#include <algorithm>
#include <cstring>

namespace doubles {

std::optional<std::size_t> EventLog::first(const std::string& prefix) const
{
    for (std::size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].rfind(prefix, 0) == 0)
            return i;
    return std::nullopt;
}

std::size_t EventLog::count(const std::string& prefix) const
{
    return std::size_t(
        std::count_if(entries_.begin(), entries_.end(), [&](const std::string& e) { return e.rfind(prefix, 0) == 0; }));
}

EventLog& eventLog()
{
    static EventLog log;
    return log;
}

int FakeApplication::run()
{
    eventLog().add("Application.run");
    if (delegate)
        delegate->applicationDidFinishLaunching();
    return 0;
}

void FakeImage::drawText(const std::string& text, platform::Point at, const platform::Font& font)
{
    drewOutsideFocus = drewOutsideFocus || !focused;
    draws.push_back({text, at, font, {}});
}

void FakeImage::drawImage(const platform::Image&, platform::Rect in)
{
    drewOutsideFocus = drewOutsideFocus || !focused;
    draws.push_back({"", {}, {}, in});
}

std::shared_ptr<platform::Image> FakeGraphics::imageWithSystemSymbolName(const std::string& name)
{
    return symbols.count(name) ? std::make_shared<FakeImage>(platform::Size{16, 16}) : nullptr;
}

std::shared_ptr<platform::StatusItem> FakeStatusBar::statusItemWithLength(double)
{
    eventLog().add("StatusBar.statusItemWithLength");
    return items.emplace_back(std::make_shared<FakeStatusItem>());
}

namespace {
class FakeMediaPlayer : public platform::MediaPlayer {
public:
    explicit FakeMediaPlayer(std::shared_ptr<PlayerRecord> record) : record_(std::move(record)) {}
    void play() override { setRate(1); }
    void pause() override { setRate(0); }
    float rate() const override { return record_->rate; }
    std::shared_ptr<platform::MediaItem> currentItem() const override
    {
        return record_->hasCurrentItem ? record_->item : nullptr;
    }
    platform::MediaTime currentTime() const override { return record_->currentTime; }
    void seekToTime(platform::MediaTime time, platform::MediaTime before, platform::MediaTime after) override
    {
        record_->seeks.push_back({time, before, after});
    }

private:
    void setRate(float rate)
    {
        eventLog().add("MediaPlayer.rate");
        record_->rate = rate;
    }
    std::shared_ptr<PlayerRecord> record_;
};
} // namespace

std::unique_ptr<platform::MediaPlayer> FakeMediaEngine::playerWithItem(std::shared_ptr<platform::MediaItem> item)
{
    eventLog().add("MediaEngine.playerWithItem");
    auto record = players.emplace_back(std::make_shared<PlayerRecord>());
    record->item = std::dynamic_pointer_cast<FakeMediaItem>(item);
    return std::make_unique<FakeMediaPlayer>(record);
}

platform::EventTargetRef FakeHotKeyService::applicationEventTarget()
{
    return reinterpret_cast<platform::EventTargetRef>(&target_);
}

platform::OSStatus FakeHotKeyService::installEventHandler(platform::EventTargetRef, platform::EventHandlerProcPtr h,
                                                          uint32_t numTypes, const platform::EventTypeSpec* types,
                                                          void* userData, platform::EventHandlerRef*)
{
    eventLog().add("HotKeyService.installEventHandler");
    handler = h;
    handlerTypes.assign(types, types + numTypes);
    handlerUserData = userData;
    if (onInstall)
        onInstall();
    return platform::noErr;
}

platform::OSStatus FakeHotKeyService::registerEventHotKey(uint32_t keyCode, uint32_t modifiers,
                                                          platform::EventHotKeyID id, platform::EventTargetRef,
                                                          uint32_t, platform::EventHotKeyRef* outRef)
{
    eventLog().add("HotKeyService.registerEventHotKey");
    registrations.push_back({keyCode, modifiers, id, !failingKeyCodes.count(keyCode)});
    if (!registrations.back().succeeded)
        return -9878; // eventHotKeyExistsErr: someone else holds the key
    *outRef = reinterpret_cast<platform::EventHotKeyRef>(refs_.emplace_back(std::make_unique<char>()).get());
    return platform::noErr;
}

platform::OSStatus FakeHotKeyService::getEventParameter(platform::EventRef event, platform::OSType name,
                                                        platform::OSType desiredType, platform::OSType* actualType,
                                                        size_t bufferSize, size_t* actualSize, void* outData)
{
    if (parameterFailure)
        return *parameterFailure;
    if (!event || name != platform::kEventParamDirectObject || desiredType != platform::typeEventHotKeyID
        || bufferSize < sizeof(platform::EventHotKeyID) || !outData)
        return platform::eventParameterNotFoundErr;
    std::memcpy(outData, event, sizeof(platform::EventHotKeyID)); // our events are the id itself
    if (actualType)
        *actualType = platform::typeEventHotKeyID;
    if (actualSize)
        *actualSize = sizeof(platform::EventHotKeyID);
    return platform::noErr;
}

std::optional<platform::OSStatus> FakeHotKeyService::press(uint32_t keyCode, uint32_t modifiers, uint32_t kind)
{
    const bool wanted = std::any_of(handlerTypes.begin(), handlerTypes.end(), [kind](const auto& type) {
        return type.eventClass == platform::kEventClassKeyboard && type.eventKind == kind;
    });
    for (const auto& r : registrations)
        if (wanted && r.succeeded && r.keyCode == keyCode && r.modifiers == modifiers)
            return deliver(r.id);
    return std::nullopt;
}

std::optional<platform::OSStatus> FakeHotKeyService::deliver(std::optional<platform::EventHotKeyID> hotKeyID)
{
    if (!handler)
        return std::nullopt;
    return handler(nullptr, hotKeyID ? reinterpret_cast<platform::EventRef>(&*hotKeyID) : nullptr, handlerUserData);
}

std::optional<std::vector<platform::DefaultsValue>> FakeUserDefaults::arrayForKey(const std::string& key)
{
    const auto found = values_.find(key);
    return found == values_.end() ? std::nullopt : std::optional(found->second);
}

void FakeUserDefaults::setObject(const std::vector<std::string>& array, const std::string& key)
{
    eventLog().add("UserDefaults.setObject");
    ++writes;
    storeStrings(key, array);
}

void FakeUserDefaults::storeStrings(const std::string& key, const std::vector<std::string>& values)
{
    values_[key] = std::vector<platform::DefaultsValue>(values.begin(), values.end());
}

std::optional<std::vector<std::string>> FakeUserDefaults::strings(const std::string& key) const
{
    const auto found = values_.find(key);
    if (found == values_.end())
        return std::nullopt;
    std::vector<std::string> out;
    for (const auto& value : found->second) {
        if (!std::holds_alternative<std::string>(value))
            return std::nullopt;
        out.push_back(std::get<std::string>(value));
    }
    return out;
}

bool FakeLoginItemService::registerService()
{
    ++registerCalls;
    if (!failRegistration)
        current = platform::LoginItemStatus::Enabled;
    return !failRegistration;
}

bool FakeLoginItemService::unregisterService()
{
    ++unregisterCalls;
    current = platform::LoginItemStatus::NotRegistered;
    return true;
}

std::shared_ptr<platform::UpdaterController> FakeUpdaterFactory::makeController(bool)
{
    eventLog().add("UpdaterFactory.makeController");
    return controllers.emplace_back(std::make_shared<FakeUpdaterController>());
}

PlatformDoubles::PlatformDoubles()
{
    eventLog().clear();
    platform::Application::install(application);
    platform::StatusBar::install(statusBar);
    platform::Graphics::install(graphics);
    platform::MediaEngine::install(media);
    platform::NowPlayingCenter::install(nowPlaying);
    platform::RemoteCommandCenter::install(commands);
    platform::HotKeyService::install(hotKeys);
    platform::UserDefaults::install(defaults);
    platform::Localization::install(localization);
    platform::LoginItemService::install(loginItem);
    platform::NotificationCenter::install(notifications);
    platform::UpdaterFactory::install(updaters);
}

} // namespace doubles
