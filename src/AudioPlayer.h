// The one stream player: plays a channel's live stream, pauses, resumes and skips within it,
// publishes what is playing, and answers the desktop's media commands.
#pragma once

#include "platform/Media.h"
#include "src/Models.h"

#include <functional>
#include <memory>
#include <optional>

class AudioPlayer {
public:
    AudioPlayer();
    AudioPlayer(const AudioPlayer&) = delete;
    AudioPlayer& operator=(const AudioPlayer&) = delete;

    // Written only by play(); never cleared once set.
    const std::optional<KovraChannel>& currentChannel() const { return currentChannel_; }
    std::function<void()> onStateChange;

    bool isPlaying() const;
    void play(const KovraChannel& channel);
    void pause();
    void resume();
    void skip(double seconds);
    void updateNowPlaying();

private:
    void setupRemoteCommands();
    void notifyStateChange();

    std::unique_ptr<platform::MediaPlayer> player;
    std::optional<KovraChannel> currentChannel_;
    // The media command handlers are registered from the constructor, before anyone holds this
    // object by shared pointer, and they outlive it; they watch this token instead. Declared
    // last so it is released first.
    std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
};
