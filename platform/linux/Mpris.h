// The MPRIS2 object on the session bus: what desktops show as now playing, and the media commands
// (keys, applets, playerctl) they send back. One object answers for both services.
#pragma once

#include "platform/NowPlaying.h"

#include <QDBusAbstractAdaptor>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

namespace platform::linux_impl {

class MprisPlayerAdaptor;
class MprisObject;

// The one MPRIS object of the process, made on first use; the application owns it.
MprisObject* sharedMprisObject();

// Holds the published state and the command centre to call; exported at /org/mpris/MediaPlayer2
// under org.mpris.MediaPlayer2.kovra_radio while it lives (the application owns it).
class MprisObject : public QObject {
    Q_OBJECT

public:
    explicit MprisObject(QObject* parent);
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
    void setVolume(double volume);
    void announceVolume(double volume);

private:
    bool canRun(RemoteCommand& (RemoteCommandCenter::*command)()) const;
    void announce(QVariantMap changed);

    NowPlayingInfo info_;
    bool hasInfo_ = false;
    PlaybackState state_ = PlaybackState::Unknown;
    bool playbackFailed_ = false;
    std::weak_ptr<RemoteCommandCenter> commands_;
    std::function<std::optional<double>()> positionSource_;
    std::function<double()> readVolume_;
    std::function<void(double)> writeVolume_;
    MprisPlayerAdaptor* player_ = nullptr;
    Capabilities announced_;
    bool registered_ = false;
};

// org.mpris.MediaPlayer2
class MprisRootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ canQuit)
    Q_PROPERTY(bool CanRaise READ canRaise)
    Q_PROPERTY(bool HasTrackList READ hasTrackList)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ supportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ supportedMimeTypes)

public:
    explicit MprisRootAdaptor(MprisObject* parent) : QDBusAbstractAdaptor(parent) {}

    bool canQuit() const { return true; }
    bool canRaise() const { return false; }
    bool hasTrackList() const { return false; }
    QString identity() const;
    QString desktopEntry() const;
    QStringList supportedUriSchemes() const { return {}; }
    QStringList supportedMimeTypes() const { return {}; }

public Q_SLOTS:
    void Raise() {}
    void Quit();
};

// org.mpris.MediaPlayer2.Player
class MprisPlayerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(double Rate READ rate WRITE setRate)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(double Volume READ volume WRITE setVolume)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(double MinimumRate READ rate)
    Q_PROPERTY(double MaximumRate READ rate)
    Q_PROPERTY(bool CanGoNext READ canGoNext)
    Q_PROPERTY(bool CanGoPrevious READ canGoPrevious)
    Q_PROPERTY(bool CanPlay READ canPlay)
    Q_PROPERTY(bool CanPause READ canPause)
    Q_PROPERTY(bool CanSeek READ canSeek)
    Q_PROPERTY(bool CanControl READ canControl)

public:
    explicit MprisPlayerAdaptor(MprisObject* parent) : QDBusAbstractAdaptor(parent), object_(parent) {}

    QString playbackStatus() const { return object_->playbackStatus(); }
    double rate() const { return 1.0; }
    void setRate(double) {}
    QVariantMap metadata() const { return object_->metadata(); }
    double volume() const { return object_->volume(); }
    // QtDBus converts what it can to a double first (a number written as a string, a boolean);
    // anything else is refused with an error before it gets here.
    void setVolume(double volume) { object_->setVolume(volume); }
    qlonglong position() const { return object_->position(); }
    bool canGoNext() const { return object_->capabilities().canGoNext; }
    bool canGoPrevious() const { return object_->capabilities().canGoPrevious; }
    bool canPlay() const { return object_->capabilities().canPlay; }
    bool canPause() const { return object_->capabilities().canPause; }
    bool canSeek() const { return object_->capabilities().canSeek; }
    bool canControl() const { return object_->capabilities().canControl; }

public Q_SLOTS:
    // The message comes last so a failed command can be answered with a D-Bus error.
    void Play(const QDBusMessage& message) { run(&RemoteCommandCenter::playCommand, 0, message); }
    void Pause(const QDBusMessage& message) { run(&RemoteCommandCenter::pauseCommand, 0, message); }
    void PlayPause(const QDBusMessage& message) { run(&RemoteCommandCenter::togglePlayPauseCommand, 0, message); }
    void Next(const QDBusMessage& message) { run(&RemoteCommandCenter::nextTrackCommand, 0, message); }
    void Previous(const QDBusMessage& message) { run(&RemoteCommandCenter::previousTrackCommand, 0, message); }
    void Stop() {}
    void Seek(qlonglong offset, const QDBusMessage& message);
    void SetPosition(const QDBusObjectPath&, qlonglong) {}
    void OpenUri(const QString&) {}

Q_SIGNALS:
    void Seeked(qlonglong Position); // NOLINT(readability-identifier-naming): the D-Bus argument name

private:
    void run(RemoteCommand& (RemoteCommandCenter::*command)(), double interval, const QDBusMessage& message);

    MprisObject* object_;
};

// One MPRIS object answers for both services.
std::shared_ptr<NowPlayingCenter> makeNowPlayingCenter();
std::shared_ptr<RemoteCommandCenter> makeRemoteCommandCenter();

} // namespace platform::linux_impl
