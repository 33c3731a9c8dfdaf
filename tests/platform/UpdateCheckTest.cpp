// The update check end to end: a local https feed, a stand-in notification server on a private
// bus, and what the user would see and be able to click.
#include "platform/linux/DesktopNotifications.h"
#include "platform/linux/FeedUpdater.h"
#include "tests/platform/PlatformTestSupport.h"

#include <QDBusMessage>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace platform::linux_impl;
using kovra_test::Helper;
using kovra_test::PrivateBus;
using kovra_test::runUntil;
using kovra_test::ScopedEnv;

namespace {

const QString Python = QStringLiteral("/usr/bin/python3");

QByteArray feedWithVersion(const QByteArray& version)
{
    return "<?xml version=\"1.0\"?><rss version=\"2.0\" "
           "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel><item>"
           "<enclosure url=\"https://dl.kovra.example/kovra-radio-"
           + version + ".tar.gz?a=1&amp;b=2\" sparkle:version=\"" + version + "\"/></item></channel></rss>";
}

// One https feed server for the whole suite; each test writes the feed it needs.
class UpdateCheck : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        kovra_test::qtApp();
        dir = new QTemporaryDir;
        server =
            new Helper(Python, {KOVRA_FIXTURES_DIR "/feedserver.py", "--feed", dir->path() + "/appcast.xml"}, "READY");
    }
    static void TearDownTestSuite()
    {
        delete server;
        delete dir;
    }
    void SetUp() override
    {
        ASSERT_TRUE(server->ready()) << server->errors().toStdString();
        trustFeedCA = std::make_unique<ScopedEnv>("SSL_CERT_FILE", server->readyWords().value(1).toUtf8());
    }
    static QString url(const char* path)
    {
        return QStringLiteral("https://127.0.0.1:%1%2").arg(server->readyWords().value(0), QLatin1String(path));
    }
    static void publish(const QByteArray& feed)
    {
        QFile file(dir->path() + "/appcast.xml");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(feed);
    }
    // Runs one check against path and returns every result the controller reported.
    static std::vector<UpdateCheckResult> check(const char* path, UpdateFeedFetcher::Limits limits = {})
    {
        std::vector<UpdateCheckResult> results;
        FeedUpdaterController controller(
            true, url(path), "1.0.0", [&](const UpdateCheckResult& r) { results.push_back(r); }, limits);
        controller.checkForUpdates();
        runUntil([&] { return !controller.checking(); });
        return results;
    }

    static inline QTemporaryDir* dir = nullptr;
    static inline Helper* server = nullptr;
    std::unique_ptr<ScopedEnv> trustFeedCA;
};

TEST_F(UpdateCheck, ReadsTheFeedOverVerifiedHttpsAndFollowsHttpsRedirects)
{
    publish(feedWithVersion("1.4.2"));
    for (const char* path : {"/appcast.xml", "/redirect-https"}) {
        const auto results = check(path);
        ASSERT_EQ(results.size(), 1u) << path;
        EXPECT_EQ(results[0].outcome, UpdateOutcome::Available) << path;
        EXPECT_EQ(results[0].item.version, "1.4.2");
    }
    publish(feedWithVersion("1.0.0"));
    const auto same = check("/appcast.xml");
    ASSERT_EQ(same.size(), 1u);
    EXPECT_EQ(same[0].outcome, UpdateOutcome::UpToDate);
}

TEST_F(UpdateCheck, ServersThatLieStallOrFloodEndInOneFailedResult)
{
    publish(feedWithVersion("9.0"));
    UpdateFeedFetcher::Limits shortWait;
    shortWait.timeoutMs = 1500;
    const struct {
        const char* path;
        UpdateFeedFetcher::Limits limits;
    } cases[] = {
        {"/redirect-http", {}}, {"/huge", {}}, {"/huge-declared", {}}, {"/missing", {}}, {"/stall", shortWait},
    };
    for (const auto& c : cases) {
        const auto results = check(c.path, c.limits);
        ASSERT_EQ(results.size(), 1u) << c.path;
        EXPECT_EQ(results[0].outcome, UpdateOutcome::Failed) << c.path;
    }
}

TEST_F(UpdateCheck, AnUntrustedCertificateIsNeverAccepted)
{
    publish(feedWithVersion("9.0"));
    ScopedEnv noExtraCA("SSL_CERT_FILE", "/nonexistent.pem");
    const auto results = check("/appcast.xml");
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].outcome, UpdateOutcome::Failed);
}

TEST_F(UpdateCheck, OnlyHttpsFeedAddressesAreFetched)
{
    for (const QString& address : {QStringLiteral("http://127.0.0.1:1/appcast.xml"),
                                   QStringLiteral("file:///etc/passwd"), QStringLiteral("not a url"), QString()}) {
        std::vector<UpdateCheckResult> results;
        FeedUpdaterController controller(true, address, "1.0.0",
                                         [&](const UpdateCheckResult& r) { results.push_back(r); });
        controller.checkForUpdates();
        EXPECT_FALSE(controller.checking());
        ASSERT_EQ(results.size(), 1u) << address.toStdString();
        EXPECT_EQ(results[0].outcome, UpdateOutcome::Failed);
    }
}

TEST_F(UpdateCheck, ASecondClickWhileCheckingAndAnUnstartedUpdaterStartNothing)
{
    publish(feedWithVersion("2.0"));
    std::vector<UpdateCheckResult> results;
    FeedUpdaterController controller(true, url("/appcast.xml"), "1.0.0",
                                     [&](const UpdateCheckResult& r) { results.push_back(r); });
    controller.checkForUpdates();
    EXPECT_TRUE(controller.checking());
    controller.checkForUpdates();
    ASSERT_TRUE(runUntil([&] { return !controller.checking(); }));
    EXPECT_EQ(results.size(), 1u);

    controller.checkForUpdates(); // a later click checks again
    ASSERT_TRUE(runUntil([&] { return !controller.checking(); }));
    EXPECT_EQ(results.size(), 2u);

    std::vector<UpdateCheckResult> none;
    FeedUpdaterController idle(false, url("/appcast.xml"), "1.0.0",
                               [&](const UpdateCheckResult& r) { none.push_back(r); });
    idle.checkForUpdates();
    EXPECT_FALSE(idle.checking());
    EXPECT_TRUE(none.empty());
}

// --- the notification side ---

class Notifications : public UpdateCheck {
protected:
    void SetUp() override
    {
        UpdateCheck::SetUp();
        ASSERT_TRUE(bus.ok());
        ASSERT_TRUE(logDir.isValid());
    }
    std::unique_ptr<Helper> startNotificationServer(const QString& capabilities = "body,actions")
    {
        auto helper =
            std::make_unique<Helper>(Python,
                                     QStringList{KOVRA_FIXTURES_DIR "/notifyserver.py", "--address", bus.address(),
                                                 "--log", logPath(), "--capabilities", capabilities},
                                     "READY");
        EXPECT_TRUE(helper->ready()) << helper->errors().toStdString();
        return helper;
    }
    QString logPath() const { return logDir.path() + "/notify.jsonl"; }
    std::vector<QJsonObject> posted() const
    {
        std::vector<QJsonObject> out;
        QFile file(logPath());
        if (!file.open(QIODevice::ReadOnly))
            return out;
        for (const QByteArray& line : file.readAll().split('\n')) {
            if (!line.trimmed().isEmpty())
                out.push_back(QJsonDocument::fromJson(line).object());
        }
        return out;
    }
    // What a click on the notification's button sends us.
    void click(uint id, const QString& key)
    {
        QDBusMessage m =
            QDBusMessage::createMethodCall("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                           "org.kovra.test.NotifyServer", "InvokeAction");
        m << id << key;
        bus.connection().call(m);
    }

    PrivateBus bus;
    QTemporaryDir logDir;
};

TEST_F(Notifications, ANewerVersionIsToldOnceWithADownloadTheUserCanOpen)
{
    auto server = startNotificationServer();
    publish(feedWithVersion("2.5"));
    DesktopNotifier notifier(bus.connection());
    std::vector<QUrl> opened;
    notifier.setUrlOpener([&](const QUrl& u) {
        opened.push_back(u);
        return true;
    });
    FeedUpdaterController controller(true, url("/appcast.xml"), "1.0.0",
                                     [&](const UpdateCheckResult& r) { notifyUpdateResult(notifier, r, "1.0.0"); });

    controller.checkForUpdates();
    controller.checkForUpdates();
    ASSERT_TRUE(runUntil([&] { return posted().size() >= 1; }));
    // A marker posted afterwards proves nothing else was on its way before it.
    notifier.postNotification("marker", "");
    ASSERT_TRUE(runUntil([&] { return posted().size() >= 2; }));
    const auto all = posted();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[1]["summary"].toString(), "marker");

    const QJsonObject n = all[0];
    EXPECT_EQ(n["app_name"].toString(), "Kovra Radio");
    EXPECT_EQ(n["app_icon"].toString(), "kovra-radio");
    EXPECT_EQ(n["summary"].toString(), "Kovra Radio 2.5 is available");
    const QString link = "https://dl.kovra.example/kovra-radio-2.5.tar.gz?a=1&b=2";
    EXPECT_TRUE(n["body"].toString().contains(link)) << n["body"].toString().toStdString();
    EXPECT_EQ(n["actions"].toVariant().toStringList(), QStringList({"default", "Download", "download", "Download"}));
    EXPECT_EQ(n["hints"].toObject()["desktop-entry"].toString(), "kovra-radio");

    // The marker replaced the update notification on screen, so its button is gone; a fresh one works.
    const uint markerId = uint(all[1]["id"].toInt());
    click(markerId, "download");
    controller.checkForUpdates();
    ASSERT_TRUE(runUntil([&] { return posted().size() >= 3; }));
    const uint id = uint(posted()[2]["id"].toInt());
    runUntil([&] { return !controller.checking(); });
    click(id, "something-else");
    click(id + 1000, "download");
    click(id, "default");
    ASSERT_TRUE(runUntil([&] { return !opened.empty(); }));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl(link));
}

TEST_F(Notifications, UpToDateAndFailureAreToldWithoutAnAction)
{
    auto server = startNotificationServer();
    DesktopNotifier notifier(bus.connection());
    publish(feedWithVersion("0.9"));
    FeedUpdaterController upToDate(true, url("/appcast.xml"), "1.0.0",
                                   [&](const UpdateCheckResult& r) { notifyUpdateResult(notifier, r, "1.0.0"); });
    upToDate.checkForUpdates();
    ASSERT_TRUE(runUntil([&] { return posted().size() >= 1; }));
    FeedUpdaterController broken(true, url("/huge"), "1.0.0",
                                 [&](const UpdateCheckResult& r) { notifyUpdateResult(notifier, r, "1.0.0"); });
    broken.checkForUpdates();
    ASSERT_TRUE(runUntil([&] { return posted().size() >= 2; }));
    const auto all = posted();
    EXPECT_EQ(all[0]["summary"].toString(), "Kovra Radio is up to date");
    EXPECT_EQ(all[1]["summary"].toString(), "Could not check for updates");
    EXPECT_TRUE(all[0]["actions"].toArray().isEmpty());
    EXPECT_TRUE(all[1]["actions"].toArray().isEmpty());
    EXPECT_EQ(all[1]["replaces_id"].toInt(), all[0]["id"].toInt()) << "one update notification at a time";
}

TEST_F(Notifications, MarkupServersGetTheBodyEscapedAndPlainLinksAreNotOffered)
{
    auto server = startNotificationServer("body,actions,body-markup");
    DesktopNotifier notifier(bus.connection());
    notifier.postNotification("s", "a <b> & c", QUrl("http://dl.kovra.example/plain"));
    ASSERT_TRUE(runUntil([&] { return posted().size() >= 1; }));
    EXPECT_EQ(posted()[0]["body"].toString(), "a &lt;b&gt; &amp; c");
    EXPECT_TRUE(posted()[0]["actions"].toArray().isEmpty());
}

TEST_F(Notifications, TheAuthorisationRequestIsAnsweredLaterWithOrWithoutAServer)
{
    struct Answer {
        bool called = false;
        bool granted = false;
        std::optional<std::string> error;
    };
    auto ask = [](DesktopNotificationCenter& center) {
        auto answer = std::make_shared<Answer>();
        center.requestAuthorization(platform::AuthorizationOptionAlert,
                                    [answer](bool granted, std::optional<std::string> error) {
                                        *answer = {true, granted, std::move(error)};
                                    });
        EXPECT_FALSE(answer->called) << "the request never answers inside the call";
        runUntil([&] { return answer->called; });
        return *answer;
    };

    DesktopNotificationCenter noServer(bus.connection());
    const Answer none = ask(noServer);
    EXPECT_TRUE(none.called);
    EXPECT_FALSE(none.granted);
    EXPECT_TRUE(none.error.has_value());

    DesktopNotificationCenter noBus(QDBusConnection(QStringLiteral("kovra-no-such-connection")));
    const Answer unconnected = ask(noBus);
    EXPECT_TRUE(unconnected.called);
    EXPECT_FALSE(unconnected.granted);

    auto server = startNotificationServer();
    DesktopNotificationCenter center(bus.connection());
    const Answer answered = ask(center);
    EXPECT_TRUE(answered.called);
    EXPECT_TRUE(answered.granted);
    EXPECT_FALSE(answered.error.has_value());

    // Posting with no bus at all loses the notification and nothing else.
    DesktopNotifier lost(QDBusConnection(QStringLiteral("kovra-no-such-connection")));
    lost.postNotification("s", "b", QUrl("https://dl.kovra.example/x"));
}

} // namespace
