// The media player double, which the engine hands out and the units own.
#include "platform/testing/Doubles.h"

namespace doubles {

namespace {
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
} // namespace

std::unique_ptr<platform::MediaPlayer> FakeMediaEngine::playerWithItem(std::shared_ptr<platform::MediaItem> item)
{
    ++mediaCalls;
    return std::make_unique<FakeMediaPlayer>(players.emplace_back(std::dynamic_pointer_cast<PlayerRecord>(item)));
}

} // namespace doubles
