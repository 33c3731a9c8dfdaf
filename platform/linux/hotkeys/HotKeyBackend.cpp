// Trigger texts: as the portal writes them, as a person reads them, and read back from what a
// desktop says it bound.
#include "platform/linux/hotkeys/HotKeyBackend.h"

#include <QKeySequence>
#include <QRegularExpression>

#include <utility>

namespace platform::linux_impl {

namespace {

// The trigger spelled with the given modifier names, in the order both spellings use.
QString spelled(const HotKeyTrigger& trigger, const char* control, const char* alt, const char* shift,
                const char* super)
{
    QString text;
    for (const auto& [on, name] : {std::pair{trigger.control, control}, std::pair{trigger.alt, alt},
                                   std::pair{trigger.shift, shift}, std::pair{trigger.super, super}}) {
        if (on)
            text += QLatin1String(name) + QLatin1Char('+');
    }
    return text + QString::number(trigger.digit);
}

} // namespace

QString HotKeyTrigger::portalText() const { return spelled(*this, "CTRL", "ALT", "SHIFT", "LOGO"); }

QString HotKeyTrigger::displayText() const { return spelled(*this, "Ctrl", "Alt", "Shift", "Meta"); }

namespace {

// One key sequence in Qt's portable notation, normalised; empty unless the text is exactly one.
QString portableKeys(const QString& text)
{
    const QKeySequence keys = QKeySequence::fromString(text, QKeySequence::PortableText);
    if (keys.count() != 1 || keys[0].key() == Qt::Key_unknown)
        return {};
    const QString normal = keys.toString(QKeySequence::PortableText);
    return normal.compare(text, Qt::CaseInsensitive) == 0 ? normal : QString();
}

// "<Control><Alt>1" as "Ctrl+Alt+1"; empty for a modifier GTK has and Qt does not.
QString fromGtkAccelerator(const QString& modifiers, const QString& key)
{
    static const QRegularExpression kModifier(QStringLiteral("<([^<>]+)>"));
    QString text;
    for (auto it = kModifier.globalMatch(modifiers); it.hasNext();) {
        const QString name = it.next().captured(1).toLower();
        if (name == u"control" || name == u"ctrl" || name == u"primary")
            text += QStringLiteral("Ctrl+");
        else if (name == u"alt" || name == u"mod1")
            text += QStringLiteral("Alt+");
        else if (name == u"shift")
            text += QStringLiteral("Shift+");
        else if (name == u"super" || name == u"meta" || name == u"mod4")
            text += QStringLiteral("Meta+");
        else
            return {};
    }
    return portableKeys(text + key);
}

} // namespace

QString readableTrigger(const QString& description)
{
    // GNOME: a sentence (its words translated) around the accelerator.
    static const QRegularExpression kGtk(QStringLiteral("((?:<[A-Za-z0-9_]+>)+)([A-Za-z0-9_]+)"));
    const QRegularExpressionMatch gtk = kGtk.match(description);
    if (gtk.hasMatch())
        return fromGtkAccelerator(gtk.captured(1), gtk.captured(2));
    // Plasma: the key sequence itself; of several alternatives, the first.
    return portableKeys(description.section(QStringLiteral(", "), 0, 0).trimmed());
}

} // namespace platform::linux_impl
