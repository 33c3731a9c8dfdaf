<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE" sourcelanguage="en">
<context>
    <name>kovra-radio</name>
    <message>
        <source>launch_at_login</source>
        <translation>Beim Anmelden starten</translation>
    </message>
    <message>
        <source>keyboard_shortcuts</source>
        <translation>Tastenkürzel</translation>
    </message>
    <message>
        <source>hotkey_none</source>
        <translation>Keine</translation>
    </message>
    <message>
        <source>check_for_updates</source>
        <translation>Nach Updates suchen…</translation>
    </message>
    <message>
        <source>quit</source>
        <translation>Kovra Radio beenden</translation>
    </message>
    <message>
        <source>hotkey_slot</source>
        <translation>Platz %1</translation>
    </message>
    <message>
        <source>shortcut_description</source>
        <translation>Kovra Radio: den Sender von Platz %1 spielen</translation>
    </message>
    <message>
        <source>no_tray_summary</source>
        <translation>Kovra Radio läuft</translation>
    </message>
    <message>
        <source>no_tray_body_gnome</source>
        <translation>Diese Arbeitsumgebung zeigt keine Symbole im Benachrichtigungsbereich, daher hat Kovra Radio kein Symbol zum Anklicken. Um es unter GNOME zu sehen, installieren und aktivieren Sie die Erweiterung AppIndicator (Paket gnome-shell-extension-appindicator) und melden Sie sich neu an. Bis dahin funktionieren die Tastenkürzel und die Medientasten.</translation>
    </message>
    <message>
        <source>no_tray_body</source>
        <translation>Diese Arbeitsumgebung zeigt keine Symbole im Benachrichtigungsbereich, daher hat Kovra Radio kein Symbol zum Anklicken. Um es zu sehen, fügen Sie der Leiste einen Benachrichtigungsbereich (Statusbereich) hinzu. Bis dahin funktionieren die Tastenkürzel und die Medientasten.</translation>
    </message>
</context>
</TS>
