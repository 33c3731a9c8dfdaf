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
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        path = home.path() + "/kovra-radio/settings.json";
    }

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
    QString path;
};

TEST_F(UserDefaultsStore, AWrittenListReadsBackInThisRunAndTheNext)
{
    {
        JsonUserDefaults store(path);
        EXPECT_FALSE(store.arrayForKey("hotkeyChannels").has_value());
        store.setObject({"velmora", "", "nimo", "", "", "tarvesi", "ünïcødé ✓"}, "hotkeyChannels");
        EXPECT_EQ(store.arrayForKey("hotkeyChannels"),
                  strings({"velmora", "", "nimo", "", "", "tarvesi", "ünïcødé ✓"}));
        store.setObject({"tarvesi"}, "hotkeyChannels");
        EXPECT_EQ(store.arrayForKey("hotkeyChannels"), strings({"tarvesi"}));
    }
    JsonUserDefaults laterRun(path);
    EXPECT_EQ(laterRun.arrayForKey("hotkeyChannels"), strings({"tarvesi"}));
    // An empty list is still a list, not a missing value.
    laterRun.setObject({}, "hotkeyChannels");
    EXPECT_EQ(laterRun.arrayForKey("hotkeyChannels"), std::vector<DefaultsValue>{});
}

TEST_F(UserDefaultsStore, ElementsKeepTheirTypesAndOnlyArraysCount)
{
    writeFile(R"({"list": ["a", 1.5, 2, true, false, null, [1, 2], {"x": 1}],
                  "text": "velmora", "number": 3, "object": {"a": ["b"]}, "nothing": null,
                  "single": ["velmora"]})");
    JsonUserDefaults store(path);
    const std::vector<DefaultsValue> expected{
        std::string("a"), 1.5, 2.0, true, false, std::monostate{}, std::monostate{}, std::monostate{}};
    EXPECT_EQ(store.arrayForKey("list"), expected);
    // A one-element list stays a list, and a string stays a string: neither reads as the other.
    EXPECT_EQ(store.arrayForKey("single"), strings({"velmora"}));
    for (const char* key : {"text", "number", "object", "nothing", "missing", ""})
        EXPECT_FALSE(store.arrayForKey(key).has_value()) << key;
}

TEST_F(UserDefaultsStore, TheFileIsReadAfreshSoOutsideEditsShowAtOnce)
{
    JsonUserDefaults store(path);
    store.setObject({"velmora"}, "hotkeyChannels");
    writeFile(R"({"hotkeyChannels": ["nimo", "tarvesi"]})");
    EXPECT_EQ(store.arrayForKey("hotkeyChannels"), strings({"nimo", "tarvesi"}));
    // An editor's byte-order mark does not make the file unreadable.
    writeFile("\xEF\xBB\xBF{\"hotkeyChannels\": [\"velmora\"]}");
    EXPECT_EQ(store.arrayForKey("hotkeyChannels"), strings({"velmora"}));
}

TEST_F(UserDefaultsStore, WritingOneKeyKeepsEveryOtherKeyAsItWas)
{
    const QByteArray others = R"({"zeta": {"nested": [1, "two", null, {"deep": true}]},
        "big": 9007199254740993, "fraction": 0.1, "text": "ä\"quoted\"\n", "flag": false,
        "empty": {}, "hotkeyChannels": [1, 2, 3], "alpha": null})";
    writeFile(others);
    JsonUserDefaults store(path);
    store.setObject({"velmora", "", "", "", ""}, "hotkeyChannels");

    QJsonObject expected = QJsonDocument::fromJson(others).object();
    expected.insert("hotkeyChannels", QJsonArray{"velmora", "", "", "", ""});
    EXPECT_EQ(readObject(), expected);
    EXPECT_EQ(readObject().value("big").toInteger(), 9007199254740993LL);
    EXPECT_FALSE(QFile::exists(path + ".lock"));
}

TEST_F(UserDefaultsStore, AnUnparseableFileReadsAsEmptyAndTheNextWriteReplacesIt)
{
    for (const QByteArray& corrupt :
         {QByteArray("{\"hotkeyChannels\": [\"velmora\", "), QByteArray(""), QByteArray("[\"velmora\"]"),
          QByteArray("\x00\xff\xfe garbage", 12), QByteArray("\"hotkeyChannels\"")}) {
        writeFile(corrupt);
        JsonUserDefaults store(path);
        EXPECT_FALSE(store.arrayForKey("hotkeyChannels").has_value()) << corrupt.toHex().constData();
        store.setObject({"nimo"}, "hotkeyChannels");
        EXPECT_EQ(store.arrayForKey("hotkeyChannels"), strings({"nimo"}));
        EXPECT_EQ(readObject().keys(), QStringList{"hotkeyChannels"});
    }
}

TEST_F(UserDefaultsStore, AFileItCannotReadIsNeitherReadNorOverwritten)
{
    // A folder where the file should be.
    QDir().mkpath(path + "/inside");
    JsonUserDefaults store(path);
    EXPECT_FALSE(store.arrayForKey("hotkeyChannels").has_value());
    store.setObject({"nimo"}, "hotkeyChannels");
    EXPECT_TRUE(QFileInfo(path + "/inside").isDir());
    QDir(path).removeRecursively();

    // A file too large to be ours: refused, and left exactly as it was.
    QByteArray huge = R"({"hotkeyChannels": ["velmora"], "padding": ")";
    huge += QByteArray(JsonUserDefaults::kMaxFileSize, 'x') + "\"}";
    writeFile(huge);
    EXPECT_FALSE(store.arrayForKey("hotkeyChannels").has_value());
    store.setObject({"nimo"}, "hotkeyChannels");
    EXPECT_EQ(readFile(), huge);
}

TEST_F(UserDefaultsStore, AFolderThatCannotBeMadeDropsWritesQuietly)
{
    // The configuration folder's parent is a plain file, so nothing can be created below it
    // (permissions would not stop the root user).
    QFile blocker(home.path() + "/blocker");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    JsonUserDefaults store(home.path() + "/blocker/kovra-radio/settings.json");
    store.setObject({"velmora"}, "hotkeyChannels");
    EXPECT_FALSE(store.arrayForKey("hotkeyChannels").has_value());
    EXPECT_EQ(QFileInfo(blocker.fileName()).size(), 0);
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

TEST(UserDefaultsLocation, FollowsXdgConfigHomeAndFallsBackToDotConfig)
{
    kovra_test::ScopedEnv home("HOME", "/home/someone");
    {
        kovra_test::ScopedEnv xdg("XDG_CONFIG_HOME", "/elsewhere/config");
        EXPECT_EQ(JsonUserDefaults::defaultFilePath(), "/elsewhere/config/kovra-radio/settings.json");
    }
    // A relative value is invalid by the XDG rules and ignored, like an empty one.
    for (const char* ignored : {"", "relative/config"}) {
        kovra_test::ScopedEnv xdg("XDG_CONFIG_HOME", ignored);
        EXPECT_EQ(JsonUserDefaults::defaultFilePath(), "/home/someone/.config/kovra-radio/settings.json");
    }

    QTemporaryDir config;
    kovra_test::ScopedEnv xdg("XDG_CONFIG_HOME", config.path().toUtf8());
    platform::linux_impl::makeUserDefaults()->setObject({"velmora"}, "hotkeyChannels");
    EXPECT_EQ(JsonUserDefaults(config.path() + "/kovra-radio/settings.json").arrayForKey("hotkeyChannels"),
              std::vector<DefaultsValue>{std::string("velmora")});
}

} // namespace
