// Who this application is to the desktop and the network: one home for each of its names, and for
// the folder it keeps its settings in.
#pragma once

#include "platform/Configuration.h"

#include <QByteArray>
#include <QDir>
#include <QStandardPaths>
#include <QString>

namespace platform::linux_impl {

struct AppIdentity {
    // "org.kovra.Radio": the desktop entry's name without ".desktop", the session bus name of the
    // running instance, the app id the shortcut portal knows us by.
    static QString id() { return QStringLiteral("org.kovra.Radio"); }
    // id() + ".desktop": the installed entry, and ours in the autostart folder.
    static QString desktopEntryName() { return id() + QStringLiteral(".desktop"); }
    // Where the running instance answers later launches.
    static QString objectPath() { return QStringLiteral("/org/kovra/Radio"); }
    // As the desktop shows the application.
    static QString displayName() { return QStringLiteral("Kovra Radio"); }
    // The command, and the name of our settings folder.
    static QString programName() { return QStringLiteral("kovra-radio"); }
    // programName() as a D-Bus name element may spell it (no '-'): our MPRIS name ends in it, and
    // our portal session tokens start with it.
    static QString busToken() { return QStringLiteral("kovra_radio"); }
    // In every request we send.
    static QByteArray userAgent()
    {
        return programName().toUtf8() + '/' + QByteArray::fromStdString(applicationVersion());
    }
    // The user's configuration folder: $XDG_CONFIG_HOME, else ~/.config (GenericConfigLocation, as
    // ConfigLocation would add a folder named after the application). XDG base directories
    // ignore a relative $XDG_CONFIG_HOME; older Qt does not.
    static QString configHome()
    {
        const QString location = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
        return QDir::isAbsolutePath(location) ? location : QDir::homePath() + QStringLiteral("/.config");
    }
    // Where our own settings live.
    static QString settingsFolder() { return configHome() + QLatin1Char('/') + programName(); }
};

} // namespace platform::linux_impl
