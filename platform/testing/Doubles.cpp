// The doubles whose work does not fit in a line or two.
#include "platform/testing/Doubles.h"

#include <algorithm>
#include <cstring>

namespace doubles {

EventLog& eventLog()
{
    static EventLog log;
    return log;
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

platform::OSStatus FakeHotKeyService::installEventHandler(platform::EventTargetRef, platform::EventHandlerProcPtr h,
                                                          uint32_t numTypes, const platform::EventTypeSpec* types,
                                                          void* userData, platform::EventHandlerRef*)
{
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
    registrations.push_back({keyCode, modifiers, id});
    *outRef = reinterpret_cast<platform::EventHotKeyRef>(refs_.emplace_back(std::make_unique<uint32_t>(id.id)).get());
    return platform::noErr;
}

std::string FakeHotKeyService::boundKeyText(platform::EventHotKeyRef ref) const
{
    for (const auto& held : refs_)
        if (ref == reinterpret_cast<platform::EventHotKeyRef>(held.get()) && boundKeys.count(*held))
            return boundKeys.at(*held);
    return {};
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

std::optional<platform::OSStatus> FakeHotKeyService::press(uint32_t keyCode, uint32_t modifiers)
{
    const bool wanted = std::any_of(handlerTypes.begin(), handlerTypes.end(), [](const auto& type) {
        return type.eventClass == platform::kEventClassKeyboard && type.eventKind == platform::kEventHotKeyPressed;
    });
    for (const auto& r : registrations)
        if (wanted && r.keyCode == keyCode && r.modifiers == modifiers)
            return deliver(r.id);
    return std::nullopt;
}

std::optional<platform::OSStatus> FakeHotKeyService::deliver(std::optional<platform::EventHotKeyID> hotKeyID)
{
    if (!handler)
        return std::nullopt;
    return handler(nullptr, hotKeyID ? reinterpret_cast<platform::EventRef>(&*hotKeyID) : nullptr, handlerUserData);
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

} // namespace doubles
