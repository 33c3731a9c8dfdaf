// The JSON defaults store against a real file system: what it reads back, what it keeps, and
// what it refuses to damage when the file or its folder is not what it expects.
#include "platform/linux/JsonUserDefaults.h"
#include "tests/platform/PlatformTestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

using platform::DefaultsValue;
using platform::linux_impl::JsonUserDefaults;

namespace {

class UserDefaultsStore : public ::testing::Test {
protected:
    void writeFile(const QByteArray& text)
    {
        QDir().mkpath(home.path() + "/kovra-radio");
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(text), text.size());
    }

    QByteArray readFile() const
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QJsonObject readObject() const { return QJsonDocument::fromJson(readFile()).object(); }

    static std::vector<DefaultsValue> strings(std::initializer_list<const char*> list)
    {
        std::vector<DefaultsValue> values;
        for (const char* s : list)
            values.emplace_back(std::string(s));
        return values;
    }

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
    const QByteArray huge = "{\"padding\": \"" + QByteArray(JsonUserDefaults::maxFileSize, 'x') + "\"}";
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
    const std::vector<DefaultsValue> a = strings({"velmora", "", "", "", ""});
    const std::vector<DefaultsValue> b = strings({"nimo", "nimo", "tarvesi", "", "velmora"});
    for (int round = 0; round < 25; ++round) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            JsonUserDefaults writer(path);
            writer.setObject({"velmora", "", "", "", ""}, "hotkeyChannels");
            (void)!write(ready[1], "w", 1);
            for (;;) {
                writer.setObject({"nimo", "nimo", "tarvesi", "", "velmora"}, "hotkeyChannels");
                writer.setObject({"velmora", "", "", "", ""}, "hotkeyChannels");
            }
        }
        close(ready[1]);
        // Kill it somewhere in the middle of its later writes, at a different point each round.
        pollfd first{ready[0], POLLIN, 0};
        const bool wrote = poll(&first, 1, 30000) == 1;
        close(ready[0]);
        usleep(useconds_t(round * 397));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(wrote) << "the writer never finished its first write";

        JsonUserDefaults reader(path);
        const auto list = reader.arrayForKey("hotkeyChannels");
        ASSERT_TRUE(list.has_value()) << "round " << round;
        EXPECT_TRUE(*list == a || *list == b) << "round " << round;
        EXPECT_EQ(reader.arrayForKey("keep"), strings({"this"})) << "round " << round;
    }
}

TEST_F(UserDefaultsStore, ASymlinkedFileIsWrittenThroughNotReplaced)
{
    // Settings kept in a dotfiles repository and linked into place stay linked.
    const QString target = home.path() + "/dotfiles/settings.json";
    QDir().mkpath(home.path() + "/dotfiles");
    QDir().mkpath(home.path() + "/kovra-radio");
    {
        QFile file(target);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(R"({"other": [true]})");
    }
    ASSERT_TRUE(QFile::link(target, path));
    JsonUserDefaults store(path);
    store.setObject({"nimo"}, "hotkeyChannels");
    EXPECT_TRUE(QFileInfo(path).isSymLink());
    EXPECT_EQ(JsonUserDefaults(target).arrayForKey("hotkeyChannels"), strings({"nimo"}));
    EXPECT_EQ(JsonUserDefaults(target).arrayForKey("other"), std::vector<DefaultsValue>{true});
}

} // namespace
