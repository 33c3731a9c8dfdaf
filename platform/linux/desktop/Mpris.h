// The MPRIS2 object on the session bus: what desktops show as now playing, and the media commands
// (keys, applets, playerctl) they send back. One object answers for both services.
#pragma once

#include "platform/NowPlaying.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

namespace platform::linux_impl {

// Holds the published state and the command centre to call; exported at /org/mpris/MediaPlayer2
// under org.mpris.MediaPlayer2.kovra_radio while it lives (installPlatform owns it). It answers its
// D-Bus calls itself rather than through QtDBus adaptors: those convert whatever a caller sends to
// the property's type (a boolean becomes full volume) and cannot refuse a write, so no caller
// would learn that its value was not taken.
class MprisObject : public QDBusVirtualObject {
    Q_OBJECT

public:
    explicit MprisObject(QObject* parent = nullptr);
    ~MprisObject() override;

    void setNowPlayingInfo(const NowPlayingInfo& info);
    void setPlaybackState(PlaybackState state);
    void setCommandCenter(std::weak_ptr<RemoteCommandCenter> commands) { commands_ = std::move(commands); }

    QVariantMap metadata() const;
    QString playbackStatus() const;
    // What the player can do now: the commands that have a handler to run.
    struct Capabilities {
        bool canPlay = false, canPause = false, canGoNext = false, canGoPrevious = false, canSeek = false,
             canControl = false;
        bool operator==(const Capabilities&) const = default;
    };
    Capabilities capabilities() const;

    // Runs the command; false when it failed or nothing handles it.
    bool run(RemoteCommand& (RemoteCommandCenter::*command)(), double interval = 0);

    // Microseconds into the stream, 0 while unknown.
    qlonglong position() const;
    // Where the stream is, in seconds (none while unknown): MPRIS clients ask for the position,
    // the now-playing data does not carry it.
    void setPositionSource(std::function<std::optional<double>()> source) { positionSource_ = std::move(source); }
    // A seek was carried out: clients that track the position from a start value and the clock
    // learn of the jump.
    void announceSeek(double seconds);
    // The media engine cannot play what it was asked to: the player is not reported as playing.
    void setPlaybackFailed(bool failed);
    // Where the real volume is read and set (0 to 1); clients hear of every change through
    // announceVolume.
    void setVolumeControl(std::function<double()> read, std::function<void(double)> write)
    {
        readVolume_ = std::move(read);
        writeVolume_ = std::move(write);
    }
    double volume() const { return readVolume_ ? readVolume_() : 1.0; }
    // False for a value that is no volume (not a finite number); one beyond 0 to 1 is clamped.
    bool setVolume(double volume);
    void announceVolume(double volume);

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    bool canRun(RemoteCommand& (RemoteCommandCenter::*command)()) const;
    void announce(QVariantMap changed);
    QVariantMap properties(const QString& interface) const;
    QDBusMessage answerProperties(const QDBusMessage& message);
    QDBusMessage answerCommand(const QDBusMessage& message);

    NowPlayingInfo info_;
    bool hasInfo_ = false;
    PlaybackState state_ = PlaybackState::Unknown;
    bool playbackFailed_ = false;
    std::weak_ptr<RemoteCommandCenter> commands_;
    std::function<std::optional<double>()> positionSource_;
    std::function<double()> readVolume_;
    std::function<void(double)> writeVolume_;
    Capabilities announced_;
    bool registered_ = false;
};

// Both services are views of one MPRIS object: the now-playing centre publishes through it while it
// lives, and it runs the command centre's commands.
std::shared_ptr<NowPlayingCenter> makeNowPlayingCenter(MprisObject* object);
std::shared_ptr<RemoteCommandCenter> makeRemoteCommandCenter(MprisObject* object);

} // namespace platform::linux_impl
