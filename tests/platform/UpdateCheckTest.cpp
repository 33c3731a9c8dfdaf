// The update check end to end: a local https feed and a stand-in notification server (both
// tests/fixtures/notifyserver.py) on the private session bus each test runs on (dbus-run-session),
// and what the user would see and be able to click.
#include "platform/linux/desktop/DesktopNotifications.h"
#include "platform/linux/desktop/FeedUpdater.h"
#include "tests/fixtures/PlatformTestSupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

using namespace platform::linux_impl;
using kovra_test::runUntil;
using kovra_test::ScopedEnv;

namespace {

const QString noBus = QStringLiteral("kovra-no-such-connection");

// Asks for permission to notify; returns the answer, which never comes inside the call.
std::optional<bool> authorisation(const QDBusConnection& connection)
{
    DesktopNotificationCenter center(connection);
    auto answer = std::make_shared<std::optional<bool>>();
    center.requestAuthorization(platform::AuthorizationOptionAlert,
                                [answer](bool granted, std::optional<std::string>) { *answer = granted; });
    EXPECT_FALSE(answer->has_value());
    runUntil([&] { return answer->has_value(); });
    return *answer;
}

// Before any server is there (each test runs on a bus of its own): a refusal, later.
TEST(Notifications, WithoutAServerTheAuthorisationRequestIsRefusedLater)
{
    kovra_test::qtApp();
    EXPECT_EQ(authorisation(QDBusConnection::sessionBus()), std::optional(false));
    EXPECT_EQ(authorisation(QDBusConnection(noBus)), std::optional(false));
    DesktopNotifier(QDBusConnection(noBus)).postNotification("lost", "and nothing else");
}

// One feed and notification server for the whole suite.
class UpdateCheck : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        kovra_test::qtApp();
        dir = new QTemporaryDir;
        server = new QProcess;
        server->start(QStringLiteral("/usr/bin/python3"),
                      {KOVRA_FIXTURES_DIR "/notifyserver.py", "--log", dir->path() + "/notify.jsonl", "--capabilities",
                       "body,actions,body-markup", "--feed", dir->path() + "/appcast.xml"});
        while (!server->canReadLine() && server->waitForReadyRead(30000)) {
        }
        ready = QString::fromUtf8(server->readLine()).split(u' '); // READY <port> <CA file>
        kovra_test::writeFile(
            dir->path() + "/appcast.xml",
            "<?xml version=\"1.0\"?><rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/"
            "xml-namespaces/sparkle\"><channel><item><enclosure url=\"https://dl.kovra.example/kovra-radio-"
            "2.5.tar.gz?a=1&amp;b=2\" sparkle:version=\"2.5\"/></item></channel></rss>");
    }
    static void TearDownTestSuite()
    {
        server->terminate();
        server->waitForFinished();
        delete server, delete dir;
    }
    void SetUp() override
    {
        ASSERT_EQ(ready.size(), 3) << server->readAllStandardError().toStdString();
        QFile::remove(dir->path() + "/notify.jsonl");
    }
    static QString url(const char* path)
    {
        return QStringLiteral("https://127.0.0.1:%1%2").arg(ready.value(1).trimmed(), QLatin1String(path));
    }
    // Runs one check of the feed at address, as version `current`; returns every result reported.
    static std::vector<UpdateCheckResult> check(const QString& address, const QString& current = "1.0.0",
                                                int timeoutMs = 15000)
    {
        std::vector<UpdateCheckResult> results;
        UpdateFeedFetcher::Limits limits;
        limits.timeoutMs = timeoutMs;
        FeedUpdaterController controller(
            true, address, current, [&](const UpdateCheckResult& r) { results.push_back(r); }, limits);
        controller.checkForUpdates();
        runUntil([&] { return !controller.checking(); });
        return results;
    }
    static std::vector<QJsonObject> posted()
    {
        std::vector<QJsonObject> out;
        for (const QByteArray& line : kovra_test::readFile(dir->path() + "/notify.jsonl").split('\n'))
            if (!line.trimmed().isEmpty())
                out.push_back(QJsonDocument::fromJson(line).object());
        return out;
    }
    // What a click on a notification's button sends us.
    static void click(uint id, const QString& key)
    {
        QDBusMessage m =
            QDBusMessage::createMethodCall("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                           "org.kovra.test.NotifyServer", "InvokeAction");
        QDBusConnection::sessionBus().call(m << id << key);
    }

    static inline QTemporaryDir* dir = nullptr;
    static inline QProcess* server = nullptr;
    static inline QStringList ready;
    ScopedEnv trustFeedCA{"SSL_CERT_FILE", ready.value(2).trimmed().toUtf8()};
};

TEST_F(UpdateCheck, OnlyVerifiedHttpsIsReadAndServersThatLieStallOrFloodEndInOneFailedResult)
{
    for (const QString& address :
         {url("/appcast.xml"), url("/redirect-https"), url("/redirect-http"), url("/huge"), url("/huge-declared"),
          url("/missing"), url("/stall"), QStringLiteral("http://127.0.0.1:1/appcast.xml"),
          QStringLiteral("file:///etc/passwd"), QStringLiteral("not a url")}) {
        const auto results = check(address, "1.0.0", address.endsWith("/stall") ? 1500 : 15000);
        ASSERT_EQ(results.size(), 1u) << address.toStdString();
        const bool good = address == url("/appcast.xml") || address == url("/redirect-https");
        EXPECT_EQ(results[0].outcome, good ? UpdateOutcome::Available : UpdateOutcome::Failed) << address.toStdString();
    }
    ScopedEnv noExtraCA("SSL_CERT_FILE", "/nonexistent.pem");
    EXPECT_EQ(check(url("/appcast.xml")).at(0).outcome, UpdateOutcome::Failed);
}

TEST_F(UpdateCheck, ANewerVersionIsToldOnceWithADownloadTheUserCanOpen)
{
    DesktopNotifier notifier(QDBusConnection::sessionBus());
    std::vector<QUrl> opened;
    notifier.setUrlOpener([&](const QUrl& u) { return opened.push_back(u), true; });
    FeedUpdaterController controller(true, url("/appcast.xml"), "1.0.0",
                                     [&](const UpdateCheckResult& r) { notifyUpdateResult(notifier, r, "1.0.0"); });
    controller.checkForUpdates();
    controller.checkForUpdates(); // a second click while checking starts nothing
    ASSERT_TRUE(runUntil([&] { return !controller.checking() && !posted().empty(); }));
    notifier.postNotification("marker", ""); // once it is in, nothing else was on its way before it
    ASSERT_TRUE(runUntil([&] { return posted().size() >= 2; }));
    const auto all = posted();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0]["app_name"].toString(), "Kovra Radio");
    const QString link = "https://dl.kovra.example/kovra-radio-2.5.tar.gz?a=1&b=2";
    EXPECT_TRUE(all[0]["body"].toString().contains(link.toHtmlEscaped())) << all[0]["body"].toString().toStdString();
    EXPECT_EQ(all[0]["actions"].toVariant().toStringList(),
              QStringList({"default", "Download", "download", "Download"}));
    EXPECT_EQ(all[0]["hints"].toObject()["desktop-entry"].toString(), "org.kovra.Radio");

    // The marker replaced it on screen, so its button is gone; only a real click on ours opens the link.
    click(uint(all[1]["id"].toInt()), "download");
    controller.checkForUpdates();
    ASSERT_TRUE(runUntil([&] { return !controller.checking() && posted().size() >= 3; }));
    const uint id = uint(posted()[2]["id"].toInt());
    EXPECT_EQ(posted()[2]["replaces_id"].toInt(), all[1]["id"].toInt()); // one notice of ours on screen
    click(id, "something-else");
    click(id + 1000, "download");
    click(id, "default");
    ASSERT_TRUE(runUntil([&] { return !opened.empty(); }));
    EXPECT_EQ(opened, std::vector<QUrl>{QUrl(link)});
}

TEST_F(UpdateCheck, ServersGetMarkupEscapedAndPlainLinksAreNotOfferedButPermissionIs)
{
    DesktopNotifier notifier(QDBusConnection::sessionBus());
    notifier.postNotification("s", "a <b> & c", QUrl("http://dl.kovra.example/plain"));
    ASSERT_TRUE(runUntil([&] { return !posted().empty(); }));
    EXPECT_EQ(posted()[0]["body"].toString(), "a &lt;b&gt; &amp; c");
    EXPECT_TRUE(posted()[0]["actions"].toArray().isEmpty());
    EXPECT_EQ(authorisation(QDBusConnection::sessionBus()), std::optional(true));
}

} // namespace
