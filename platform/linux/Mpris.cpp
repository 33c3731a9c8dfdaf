// MPRIS2 for the now-playing centre and the remote command centre: both services are views of
// one D-Bus object, so a desktop applet sees the title and state next to the controls that act.
#include "platform/linux/Mpris.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QPointer>

#include <algorithm>
#include <cmath>

namespace platform::linux_impl {

namespace {

const char* const kServiceName = "org.mpris.MediaPlayer2.kovra_radio";
const char* const kObjectPath = "/org/mpris/MediaPlayer2";
const char* const kPlayerInterface = "org.mpris.MediaPlayer2.Player";
const char* const kCommandFailed = "org.mpris.MediaPlayer2.kovra_radio.Error.CommandFailed";
const char* const kTrackPathPrefix = "/org/kovra/radio/channel/";
const char* const kNoTrack = "/org/mpris/MediaPlayer2/TrackList/NoTrack";

// An object path element allows only [A-Za-z0-9_]: anything else becomes '_' followed by its
// byte in hex, so distinct titles keep distinct paths.
QString trackPathElement(const std::string& title)
{
    QString element;
    for (unsigned char c : title) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
            element += QLatin1Char(char(c));
        else
            element += QStringLiteral("_%1").arg(uint(c), 2, 16, QLatin1Char('0'));
    }
    return element.isEmpty() ? QStringLiteral("untitled") : element;
}

class MprisNowPlayingCenter : public NowPlayingCenter {
public:
    MprisNowPlayingCenter() : object_(sharedMprisObject()) {}

    void setNowPlayingInfo(const NowPlayingInfo& info) override
    {
        if (object_)
            object_->setNowPlayingInfo(info);
    }

    void setPlaybackState(PlaybackState state) override
    {
        if (object_)
            object_->setPlaybackState(state);
    }

private:
    QPointer<MprisObject> object_;
};

// The commands themselves are the platform's plain data; the D-Bus object delivers them.
class MprisRemoteCommandCenter : public RemoteCommandCenter {};

} // namespace

// ---------------------------------------------------------------------------------------------

MprisObject::MprisObject(QObject* parent) : QObject(parent)
{
    new MprisRootAdaptor(this);
    player_ = new MprisPlayerAdaptor(this);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    registered_ = bus.registerObject(QString::fromLatin1(kObjectPath), this, QDBusConnection::ExportAdaptors);
    if (registered_)
        bus.registerService(QString::fromLatin1(kServiceName));
}

MprisObject::~MprisObject()
{
    if (!registered_)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterService(QString::fromLatin1(kServiceName));
    bus.unregisterObject(QString::fromLatin1(kObjectPath));
}

void MprisObject::setNowPlayingInfo(const NowPlayingInfo& info)
{
    info_ = info;
    hasInfo_ = true;
    announce({{QStringLiteral("Metadata"), metadata()}});
}

void MprisObject::setPlaybackState(PlaybackState state)
{
    state_ = state;
    announce({{QStringLiteral("PlaybackStatus"), playbackStatus()}});
}

QVariantMap MprisObject::metadata() const
{
    QVariantMap map;
    if (!hasInfo_) {
        map.insert(QStringLiteral("mpris:trackid"),
                   QVariant::fromValue(QDBusObjectPath(QString::fromLatin1(kNoTrack))));
        return map;
    }
    const QString trackPath = QString::fromLatin1(kTrackPathPrefix) + trackPathElement(info_.title.value_or(""));
    map.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(trackPath)));
    if (info_.title)
        map.insert(QStringLiteral("xesam:title"), QString::fromStdString(*info_.title));
    if (info_.artist)
        map.insert(QStringLiteral("xesam:artist"), QStringList{QString::fromStdString(*info_.artist)});
    if (info_.isLiveStream)
        map.insert(QStringLiteral("kovra:isLiveStream"), *info_.isLiveStream);
    return map;
}

QString MprisObject::playbackStatus() const
{
    switch (state_) {
    case PlaybackState::Playing:
        // Asked to play, yet nothing can sound: saying Playing would report a failure as success.
        return playbackFailed_ ? QStringLiteral("Stopped") : QStringLiteral("Playing");
    case PlaybackState::Paused:
        return QStringLiteral("Paused");
    case PlaybackState::Unknown:
        break;
    }
    return QStringLiteral("Stopped");
}

bool MprisObject::canRun(RemoteCommand& (RemoteCommandCenter::*command)()) const
{
    auto commands = commands_.lock();
    return commands && ((*commands).*command)().hasTargets();
}

MprisObject::Capabilities MprisObject::capabilities() const
{
    Capabilities c;
    c.canPlay = canRun(&RemoteCommandCenter::playCommand);
    c.canPause = canRun(&RemoteCommandCenter::pauseCommand);
    c.canGoNext = canRun(&RemoteCommandCenter::nextTrackCommand);
    c.canGoPrevious = canRun(&RemoteCommandCenter::previousTrackCommand);
    c.canSeek = canRun(&RemoteCommandCenter::skipForwardCommand) || canRun(&RemoteCommandCenter::skipBackwardCommand);
    c.canControl = c.canPlay || c.canPause || c.canGoNext || c.canGoPrevious || c.canSeek;
    return c;
}

bool MprisObject::run(RemoteCommand& (RemoteCommandCenter::*command)(), double interval)
{
    // Held for the call: a handler may replace the services while it runs.
    auto commands = commands_.lock();
    if (!commands)
        return false;
    return ((*commands).*command)().invoke(RemoteCommandEvent{interval}) == RemoteCommandHandlerStatus::Success;
}

qlonglong MprisObject::position() const
{
    const std::optional<double> seconds = positionSource_ ? positionSource_() : std::nullopt;
    if (!seconds || !std::isfinite(*seconds) || *seconds <= 0)
        return 0;
    return qlonglong(std::llround(*seconds * 1e6));
}

void MprisObject::announceSeek(double seconds)
{
    if (!registered_ || !player_ || !std::isfinite(seconds))
        return;
    Q_EMIT player_->Seeked(qlonglong(std::llround(std::max(seconds, 0.0) * 1e6)));
}

void MprisObject::setPlaybackFailed(bool failed)
{
    if (playbackFailed_ == failed)
        return;
    playbackFailed_ = failed;
    announce({{QStringLiteral("PlaybackStatus"), playbackStatus()}});
}

void MprisObject::setVolume(double volume)
{
    if (!std::isfinite(volume)) {
        qWarning("kovra-radio: ignored an MPRIS volume that is not a number");
        return;
    }
    if (writeVolume_)
        writeVolume_(std::clamp(volume, 0.0, 1.0));
}

void MprisObject::announceVolume(double volume) { announce({{QStringLiteral("Volume"), volume}}); }

void MprisObject::announce(QVariantMap changed)
{
    // Handlers are added after the object exists: tell listeners when the controls come alive.
    const Capabilities now = capabilities();
    if (!(now == announced_)) {
        changed.insert(QStringLiteral("CanPlay"), now.canPlay);
        changed.insert(QStringLiteral("CanPause"), now.canPause);
        changed.insert(QStringLiteral("CanGoNext"), now.canGoNext);
        changed.insert(QStringLiteral("CanGoPrevious"), now.canGoPrevious);
        changed.insert(QStringLiteral("CanSeek"), now.canSeek);
        changed.insert(QStringLiteral("CanControl"), now.canControl);
        announced_ = now;
    }
    if (!registered_)
        return;
    QDBusMessage signal =
        QDBusMessage::createSignal(QString::fromLatin1(kObjectPath), QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(kPlayerInterface) << changed << QStringList{};
    QDBusConnection::sessionBus().send(signal);
}

// ---------------------------------------------------------------------------------------------

QString MprisRootAdaptor::identity() const { return QStringLiteral("Kovra Radio"); }

QString MprisRootAdaptor::desktopEntry() const { return QStringLiteral("org.kovra.Radio"); }

void MprisRootAdaptor::Quit()
{
    // Queued, so the reply leaves before the event loop ends.
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
}

void MprisPlayerAdaptor::Seek(qlonglong offset, const QDBusMessage& message)
{
    // The sign picks the direction; the handlers skip their own fixed interval.
    if (offset > 0)
        run(&RemoteCommandCenter::skipForwardCommand, double(offset) / 1e6, message);
    else if (offset < 0)
        run(&RemoteCommandCenter::skipBackwardCommand, -double(offset) / 1e6, message);
}

void MprisPlayerAdaptor::run(RemoteCommand& (RemoteCommandCenter::*command)(), double interval,
                             const QDBusMessage& message)
{
    if (object_->run(command, interval))
        return;
    // Answer with an error instead of the automatic empty reply, so the caller learns it failed.
    message.setDelayedReply(true);
    QDBusConnection::sessionBus().send(message.createErrorReply(
        QString::fromLatin1(kCommandFailed), QStringLiteral("The command could not be carried out.")));
}

// ---------------------------------------------------------------------------------------------

MprisObject* sharedMprisObject()
{
    static QPointer<MprisObject> object;
    if (!object)
        object = new MprisObject(QCoreApplication::instance());
    return object;
}

std::shared_ptr<NowPlayingCenter> makeNowPlayingCenter() { return std::make_shared<MprisNowPlayingCenter>(); }

std::shared_ptr<RemoteCommandCenter> makeRemoteCommandCenter()
{
    auto commands = std::make_shared<MprisRemoteCommandCenter>();
    sharedMprisObject()->setCommandCenter(commands);
    return commands;
}

} // namespace platform::linux_impl
