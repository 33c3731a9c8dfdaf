// How a menu model item looks in a Qt menu and how the tray names itself: plain functions the
// status item uses and the platform tests check.
#pragma once

#include "platform/Menu.h"

#include <QKeySequence>
#include <QString>

#include <functional>
#include <optional>
#include <string>

namespace platform::linux_impl {

// The item's key equivalent as a key sequence: Command reads as Ctrl, Option as Alt, Control
// as Meta, and an upper-case letter adds Shift. Empty when the item has none.
QKeySequence shortcutFor(const MenuItem& item);

// What an item shows: its title as plain text (each renderer marks it up in its own way), and its
// key equivalent, or, when one of our global shortcuts asked for that key, what the desktop really
// bound (nothing if it bound nothing, or nothing we can read). On GNOME, whose tray host draws no
// shortcuts, the title carries the key too.
struct ShownItem {
    QString text;
    QKeySequence shortcut;
};
// What the desktop bound in place of a shortcut one of our hot keys asked for (HotKeyFacade::boundText).
using BoundKeys = std::function<std::optional<QString>(const QKeySequence& requested)>;
ShownItem shownItem(const MenuItem& item, const BoundKeys& boundKeys);

// The title as QAction text: '&' would otherwise mark a mnemonic and vanish.
QString actionText(QString title);

// Items that switch on and off (their state was set), so the desktop shows their check mark and
// keeps its room while off.
bool isToggleItem(const MenuItem& item);

// Items without an action or a submenu can do nothing and are shown disabled.
bool isEnabledItem(const MenuItem& item);

// The tray has no text beside its icon: the status title (" " + channel name) goes into the
// tooltip, trimmed; without a title the tooltip names the application.
QString toolTipForTitle(const std::string& title);

} // namespace platform::linux_impl
