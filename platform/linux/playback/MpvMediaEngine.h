// The media engine on libmpv: items and players of the live streams, all served by one warm
// media core (MpvSession), so a new player costs a `loadfile`, not a new core.
#pragma once

#include "platform/Media.h"
#include "platform/linux/playback/MpvSession.h"
#include "platform/linux/relay/LoopbackHttpRelay.h"

#include <QObject>

#include <memory>
#include <optional>

namespace platform::linux_impl {

class MpvMediaEngine : public QObject, public MediaEngine {
    Q_OBJECT

public:
    explicit MpvMediaEngine(MpvCore::LibraryOpener openLibrary = &MpvLibrary::open);

    std::shared_ptr<MediaItem> itemWithURL(const URL& url) override;
    std::unique_ptr<MediaPlayer> playerWithItem(std::shared_ptr<MediaItem> item) override;

    // Streams of the stream host are then read through this relay.
    void setRelay(std::shared_ptr<LoopbackHttpRelay> relay) { relay_ = std::move(relay); }
    // Follow the machine's sleeps and network changes (logind, Qt's network information) from the
    // first player on: a tray app that never plays does not pay for either.
    void followSleepAndNetwork() { followSystem_ = true; }

    // Where the stream being played or paused is, in seconds; none while unknown or nothing is open.
    std::optional<double> position() const { return session_->currentPosition(); }
    // The app's volume on the sound server, 0 to 1, whatever plays.
    double volume() const { return session_->volume().volume(); }
    void setVolume(double volume) { session_->volume().setVolume(volume); }

    // Silences playback for good and starts the core's destruction, which blocks, on a worker
    // thread; destroying the engine waits for it. Players made before obey nothing more.
    void shutdown() { session_->shutdown(); }

Q_SIGNALS:
    // An exact seek was carried out; playback goes on from this position (seconds).
    void seeked(double seconds);
    // True while the engine cannot play what it was asked to (libmpv unusable, or it refused the load).
    void playbackFailedChanged(bool failed);
    // A channel is heard (its first sound, or again after a pause or failure), or no longer.
    void soundingChanged(bool sounding);
    void volumeChanged(double volume);

private:
    void startFollowing();

    std::shared_ptr<MpvSession> session_;
    std::shared_ptr<LoopbackHttpRelay> relay_;
    bool followSystem_ = false;
    bool following_ = false;
};

} // namespace platform::linux_impl
