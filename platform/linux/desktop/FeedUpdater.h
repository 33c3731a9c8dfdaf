// The update check: fetches the appcast over https (bounded in time and size, redirects only to
// https), weighs it against our version and tells the result once.
#pragma once

#include "platform/Updater.h"
#include "platform/linux/desktop/AppcastFeed.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

#include <QNetworkReply>

class QNetworkAccessManager;

namespace platform::linux_impl {

class DesktopNotifier;

struct UpdateFetchLimits {
    int timeoutMs = 15000; // for the whole fetch, redirects included
    qint64 maxBytes = kAppcastMaxBytes;
    int maxRedirects = 5;
};

// One fetch at a time; the body arrives only when complete, within the limits and over https.
class UpdateFeedFetcher final : public QObject {
    Q_OBJECT
public:
    using Limits = UpdateFetchLimits;
    using Completion = std::function<void(std::optional<QByteArray> body)>;

    explicit UpdateFeedFetcher(Limits limits = {}, QObject* parent = nullptr);
    ~UpdateFeedFetcher() override;

    bool busy() const { return reply_ != nullptr; }
    // False (and no completion) when busy or the address is not https.
    bool fetch(const QUrl& url, Completion completion);

private:
    void finish(std::optional<QByteArray> body);
    void abortReply();

    Limits limits_;
    // Made at the first check: start-up opens no network connection.
    QNetworkAccessManager* network_ = nullptr;
    QPointer<QNetworkReply> reply_;
    QByteArray body_;
    QTimer deadline_;
    Completion completion_;
};

// The updater the menu's update entry talks to.
class FeedUpdaterController final : public UpdaterController {
public:
    using ResultSink = std::function<void(const UpdateCheckResult&)>;

    // The sink hears every result once; the app's sink posts a desktop notification.
    FeedUpdaterController(bool started, QString feedURL, QString currentVersion, ResultSink sink,
                          UpdateFeedFetcher::Limits limits = {});

    // Does nothing while a check runs, or when the updater was not started.
    void checkForUpdates() override;
    bool checking() const { return fetcher_.busy(); }

private:
    bool started_;
    QString feedURL_;
    QString currentVersion_;
    ResultSink sink_;
    UpdateFeedFetcher fetcher_;
};

// The texts the user reads for a result, and the one notification carrying them.
struct UpdateMessage {
    QString summary;
    QString body;
    QUrl link;
};
UpdateMessage updateMessage(const UpdateCheckResult& result, const QString& currentVersion);
void notifyUpdateResult(DesktopNotifier& notifier, const UpdateCheckResult& result, const QString& currentVersion);

std::shared_ptr<UpdaterFactory> makeUpdaterFactory();

} // namespace platform::linux_impl
