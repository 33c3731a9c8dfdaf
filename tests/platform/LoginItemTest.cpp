// Launch at login on XDG autostart: the entry we write, how its state is read back, and what
// happens when the folder cannot take it.
#include "platform/linux/XdgAutostart.h"
#include "tests/platform/PlatformTestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>

using kovra_test::ScopedEnv;
using platform::LoginItemStatus;
using platform::linux_impl::autostartEntry;
using platform::linux_impl::XdgAutostartLoginItem;

namespace {

struct ToolResult {
    int exitCode = -1;
    QString output;
};

ToolResult run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(30000))
        return {};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAll()).trimmed()};
}

void writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

class AutostartLoginItem : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root.isValid());
        config = root.path() + "/config";
        system = root.path() + "/xdg";
        home = std::make_unique<ScopedEnv>("HOME", (root.path() + "/home").toUtf8());
        configHome = std::make_unique<ScopedEnv>("XDG_CONFIG_HOME", config.toUtf8());
        configDirs = std::make_unique<ScopedEnv>("XDG_CONFIG_DIRS", system.toUtf8());
    }
    QString entryPath() const { return config + "/autostart/kovra-radio.desktop"; }

    QTemporaryDir root;
    QString config;
    QString system;
    std::unique_ptr<ScopedEnv> home, configHome, configDirs;
};

// The path a session would run, read back by GLib's own key-file and shell parsers.
QString execAsSessionReadsIt(const QString& entryFile)
{
    const QString script = QStringLiteral(
        "import sys\nfrom gi.repository import GLib\nk = GLib.KeyFile()\nk.load_from_file(sys.argv[1], 0)\n"
        "argv = GLib.shell_parse_argv(k.get_string('Desktop Entry', 'Exec'))[1]\n"
        "print(len(argv)); print(argv[0].replace('%%', '%'))\n");
    const ToolResult result = run("/usr/bin/python3", {"-c", script, entryFile});
    return result.exitCode == 0 ? result.output : QStringLiteral("error: ") + result.output;
}

TEST_F(AutostartLoginItem, RegisteringWritesAValidEntryThatStartsThisProgramEvenFromAnAwkwardPath)
{
    const QString exe = root.path() + "/My Apps/kovra \"radio\" $HOME `x` 100% \\bin";
    XdgAutostartLoginItem item(exe);
    EXPECT_EQ(item.status(), LoginItemStatus::NotRegistered);

    ASSERT_TRUE(item.registerService());
    EXPECT_EQ(item.status(), LoginItemStatus::Enabled);

    const ToolResult validation = run("desktop-file-validate", {entryPath()});
    EXPECT_EQ(validation.exitCode, 0) << validation.output.toStdString();
    EXPECT_EQ(validation.output, QString()) << validation.output.toStdString();
    EXPECT_EQ(execAsSessionReadsIt(entryPath()), "1\n" + exe);

    QFile file(entryPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.contains("\nName=Kovra Radio\n"));
    EXPECT_TRUE(text.contains("\nIcon=kovra-radio\n"));
    EXPECT_TRUE(text.contains("\nTerminal=false\n"));
}

TEST_F(AutostartLoginItem, RegisteringAgainReplacesAnEntryTheDesktopSwitchedOff)
{
    writeFile(entryPath(), "[Desktop Entry]\nType=Application\nName=Kovra Radio\nExec=old\nHidden=true\n");
    XdgAutostartLoginItem item("/usr/bin/kovra-radio");
    EXPECT_EQ(item.status(), LoginItemStatus::NotRegistered);
    ASSERT_TRUE(item.registerService());
    EXPECT_EQ(item.status(), LoginItemStatus::Enabled);
    EXPECT_EQ(execAsSessionReadsIt(entryPath()), "1\n/usr/bin/kovra-radio");
}

TEST_F(AutostartLoginItem, StatusIsReadFromTheEntryEveryTime)
{
    XdgAutostartLoginItem item("/usr/bin/kovra-radio");
    const QByteArray head = "[Desktop Entry]\nType=Application\nName=Kovra Radio\nExec=kovra-radio\n";
    const struct {
        QByteArray text;
        LoginItemStatus expected;
    } cases[] = {
        {head, LoginItemStatus::Enabled},
        {head + "Hidden=true\n", LoginItemStatus::NotRegistered},
        {head + "Hidden = true\n", LoginItemStatus::NotRegistered},
        {head + "Hidden=false\n", LoginItemStatus::Enabled},
        {head + "X-GNOME-Autostart-enabled=false\n", LoginItemStatus::NotRegistered},
        {head + "X-GNOME-Autostart-enabled=true\n", LoginItemStatus::Enabled},
        {head + "[Desktop Action x]\nHidden=true\n", LoginItemStatus::Enabled},
        {"# a comment only\n", LoginItemStatus::NotRegistered},
        {QByteArray("\0\xff\xfe garbage", 12), LoginItemStatus::NotRegistered},
        {head + QByteArray(200 * 1024, 'x'), LoginItemStatus::NotRegistered},
    };
    for (const auto& c : cases) {
        writeFile(entryPath(), c.text);
        EXPECT_EQ(item.status(), c.expected) << c.text.left(120).toStdString();
    }
    QFile::remove(entryPath());
    EXPECT_EQ(item.status(), LoginItemStatus::NotRegistered);
    QDir().mkpath(entryPath());
    EXPECT_EQ(item.status(), LoginItemStatus::NotRegistered);
}

TEST_F(AutostartLoginItem, UnregisteringRemovesOurEntryAndNothingElse)
{
    const QString other = config + "/autostart/someone-else.desktop";
    writeFile(other, "[Desktop Entry]\nType=Application\nName=Other\nExec=other\n");
    XdgAutostartLoginItem item("/usr/bin/kovra-radio");
    ASSERT_TRUE(item.registerService());

    EXPECT_TRUE(item.unregisterService());
    EXPECT_FALSE(QFileInfo::exists(entryPath()));
    EXPECT_TRUE(QFileInfo::exists(other));
    EXPECT_EQ(item.status(), LoginItemStatus::NotRegistered);
    EXPECT_TRUE(item.unregisterService()) << "nothing to remove is not a failure";
}

TEST_F(AutostartLoginItem, AFolderThatCannotBeWrittenFailsQuietlyAndStaysOff)
{
    // root ignores permissions, so the folder is made impossible instead: a file in its place.
    writeFile(config + "/autostart", "not a folder");
    XdgAutostartLoginItem item("/usr/bin/kovra-radio");
    EXPECT_FALSE(item.registerService());
    EXPECT_EQ(item.status(), LoginItemStatus::NotRegistered);

    ScopedEnv underAFile("XDG_CONFIG_HOME", (config + "/autostart/deeper").toUtf8());
    EXPECT_FALSE(item.registerService());
    EXPECT_EQ(item.status(), LoginItemStatus::NotRegistered);
}

TEST_F(AutostartLoginItem, ARelativeConfigHomeIsIgnoredAsTheBaseDirectoryRulesSay)
{
    ScopedEnv relative("XDG_CONFIG_HOME", "relative/config");
    XdgAutostartLoginItem item("/usr/bin/kovra-radio");
    ASSERT_TRUE(item.registerService());
    EXPECT_TRUE(QFileInfo::exists(root.path() + "/home/.config/autostart/kovra-radio.desktop"));
    EXPECT_FALSE(QFileInfo::exists("relative/config/autostart/kovra-radio.desktop"));
}

TEST_F(AutostartLoginItem, ASystemWideEntryIsSwitchedOffByAHiddenEntryOfTheUser)
{
    writeFile(system + "/autostart/kovra-radio.desktop",
              "[Desktop Entry]\nType=Application\nName=Kovra Radio\nExec=kovra-radio\n");
    XdgAutostartLoginItem item("/usr/bin/kovra-radio");
    EXPECT_EQ(item.status(), LoginItemStatus::Enabled);

    ASSERT_TRUE(item.unregisterService());
    EXPECT_EQ(item.status(), LoginItemStatus::NotRegistered);
    const ToolResult validation = run("desktop-file-validate", {entryPath()});
    EXPECT_EQ(validation.exitCode, 0) << validation.output.toStdString();

    ASSERT_TRUE(item.registerService());
    EXPECT_EQ(item.status(), LoginItemStatus::Enabled);
}

TEST(AutostartEntry, APathThatCannotBeCarriedIsRefused)
{
    EXPECT_TRUE(autostartEntry(QStringLiteral("/opt/kovra\nExec=evil")).isEmpty());
    EXPECT_TRUE(autostartEntry(QString()).isEmpty());
}

TEST(ApplicationDesktopEntry, TheInstalledEntryIsValid)
{
    const QString path = QStringLiteral(KOVRA_SOURCE_DIR "/resources/kovra-radio.desktop");
    ASSERT_TRUE(QFileInfo::exists(path));
    const ToolResult validation = run("desktop-file-validate", {path});
    EXPECT_EQ(validation.exitCode, 0) << validation.output.toStdString();
    EXPECT_EQ(validation.output, QString()) << validation.output.toStdString();
}

} // namespace
