// Constructors of the real platform services, one per implementation file; installPlatform()
// calls them in turn. Each returns a service ready for use on the main thread, after the
// QApplication exists.
#pragma once

#include "platform/Application.h"
#include "platform/Graphics.h"
#include "platform/HotKeys.h"
#include "platform/Localization.h"
#include "platform/LoginItem.h"
#include "platform/Media.h"
#include "platform/Notifications.h"
#include "platform/NowPlaying.h"
#include "platform/StatusBar.h"
#include "platform/Updater.h"
#include "platform/UserDefaults.h"

#include <memory>

namespace platform::linux_impl {

// Application.cpp (owns the QApplication; argc/argv must outlive it)
std::shared_ptr<Application> makeApplication(int& argc, char** argv);
// StatusBar.cpp
std::shared_ptr<StatusBar> makeStatusBar();
// Graphics.cpp
std::shared_ptr<Graphics> makeGraphics();
// Localization.cpp
std::shared_ptr<Localization> makeLocalization();
// MediaEngine.cpp (libmpv)
std::shared_ptr<MediaEngine> makeMediaEngine();
// Mpris.cpp: one MPRIS object answers for both services.
std::shared_ptr<NowPlayingCenter> makeNowPlayingCenter();
std::shared_ptr<RemoteCommandCenter> makeRemoteCommandCenter();
// HotKeyService.cpp (X11)
std::shared_ptr<HotKeyService> makeHotKeyService();
// UserDefaults.cpp
std::shared_ptr<UserDefaults> makeUserDefaults();
// LoginItem.cpp (XDG autostart)
std::shared_ptr<LoginItemService> makeLoginItemService();
// Notifications.cpp
std::shared_ptr<NotificationCenter> makeNotificationCenter();
// Updater.cpp
std::shared_ptr<UpdaterFactory> makeUpdaterFactory();

} // namespace platform::linux_impl
