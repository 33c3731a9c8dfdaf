<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="it_IT" sourcelanguage="en">
<context>
    <name>Updater</name>
    <message>
        <source>Kovra Radio %1 is available</source>
        <translation>Kovra Radio %1 è disponibile</translation>
    </message>
    <message>
        <source>You have version %1. Download the new version from %2</source>
        <translation>Hai la versione %1. Scarica la nuova versione da %2</translation>
    </message>
    <message>
        <source>Kovra Radio is up to date</source>
        <translation>Kovra Radio è aggiornato</translation>
    </message>
    <message>
        <source>Version %1 is the newest version.</source>
        <translation>La versione %1 è la più recente.</translation>
    </message>
    <message>
        <source>Could not check for updates</source>
        <translation>Impossibile verificare gli aggiornamenti</translation>
    </message>
    <message>
        <source>The update information could not be loaded. Try again later.</source>
        <translation>Impossibile caricare le informazioni sugli aggiornamenti. Riprova più tardi.</translation>
    </message>
</context>
<context>
    <name>SleepInhibitor</name>
    <message>
        <source>Playing %1</source>
        <translation>Riproduzione di %1</translation>
    </message>
</context>
<context>
    <name>kovra-radio</name>
    <message>
        <source>launch_at_login</source>
        <translation>Apri al login</translation>
    </message>
    <message>
        <source>keyboard_shortcuts</source>
        <translation>Abbreviazioni da tastiera</translation>
    </message>
    <message>
        <source>hotkey_none</source>
        <translation>Nessuna</translation>
    </message>
    <message>
        <source>check_for_updates</source>
        <translation>Controlla aggiornamenti…</translation>
    </message>
    <message>
        <source>quit</source>
        <translation>Esci da Kovra Radio</translation>
    </message>
    <message>
        <source>hotkey_slot</source>
        <translation>Posizione %1</translation>
    </message>
    <message>
        <source>shortcut_description</source>
        <translation>Kovra Radio: riproduci il canale della posizione %1</translation>
    </message>
    <message>
        <source>no_tray_summary</source>
        <translation>Kovra Radio è in esecuzione</translation>
    </message>
    <message>
        <source>no_tray_body_gnome</source>
        <translation>Questo desktop non mostra icone nell’area di notifica, quindi Kovra Radio non ha un’icona su cui fare clic. Per vederla su GNOME, installa e attiva l’estensione AppIndicator (pacchetto gnome-shell-extension-appindicator), poi accedi di nuovo. Nel frattempo funzionano le sue scorciatoie da tastiera e i tasti multimediali.</translation>
    </message>
    <message>
        <source>no_tray_body</source>
        <translation>Questo desktop non mostra icone nell’area di notifica, quindi Kovra Radio non ha un’icona su cui fare clic. Per vederla, aggiungi un’area di notifica al pannello. Nel frattempo funzionano le sue scorciatoie da tastiera e i tasti multimediali.</translation>
    </message>
</context>
</TS>
