// Update feed reading and version ordering: what the update check concludes from a feed.
#include "platform/linux/AppcastFeed.h"
#include "platform/linux/FeedUpdater.h"

#include <gtest/gtest.h>

using namespace platform::linux_impl;

namespace {

QByteArray feedWith(const QByteArray& items)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">\n"
           "<channel><title>Kovra Radio</title>\n"
           + items + "</channel></rss>\n";
}

QByteArray enclosureItem(const QByteArray& version, const QByteArray& url, const QByteArray& shortVersion = {})
{
    QByteArray item = "<item><title>Version " + version + "</title><enclosure url=\"" + url + "\" sparkle:version=\""
                      + version + "\"";
    if (!shortVersion.isEmpty())
        item += " sparkle:shortVersionString=\"" + shortVersion + "\"";
    return item + " length=\"100\" type=\"application/octet-stream\"/></item>\n";
}

TEST(VersionOrder, ComparesNumbersAsNumbersAndPreReleasesBelowReleases)
{
    const struct {
        const char* older;
        const char* newer;
    } ordered[] = {
        {"1.0", "1.1"},      {"1.9", "1.10"},
        {"1.0", "1.0.1"},    {"0.9.9", "1.0"},
        {"1.0b1", "1.0"},    {"1.0a2", "1.0b1"},
        {"1.0b2", "1.0b10"}, {"1.0", "2"},
        {"1.0.0b1", "1.0"},  {"99999999999999999999", "100000000000000000000"},
        {"garbage", "0.1"},  {"", "1"},
    };
    for (const auto& pair : ordered) {
        EXPECT_LT(compareVersions(QString::fromLatin1(pair.older), QString::fromLatin1(pair.newer)), 0)
            << pair.older << " < " << pair.newer;
        EXPECT_GT(compareVersions(QString::fromLatin1(pair.newer), QString::fromLatin1(pair.older)), 0)
            << pair.newer << " > " << pair.older;
    }
    const struct {
        const char* a;
        const char* b;
    } same[] = {{"1.0", "1.0.0"}, {"1.02", "1.2"}, {"1.0", "1-0"}, {"1.0B1", "1.0b1"}, {"", ""}};
    for (const auto& pair : same)
        EXPECT_EQ(compareVersions(QString::fromLatin1(pair.a), QString::fromLatin1(pair.b)), 0)
            << pair.a << " = " << pair.b;
}

TEST(VersionOrder, OnlyShortPrintableVersionsWithADigitAreUsed)
{
    EXPECT_TRUE(isUsableVersion(u"1.2.3"));
    EXPECT_TRUE(isUsableVersion(u"2024b"));
    EXPECT_FALSE(isUsableVersion(u""));
    EXPECT_FALSE(isUsableVersion(u"latest"));
    EXPECT_FALSE(isUsableVersion(u"1.0\n2.0"));
    EXPECT_FALSE(isUsableVersion(QString(65, u'1')));
}

TEST(Appcast, ANewerVersionIsOfferedWithItsHttpsDownload)
{
    const auto feed = feedWith(enclosureItem("1.0.0", "https://dl.kovra.example/kovra-radio-1.0.0.tar.gz")
                               + enclosureItem("1.2.0", "https://dl.kovra.example/kovra-radio-1.2.0.tar.gz", "1.2")
                               + enclosureItem("1.1.0", "https://dl.kovra.example/kovra-radio-1.1.0.tar.gz"));
    const auto result = evaluateAppcast(feed, u"1.0.0");
    ASSERT_EQ(result.outcome, UpdateOutcome::Available);
    EXPECT_EQ(result.item.version, "1.2.0");
    EXPECT_EQ(result.item.displayVersion, "1.2");
    EXPECT_EQ(result.item.downloadURL, QUrl("https://dl.kovra.example/kovra-radio-1.2.0.tar.gz"));

    const auto message = updateMessage(result, "1.0.0");
    EXPECT_EQ(message.summary, "Kovra Radio 1.2 is available");
    EXPECT_TRUE(message.body.contains("https://dl.kovra.example/kovra-radio-1.2.0.tar.gz"));
    EXPECT_EQ(message.link, result.item.downloadURL);
}

TEST(Appcast, TheSameOrAnOlderVersionIsUpToDate)
{
    const auto feed = feedWith(enclosureItem("1.0.0", "https://dl.kovra.example/a")
                               + enclosureItem("0.9", "https://dl.kovra.example/b"));
    EXPECT_EQ(evaluateAppcast(feed, u"1.0.0").outcome, UpdateOutcome::UpToDate);
    EXPECT_EQ(evaluateAppcast(feed, u"1.0").outcome, UpdateOutcome::UpToDate);
    EXPECT_EQ(evaluateAppcast(feed, u"2.0").outcome, UpdateOutcome::UpToDate);
    EXPECT_EQ(evaluateAppcast(feed, u"1.0b3").outcome, UpdateOutcome::Available);

    const auto message = updateMessage(evaluateAppcast(feed, u"1.0.0"), "1.0.0");
    EXPECT_EQ(message.summary, "Kovra Radio is up to date");
    EXPECT_TRUE(message.link.isEmpty());
}

TEST(Appcast, VersionsMayComeAsElementsAndTheLinkAsTheItemLink)
{
    const auto feed = feedWith("<item><sparkle:version>3.0</sparkle:version>"
                               "<sparkle:shortVersionString>3.0 \"Aurora\"</sparkle:shortVersionString>"
                               "<link>https://kovra.example/download</link></item>");
    const auto newest = newestAppcastItem(feed);
    ASSERT_TRUE(newest);
    EXPECT_EQ(newest->version, "3.0");
    EXPECT_EQ(newest->displayVersion, "3.0 \"Aurora\"");
    EXPECT_EQ(newest->downloadURL, QUrl("https://kovra.example/download"));
}

TEST(Appcast, ItemsWithoutAnHttpsLinkOrAUsableVersionAreSkipped)
{
    const auto feed = feedWith(
        enclosureItem("9.0", "http://dl.kovra.example/plain-http") + enclosureItem("8.0", "javascript:alert(1)")
        + enclosureItem("7.0", "file:///etc/passwd") + enclosureItem("6.0", "https:///no-host")
        + enclosureItem("5.0", "https://user:pw@dl.kovra.example/x")
        + enclosureItem("latest", "https://dl.kovra.example/no-version")
        + "<item><enclosure url=\"https://dl.kovra.example/missing-version\"/></item>"
        + "<item><enclosure sparkle:version=\"4.0\"/></item>" + enclosureItem("1.1", "https://dl.kovra.example/good"));
    const auto newest = newestAppcastItem(feed);
    ASSERT_TRUE(newest);
    EXPECT_EQ(newest->version, "1.1");
    EXPECT_EQ(newest->downloadURL.host(), "dl.kovra.example");
}

TEST(Appcast, ReleasesForAnotherSystemAreNotOffered)
{
    const auto feed = feedWith(
        "<item><enclosure url=\"https://dl.kovra.example/win\" sparkle:version=\"5.0\" sparkle:os=\"windows\"/></item>"
        "<item><enclosure url=\"https://dl.kovra.example/mac\" sparkle:version=\"6.0\" sparkle:os=\"macos\"/>"
        "<enclosure url=\"https://dl.kovra.example/linux\" sparkle:version=\"5.5\" sparkle:os=\"linux\"/></item>"
        + enclosureItem("1.0.0", "https://dl.kovra.example/old"));
    const auto newest = newestAppcastItem(feed);
    ASSERT_TRUE(newest);
    EXPECT_EQ(newest->version, "5.5");
    EXPECT_EQ(newest->downloadURL, QUrl("https://dl.kovra.example/linux"));
}

TEST(Appcast, AFeedThatIsNotAWellFormedAppcastIsRefusedWhole)
{
    const QByteArray good = enclosureItem("2.0", "https://dl.kovra.example/x");
    const QByteArray refused[] = {
        "",
        "not xml at all",
        "<html><body>Sign in to the hotel Wi-Fi</body></html>",
        "{\"version\": \"2.0\"}",
        feedWith(good).left(feedWith(good).size() - 20),             // cut short
        feedWith(good + "<item><unclosed></item>"),                  // malformed
        "<rss><channel>" + good + "</channel></rss>",                // prefix never declared
        feedWith(""),                                                // no items
        feedWith(enclosureItem("2.0", "http://dl.kovra.example/x")), // only a plain-http item
        QByteArray("\x00\x01\x02\xff", 4),
    };
    for (const QByteArray& feed : refused) {
        EXPECT_FALSE(newestAppcastItem(feed)) << feed.left(80).toStdString();
        EXPECT_EQ(evaluateAppcast(feed, u"1.0.0").outcome, UpdateOutcome::Failed);
    }
    EXPECT_EQ(updateMessage(evaluateAppcast("garbage", u"1.0.0"), "1.0.0").summary, "Could not check for updates");
}

TEST(Appcast, OversizedAndExpandingFeedsAreRefused)
{
    QByteArray huge = feedWith(enclosureItem("2.0", "https://dl.kovra.example/x") + QByteArray(kAppcastMaxBytes, ' '));
    EXPECT_FALSE(newestAppcastItem(huge));

    const QByteArray bomb =
        "<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">"
        "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
        "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\"><!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">"
        "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\"><!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\">]>"
        "<rss xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel><item>"
        "<sparkle:version>&g;</sparkle:version><link>https://dl.kovra.example/x</link></item></channel></rss>";
    EXPECT_FALSE(newestAppcastItem(bomb));
}

TEST(Appcast, AnUnprintableOrLongDisplayVersionFallsBackToTheVersion)
{
    const auto feed = feedWith(enclosureItem("2.0", "https://dl.kovra.example/x", "2.0&#x202E;3.0"));
    const auto newest = newestAppcastItem(feed);
    ASSERT_TRUE(newest);
    EXPECT_EQ(newest->displayVersion, "2.0");
}

} // namespace
