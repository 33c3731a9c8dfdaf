// Mapping of menu model items onto Qt's menu vocabulary, and the tray's tooltip text.
#include "platform/linux/tray/MenuRendering.h"

#include "platform/linux/desktop/AppIdentity.h"

namespace platform::linux_impl {

namespace {
constexpr uint32_t kShiftMask = 0x20000;
constexpr uint32_t kControlMask = 0x40000;

// GNOME's tray host, the AppIndicator extension, draws no shortcuts beside menu entries.
bool hostDrawsShortcuts()
{
    return !qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':')).contains(QLatin1String("GNOME"));
}
} // namespace

QKeySequence shortcutFor(const MenuItem& item)
{
    const QString key = QString::fromStdString(item.keyEquivalent());
    if (key.isEmpty())
        return {};
    const uint32_t mask = item.keyEquivalentModifierMask();
    QString text;
    if (mask & kControlMask)
        text += QStringLiteral("Meta+");
    if (mask & EventModifierFlagCommand)
        text += QStringLiteral("Ctrl+");
    if (mask & EventModifierFlagOption)
        text += QStringLiteral("Alt+");
    if ((mask & kShiftMask) || (key.size() == 1 && key.at(0).isUpper()))
        text += QStringLiteral("Shift+");
    text += key.size() == 1 ? key.toUpper() : key;
    return QKeySequence::fromString(text, QKeySequence::PortableText);
}

ShownItem shownItem(const MenuItem& item, const BoundKeys& boundKeys)
{
    ShownItem shown{QString::fromStdString(item.title()), shortcutFor(item)};
    // The backends give the bound key in Qt's notation, or nothing they could read.
    const auto bound = shown.shortcut.isEmpty() || !boundKeys ? std::nullopt : boundKeys(shown.shortcut);
    if (!bound)
        return shown;
    shown.shortcut = QKeySequence::fromString(*bound, QKeySequence::PortableText);
    // Where the host draws no shortcuts, a global one goes into the title, after a tab so that the
    // channels' keys line up.
    if (!shown.shortcut.isEmpty() && !hostDrawsShortcuts())
        shown.text += QLatin1Char('\t') + shown.shortcut.toString(QKeySequence::NativeText);
    return shown;
}

QString actionText(QString title) { return title.replace(QLatin1Char('&'), QLatin1String("&&")); }

bool isToggleItem(const MenuItem& item) { return !item.isSeparatorItem() && item.hasState(); }

bool isEnabledItem(const MenuItem& item) { return !item.action().empty() || item.submenu() != nullptr; }

QString toolTipForTitle(const std::string& title)
{
    const QString trimmed = QString::fromStdString(title).trimmed();
    return trimmed.isEmpty() ? AppIdentity::displayName() : trimmed;
}

} // namespace platform::linux_impl
