// Both files we keep (settings, autostart entry) survive a write that fails part-way: the old
// file stays whole, no temporary is left behind, and the failure is reported, not hidden.
#include "platform/linux/desktop/AtomicFile.h"
#include "platform/linux/desktop/JsonUserDefaults.h"
#include "platform/linux/desktop/XdgAutostart.h"
#include "tests/fixtures/PlatformTestSupport.h"

#include <QDir>
#include <QFile>

#include <csignal>
#include <sys/resource.h>

using kovra_test::readFile;
using kovra_test::ScopedEnv;

namespace {

// Runs `write` while the kernel refuses to let any file grow past a few bytes, as a full disk would.
template <class Write>
auto underTinyFileSizeLimit(Write write)
{
    rlimit saved{};
    EXPECT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tiny = saved;
    tiny.rlim_cur = 16;
    EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &tiny), 0);
    auto result = write();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    return result;
}

int filesIn(const QString& directory) { return int(QDir(directory).entryList(QDir::Files | QDir::Hidden).size()); }

// Collects the process's warnings, where a store that cannot report through its return value says so.
QStringList warnings;
void collectWarning(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtWarningMsg)
        warnings << message;
}

} // namespace

TEST(AtomicWrite, FailingPartWayKeepsTheOldSettingsAndSaysSo)
{
    QTemporaryDir root;
    const QString path = root.path() + "/kovra-radio/settings.json";
    platform::linux_impl::JsonUserDefaults store(path);
    store.setObject({"velmora", "tarvesi", "nimo", "", ""}, "hotkeyChannels");
    const QByteArray before = readFile(path);
    ASSERT_FALSE(before.isEmpty());

    warnings.clear();
    const auto oldHandler = qInstallMessageHandler(collectWarning);
    underTinyFileSizeLimit([&] {
        store.setObject({"nimo", "nimo", "nimo", "nimo", "nimo"}, "hotkeyChannels");
        return 0;
    });
    qInstallMessageHandler(oldHandler);

    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(filesIn(root.path() + "/kovra-radio"), 1) << "a temporary file was left behind";
    EXPECT_EQ(warnings.size(), 1) << "the lost change went unreported";
}

TEST(AtomicWrite, FailingPartWayKeepsTheOldAutostartEntryAndReportsFailure)
{
    QTemporaryDir root;
    ScopedEnv configHome("XDG_CONFIG_HOME", (root.path() + "/config").toUtf8());
    // A long path makes the new entry longer than the old one in every case.
    platform::linux_impl::XdgAutostartLoginItem shortItem(QStringLiteral("/usr/bin/kovra-radio"));
    platform::linux_impl::XdgAutostartLoginItem longItem(QStringLiteral("/opt/") + QString(200, u'k') + "/kovra-radio");
    ASSERT_TRUE(shortItem.registerService());
    const QString path = platform::linux_impl::XdgAutostartLoginItem::userEntryPath();
    const QByteArray before = readFile(path);

    EXPECT_FALSE(underTinyFileSizeLimit([&] { return longItem.registerService(); }));
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(filesIn(QFileInfo(path).absolutePath()), 1) << "a temporary file was left behind";
    EXPECT_EQ(shortItem.status(), platform::LoginItemStatus::Enabled);
}
