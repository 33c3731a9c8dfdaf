<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="it_IT" sourcelanguage="en">
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
</context>
</TS>
