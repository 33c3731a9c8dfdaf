// The JSON defaults store against a real file system: what it reads back, what it keeps, and
// what it refuses to damage when the file or its folder is not what it expects.
#include "platform/linux/desktop/JsonUserDefaults.h"
#include "tests/fixtures/PlatformTestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using platform::DefaultsValue;
using platform::linux_impl::JsonUserDefaults;

namespace {

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

TEST_F(UserDefaultsStore, AWrittenListReadsBackAndOutsideEditsAndOtherKeysAreKept)
{
    const QByteArray others = R"({"zeta": {"nested": [1, "two", null]}, "big": 9007199254740993,
        "text": "ä\"quoted\"\n", "hotkeyChannels": [1, 2]})";
    writeFile(others);
    JsonUserDefaults store(path);
    store.setObject({"velmora", "", "ünïcødé ✓"}, "hotkeyChannels");
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

TEST_F(UserDefaultsStore, ASymlinkedFileIsWrittenThroughNotReplaced)
{
    // Settings kept in a dotfiles repository and linked into place stay linked.
    const QString target = home.path() + "/dotfiles/settings.json";
    kovra_test::writeFile(target, R"({"other": [true]})");
    QDir().mkpath(home.path() + "/kovra-radio");
    ASSERT_TRUE(QFile::link(target, path));
    JsonUserDefaults store(path);
    store.setObject({"nimo"}, "hotkeyChannels");
    EXPECT_TRUE(QFileInfo(path).isSymLink());
    EXPECT_EQ(JsonUserDefaults(target).arrayForKey("hotkeyChannels"), strings({"nimo"}));
    EXPECT_EQ(JsonUserDefaults(target).arrayForKey("other"), std::vector<DefaultsValue>{true});
}

} // namespace
