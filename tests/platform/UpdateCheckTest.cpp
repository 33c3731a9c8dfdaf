// The update check end to end: a local feed (tests/fixtures/WebHost.h) and python3-dbusmock's
// notification server on the private session bus each test runs on (dbus-run-session), and what
// the user would see and be able to click.
#include "platform/linux/desktop/DesktopNotifications.h"
#include "platform/linux/desktop/FeedUpdater.h"
#include "tests/fixtures/WebHost.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

using namespace platform::linux_impl;
using kovra_test::httpReply;
using kovra_test::runUntil;
using kovra_test::ScopedEnv;
using kovra_test::WebHost;

namespace {

const QString noBus = QStringLiteral("kovra-no-such-connection");
const QString kServer = QStringLiteral("org.freedesktop.Notifications");

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

// A method of the notification server's mock interface.
QDBusMessage mock(const char* method)
{
    return QDBusMessage::createMethodCall(kServer, QStringLiteral("/org/freedesktop/Notifications"),
                                          QStringLiteral("org.freedesktop.DBus.Mock"), method);
}

class UpdateCheck : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* bus = QDBusConnection::sessionBus().interface();
        ASSERT_TRUE(runUntil([&] { return bus->isServiceRegistered(kServer); }));
    }
    QString url(const char* path) const { return "https://" + feed.authority() + path; }

    // Runs one check of the feed at address, as version 1.0.0; returns every result reported. The
    // fetcher's timeout outlasts the wait for a result, so a result comes from the fetcher's own rules.
    static std::vector<UpdateCheckResult> check(const QString& address, int timeoutMs = 60000)
    {
        std::vector<UpdateCheckResult> results;
        UpdateFeedFetcher::Limits limits;
        limits.timeoutMs = timeoutMs;
        FeedUpdaterController controller(
            true, address, "1.0.0", [&](const UpdateCheckResult& r) { results.push_back(r); }, limits);
        controller.checkForUpdates();
        runUntil([&] { return !controller.checking(); });
        return results;
    }
    // The arguments of each Notify call the server received, oldest first.
    enum Argument { AppName, ReplacesId, Icon, Summary, Body, Actions, Hints };
    static QList<QVariantList> posted()
    {
        using Calls = QList<std::pair<quint64, QVariantList>>; // each call's time and arguments
        const QDBusMessage reply = QDBusConnection::sessionBus().call(mock("GetMethodCalls") << "Notify");
        QList<QVariantList> calls;
        for (const auto& [time, arguments] : qdbus_cast<Calls>(reply.arguments().value(0)))
            calls << arguments;
        return calls;
    }
    // What a click on a notification's button sends us.
    static void click(uint id, const QString& key)
    {
        QDBusConnection::sessionBus().call(mock("EmitSignal") << kServer << "ActionInvoked"
                                                              << "us" << QVariantList{id, key});
    }

    const QByteArray appcast =
        "<?xml version=\"1.0\"?><rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/"
        "xml-namespaces/sparkle\"><channel><item><enclosure url=\"https://dl.kovra.example/kovra-radio-"
        "2.5.tar.gz?a=1&amp;b=2\" sparkle:version=\"2.5\"/></item></channel></rss>";
    // The feed over plain http too, where no redirect may lead.
    WebHost plain{[this](const QString&, const QString&) { return httpReply("200 OK", appcast); }, WebHost::Plain};
    // The feed, redirects to it, and servers that lie or flood; at any other path one that never answers.
    const QHash<QString, QByteArray> replies = {
        {"/appcast.xml", httpReply("200 OK", appcast)},
        {"/redirect-https", httpReply("302 Found", {}, "Location: /appcast.xml\r\n")},
        {"/redirect-http", httpReply("302 Found", {}, "Location: http://" + plain.authority().toLatin1() + "/\r\n")},
        {"/huge", "HTTP/1.1 200 OK\r\n\r\n" + appcast + QByteArray(kAppcastMaxBytes, ' ')}, // of no length told
        {"/huge-declared", "HTTP/1.1 200 OK\r\nContent-Length: 67108864\r\n\r\n<rss>"},
        {"/missing", httpReply("404 Not Found", {})},
    };
    WebHost feed{[this](const QString& path, const QString&) { return replies.value(path); }};
    kovra_test::Process server{"/usr/bin/python3",
                               {"-m", "dbusmock", "--template", "notification_daemon", "--parameters",
                                R"({"capabilities": "body actions body-markup"})"}};
};

TEST_F(UpdateCheck, OnlyVerifiedHttpsIsReadAndServersThatLieStallOrFloodEndInOneFailedResult)
{
    const QString good[] = {url("/appcast.xml"), url("/redirect-https")};
    for (const QString& address : {good[0], good[1], url("/redirect-http"), url("/huge"), url("/huge-declared"),
                                   url("/missing"), url("/stall"), "http://" + plain.authority() + "/appcast.xml",
                                   QStringLiteral("file:///etc/passwd"), QStringLiteral("not a url")}) {
        const auto results = check(address, address.endsWith("/stall") ? 1500 : 60000);
        ASSERT_EQ(results.size(), 1u) << address.toStdString();
        const bool available = std::count(std::begin(good), std::end(good), address) > 0;
        EXPECT_EQ(results[0].outcome, available ? UpdateOutcome::Available : UpdateOutcome::Failed)
            << address.toStdString();
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
    ASSERT_EQ(all.size(), 2);
    EXPECT_EQ(all[0][AppName].toString(), "Kovra Radio");
    const QString link = "https://dl.kovra.example/kovra-radio-2.5.tar.gz?a=1&b=2";
    EXPECT_EQ(all[0][Actions].toStringList(), QStringList({"default", "Download", "download", "Download"}));
    EXPECT_EQ(qdbus_cast<QVariantMap>(all[0][Hints])["desktop-entry"].toString(), "org.kovra.Radio");

    // The marker replaced it on screen (keeping its id), so its button is gone; only a real click
    // on ours opens the link.
    const uint shown = all[1][ReplacesId].toUInt();
    ASSERT_NE(shown, 0u);
    click(shown, "download");
    controller.checkForUpdates();
    ASSERT_TRUE(runUntil([&] { return !controller.checking() && posted().size() >= 3; }));
    EXPECT_EQ(posted()[2][ReplacesId].toUInt(), shown); // one notice of ours on screen
    EXPECT_TRUE(opened.empty()) << "the replaced notice's button still led to the link";
    click(shown, "something-else");
    click(shown + 1000, "download");
    click(shown, "default");
    ASSERT_TRUE(runUntil([&] { return !opened.empty(); }));
    EXPECT_EQ(opened, std::vector<QUrl>{QUrl(link)});
}

TEST_F(UpdateCheck, ServersGetMarkupEscapedAndPlainLinksAreNotOfferedButPermissionIs)
{
    DesktopNotifier notifier(QDBusConnection::sessionBus());
    notifier.postNotification("s", "a <b> & c", QUrl("http://dl.kovra.example/plain"));
    ASSERT_TRUE(runUntil([&] { return !posted().empty(); }));
    EXPECT_EQ(posted()[0][Body].toString(), "a &lt;b&gt; &amp; c");
    EXPECT_EQ(posted()[0][Actions].toStringList(), QStringList());
    EXPECT_EQ(authorisation(QDBusConnection::sessionBus()), std::optional(true));
}

} // namespace
