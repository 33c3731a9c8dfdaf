<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE" sourcelanguage="en">
<context>
    <name>Updater</name>
    <message>
        <source>Kovra Radio %1 is available</source>
        <translation>Kovra Radio %1 ist verfügbar</translation>
    </message>
    <message>
        <source>You have version %1. Download the new version from %2</source>
        <translation>Sie haben Version %1. Laden Sie die neue Version von %2 herunter</translation>
    </message>
    <message>
        <source>Kovra Radio is up to date</source>
        <translation>Kovra Radio ist auf dem neuesten Stand</translation>
    </message>
    <message>
        <source>Version %1 is the newest version.</source>
        <translation>Version %1 ist die neueste Version.</translation>
    </message>
    <message>
        <source>Could not check for updates</source>
        <translation>Suche nach Updates fehlgeschlagen</translation>
    </message>
    <message>
        <source>The update information could not be loaded. Try again later.</source>
        <translation>Die Update-Informationen konnten nicht geladen werden. Versuchen Sie es später erneut.</translation>
    </message>
</context>
<context>
    <name>SleepInhibitor</name>
    <message>
        <source>Playing %1</source>
        <translation>%1 wird gespielt</translation>
    </message>
</context>
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
