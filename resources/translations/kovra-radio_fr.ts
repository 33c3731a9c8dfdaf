<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr_FR" sourcelanguage="en">
<context>
    <name>Updater</name>
    <message>
        <source>Kovra Radio %1 is available</source>
        <translation>Kovra Radio %1 est disponible</translation>
    </message>
    <message>
        <source>You have version %1. Download the new version from %2</source>
        <translation>Vous avez la version %1. Téléchargez la nouvelle version depuis %2</translation>
    </message>
    <message>
        <source>Kovra Radio is up to date</source>
        <translation>Kovra Radio est à jour</translation>
    </message>
    <message>
        <source>Version %1 is the newest version.</source>
        <translation>La version %1 est la plus récente.</translation>
    </message>
    <message>
        <source>Could not check for updates</source>
        <translation>Impossible de rechercher des mises à jour</translation>
    </message>
    <message>
        <source>The update information could not be loaded. Try again later.</source>
        <translation>Les informations de mise à jour n’ont pas pu être chargées. Réessayez plus tard.</translation>
    </message>
</context>
<context>
    <name>SleepInhibitor</name>
    <message>
        <source>Playing %1</source>
        <translation>Lecture de %1</translation>
    </message>
</context>
<context>
    <name>kovra-radio</name>
    <message>
        <source>launch_at_login</source>
        <translation>Lancer à l’ouverture de session</translation>
    </message>
    <message>
        <source>keyboard_shortcuts</source>
        <translation>Raccourcis clavier</translation>
    </message>
    <message>
        <source>hotkey_none</source>
        <translation>Aucun</translation>
    </message>
    <message>
        <source>check_for_updates</source>
        <translation>Rechercher des mises à jour…</translation>
    </message>
    <message>
        <source>quit</source>
        <translation>Quitter Kovra Radio</translation>
    </message>
    <message>
        <source>hotkey_slot</source>
        <translation>Emplacement %1</translation>
    </message>
    <message>
        <source>shortcut_description</source>
        <translation>Kovra Radio : jouer la chaîne de l’emplacement %1</translation>
    </message>
    <message>
        <source>no_tray_summary</source>
        <translation>Kovra Radio est lancé</translation>
    </message>
    <message>
        <source>no_tray_body_gnome</source>
        <translation>Ce bureau n’affiche aucune icône de zone de notification : Kovra Radio n’a donc pas d’icône sur laquelle cliquer. Pour la voir sous GNOME, installez et activez l’extension AppIndicator (paquet gnome-shell-extension-appindicator), puis reconnectez-vous. En attendant, ses raccourcis clavier et les touches multimédia fonctionnent.</translation>
    </message>
    <message>
        <source>no_tray_body</source>
        <translation>Ce bureau n’affiche aucune icône de zone de notification : Kovra Radio n’a donc pas d’icône sur laquelle cliquer. Pour la voir, ajoutez une zone de notification au tableau de bord. En attendant, ses raccourcis clavier et les touches multimédia fonctionnent.</translation>
    </message>
</context>
</TS>
