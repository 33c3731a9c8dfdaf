// The two files we keep in the user's config folder, against a real file system: the settings (the
// JSON defaults store) and the autostart entry of launch at login. What each reads back and keeps,
// what it refuses to damage when the file or its folder is not what it expects, and how it survives
// a write that fails part-way: the old file stays whole, no temporary is left behind, and the
// failure is reported, not hidden.
#include "platform/linux/desktop/JsonUserDefaults.h"
#include "platform/linux/desktop/XdgAutostart.h"
#include "tests/fixtures/PlatformTestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using kovra_test::ScopedEnv;
using platform::DefaultsValue;
using platform::LoginItemStatus;
using platform::linux_impl::autostartEntry;
using platform::linux_impl::JsonUserDefaults;
using platform::linux_impl::XdgAutostartLoginItem;

namespace {

// Runs `write` while the kernel refuses to let any file grow past a few bytes, as a full disk would,
// and checks that the file at `path` stays as it was with no temporary left beside it.
template <class Write>
auto failingPartWay(const QString& path, Write write)
{
    const QByteArray before = kovra_test::readFile(path);
    EXPECT_FALSE(before.isEmpty());
    rlimit saved{};
    EXPECT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tiny = saved;
    tiny.rlim_cur = 16;
    EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &tiny), 0);
    auto result = write();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(kovra_test::readFile(path), before);
    EXPECT_EQ(QFileInfo(path).dir().entryList(QDir::Files | QDir::Hidden).size(), 1) << "a temporary was left behind";
    return result;
}

// Collects the process's warnings, where a store that cannot report through its return value says so.
QStringList warnings;
void collectWarning(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtWarningMsg)
        warnings << message;
}

const QByteArray kEntry = "[Desktop Entry]\nType=Application\nName=Kovra Radio\nExec=kovra-radio\n";

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

// The status as the entry is made and removed is test_menu.py's, through the menu.
TEST_F(AutostartLoginItem, TheEntryIsValidAndStartsThisProgramEvenFromAnAwkwardPath)
{
    const QString exe = root.path() + "/My Apps/kovra \"radio\" $HOME `x` 100% \\bin";
    XdgAutostartLoginItem awkward(exe);
    ASSERT_TRUE(awkward.registerService());
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
    const std::pair<QByteArray, LoginItemStatus> cases[] = {
        {kEntry, LoginItemStatus::Enabled},
        {kEntry + "Hidden = true\n", LoginItemStatus::NotRegistered},
        {kEntry + "Hidden=false\n", LoginItemStatus::Enabled},
        {kEntry + "X-GNOME-Autostart-enabled=false\n", LoginItemStatus::NotRegistered},
        {kEntry + "[Desktop Action x]\nHidden=true\n", LoginItemStatus::Enabled},
        {QByteArray("\0\xff\xfe garbage", 12), LoginItemStatus::NotRegistered},
        {kEntry + QByteArray(200 * 1024, 'x'), LoginItemStatus::NotRegistered},
    };
    for (const auto& [text, expected] : cases) {
        kovra_test::writeFile(entryPath(), text);
        EXPECT_EQ(item.status(), expected) << text.left(120).toStdString();
    }
    // Registering again replaces an entry the desktop switched off.
    kovra_test::writeFile(entryPath(), kEntry + "Hidden=true\n");
    ASSERT_TRUE(item.registerService());
    EXPECT_EQ(item.status(), LoginItemStatus::Enabled);
}

TEST_F(AutostartLoginItem, ASystemWideEntryIsSwitchedOffByAHiddenEntryOfTheUser)
{
    kovra_test::writeFile(root.path() + "/xdg/autostart/org.kovra.Radio.desktop", kEntry);
    EXPECT_EQ(item.status(), LoginItemStatus::Enabled);
    ASSERT_TRUE(item.unregisterService());
    EXPECT_EQ(item.status(), LoginItemStatus::NotRegistered);
    EXPECT_EQ(run("desktop-file-validate", {entryPath()}), QString());
}

TEST_F(AutostartLoginItem, AnEntryUnderTheOldNameKeepsItsStateAndIsNotLeftAsASecondOne)
{
    const QString legacy = root.path() + "/config/autostart/kovra-radio.desktop";
    kovra_test::writeFile(legacy, kEntry);
    XdgAutostartLoginItem::takeOverLegacyEntry(); // as start-up does
    EXPECT_EQ(item.status(), LoginItemStatus::Enabled);
    ASSERT_TRUE(item.unregisterService());
    EXPECT_EQ(item.status(), LoginItemStatus::NotRegistered);
    EXPECT_FALSE(QFile::exists(legacy));
    EXPECT_FALSE(QFile::exists(entryPath()));
}

TEST_F(AutostartLoginItem, AWriteFailingPartWayKeepsTheOldEntryAndReportsFailure)
{
    ASSERT_TRUE(item.registerService());
    // A long path makes the new entry longer than the old one in every case.
    XdgAutostartLoginItem longer(QStringLiteral("/opt/") + QString(200, u'k') + "/kovra-radio");
    EXPECT_FALSE(failingPartWay(entryPath(), [&] { return longer.registerService(); }));
    EXPECT_EQ(item.status(), LoginItemStatus::Enabled);
}

class UserDefaultsStore : public ::testing::Test {
protected:
    void writeFile(const QByteArray& text) { kovra_test::writeFile(path, text); }
    QByteArray readFile() const { return kovra_test::readFile(path); }
    QJsonObject readObject() const { return QJsonDocument::fromJson(readFile()).object(); }

    using Strings = std::vector<std::string>;
    static std::vector<DefaultsValue> strings(const Strings& list) { return {list.begin(), list.end()}; }

    QTemporaryDir home;
    QString path = home.path() + "/kovra-radio/settings.json";
};

TEST_F(UserDefaultsStore, AWrittenListReadsBackAndOutsideEditsOtherKeysAndALinkAreKept)
{
    const QByteArray others = R"({"zeta": {"nested": [1, "two", null]}, "big": 9007199254740993,
        "text": "ä\"quoted\"\n", "hotkeyChannels": [1, 2]})";
    // Settings kept in a dotfiles repository and linked into place stay linked.
    const QString target = home.path() + "/dotfiles/settings.json";
    kovra_test::writeFile(target, others);
    QDir().mkpath(home.path() + "/kovra-radio");
    ASSERT_TRUE(QFile::link(target, path));
    JsonUserDefaults store(path);
    store.setObject({"velmora", "", "ünïcødé ✓"}, "hotkeyChannels");
    EXPECT_TRUE(QFileInfo(path).isSymLink());
    QJsonObject expected = QJsonDocument::fromJson(others).object();
    expected.insert("hotkeyChannels", QJsonArray{"velmora", "", "ünïcødé ✓"});
    EXPECT_EQ(readObject(), expected);
    EXPECT_EQ(readObject().value("big").toInteger(), 9007199254740993LL);
    // Read afresh every time, an editor's byte-order mark included.
    writeFile("\xEF\xBB\xBF{\"hotkeyChannels\": [\"nimo\"]}");
    EXPECT_EQ(store.arrayForKey("hotkeyChannels"), strings({"nimo"}));
}

TEST_F(UserDefaultsStore, AFileItCannotUseIsNeverDamaged)
{
    // A file too large to be ours: refused, and left exactly as it was.
    const QByteArray huge = "{\"padding\": \"" + QByteArray(JsonUserDefaults::kMaxFileSize, 'x') + "\"}";
    writeFile(huge);
    JsonUserDefaults store(path);
    store.setObject({"nimo"}, "hotkeyChannels");
    EXPECT_EQ(readFile(), huge);
    // A folder where the file should be, or a plain file where the folder should be.
    QFile::remove(path);
    QDir().mkpath(path + "/inside");
    store.setObject({"nimo"}, "hotkeyChannels");
    EXPECT_TRUE(QFileInfo(path + "/inside").isDir());
    QFile blocker(home.path() + "/blocker");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    JsonUserDefaults blocked(blocker.fileName() + "/kovra-radio/settings.json");
    blocked.setObject({"velmora"}, "hotkeyChannels");
    EXPECT_FALSE(blocked.arrayForKey("hotkeyChannels").has_value());
    EXPECT_EQ(blocker.size(), 0);
}

TEST_F(UserDefaultsStore, AWriterKilledAtAnyMomentLeavesTheOldOrTheNewFile)
{
    writeFile(R"({"keep": ["this"]})");
    const Strings a{"velmora", "", "", "", ""}, b{"nimo", "nimo", "tarvesi", "", "velmora"};
    JsonUserDefaults(path).setObject(a, "hotkeyChannels");
    for (int round = 0; round < 25; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        for (JsonUserDefaults writer(path); child == 0;) // the writer, until it is killed
            writer.setObject(b, "hotkeyChannels"), writer.setObject(a, "hotkeyChannels");
        // Killed somewhere in the middle of its writes, at a different point each round.
        usleep(useconds_t(2000 + round * 397));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        JsonUserDefaults reader(path);
        const auto list = reader.arrayForKey("hotkeyChannels");
        EXPECT_TRUE(list == strings(a) || list == strings(b)) << "round " << round;
        EXPECT_EQ(reader.arrayForKey("keep"), strings({"this"})) << "round " << round;
    }
}

TEST_F(UserDefaultsStore, AWriteFailingPartWayKeepsTheOldFileAndSaysSo)
{
    JsonUserDefaults store(path);
    store.setObject({"velmora", "tarvesi", "nimo", "", ""}, "hotkeyChannels");
    warnings.clear();
    const auto oldHandler = qInstallMessageHandler(collectWarning);
    failingPartWay(path, [&] {
        store.setObject({"nimo", "nimo", "nimo", "nimo", "nimo"}, "hotkeyChannels");
        return 0;
    });
    qInstallMessageHandler(oldHandler);
    EXPECT_EQ(warnings.size(), 1) << "the lost change went unreported";
}

} // namespace
