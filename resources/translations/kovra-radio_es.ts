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
    <message>
        <source>hotkey_slot</source>
        <translation>Posición %1</translation>
    </message>
    <message>
        <source>shortcut_description</source>
        <translation>Kovra Radio: reproducir el canal de la posición %1</translation>
    </message>
    <message>
        <source>no_tray_summary</source>
        <translation>Kovra Radio se está ejecutando</translation>
    </message>
    <message>
        <source>no_tray_body_gnome</source>
        <translation>Este escritorio no muestra iconos en la bandeja del sistema, así que Kovra Radio no tiene un icono en el que hacer clic. Para verlo en GNOME, instale y active la extensión AppIndicator (paquete gnome-shell-extension-appindicator) y vuelva a iniciar sesión. Mientras tanto funcionan sus atajos de teclado y las teclas multimedia.</translation>
    </message>
    <message>
        <source>no_tray_body</source>
        <translation>Este escritorio no muestra iconos en la bandeja del sistema, así que Kovra Radio no tiene un icono en el que hacer clic. Para verlo, añada una bandeja del sistema (área de notificación) al panel. Mientras tanto funcionan sus atajos de teclado y las teclas multimedia.</translation>
    </message>
</context>
</TS>
