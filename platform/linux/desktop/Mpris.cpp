// MPRIS2 for the now-playing centre and the remote command centre: both services are views of
// one D-Bus object, so a desktop applet sees the title and state next to the controls that act.
#include "platform/linux/desktop/Mpris.h"

#include "platform/linux/desktop/AppIdentity.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QPointer>

#include <algorithm>
#include <cmath>

namespace platform::linux_impl {

namespace {

const char* const kObjectPath = "/org/mpris/MediaPlayer2";
const char* const kRootInterface = "org.mpris.MediaPlayer2";
const char* const kPlayerInterface = "org.mpris.MediaPlayer2.Player";
const char* const kPropertiesInterface = "org.freedesktop.DBus.Properties";
const char* const kNoTrack = "/org/mpris/MediaPlayer2/TrackList/NoTrack";

QString serviceName() { return QStringLiteral("org.mpris.MediaPlayer2.") + AppIdentity::busToken(); }

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
    explicit MprisNowPlayingCenter(MprisObject* object) : object_(object) {}

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

MprisObject::MprisObject(QObject* parent) : QDBusVirtualObject(parent)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    registered_ = bus.registerVirtualObject(QString::fromLatin1(kObjectPath), this);
    if (registered_)
        bus.registerService(serviceName());
}

MprisObject::~MprisObject()
{
    if (!registered_)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterService(serviceName());
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
    const QString trackPath =
        AppIdentity::objectPath() + QStringLiteral("/channel/") + trackPathElement(info_.title.value_or(""));
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
    if (!registered_ || !std::isfinite(seconds))
        return;
    QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(kObjectPath),
                                                     QString::fromLatin1(kPlayerInterface), QStringLiteral("Seeked"));
    signal << qlonglong(std::llround(std::max(seconds, 0.0) * 1e6));
    QDBusConnection::sessionBus().send(signal);
}

void MprisObject::setPlaybackFailed(bool failed)
{
    if (playbackFailed_ == failed)
        return;
    playbackFailed_ = failed;
    announce({{QStringLiteral("PlaybackStatus"), playbackStatus()}});
}

bool MprisObject::setVolume(double volume)
{
    if (!std::isfinite(volume) || !writeVolume_)
        return false;
    writeVolume_(std::clamp(volume, 0.0, 1.0));
    return true;
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
        QDBusMessage::createSignal(QString::fromLatin1(kObjectPath), QString::fromLatin1(kPropertiesInterface),
                                   QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(kPlayerInterface) << changed << QStringList{};
    QDBusConnection::sessionBus().send(signal);
}

// ---------------------------------------------------------------------------------------------

QVariantMap MprisObject::properties(const QString& interface) const
{
    if (interface == QLatin1String(kRootInterface))
        return {{QStringLiteral("CanQuit"), true},
                {QStringLiteral("CanRaise"), false},
                {QStringLiteral("HasTrackList"), false},
                {QStringLiteral("Identity"), AppIdentity::displayName()},
                {QStringLiteral("DesktopEntry"), AppIdentity::id()},
                {QStringLiteral("SupportedUriSchemes"), QStringList{}},
                {QStringLiteral("SupportedMimeTypes"), QStringList{}}};
    if (interface != QLatin1String(kPlayerInterface))
        return {};
    const Capabilities can = capabilities();
    return {{QStringLiteral("PlaybackStatus"), playbackStatus()},
            {QStringLiteral("Rate"), 1.0},
            {QStringLiteral("MinimumRate"), 1.0},
            {QStringLiteral("MaximumRate"), 1.0},
            {QStringLiteral("Metadata"), metadata()},
            {QStringLiteral("Volume"), volume()},
            {QStringLiteral("Position"), position()},
            {QStringLiteral("CanGoNext"), can.canGoNext},
            {QStringLiteral("CanGoPrevious"), can.canGoPrevious},
            {QStringLiteral("CanPlay"), can.canPlay},
            {QStringLiteral("CanPause"), can.canPause},
            {QStringLiteral("CanSeek"), can.canSeek},
            {QStringLiteral("CanControl"), can.canControl}};
}

QString MprisObject::introspect(const QString&) const
{
    return QStringLiteral(R"(<interface name="org.mpris.MediaPlayer2">
  <method name="Raise"/><method name="Quit"/>
  <property name="CanQuit" type="b" access="read"/><property name="CanRaise" type="b" access="read"/>
  <property name="HasTrackList" type="b" access="read"/><property name="Identity" type="s" access="read"/>
  <property name="DesktopEntry" type="s" access="read"/>
  <property name="SupportedUriSchemes" type="as" access="read"/>
  <property name="SupportedMimeTypes" type="as" access="read"/>
</interface>
<interface name="org.mpris.MediaPlayer2.Player">
  <method name="Next"/><method name="Previous"/><method name="Pause"/><method name="PlayPause"/>
  <method name="Stop"/><method name="Play"/>
  <method name="Seek"><arg name="Offset" type="x" direction="in"/></method>
  <method name="SetPosition"><arg name="TrackId" type="o" direction="in"/><arg name="Position" type="x" direction="in"/></method>
  <method name="OpenUri"><arg name="Uri" type="s" direction="in"/></method>
  <signal name="Seeked"><arg name="Position" type="x"/></signal>
  <property name="PlaybackStatus" type="s" access="read"/><property name="Rate" type="d" access="readwrite"/>
  <property name="Metadata" type="a{sv}" access="read"/><property name="Volume" type="d" access="readwrite"/>
  <property name="Position" type="x" access="read"/><property name="MinimumRate" type="d" access="read"/>
  <property name="MaximumRate" type="d" access="read"/><property name="CanGoNext" type="b" access="read"/>
  <property name="CanGoPrevious" type="b" access="read"/><property name="CanPlay" type="b" access="read"/>
  <property name="CanPause" type="b" access="read"/><property name="CanSeek" type="b" access="read"/>
  <property name="CanControl" type="b" access="read"/>
</interface>
)");
}

bool MprisObject::handleMessage(const QDBusMessage& message, const QDBusConnection& connection)
{
    // Introspection (built from introspect()) and ping are QtDBus's own to answer.
    const QString interface = message.interface();
    if (message.type() != QDBusMessage::MethodCallMessage
        || interface == QLatin1String("org.freedesktop.DBus.Introspectable")
        || interface == QLatin1String("org.freedesktop.DBus.Peer")
        || (interface.isEmpty()
            && (message.member() == QLatin1String("Introspect") || message.member() == QLatin1String("Ping"))))
        return false;
    const QDBusMessage reply =
        interface == QLatin1String(kPropertiesInterface) ? answerProperties(message) : answerCommand(message);
    if (!message.isReplyRequired())
        return true;
    connection.send(reply);
    return true;
}

QDBusMessage MprisObject::answerProperties(const QDBusMessage& message)
{
    const QString member = message.member();
    const QList<QVariant> args = message.arguments();
    const QString interface = args.value(0).toString();
    const QVariantMap known = properties(interface);
    if (known.isEmpty() && message.signature().startsWith(QLatin1Char('s')))
        return message.createErrorReply(QDBusError::UnknownInterface,
                                        QStringLiteral("No interface %1 here").arg(interface));
    if (member == QLatin1String("GetAll") && message.signature() == QLatin1String("s"))
        return message.createReply(known);
    const QString name = args.value(1).toString();
    const bool addressed = message.signature() == QLatin1String("ss") || message.signature() == QLatin1String("ssv");
    if (addressed && !known.contains(name))
        return message.createErrorReply(QDBusError::UnknownProperty, QStringLiteral("No property %1").arg(name));
    if (member == QLatin1String("Get") && message.signature() == QLatin1String("ss"))
        return message.createReply(QVariant::fromValue(QDBusVariant(known.value(name))));
    if (member != QLatin1String("Set") || message.signature() != QLatin1String("ssv"))
        return message.createErrorReply(QDBusError::UnknownMethod, QStringLiteral("No such call: %1").arg(member));

    // Only the volume and the rate can be written, and only as the numbers MPRIS says they are:
    // what QtDBus would have converted (a boolean, a string, an integer) is refused instead.
    const QVariant value = qvariant_cast<QDBusVariant>(args.value(2)).variant();
    const bool number = value.metaType() == QMetaType::fromType<double>();
    const double wanted = value.toDouble();
    if (interface == QLatin1String(kPlayerInterface) && name == QLatin1String("Volume")) {
        if (number && setVolume(wanted))
            return message.createReply();
        return message.createErrorReply(QDBusError::InvalidArgs,
                                        QStringLiteral("Volume takes a number (type d) from 0 to 1"));
    }
    if (interface == QLatin1String(kPlayerInterface) && name == QLatin1String("Rate")) {
        // A live stream plays at its own pace: 1 is the only rate there is.
        if (number && wanted == 1.0)
            return message.createReply();
        return message.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("The only rate is 1"));
    }
    return message.createErrorReply(QDBusError::PropertyReadOnly, QStringLiteral("%1 is read-only").arg(name));
}

QDBusMessage MprisObject::answerCommand(const QDBusMessage& message)
{
    const QString interface = message.interface();
    const QString member = message.member();
    const QString signature = message.signature();
    const auto is = [&](const char* of, const char* name, const char* takes) {
        return (interface.isEmpty() || interface == QLatin1String(of)) && member == QLatin1String(name)
               && signature == QLatin1String(takes);
    };
    const auto done = [&](bool ran) {
        return ran ? message.createReply()
                   : message.createErrorReply(serviceName() + QStringLiteral(".Error.CommandFailed"),
                                              QStringLiteral("The command could not be carried out."));
    };
    if (is(kRootInterface, "Raise", ""))
        return message.createReply(); // there is no window to raise (CanRaise is false)
    if (is(kRootInterface, "Quit", "")) {
        // Queued, so the reply leaves before the event loop ends.
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
        return message.createReply();
    }
    if (is(kPlayerInterface, "Play", ""))
        return done(run(&RemoteCommandCenter::playCommand));
    // A stop key on a live stream means silence now, as a pause gives.
    if (is(kPlayerInterface, "Pause", "") || is(kPlayerInterface, "Stop", ""))
        return done(run(&RemoteCommandCenter::pauseCommand));
    if (is(kPlayerInterface, "PlayPause", ""))
        return done(run(&RemoteCommandCenter::togglePlayPauseCommand));
    if (is(kPlayerInterface, "Next", ""))
        return done(run(&RemoteCommandCenter::nextTrackCommand));
    if (is(kPlayerInterface, "Previous", ""))
        return done(run(&RemoteCommandCenter::previousTrackCommand));
    if (is(kPlayerInterface, "Seek", "x")) {
        // The sign picks the direction; the handlers skip their own fixed interval.
        const qlonglong offset = message.arguments().value(0).toLongLong();
        if (offset == 0)
            return message.createReply();
        return done(offset > 0 ? run(&RemoteCommandCenter::skipForwardCommand, double(offset) / 1e6)
                               : run(&RemoteCommandCenter::skipBackwardCommand, -(double(offset) / 1e6)));
    }
    // A live stream has no position to go to, and nothing but its channels to open.
    if (is(kPlayerInterface, "SetPosition", "ox") || is(kPlayerInterface, "OpenUri", "s"))
        return message.createErrorReply(QDBusError::NotSupported, QStringLiteral("%1 is not supported").arg(member));
    return message.createErrorReply(QDBusError::UnknownMethod,
                                    QStringLiteral("No method %1(%2) in %3").arg(member, signature, interface));
}

// ---------------------------------------------------------------------------------------------

std::shared_ptr<NowPlayingCenter> makeNowPlayingCenter(MprisObject* object)
{
    return std::make_shared<MprisNowPlayingCenter>(object);
}

std::shared_ptr<RemoteCommandCenter> makeRemoteCommandCenter(MprisObject* object)
{
    auto commands = std::make_shared<MprisRemoteCommandCenter>();
    object->setCommandCenter(commands);
    return commands;
}

} // namespace platform::linux_impl
