// Process set-up before the application runs: the command line, the single-instance check on
// the session bus, and the installation of every real platform service.
#include "platform/Platform.h"

#include "platform/Configuration.h"
#include "platform/linux/DBusSlotCommand.h"
#include "platform/linux/DesktopNotifications.h"
#include "platform/linux/FeedUpdater.h"
#include "platform/linux/HotKeyFacade.h"
#include "platform/linux/JsonUserDefaults.h"
#include "platform/linux/LoopbackHttpRelay.h"
#include "platform/linux/Mpris.h"
#include "platform/linux/MpvLibrary.h"
#include "platform/linux/MpvMediaEngine.h"
#include "platform/linux/NoTrayNotice.h"
#include "platform/linux/QtApplication.h"
#include "platform/linux/QtGraphics.h"
#include "platform/linux/QtLocalization.h"
#include "platform/linux/SleepInhibitor.h"
#include "platform/linux/SniStatusBar.h"
#include "platform/linux/XdgAutostart.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QStringList>
#include <QUrl>

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace platform {

namespace {

// The bus name that marks the running instance.
const char* const kInstanceBusName = "org.kovra.Radio";
// A turn of the wheel over the icon moves the volume this much of the sound server's scale.
constexpr double kVolumeStep = 0.05;

void printUsage()
{
    std::fputs("Usage: kovra-radio [--help] [--version] [--slot N]\n"
               "Plays the live channels of Kovra radio from an icon in the system tray.\n"
               "\n"
               "  -h, --help      show this help and exit\n"
               "  -v, --version   show the version and exit\n"
               "      --slot N    act as a press of shortcut N (1 to 5), in the running instance\n"
               "                  if there is one; otherwise start and then act on it\n"
               "\n"
               "Starting it again while it runs does nothing else.\n",
               stdout);
}

// Handles our options: each but --slot makes the process exit.
void handleCommandLine(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (linux_impl::takeSlotOption(argc, argv, i))
            continue;
        if (argument == "--help" || argument == "-h") {
            printUsage();
            std::exit(0);
        }
        if (argument == "--version" || argument == "-v") {
            std::printf("kovra-radio %s\n", applicationVersion().c_str());
            std::exit(0);
        }
        if (argument.size() > 1 && argument[0] == '-')
            std::fprintf(stderr, "kovra-radio: unknown option '%s'\n", argv[i]);
        else
            std::fprintf(stderr, "kovra-radio: unexpected argument '%s'\n", argv[i]);
        std::fputs("Try 'kovra-radio --help' for more information.\n", stderr);
        std::exit(2);
    }
}

// True when another process of ours holds the instance name. Without a session bus there is
// nothing to ask, and we run.
bool anotherInstanceRuns()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    const auto reply = bus.interface()->registerService(QString::fromLatin1(kInstanceBusName),
                                                        QDBusConnectionInterface::DontQueueService,
                                                        QDBusConnectionInterface::DontAllowReplacement);
    return reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceNotRegistered;
}

} // namespace

void installPlatform(int& argc, char** argv, const std::vector<URL>& streams)
{
    handleCommandLine(argc, argv);

    using namespace linux_impl;
    auto application = makeApplication(argc, argv);
    if (anotherInstanceRuns()) {
        // Leave at once: no tray item, no media service, nothing of the first instance touched.
        const int status = forwardSlotToRunningInstance();
        std::fflush(nullptr);
        std::_Exit(status);
    }
    Application::install(application);
    Localization::install(makeLocalization());
    Graphics::install(makeGraphics());
    // The channels' streams come through a relay of ours that keeps the stream host's connection
    // warm and fetches the playlists ahead while the menu is open.
    QStringList playlistPaths;
    for (const URL& stream : streams)
        playlistPaths << QUrl(QString::fromStdString(stream.absoluteString())).path(QUrl::FullyEncoded);
    auto relay = std::make_shared<LoopbackHttpRelay>(QString::fromStdString(streamHost()), playlistPaths);
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, relay.get(), [relay = relay.get()] { relay->stop(); });
    auto mediaEngine = std::make_shared<MpvMediaEngine>();
    mediaEngine->setRelay(relay);
    mediaEngine->followSleepAndNetwork();
    StatusItemHooks hooks;
    hooks.menuWatch = [relay = std::weak_ptr<LoopbackHttpRelay>(relay)](bool open) {
        if (auto alive = relay.lock())
            open ? alive->menuOpened() : alive->menuClosed();
        if (open)
            MpvLibrary::preload();
    };
    // A middle click pauses and resumes as the media keys do: the toggle of the current channel,
    // which is what choosing it again in the menu does.
    hooks.secondaryActivate = [] { RemoteCommandCenter::sharedCommandCenter().togglePlayPauseCommand().invoke(); };
    hooks.scroll = [engine = std::weak_ptr<MpvMediaEngine>(mediaEngine)](int notches) {
        if (auto alive = engine.lock())
            alive->setVolume(alive->volume() + notches * kVolumeStep);
    };
    StatusBar::install(makeStatusBar(std::move(hooks)));
    new NoTrayNotice(); // owned by the application
    UserDefaults::install(makeUserDefaults());
    LoginItemService::install(makeLoginItemService());
    NotificationCenter::install(makeNotificationCenter());
    UpdaterFactory::install(makeUpdaterFactory());
    HotKeyService::install(makeHotKeyService());
    MediaEngine::install(mediaEngine);
    NowPlayingCenter::install(makeNowPlayingCenter());
    RemoteCommandCenter::install(makeRemoteCommandCenter());

    // MPRIS shows the engine's position, seeks and volume, which the now-playing data does not
    // carry, and does not say Playing while the engine cannot play.
    MprisObject* mpris = sharedMprisObject();
    mpris->setPositionSource([engine = std::weak_ptr<MpvMediaEngine>(mediaEngine)]() -> std::optional<double> {
        auto alive = engine.lock();
        return alive ? alive->position() : std::nullopt;
    });
    mpris->setVolumeControl(
        [engine = std::weak_ptr<MpvMediaEngine>(mediaEngine)] {
            auto alive = engine.lock();
            return alive ? alive->volume() : 1.0;
        },
        [engine = std::weak_ptr<MpvMediaEngine>(mediaEngine)](double volume) {
            if (auto alive = engine.lock())
                alive->setVolume(volume);
        });
    QObject::connect(mediaEngine.get(), &MpvMediaEngine::seeked, mpris, &MprisObject::announceSeek);
    QObject::connect(mediaEngine.get(), &MpvMediaEngine::playbackFailedChanged, mpris, &MprisObject::setPlaybackFailed);
    QObject::connect(mediaEngine.get(), &MpvMediaEngine::volumeChanged, mpris, &MprisObject::announceVolume);

    // While a channel is heard, the computer does not suspend by itself.
    auto* inhibitor = new SleepInhibitor(QDBusConnection::sessionBus(), qApp);
    QObject::connect(mediaEngine.get(), &MpvMediaEngine::soundingChanged, inhibitor, [inhibitor, mpris](bool sounding) {
        if (!sounding) {
            inhibitor->release();
            return;
        }
        const QString channel = mpris->metadata().value(QStringLiteral("xesam:title")).toString();
        inhibitor->hold(QCoreApplication::translate("SleepInhibitor", "Playing %1").arg(channel));
    });
}

} // namespace platform
