<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr_FR" sourcelanguage="en">
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
