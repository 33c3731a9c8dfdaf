// Launch at login on XDG autostart: the entry we write, how its state is read back, and what
// happens when the folder cannot take it.
#include "platform/linux/desktop/XdgAutostart.h"
#include "tests/fixtures/PlatformTestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>

using kovra_test::ScopedEnv;
using kovra_test::writeFile;
using platform::LoginItemStatus;
using platform::linux_impl::autostartEntry;
using platform::linux_impl::XdgAutostartLoginItem;

namespace {

// A tool's exit status and output ("" when it ran clean and silent).
QString run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return QStringLiteral("did not finish");
    const QString output = QString::fromUtf8(process.readAll()).trimmed();
    return process.exitCode() == 0 ? output : QStringLiteral("status %1: %2").arg(process.exitCode()).arg(output);
}

class AutostartLoginItem : public ::testing::Test {
protected:
    QString entryPath() const { return root.path() + "/config/autostart/org.kovra.Radio.desktop"; }

    QTemporaryDir root;
    ScopedEnv home{"HOME", (root.path() + "/home").toUtf8()};
    ScopedEnv configHome{"XDG_CONFIG_HOME", (root.path() + "/config").toUtf8()};
    ScopedEnv configDirs{"XDG_CONFIG_DIRS", (root.path() + "/xdg").toUtf8()};
    XdgAutostartLoginItem item{"/usr/bin/kovra-radio"};
};

TEST_F(AutostartLoginItem, TheEntryIsValidAndStartsThisProgramEvenFromAnAwkwardPath)
{
    const QString exe = root.path() + "/My Apps/kovra \"radio\" $HOME `x` 100% \\bin";
    XdgAutostartLoginItem awkward(exe);
    EXPECT_EQ(awkward.status(), LoginItemStatus::NotRegistered);
    ASSERT_TRUE(awkward.registerService());
    EXPECT_EQ(awkward.status(), LoginItemStatus::Enabled);
    EXPECT_EQ(run("desktop-file-validate", {entryPath()}), QString());
    // What a session would run, read back by GLib's own key-file and shell parsers.
    const QString script = QStringLiteral(
        "import sys\nfrom gi.repository import GLib\nk = GLib.KeyFile()\nk.load_from_file(sys.argv[1], 0)\n"
        "argv = GLib.shell_parse_argv(k.get_string('Desktop Entry', 'Exec'))[1]\n"
        "print(len(argv)); print(argv[0].replace('%%', '%'))\n");
    EXPECT_EQ(run("/usr/bin/python3", {"-c", script, entryPath()}), "1\n" + exe);
    EXPECT_TRUE(autostartEntry(QStringLiteral("/opt/kovra\nExec=evil")).isEmpty());
}

TEST_F(AutostartLoginItem, StatusIsReadFromTheEntryEveryTime)
{
    const QByteArray head = "[Desktop Entry]\nType=Application\nName=Kovra Radio\nExec=kovra-radio\n";
    const std::pair<QByteArray, LoginItemStatus> cases[] = {
        {head, LoginItemStatus::Enabled},
        {head + "Hidden = true\n", LoginItemStatus::NotRegistered},
        {head + "Hidden=false\n", LoginItemStatus::Enabled},
        {head + "X-GNOME-Autostart-enabled=false\n", LoginItemStatus::NotRegistered},
        {head + "[Desktop Action x]\nHidden=true\n", LoginItemStatus::Enabled},
        {QByteArray("\0\xff\xfe garbage", 12), LoginItemStatus::NotRegistered},
        {head + QByteArray(200 * 1024, 'x'), LoginItemStatus::NotRegistered},
    };
    for (const auto& [text, expected] : cases) {
        writeFile(entryPath(), text);
        EXPECT_EQ(item.status(), expected) << text.left(120).toStdString();
    }
    // Registering again replaces an entry the desktop switched off.
    writeFile(entryPath(), head + "Hidden=true\n");
    ASSERT_TRUE(item.registerService());
    EXPECT_EQ(item.status(), LoginItemStatus::Enabled);
}

TEST_F(AutostartLoginItem, ASystemWideEntryIsSwitchedOffByAHiddenEntryOfTheUser)
{
    writeFile(root.path() + "/xdg/autostart/org.kovra.Radio.desktop",
              "[Desktop Entry]\nType=Application\nName=Kovra Radio\nExec=kovra-radio\n");
    EXPECT_EQ(item.status(), LoginItemStatus::Enabled);
    ASSERT_TRUE(item.unregisterService());
    EXPECT_EQ(item.status(), LoginItemStatus::NotRegistered);
    EXPECT_EQ(run("desktop-file-validate", {entryPath()}), QString());
}

TEST_F(AutostartLoginItem, AnEntryUnderTheOldNameKeepsItsStateAndIsNotLeftAsASecondOne)
{
    const QString legacy = root.path() + "/config/autostart/kovra-radio.desktop";
    writeFile(legacy, "[Desktop Entry]\nType=Application\nName=Kovra Radio\nExec=kovra-radio\n");
    XdgAutostartLoginItem::takeOverLegacyEntry(); // as start-up does
    EXPECT_EQ(item.status(), LoginItemStatus::Enabled);
    ASSERT_TRUE(item.unregisterService());
    EXPECT_EQ(item.status(), LoginItemStatus::NotRegistered);
    EXPECT_FALSE(QFile::exists(legacy));
    EXPECT_FALSE(QFile::exists(entryPath()));
}

} // namespace
