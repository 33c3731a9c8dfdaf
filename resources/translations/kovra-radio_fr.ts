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
</context>
</TS>
