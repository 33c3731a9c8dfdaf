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
</context>
</TS>
