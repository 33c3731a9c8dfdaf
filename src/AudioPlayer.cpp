// Playback of one live stream at a time through the platform's media engine, and the handlers
// of the desktop's media commands.
#include "src/AudioPlayer.h"

#include "platform/NowPlaying.h"

namespace {
constexpr double skipInterval = 15.0;
constexpr int32_t skipTimescale = 600;
const char* const artistName = "Kovra";
} // namespace

AudioPlayer::AudioPlayer() { setupRemoteCommands(); }

bool AudioPlayer::isPlaying() const { return player && player->rate() > 0.0f; }

void AudioPlayer::play(const KovraChannel& channel)
{
    // Silence the old stream before the new one starts, so two never sound together.
    if (player)
        player->pause();
    currentChannel_ = channel;
    updateNowPlaying();
    auto& engine = platform::MediaEngine::shared();
    auto item = engine.itemWithURL(channel.streamURL());
    player = engine.playerWithItem(std::move(item));
    if (player) {
        // A stream that fails or comes back changes what the menu and the media controls say.
        player->setRateChangeHandler([this] { notifyStateChange(); });
        player->play();
    }
    notifyStateChange();
}

void AudioPlayer::pause()
{
    if (player)
        player->pause();
    platform::NowPlayingCenter::defaultCenter().setPlaybackState(platform::PlaybackState::Paused);
    notifyStateChange();
}

void AudioPlayer::resume()
{
    if (player)
        player->play();
    platform::NowPlayingCenter::defaultCenter().setPlaybackState(platform::PlaybackState::Playing);
    notifyStateChange();
}

void AudioPlayer::skip(double seconds)
{
    using platform::MediaTime;
    if (!player)
        return;
    auto item = player->currentItem();
    if (!item)
        return;
    const MediaTime target = MediaTime::add(player->currentTime(), MediaTime::makeWithSeconds(seconds, skipTimescale));
    // A position the player cannot tell yet, or an offset that is no number, leaves nowhere to go.
    if (!target.isValid())
        return;
    const auto ranges = item->seekableTimeRanges();
    if (ranges.empty())
        return;
    // A live stream's older stretches may linger in the list; only the newest one is reliable.
    const platform::MediaTimeRange& range = ranges.back();
    const MediaTime end = range.end();
    if (!range.start.isValid() || !end.isValid())
        return;
    MediaTime clamped = target;
    if (MediaTime::compare(target, end) > 0)
        clamped = end;
    else if (MediaTime::compare(target, range.start) < 0)
        clamped = range.start;
    player->seekToTime(clamped, MediaTime::zero(), MediaTime::zero());
}

void AudioPlayer::updateNowPlaying()
{
    if (!currentChannel_)
        return;
    platform::NowPlayingInfo info;
    info.isLiveStream = true;
    info.title = currentChannel_->name;
    info.artist = artistName;
    auto& center = platform::NowPlayingCenter::defaultCenter();
    center.setNowPlayingInfo(info);
    center.setPlaybackState(platform::PlaybackState::Playing);
}

void AudioPlayer::notifyStateChange()
{
    // A copy, so a listener that replaces the callback does not destroy the one running.
    if (auto callback = onStateChange)
        callback();
}

void AudioPlayer::setupRemoteCommands()
{
    using platform::RemoteCommandEvent;
    using Status = platform::RemoteCommandHandlerStatus;
    auto& center = platform::RemoteCommandCenter::sharedCommandCenter();
    const std::weak_ptr<AudioPlayer> weakSelf = std::shared_ptr<AudioPlayer>(lifetime_, this);

    auto playHandler = [weakSelf](const RemoteCommandEvent&) {
        auto self = weakSelf.lock();
        if (!self || !self->currentChannel_)
            return Status::CommandFailed;
        const KovraChannel channel = *self->currentChannel_;
        self->play(channel);
        return Status::Success;
    };
    auto pauseHandler = [weakSelf](const RemoteCommandEvent&) {
        if (auto self = weakSelf.lock())
            self->pause();
        return Status::Success;
    };
    auto toggleHandler = [weakSelf](const RemoteCommandEvent&) {
        auto self = weakSelf.lock();
        if (!self)
            return Status::Success;
        if (self->isPlaying()) {
            self->pause();
        } else if (self->player) {
            self->resume();
        } else if (self->currentChannel_) {
            const KovraChannel channel = *self->currentChannel_;
            self->play(channel);
        }
        return Status::Success;
    };
    // The interval an event carries is ignored: we always skip the interval we advertise.
    auto skipHandler = [](std::weak_ptr<AudioPlayer> player, double seconds) {
        return [player = std::move(player), seconds](const RemoteCommandEvent&) {
            if (auto self = player.lock())
                self->skip(seconds);
            return Status::Success;
        };
    };

    center.playCommand().addTargetWithHandler(playHandler);
    center.pauseCommand().addTargetWithHandler(pauseHandler);
    center.togglePlayPauseCommand().addTargetWithHandler(toggleHandler);
    center.skipForwardCommand().setPreferredIntervals({skipInterval});
    center.skipForwardCommand().addTargetWithHandler(skipHandler(weakSelf, skipInterval));
    center.skipBackwardCommand().setPreferredIntervals({skipInterval});
    center.skipBackwardCommand().addTargetWithHandler(skipHandler(weakSelf, -skipInterval));
    center.nextTrackCommand().addTargetWithHandler(skipHandler(weakSelf, skipInterval));
    center.previousTrackCommand().addTargetWithHandler(skipHandler(weakSelf, -skipInterval));
}
