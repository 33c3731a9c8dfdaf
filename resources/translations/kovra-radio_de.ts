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
</context>
</TS>
