// Process set-up before the application runs: the command line, the single-instance check on
// the session bus, the installation of every real platform service and the objects that wire
// them together; and their orderly end at quit.
#include "platform/Platform.h"

#include "platform/Configuration.h"
#include "platform/linux/desktop/AppIdentity.h"
#include "platform/linux/desktop/DesktopNotifications.h"
#include "platform/linux/desktop/FeedUpdater.h"
#include "platform/linux/desktop/JsonUserDefaults.h"
#include "platform/linux/desktop/Mpris.h"
#include "platform/linux/desktop/QtApplication.h"
#include "platform/linux/desktop/QtLocalization.h"
#include "platform/linux/desktop/XdgAutostart.h"
#include "platform/linux/hotkeys/DBusSlotCommand.h"
#include "platform/linux/hotkeys/HotKeyBackendChoice.h"
#include "platform/linux/hotkeys/HotKeyFacade.h"
#include "platform/linux/playback/MpvLibrary.h"
#include "platform/linux/playback/MpvMediaEngine.h"
#include "platform/linux/playback/SleepInhibitor.h"
#include "platform/linux/relay/LoopbackHttpRelay.h"
#include "platform/linux/tray/NoTrayNotice.h"
#include "platform/linux/tray/QtGraphics.h"
#include "platform/linux/tray/SniStatusBar.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QPointer>
#include <QStringList>
#include <QUrl>

#include <cstdio>
#include <optional>
#include <string_view>
#include <utility>

namespace platform {

namespace {

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

struct CommandLine {
    int slot = 0;                  // --slot N, 1 to 5; 0 when none was given
    std::optional<int> exitStatus; // set when the process ends here
};

// Reads our options: each but --slot ends the process (with the status given), as does any error.
CommandLine readCommandLine(int argc, char** argv)
{
    CommandLine line;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        switch (linux_impl::takeSlotOption(argc, argv, i, line.slot)) {
        case linux_impl::SlotOption::taken:
            continue;
        case linux_impl::SlotOption::invalid:
            std::fputs("kovra-radio: --slot needs a number from 1 to 5\n", stderr);
            line.exitStatus = 2;
            return line;
        case linux_impl::SlotOption::absent:
            break;
        }
        if (argument == "--help" || argument == "-h") {
            printUsage();
            line.exitStatus = 0;
            return line;
        }
        if (argument == "--version" || argument == "-v") {
            std::printf("kovra-radio %s\n", applicationVersion().c_str());
            line.exitStatus = 0;
            return line;
        }
        if (argument.size() > 1 && argument[0] == '-')
            std::fprintf(stderr, "kovra-radio: unknown option '%s'\n", argv[i]);
        else
            std::fprintf(stderr, "kovra-radio: unexpected argument '%s'\n", argv[i]);
        std::fputs("Try 'kovra-radio --help' for more information.\n", stderr);
        line.exitStatus = 2;
        return line;
    }
    return line;
}

// True when another process of ours holds the instance name. Without a session bus there is
// nothing to ask, and we run.
bool anotherInstanceRuns()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    const auto reply =
        bus.interface()->registerService(linux_impl::AppIdentity::id(), QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    return reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceNotRegistered;
}

// What installPlatform made, beyond the shared services, and the order of their end.
class LinuxPlatform final : public InstalledPlatform {
public:
    std::shared_ptr<linux_impl::LoopbackHttpRelay> relay;
    std::shared_ptr<linux_impl::MpvMediaEngine> mediaEngine;
    std::shared_ptr<linux_impl::HotKeyFacade> hotKeys;
    std::unique_ptr<linux_impl::SlotCommands> slotCommands;
    std::unique_ptr<linux_impl::MprisObject> mpris;

    LinuxPlatform() = default;
    LinuxPlatform(const LinuxPlatform&) = delete;
    LinuxPlatform& operator=(const LinuxPlatform&) = delete;

    // Quitting, after the units have gone: first the sound stops and its core's destruction,
    // which waits on the stream, starts on a worker; then the doors others reach us by (later
    // launches, the key grabs or the portal session, the media controls) close meanwhile; then the
    // sound's end is waited for, and the network behind it stops; then the tray item and the rest,
    // and the application last, whose end closes our bus connections. Each step is bounded, so a
    // hung stream server cannot hold up the exit.
    ~LinuxPlatform() override
    {
        if (mediaEngine)
            mediaEngine->shutdown();
        slotCommands.reset();
        HotKeyService::install(nullptr);
        hotKeys.reset();
        RemoteCommandCenter::install(nullptr);
        NowPlayingCenter::install(nullptr);
        mpris.reset();
        MediaEngine::install(nullptr);
        mediaEngine.reset(); // the core is destroyed on a worker, which this joins
        if (relay)
            relay->stop();
        relay.reset();
        StatusBar::install(nullptr);
        UpdaterFactory::install(nullptr);
        NotificationCenter::install(nullptr);
        LoginItemService::install(nullptr);
        UserDefaults::install(nullptr);
        Graphics::install(nullptr);
        Localization::install(nullptr);
        Application::install(nullptr);
    }
};

} // namespace

std::unique_ptr<InstalledPlatform> installPlatform(int& argc, char** argv, const std::vector<URL>& streams,
                                                   int& exitStatus)
{
    const CommandLine commandLine = readCommandLine(argc, argv);
    if (commandLine.exitStatus) {
        exitStatus = *commandLine.exitStatus;
        return nullptr;
    }

    using namespace linux_impl;
    auto application = makeApplication(argc, argv);
    if (anotherInstanceRuns()) {
        // Leave at once: no tray item, no media service, nothing of the first instance touched.
        exitStatus = forwardSlotToRunningInstance(commandLine.slot);
        return nullptr;
    }
    auto platform = std::make_unique<LinuxPlatform>();
    Application::install(application);
    Localization::install(makeLocalization());
    Graphics::install(makeGraphics());
    // The channels' streams come through a relay of ours that keeps the stream host's connection
    // warm and fetches the playlists ahead while the menu is open.
    QStringList playlistPaths;
    for (const URL& stream : streams)
        playlistPaths << QUrl(QString::fromStdString(stream.absoluteString())).path(QUrl::FullyEncoded);
    auto relay = std::make_shared<LoopbackHttpRelay>(QString::fromStdString(streamHost()), playlistPaths);
    platform->relay = relay;
    auto mediaEngine = std::make_shared<MpvMediaEngine>();
    platform->mediaEngine = mediaEngine;
    mediaEngine->setRelay(relay);
    mediaEngine->followSleepAndNetwork();
    // The hot keys: the service the units call, over this session's backend; the menu shows what
    // the desktop bound; later launches' --slot presses a slot as its shortcut would, and so does
    // this launch's once the units have asked for that shortcut.
    auto hotKeys = std::make_shared<HotKeyFacade>(makeHotKeyBackend());
    platform->hotKeys = hotKeys;
    platform->slotCommands =
        std::make_unique<SlotCommands>([hotKeys = std::weak_ptr<HotKeyFacade>(hotKeys)](uint32_t slot) {
            auto alive = hotKeys.lock();
            return alive && alive->press(slot);
        });
    if (commandLine.slot != 0)
        hotKeys->pressWhenRegistered(uint32_t(commandLine.slot - 1));

    StatusItemHooks hooks;
    hooks.menuWatch = [relay = std::weak_ptr<LoopbackHttpRelay>(relay), preloaded = false](bool open) mutable {
        if (auto alive = relay.lock())
            open ? alive->menuOpened() : alive->menuClosed();
        if (open && !std::exchange(preloaded, true))
            MpvLibrary::preload();
    };
    // A middle click pauses and resumes as the media keys do: the toggle of the current channel,
    // which is what choosing it again in the menu does.
    hooks.secondaryActivate = [] { RemoteCommandCenter::sharedCommandCenter().togglePlayPauseCommand().invoke(); };
    hooks.scroll = [engine = std::weak_ptr<MpvMediaEngine>(mediaEngine)](int notches) {
        if (auto alive = engine.lock())
            alive->setVolume(alive->volume() + notches * kVolumeStep);
    };
    StatusBar::install(makeStatusBar(std::move(hooks), hotKeys.get()));
    new NoTrayNotice(); // owned by the application
    UserDefaults::install(makeUserDefaults());
    LoginItemService::install(makeLoginItemService());
    NotificationCenter::install(makeNotificationCenter());
    UpdaterFactory::install(makeUpdaterFactory());
    HotKeyService::install(hotKeys);
    MediaEngine::install(mediaEngine);
    // MPRIS is both the now-playing centre and the remote command centre. It shows the engine's
    // position, seeks and volume, which the now-playing data does not carry, and does not say
    // Playing while the engine cannot play.
    platform->mpris = std::make_unique<MprisObject>();
    MprisObject* mpris = platform->mpris.get();
    NowPlayingCenter::install(makeNowPlayingCenter(mpris));
    RemoteCommandCenter::install(makeRemoteCommandCenter(mpris));
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
    QObject::connect(mediaEngine.get(), &MpvMediaEngine::soundingChanged, inhibitor,
                     [inhibitor, mpris = QPointer<MprisObject>(mpris)](bool sounding) {
                         if (!sounding || !mpris) {
                             inhibitor->release();
                             return;
                         }
                         const QString channel = mpris->metadata().value(QStringLiteral("xesam:title")).toString();
                         inhibitor->hold(QCoreApplication::translate("SleepInhibitor", "Playing %1").arg(channel));
                     });
    return platform;
}

} // namespace platform
