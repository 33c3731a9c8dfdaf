<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="en">
<context>
    <name>Updater</name>
    <message>
        <source>Kovra Radio %1 is available</source>
        <translation>Kovra Radio %1 is available</translation>
    </message>
    <message>
        <source>You have version %1. Download the new version from %2</source>
        <translation>You have version %1. Download the new version from %2</translation>
    </message>
    <message>
        <source>Kovra Radio is up to date</source>
        <translation>Kovra Radio is up to date</translation>
    </message>
    <message>
        <source>Version %1 is the newest version.</source>
        <translation>Version %1 is the newest version.</translation>
    </message>
    <message>
        <source>Could not check for updates</source>
        <translation>Could not check for updates</translation>
    </message>
    <message>
        <source>The update information could not be loaded. Try again later.</source>
        <translation>The update information could not be loaded. Try again later.</translation>
    </message>
</context>
<context>
    <name>SleepInhibitor</name>
    <message>
        <source>Playing %1</source>
        <translation>Playing %1</translation>
    </message>
</context>
<context>
    <name>kovra-radio</name>
    <message>
        <source>launch_at_login</source>
        <translation>Launch at Login</translation>
    </message>
    <message>
        <source>keyboard_shortcuts</source>
        <translation>Keyboard Shortcuts</translation>
    </message>
    <message>
        <source>hotkey_none</source>
        <translation>None</translation>
    </message>
    <message>
        <source>check_for_updates</source>
        <translation>Check for Updates…</translation>
    </message>
    <message>
        <source>quit</source>
        <translation>Quit Kovra Radio</translation>
    </message>
    <message>
        <source>hotkey_slot</source>
        <translation>Slot %1</translation>
    </message>
    <message>
        <source>shortcut_description</source>
        <translation>Kovra Radio: play the channel of slot %1</translation>
    </message>
    <message>
        <source>no_tray_summary</source>
        <translation>Kovra Radio is running</translation>
    </message>
    <message>
        <source>no_tray_body_gnome</source>
        <translation>This desktop shows no tray icons, so Kovra Radio has no icon to click. To see it on GNOME, install and enable the AppIndicator extension (package gnome-shell-extension-appindicator), then log in again. Meanwhile its keyboard shortcuts and the media keys work.</translation>
    </message>
    <message>
        <source>no_tray_body</source>
        <translation>This desktop shows no tray icons, so Kovra Radio has no icon to click. To see it, add a system tray (status notifier area) to the panel. Meanwhile its keyboard shortcuts and the media keys work.</translation>
    </message>
</context>
</TS>
