<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="es_ES" sourcelanguage="en">
<context>
    <name>Updater</name>
    <message>
        <source>Kovra Radio %1 is available</source>
        <translation>Kovra Radio %1 está disponible</translation>
    </message>
    <message>
        <source>You have version %1. Download the new version from %2</source>
        <translation>Tiene la versión %1. Descargue la nueva versión desde %2</translation>
    </message>
    <message>
        <source>Kovra Radio is up to date</source>
        <translation>Kovra Radio está actualizado</translation>
    </message>
    <message>
        <source>Version %1 is the newest version.</source>
        <translation>La versión %1 es la más reciente.</translation>
    </message>
    <message>
        <source>Could not check for updates</source>
        <translation>No se pudieron buscar actualizaciones</translation>
    </message>
    <message>
        <source>The update information could not be loaded. Try again later.</source>
        <translation>No se pudo cargar la información de actualización. Inténtelo de nuevo más tarde.</translation>
    </message>
</context>
<context>
    <name>SleepInhibitor</name>
    <message>
        <source>Playing %1</source>
        <translation>Reproduciendo %1</translation>
    </message>
</context>
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
