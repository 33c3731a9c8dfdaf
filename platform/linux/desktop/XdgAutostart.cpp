// The login-item service on XDG autostart: writes, reads and removes our autostart entry.
#include "platform/linux/desktop/XdgAutostart.h"

#include "platform/linux/desktop/AppIdentity.h"
#include "platform/linux/desktop/AtomicFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <optional>

namespace platform::linux_impl {

namespace {

// The name our entry had before the application took its reverse-DNS desktop id.
constexpr auto kLegacyEntryFileName = "kovra-radio.desktop";
// An autostart entry is a few hundred bytes; anything far larger is not one we can trust.
constexpr qint64 kMaxEntryBytes = qint64{64} * 1024;

QString autostartFolder() { return AppIdentity::configHome() + QStringLiteral("/autostart/"); }

QStringList configDirs()
{
    QStringList dirs;
    const QStringList fromEnv = qEnvironmentVariable("XDG_CONFIG_DIRS").split(u':', Qt::SkipEmptyParts);
    for (const QString& dir : fromEnv) {
        if (QDir::isAbsolutePath(dir))
            dirs << dir;
    }
    if (dirs.isEmpty())
        dirs << QStringLiteral("/etc/xdg");
    return dirs;
}

std::optional<QByteArray> readEntry(const QString& path)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray text = file.read(kMaxEntryBytes + 1);
    if (text.size() > kMaxEntryBytes)
        return std::nullopt;
    return text;
}

// A system-wide entry of ours (from a package) that the session would start when the user has
// no entry of their own.
bool systemEntryEnabled()
{
    for (const QString& dir : configDirs()) {
        if (const auto entry = readEntry(dir + QStringLiteral("/autostart/") + AppIdentity::desktopEntryName()))
            return autostartEntryEnabled(*entry);
    }
    return false;
}

// A string value of a desktop entry: backslashes escaped, leading space kept.
QString escapeStringValue(const QString& value)
{
    QString out = value;
    out.replace(u'\\', QStringLiteral("\\\\"));
    if (out.startsWith(u' '))
        out.replace(0, 1, QStringLiteral("\\s"));
    return out;
}

bool hasControlCharacters(const QString& text)
{
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    }
    return false;
}

} // namespace

QString desktopExecArgument(const QString& argument)
{
    if (argument.isEmpty() || hasControlCharacters(argument))
        return {};
    // Inside double quotes, these four are escaped with a backslash; '%' would start a field code.
    QString quoted;
    for (QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        if (c == u'%')
            quoted += u'%';
        quoted += c;
    }
    // The Exec value is itself a string value, so each backslash is escaped once more.
    quoted.replace(u'\\', QStringLiteral("\\\\"));
    return u'"' + quoted + u'"';
}

QByteArray autostartEntry(const QString& executable)
{
    const QString exec = desktopExecArgument(executable);
    if (exec.isEmpty())
        return {};
    QString text;
    text += QStringLiteral("[Desktop Entry]\n");
    text += QStringLiteral("Type=Application\n");
    text += QStringLiteral("Name=") + AppIdentity::displayName() + u'\n';
    text += QStringLiteral("GenericName=Internet Radio\n");
    text += QStringLiteral("Comment=Play Kovra's live radio channels from the system tray\n");
    text += QStringLiteral("Icon=kovra-radio\n");
    text += QStringLiteral("Exec=") + exec + u'\n';
    // The session skips the entry quietly once the program is gone.
    text += QStringLiteral("TryExec=") + escapeStringValue(executable) + u'\n';
    text += QStringLiteral("Terminal=false\n");
    text += QStringLiteral("StartupNotify=false\n");
    text += QStringLiteral("X-GNOME-Autostart-enabled=true\n");
    return text.toUtf8();
}

bool autostartEntryEnabled(const QByteArray& entry)
{
    bool inMainGroup = false;
    bool sawMainGroup = false;
    for (const QByteArray& rawLine : entry.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            sawMainGroup = sawMainGroup || inMainGroup;
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype eq = line.indexOf('=');
        if (eq <= 0)
            continue;
        const QByteArray key = line.left(eq).trimmed();
        const QByteArray value = line.mid(eq + 1).trimmed();
        if (key == "Hidden" && value == "true")
            return false;
        if (key == "X-GNOME-Autostart-enabled" && value == "false")
            return false;
    }
    return sawMainGroup;
}

XdgAutostartLoginItem::XdgAutostartLoginItem(QString executable) : executable_(std::move(executable)) {}

QString XdgAutostartLoginItem::userEntryPath() { return autostartFolder() + AppIdentity::desktopEntryName(); }

void XdgAutostartLoginItem::takeOverLegacyEntry()
{
    const QString path = userEntryPath();
    const QString legacy = autostartFolder() + QLatin1String(kLegacyEntryFileName);
    if (!QFileInfo(legacy).isFile())
        return;
    if (!QFileInfo::exists(path) ? !QFile::rename(legacy, path) : !QFile::remove(legacy))
        qWarning("kovra-radio: could not take over the old autostart entry %s", qPrintable(legacy));
}

LoginItemStatus XdgAutostartLoginItem::status()
{
    // The user's entry overrides a system-wide one of the same name, even when it hides it.
    const QString path = userEntryPath();
    if (QFileInfo::exists(path)) {
        const auto entry = readEntry(path);
        return entry && autostartEntryEnabled(*entry) ? LoginItemStatus::Enabled : LoginItemStatus::NotRegistered;
    }
    return systemEntryEnabled() ? LoginItemStatus::Enabled : LoginItemStatus::NotRegistered;
}

bool XdgAutostartLoginItem::registerService()
{
    const QByteArray entry = autostartEntry(executable_);
    return !entry.isEmpty() && writeFileAtomically(userEntryPath(), entry);
}

bool XdgAutostartLoginItem::unregisterService()
{
    const QString path = userEntryPath();
    const QFileInfo info(path);
    if ((info.exists() || info.isSymLink()) && !QFile::remove(path))
        return false;
    // A system-wide entry of ours would start us anyway: the user's hidden entry switches it off.
    if (systemEntryEnabled())
        return writeFileAtomically(path,
                                   QStringLiteral("[Desktop Entry]\nType=Application\nName=%1\nExec=%2\nHidden=true\n")
                                       .arg(AppIdentity::displayName(), AppIdentity::programName())
                                       .toUtf8());
    return true;
}

std::shared_ptr<LoginItemService> makeLoginItemService()
{
    QString executable = QCoreApplication::applicationFilePath();
    if (executable.isEmpty())
        executable = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    XdgAutostartLoginItem::takeOverLegacyEntry();
    return std::make_shared<XdgAutostartLoginItem>(executable);
}

} // namespace platform::linux_impl
