// Reading an update feed (appcast RSS) and comparing versions: pure functions, no network,
// so the rules that decide what the user is told can be tested on their own.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <QUrl>

#include <optional>

namespace platform::linux_impl {

// A feed larger than this is refused unread; real feeds are a few kilobytes.
constexpr qint64 kAppcastMaxBytes = qint64{1024} * 1024;

// Orders two version texts: negative when a is older than b, 0 when equal, positive when newer.
// Digit runs compare as numbers (of any length), letter runs as text and rank below numbers
// (so "1.0b2" < "1.0" < "1.0.1"); any other character only separates runs.
int compareVersions(QStringView a, QStringView b);

// A version we are willing to compare: short, printable and holding at least one digit.
bool isUsableVersion(QStringView version);

struct AppcastItem {
    QString version;        // the machine-comparable version
    QString displayVersion; // what the user reads ("short version string", else the version)
    QUrl downloadURL;       // always https
};

// The newest usable item of the feed. None when the feed is too large, is not a well-formed
// RSS document, or has no item with a usable version and an https download link. Items for
// another operating system, and items whose link is not https, are skipped.
std::optional<AppcastItem> newestAppcastItem(const QByteArray& feed);

enum class UpdateOutcome { Available, UpToDate, Failed };

struct UpdateCheckResult {
    UpdateOutcome outcome = UpdateOutcome::Failed;
    AppcastItem item; // set when outcome is Available
};

// What a fetched feed means for the running version.
UpdateCheckResult evaluateAppcast(const QByteArray& feed, QStringView currentVersion);

// An https address with a host, and nothing else.
bool isSecureDownloadURL(const QUrl& url);

} // namespace platform::linux_impl
