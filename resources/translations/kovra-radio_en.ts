<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="en">
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
