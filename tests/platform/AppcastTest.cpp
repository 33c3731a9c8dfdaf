// Update feed reading and version ordering: what the update check concludes from a feed.
#include "platform/linux/desktop/AppcastFeed.h"

#include <gtest/gtest.h>

using namespace platform::linux_impl;

namespace {

QByteArray feedWith(const QByteArray& items)
{
    return "<?xml version=\"1.0\"?><rss version=\"2.0\" "
           "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel>"
           + items + "</channel></rss>\n";
}

QByteArray item(const QByteArray& version, const QByteArray& url, const QByteArray& extra = {})
{
    return "<item><enclosure url=\"" + url + "\" sparkle:version=\"" + version + "\" " + extra + "/></item>";
}

TEST(VersionOrder, NumbersAsNumbersAndPreReleasesBelowReleases)
{
    const QStringList ascending = QStringLiteral("0.1 0.9.9 1.0a2 1.0b1 1.0b2 1.0b10 1.0 1.0.1 1.9 1.10 2 "
                                                 "99999999999999999999 100000000000000000000")
                                      .split(u' ');
    for (qsizetype i = 1; i < ascending.size(); ++i) {
        EXPECT_LT(compareVersions(ascending[i - 1], ascending[i]), 0) << ascending[i - 1].toStdString();
        EXPECT_GT(compareVersions(ascending[i], ascending[i - 1]), 0) << ascending[i].toStdString();
    }
    for (auto [a, b] : {std::pair{"1.0", "1.0.0"}, {"1.02", "1.2"}, {"1.0", "1-0"}, {"1.0B1", "1.0b1"}})
        EXPECT_EQ(compareVersions(QString::fromLatin1(a), QString::fromLatin1(b)), 0) << a << " = " << b;
    EXPECT_LT(compareVersions(u"garbage", u"0.1"), 0);
    EXPECT_LT(compareVersions(u"", u"1"), 0);
    for (const QString& unusable : {QStringLiteral("latest"), QStringLiteral("1.0\n2.0"), QString(65, u'1')})
        EXPECT_FALSE(isUsableVersion(unusable)) << unusable.toStdString();
}

TEST(Appcast, TheNewestUsableHttpsItemForThisSystemIsOffered)
{
    const auto feed = feedWith(item("9.0", "http://dl.kovra.example/plain-http") + item("8.0", "javascript:alert(1)")
                               + item("7.0", "file:///etc/passwd") + item("6.5", "https:///no-host")
                               + item("6.0", "https://user:pw@dl.kovra.example/x")
                               + item("latest", "https://dl.kovra.example/no-version")
                               + item("5.9", "https://dl.kovra.example/win", "sparkle:os=\"windows\"")
                               + "<item><enclosure url=\"https://dl.kovra.example/missing-version\"/></item>"
                               + item("1.2.0", "https://dl.kovra.example/1.2", "sparkle:shortVersionString=\"1.2\"")
                               + item("1.1.0", "https://dl.kovra.example/1.1"));
    const auto result = evaluateAppcast(feed, u"1.0.0");
    ASSERT_EQ(result.outcome, UpdateOutcome::Available);
    EXPECT_EQ(result.item.version, "1.2.0");
    EXPECT_EQ(result.item.displayVersion, "1.2");
    EXPECT_EQ(result.item.downloadURL, QUrl("https://dl.kovra.example/1.2"));

    EXPECT_EQ(evaluateAppcast(feed, u"1.2").outcome, UpdateOutcome::UpToDate);
    EXPECT_EQ(evaluateAppcast(feed, u"2.0").outcome, UpdateOutcome::UpToDate);
}

TEST(Appcast, VersionsMayComeAsElementsAndTheLinkAsTheItemLink)
{
    const auto newest =
        newestAppcastItem(feedWith("<item><sparkle:version>3.0</sparkle:version>"
                                   "<sparkle:shortVersionString>3.0&#x202E;1</sparkle:shortVersionString>"
                                   "<link>https://kovra.example/download</link></item>"));
    ASSERT_TRUE(newest);
    EXPECT_EQ(newest->version, "3.0");
    EXPECT_EQ(newest->displayVersion, "3.0"); // an unprintable display version falls back to the version
    EXPECT_EQ(newest->downloadURL, QUrl("https://kovra.example/download"));
}

TEST(Appcast, AFeedThatIsNotAWellFormedAppcastIsRefusedWhole)
{
    const QByteArray good = item("2.0", "https://dl.kovra.example/x");
    const QByteArray bomb =
        "<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">"
        "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
        "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\"><!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">"
        "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\"><!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\">]>"
        "<rss xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel><item>"
        "<sparkle:version>&g;</sparkle:version><link>https://dl.kovra.example/x</link></item></channel></rss>";
    const QByteArray refused[] = {
        "",
        "<html><body>Sign in to the hotel Wi-Fi</body></html>",
        feedWith(good).left(feedWith(good).size() - 20),    // cut short
        feedWith(good + "<item><unclosed></item>"),         // malformed
        "<rss><channel>" + good + "</channel></rss>",       // prefix never declared
        feedWith(""),                                       // no items
        feedWith(good + QByteArray(kAppcastMaxBytes, ' ')), // too large
        bomb,
        QByteArray("\x00\x01\x02\xff", 4),
    };
    for (const QByteArray& feed : refused)
        EXPECT_EQ(evaluateAppcast(feed, u"1.0.0").outcome, UpdateOutcome::Failed) << feed.left(80).toStdString();
}

} // namespace
