// Launch at login through XDG autostart: our entry in $XDG_CONFIG_HOME/autostart, named by the
// application id (AppIdentity::desktopEntryName()).
#pragma once

#include <memory>

#include "platform/LoginItem.h"

#include <QByteArray>
#include <QString>

namespace platform::linux_impl {

class XdgAutostartLoginItem final : public LoginItemService {
public:
    // executable: the program the entry starts (this very binary in the app).
    explicit XdgAutostartLoginItem(QString executable);

    // The status is read from the files every time: the desktop's own settings may change them.
    LoginItemStatus status() override;
    bool registerService() override;
    bool unregisterService() override;

    // Where our entry lives, from the environment at the time of the call.
    static QString userEntryPath();
    // Once, at start-up: an entry written under the name our entry had before the application
    // took its reverse-DNS desktop id is taken over, so the user's choice stands and no second
    // entry starts us twice.
    static void takeOverLegacyEntry();

private:
    QString executable_;
};

// One argument of a desktop entry's Exec key, quoted and escaped so that any path survives;
// empty when the text cannot be carried (control characters).
QString desktopExecArgument(const QString& argument);
// The autostart entry that starts executable; empty when the path cannot be written.
QByteArray autostartEntry(const QString& executable);
// Whether an entry's text asks the session to start it: not Hidden, not switched off.
bool autostartEntryEnabled(const QByteArray& entry);

std::shared_ptr<LoginItemService> makeLoginItemService();

} // namespace platform::linux_impl
