// In-memory doubles of the platform services.
#include "platform/testing/Doubles.h"

#include <algorithm>
#include <cstring>

namespace doubles {

// ---- Application

void FakeApplication::setDelegate(platform::ApplicationDelegate* d)
{
    eventLog().add("Application.setDelegate");
    delegate = d;
}

int FakeApplication::run()
{
    eventLog().add("Application.run");
    if (delegate)
        delegate->applicationDidFinishLaunching();
    return runResult;
}

void FakeApplication::terminate()
{
    eventLog().add("Application.terminate");
    ++terminateCount;
}

// ---- Graphics

void FakeImage::lockFocus()
{
    focused = true;
    ++focusCount;
}

void FakeImage::unlockFocus() { focused = false; }

void FakeImage::drawText(const std::string& text, platform::Point at, const platform::Font& font)
{
    drewOutsideFocus = drewOutsideFocus || !focused;
    DrawCall call;
    call.kind = DrawCall::Text;
    call.text = text;
    call.at = at;
    call.font = font;
    draws.push_back(call);
}

void FakeImage::drawImage(const platform::Image& image, platform::Rect in)
{
    drewOutsideFocus = drewOutsideFocus || !focused;
    DrawCall call;
    call.kind = DrawCall::Image;
    call.in = in;
    if (auto* fake = dynamic_cast<const FakeImage*>(&image))
        call.imageName = fake->name;
    draws.push_back(call);
}

platform::Size FakeGraphics::sizeOfText(const std::string&, const platform::Font& font)
{
    measuredFonts.push_back(font);
    return textSize;
}

std::shared_ptr<platform::Image> FakeGraphics::imageWithSystemSymbolName(const std::string& name)
{
    if (!symbols.count(name))
        return nullptr;
    return std::make_shared<FakeImage>(platform::Size{16, 16}, name);
}

std::shared_ptr<platform::Image> FakeGraphics::imageWithSize(platform::Size size)
{
    auto image = std::make_shared<FakeImage>(size, "");
    images.push_back(image);
    return image;
}

// ---- Status bar

void FakeStatusButton::setImage(std::shared_ptr<platform::Image> i)
{
    eventLog().add("StatusButton.setImage");
    calls.push_back("image");
    image = std::move(i);
}

void FakeStatusButton::setTitle(const std::string& t)
{
    eventLog().add("StatusButton.setTitle " + t);
    calls.push_back("title");
    title = t;
}

void FakeStatusButton::setFont(const platform::Font& f)
{
    eventLog().add("StatusButton.setFont");
    calls.push_back("font");
    font = f;
}

FakeStatusItem::FakeStatusItem(bool withButton)
{
    if (withButton)
        button_ = std::make_unique<FakeStatusButton>();
}

void FakeStatusItem::setMenu(std::shared_ptr<platform::Menu> m)
{
    eventLog().add("StatusItem.setMenu");
    menu = std::move(m);
    ++menuCount;
}

std::shared_ptr<platform::StatusItem> FakeStatusBar::statusItemWithLength(double length)
{
    eventLog().add("StatusBar.statusItemWithLength");
    auto item = std::make_shared<FakeStatusItem>(itemsHaveButtons);
    item->length = length;
    items.push_back(item);
    return item;
}

// ---- Media

FakeMediaPlayer::~FakeMediaPlayer()
{
    record_->released = true;
    eventLog().add("MediaPlayer" + std::to_string(record_->number) + ".released");
}

void FakeMediaPlayer::play()
{
    record_->calls.push_back("play");
    record_->rate = 1;
    eventLog().add("MediaPlayer" + std::to_string(record_->number) + ".play");
}

void FakeMediaPlayer::pause()
{
    record_->calls.push_back("pause");
    record_->rate = 0;
    eventLog().add("MediaPlayer" + std::to_string(record_->number) + ".pause");
}

std::shared_ptr<platform::MediaItem> FakeMediaPlayer::currentItem() const
{
    if (!record_->hasCurrentItem)
        return nullptr;
    return record_->item;
}

void FakeMediaPlayer::seekToTime(platform::MediaTime time, platform::MediaTime before, platform::MediaTime after)
{
    record_->calls.push_back("seek");
    record_->seeks.push_back({time, before, after});
}

std::shared_ptr<platform::MediaItem> FakeMediaEngine::itemWithURL(const platform::URL& url)
{
    eventLog().add("MediaEngine.itemWithURL " + url.absoluteString());
    auto item = std::make_shared<FakeMediaItem>(url.absoluteString());
    items.push_back(item);
    return item;
}

std::unique_ptr<platform::MediaPlayer> FakeMediaEngine::playerWithItem(std::shared_ptr<platform::MediaItem> item)
{
    auto record = std::make_shared<PlayerRecord>();
    record->number = int(players.size()) + 1;
    record->item = std::dynamic_pointer_cast<FakeMediaItem>(item);
    players.push_back(record);
    eventLog().add("MediaEngine.playerWithItem " + std::to_string(record->number));
    return std::make_unique<FakeMediaPlayer>(record);
}

int FakeMediaEngine::livePlayers() const
{
    return int(std::count_if(players.begin(), players.end(), [](const auto& p) { return !p->released; }));
}

// ---- Now playing

void FakeNowPlayingCenter::setNowPlayingInfo(const platform::NowPlayingInfo& info)
{
    eventLog().add("NowPlaying.setNowPlayingInfo");
    infos.push_back(info);
}

void FakeNowPlayingCenter::setPlaybackState(platform::PlaybackState state)
{
    eventLog().add("NowPlaying.setPlaybackState " + std::to_string(int(state)));
    states.push_back(state);
}

// ---- Hot keys

namespace {
// What a hot key event carries in this double.
struct FakeEvent {
    platform::EventHotKeyID id;
};
} // namespace

FakeHotKeyService::FakeHotKeyService() = default;

platform::EventTargetRef FakeHotKeyService::applicationEventTarget()
{
    return reinterpret_cast<platform::EventTargetRef>(&targetStorage_);
}

platform::OSStatus FakeHotKeyService::installEventHandler(platform::EventTargetRef, platform::EventHandlerProcPtr h,
                                                          uint32_t numTypes, const platform::EventTypeSpec* types,
                                                          void* userData, platform::EventHandlerRef*)
{
    eventLog().add("HotKeyService.installEventHandler");
    ++handlerInstalls;
    handler = h;
    handlerTypes.assign(types, types + numTypes);
    handlerUserData = userData;
    if (onInstall)
        onInstall();
    return platform::noErr;
}

platform::OSStatus FakeHotKeyService::registerEventHotKey(uint32_t keyCode, uint32_t modifiers,
                                                          platform::EventHotKeyID id, platform::EventTargetRef target,
                                                          uint32_t options, platform::EventHotKeyRef* outRef)
{
    eventLog().add("HotKeyService.registerEventHotKey " + std::to_string(keyCode));
    HotKeyRegistration registration{keyCode, modifiers, id, target, options, !failingKeyCodes.count(keyCode)};
    registrations.push_back(registration);
    if (!registration.succeeded)
        return -9878; // eventHotKeyExistsErr: someone else holds the key
    refStorage_.push_back(std::make_unique<char>());
    *outRef = reinterpret_cast<platform::EventHotKeyRef>(refStorage_.back().get());
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
    const auto* fake = reinterpret_cast<const FakeEvent*>(event);
    std::memcpy(outData, &fake->id, sizeof(fake->id));
    if (actualType)
        *actualType = platform::typeEventHotKeyID;
    if (actualSize)
        *actualSize = sizeof(fake->id);
    return platform::noErr;
}

std::optional<platform::OSStatus> FakeHotKeyService::dispatch(uint32_t keyCode, uint32_t modifiers, uint32_t kind)
{
    if (!handler)
        return std::nullopt;
    const bool wanted = std::any_of(handlerTypes.begin(), handlerTypes.end(), [kind](const auto& type) {
        return type.eventClass == platform::kEventClassKeyboard && type.eventKind == kind;
    });
    if (!wanted)
        return std::nullopt;
    for (const auto& registration : registrations) {
        if (registration.succeeded && registration.keyCode == keyCode && registration.modifiers == modifiers)
            return deliver(registration.id);
    }
    return std::nullopt;
}

std::optional<platform::OSStatus> FakeHotKeyService::press(uint32_t keyCode, uint32_t modifiers)
{
    return dispatch(keyCode, modifiers, platform::kEventHotKeyPressed);
}

std::optional<platform::OSStatus> FakeHotKeyService::release(uint32_t keyCode, uint32_t modifiers)
{
    return dispatch(keyCode, modifiers, platform::kEventHotKeyReleased);
}

std::optional<platform::OSStatus> FakeHotKeyService::deliver(std::optional<platform::EventHotKeyID> hotKeyID)
{
    if (!handler)
        return std::nullopt;
    if (!hotKeyID)
        return handler(nullptr, nullptr, handlerUserData);
    FakeEvent event{*hotKeyID};
    return handler(nullptr, reinterpret_cast<platform::EventRef>(&event), handlerUserData);
}

// ---- User defaults

std::optional<std::vector<platform::DefaultsValue>> FakeUserDefaults::arrayForKey(const std::string& key)
{
    const auto found = values_.find(key);
    if (found == values_.end())
        return std::nullopt;
    if (const auto* array = std::get_if<std::vector<platform::DefaultsValue>>(&found->second))
        return *array;
    return std::nullopt;
}

void FakeUserDefaults::setObject(const std::vector<std::string>& array, const std::string& key)
{
    eventLog().add("UserDefaults.setObject " + key);
    ++writes;
    storeStrings(key, array);
}

void FakeUserDefaults::storeArray(const std::string& key, std::vector<platform::DefaultsValue> values)
{
    values_[key] = std::move(values);
}

void FakeUserDefaults::storeStrings(const std::string& key, const std::vector<std::string>& values)
{
    storeArray(key, std::vector<platform::DefaultsValue>(values.begin(), values.end()));
}

void FakeUserDefaults::storeValue(const std::string& key, platform::DefaultsValue value)
{
    values_[key] = std::move(value);
}

std::optional<std::vector<std::string>> FakeUserDefaults::strings(const std::string& key) const
{
    const auto found = values_.find(key);
    if (found == values_.end())
        return std::nullopt;
    const auto* array = std::get_if<std::vector<platform::DefaultsValue>>(&found->second);
    if (!array)
        return std::nullopt;
    std::vector<std::string> out;
    for (const auto& value : *array) {
        if (!std::holds_alternative<std::string>(value))
            return std::nullopt;
        out.push_back(std::get<std::string>(value));
    }
    return out;
}

// ---- Localisation, login item, notifications, updater

std::string FakeLocalization::localizedString(const std::string& key)
{
    const auto found = translations.find(key);
    return found == translations.end() ? key : found->second;
}

bool FakeLoginItemService::registerService()
{
    eventLog().add("LoginItem.register");
    ++registerCalls;
    if (failRegistration)
        return false;
    current = platform::LoginItemStatus::Enabled;
    return true;
}

bool FakeLoginItemService::unregisterService()
{
    eventLog().add("LoginItem.unregister");
    ++unregisterCalls;
    if (failUnregistration)
        return false;
    current = platform::LoginItemStatus::NotRegistered;
    return true;
}

void FakeNotificationCenter::requestAuthorization(unsigned options, Completion completion)
{
    eventLog().add("NotificationCenter.requestAuthorization");
    requests.push_back(options);
    completions.push_back(std::move(completion));
}

void FakeUpdaterController::checkForUpdates()
{
    eventLog().add("Updater.checkForUpdates");
    ++checks;
}

std::shared_ptr<platform::UpdaterController> FakeUpdaterFactory::makeController(bool startingUpdater)
{
    eventLog().add("UpdaterFactory.makeController");
    if (onMake)
        onMake();
    auto controller = std::make_shared<FakeUpdaterController>(startingUpdater);
    controllers.push_back(controller);
    return controller;
}

// ---- A fresh world

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
