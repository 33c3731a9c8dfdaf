// Appcast parsing and version ordering for the update check.
#include "platform/linux/desktop/AppcastFeed.h"

#include <QXmlStreamReader>

namespace platform::linux_impl {

namespace {

// The appcast format's own XML namespace for its version attributes and elements.
const QString kAppcastNamespace = QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");
constexpr qsizetype kMaxVersionLength = 64;

enum class RunKind { Number, Letters };

struct Run {
    RunKind kind;
    QStringView text;
};

// The next digit or letter run at or after pos; other characters are separators.
std::optional<Run> nextRun(QStringView s, qsizetype& pos)
{
    auto isDigit = [](QChar c) { return c >= u'0' && c <= u'9'; };
    auto isLetter = [](QChar c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); };
    while (pos < s.size() && !isDigit(s[pos]) && !isLetter(s[pos]))
        ++pos;
    if (pos >= s.size())
        return std::nullopt;
    const bool digits = isDigit(s[pos]);
    const qsizetype start = pos;
    while (pos < s.size() && (digits ? isDigit(s[pos]) : isLetter(s[pos])))
        ++pos;
    return Run{digits ? RunKind::Number : RunKind::Letters, s.mid(start, pos - start)};
}

// Numbers of any length, without overflow: fewer significant digits is smaller.
int compareNumbers(QStringView a, QStringView b)
{
    while (a.size() > 1 && a.front() == u'0')
        a = a.mid(1);
    while (b.size() > 1 && b.front() == u'0')
        b = b.mid(1);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

int sign(int v) { return (v > 0) - (v < 0); }

// The other version has ended; what is left of this one (starting with run) decides:
// trailing zeros change nothing ("1.0" == "1.0.0"), a further number makes it newer, and a
// letter tag marks a pre-release of the shorter one ("1.0b1" < "1.0").
int restAfterEnd(Run run, QStringView s, qsizetype pos)
{
    for (std::optional<Run> r = run; r; r = nextRun(s, pos)) {
        if (r->kind == RunKind::Letters)
            return -1;
        if (compareNumbers(r->text, u"0") != 0)
            return 1;
    }
    return 0;
}

bool isPrintableLine(QStringView s)
{
    for (QChar c : s) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format || c == QChar::LineSeparator
            || c == QChar::ParagraphSeparator)
            return false;
    }
    return true;
}

struct Candidate {
    QString version;
    QString shortVersion;
    QString enclosureURL;
    QString linkText;
    bool otherSystem = false;
};

void readEnclosure(QXmlStreamReader& xml, Candidate& item)
{
    const auto attributes = xml.attributes();
    const QString os = attributes.value(kAppcastNamespace, QLatin1String("os")).toString().trimmed();
    const bool forUs = os.isEmpty() || os.compare(u"linux", Qt::CaseInsensitive) == 0;
    // The first enclosure meant for this system wins; a later one fills only what is missing.
    if (forUs && item.enclosureURL.isEmpty()) {
        item.enclosureURL = attributes.value(QLatin1String("url")).toString().trimmed();
        if (item.version.isEmpty())
            item.version = attributes.value(kAppcastNamespace, QLatin1String("version")).toString().trimmed();
        if (item.shortVersion.isEmpty())
            item.shortVersion =
                attributes.value(kAppcastNamespace, QLatin1String("shortVersionString")).toString().trimmed();
    } else if (!forUs && item.enclosureURL.isEmpty()) {
        item.otherSystem = true;
    }
    xml.skipCurrentElement();
}

Candidate readItem(QXmlStreamReader& xml)
{
    Candidate item;
    while (xml.readNextStartElement()) {
        const auto ns = xml.namespaceUri();
        const auto name = xml.name();
        if (ns.isEmpty() && name == u"enclosure") {
            readEnclosure(xml, item);
        } else if (ns.isEmpty() && name == u"link") {
            item.linkText = xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
        } else if (ns == kAppcastNamespace && name == u"version") {
            item.version = xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
        } else if (ns == kAppcastNamespace && name == u"shortVersionString") {
            item.shortVersion = xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
        } else {
            xml.skipCurrentElement();
        }
    }
    return item;
}

std::optional<AppcastItem> usableItem(const Candidate& c)
{
    // An enclosure only for another system means this release is not ours to offer.
    if (c.enclosureURL.isEmpty() && c.otherSystem)
        return std::nullopt;
    if (!isUsableVersion(c.version))
        return std::nullopt;
    const QUrl url(c.enclosureURL.isEmpty() ? c.linkText : c.enclosureURL, QUrl::StrictMode);
    if (!isSecureDownloadURL(url))
        return std::nullopt;
    const bool shortIsFit =
        !c.shortVersion.isEmpty() && c.shortVersion.size() <= kMaxVersionLength && isPrintableLine(c.shortVersion);
    return AppcastItem{c.version, shortIsFit ? c.shortVersion : c.version, url};
}

} // namespace

int compareVersions(QStringView a, QStringView b)
{
    qsizetype pa = 0;
    qsizetype pb = 0;
    for (;;) {
        const auto ra = nextRun(a, pa);
        const auto rb = nextRun(b, pb);
        if (!ra && !rb)
            return 0;
        if (!ra)
            return -restAfterEnd(*rb, b, pb);
        if (!rb)
            return restAfterEnd(*ra, a, pa);
        if (ra->kind != rb->kind)
            return ra->kind == RunKind::Number ? 1 : -1;
        const int c = ra->kind == RunKind::Number ? compareNumbers(ra->text, rb->text)
                                                  : sign(ra->text.compare(rb->text, Qt::CaseInsensitive));
        if (c != 0)
            return sign(c);
    }
}

bool isUsableVersion(QStringView version)
{
    if (version.isEmpty() || version.size() > kMaxVersionLength || !isPrintableLine(version))
        return false;
    for (QChar c : version) {
        if (c >= u'0' && c <= u'9')
            return true;
    }
    return false;
}

bool isSecureDownloadURL(const QUrl& url)
{
    return url.isValid() && url.scheme() == u"https" && !url.host().isEmpty() && url.userInfo().isEmpty();
}

std::optional<AppcastItem> newestAppcastItem(const QByteArray& feed)
{
    if (feed.size() > kAppcastMaxBytes)
        return std::nullopt;
    QXmlStreamReader xml(feed);
    if (!xml.readNextStartElement() || xml.name() != u"rss" || !xml.namespaceUri().isEmpty())
        return std::nullopt;

    std::optional<AppcastItem> newest;
    while (xml.readNextStartElement()) {
        if (xml.name() != u"channel" || !xml.namespaceUri().isEmpty()) {
            xml.skipCurrentElement();
            continue;
        }
        while (xml.readNextStartElement()) {
            if (xml.name() != u"item" || !xml.namespaceUri().isEmpty()) {
                xml.skipCurrentElement();
                continue;
            }
            const auto item = usableItem(readItem(xml));
            if (item && (!newest || compareVersions(item->version, newest->version) > 0))
                newest = item;
        }
    }
    // Read to the end: a truncated or malformed document is refused as a whole.
    while (!xml.atEnd())
        xml.readNext();
    if (xml.hasError())
        return std::nullopt;
    return newest;
}

UpdateCheckResult evaluateAppcast(const QByteArray& feed, QStringView currentVersion)
{
    const auto newest = newestAppcastItem(feed);
    if (!newest)
        return {};
    if (compareVersions(newest->version, currentVersion) > 0)
        return {UpdateOutcome::Available, *newest};
    return {UpdateOutcome::UpToDate, {}};
}

} // namespace platform::linux_impl
