<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="es_ES" sourcelanguage="en">
<context>
    <name>kovra-radio</name>
    <message>
        <source>launch_at_login</source>
        <translation>Abrir al iniciar sesión</translation>
    </message>
    <message>
        <source>keyboard_shortcuts</source>
        <translation>Atajos de teclado</translation>
    </message>
    <message>
        <source>hotkey_none</source>
        <translation>Ninguno</translation>
    </message>
    <message>
        <source>check_for_updates</source>
        <translation>Buscar actualizaciones…</translation>
    </message>
    <message>
        <source>quit</source>
        <translation>Salir de Kovra Radio</translation>
    </message>
</context>
</TS>
