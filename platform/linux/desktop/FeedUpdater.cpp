// The update checker behind the menu's update entry: an appcast over https, told in a notification.
#include "platform/linux/desktop/FeedUpdater.h"

#include "platform/Configuration.h"
#include "platform/linux/desktop/AppIdentity.h"
#include "platform/linux/desktop/DesktopNotifications.h"
#include "platform/linux/desktop/TlsTrust.h"

#include <QCoreApplication>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace platform::linux_impl {

namespace {

QString tr(const char* text) { return QCoreApplication::translate("Updater", text); }

} // namespace

UpdateFeedFetcher::UpdateFeedFetcher(Limits limits, QObject* parent) : QObject(parent), limits_(limits)
{
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] { finish(std::nullopt); });
}

UpdateFeedFetcher::~UpdateFeedFetcher() { abortReply(); }

bool UpdateFeedFetcher::fetch(const QUrl& url, Completion completion)
{
    if (busy() || !isSecureDownloadURL(url))
        return false;
    if (!network_) {
        network_ = new QNetworkAccessManager(this);
        network_->setRedirectPolicy(QNetworkRequest::UserVerifiedRedirectPolicy);
    }
    QNetworkRequest request(url);
    request.setSslConfiguration(verifiedTlsConfiguration());
    request.setMaximumRedirectsAllowed(limits_.maxRedirects);
    request.setHeader(QNetworkRequest::UserAgentHeader, AppIdentity::userAgent());
    request.setRawHeader("Accept", "application/rss+xml, application/xml, text/xml");
    request.setTransferTimeout(limits_.timeoutMs);

    completion_ = std::move(completion);
    body_.clear();
    reply_ = network_->get(request);
    deadline_.start(limits_.timeoutMs);

    QNetworkReply* reply = reply_;
    connect(reply, &QNetworkReply::redirected, this, [this, reply](const QUrl& target) {
        if (reply != reply_)
            return;
        if (isSecureDownloadURL(target))
            Q_EMIT reply->redirectAllowed();
        else
            finish(std::nullopt);
    });
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (reply == reply_ && length.isValid() && length.toLongLong() > limits_.maxBytes)
            finish(std::nullopt);
    });
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] {
        if (reply != reply_)
            return;
        body_ += reply->read(limits_.maxBytes + 1 - body_.size());
        if (body_.size() > limits_.maxBytes)
            finish(std::nullopt);
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        if (reply != reply_)
            return;
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (reply->error() != QNetworkReply::NoError || status != 200 || reply->url().scheme() != u"https") {
            finish(std::nullopt);
            return;
        }
        body_ += reply->read(limits_.maxBytes + 1 - body_.size());
        if (body_.size() > limits_.maxBytes)
            finish(std::nullopt);
        else
            finish(std::move(body_));
    });
    return true;
}

void UpdateFeedFetcher::abortReply()
{
    deadline_.stop();
    if (QNetworkReply* reply = reply_) {
        reply_ = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void UpdateFeedFetcher::finish(std::optional<QByteArray> body)
{
    if (!reply_)
        return;
    abortReply();
    body_.clear();
    // The completion may start the next fetch, so the state is clean before it runs.
    Completion completion = std::move(completion_);
    completion_ = nullptr;
    if (completion)
        completion(std::move(body));
}

FeedUpdaterController::FeedUpdaterController(bool started, QString feedURL, QString currentVersion, ResultSink sink,
                                             UpdateFeedFetcher::Limits limits)
    : started_(started), feedURL_(std::move(feedURL)), currentVersion_(std::move(currentVersion)),
      sink_(std::move(sink)), fetcher_(limits)
{
}

void FeedUpdaterController::checkForUpdates()
{
    if (!started_ || fetcher_.busy())
        return;
    const QUrl url(feedURL_, QUrl::StrictMode);
    const bool started = fetcher_.fetch(url, [this](std::optional<QByteArray> body) {
        const UpdateCheckResult result = body ? evaluateAppcast(*body, currentVersion_) : UpdateCheckResult{};
        if (sink_)
            sink_(result);
    });
    // An address that is not https is never fetched; the user still hears that the check failed.
    if (!started && sink_)
        sink_(UpdateCheckResult{});
}

UpdateMessage updateMessage(const UpdateCheckResult& result, const QString& currentVersion)
{
    switch (result.outcome) {
    case UpdateOutcome::Available:
        return {tr("Kovra Radio %1 is available").arg(result.item.displayVersion),
                tr("You have version %1. Download the new version from %2")
                    .arg(currentVersion, result.item.downloadURL.toDisplayString()),
                result.item.downloadURL};
    case UpdateOutcome::UpToDate:
        return {tr("Kovra Radio is up to date"), tr("Version %1 is the newest version.").arg(currentVersion), {}};
    case UpdateOutcome::Failed:
        break;
    }
    return {tr("Could not check for updates"), tr("The update information could not be loaded. Try again later."), {}};
}

void notifyUpdateResult(DesktopNotifier& notifier, const UpdateCheckResult& result, const QString& currentVersion)
{
    const UpdateMessage message = updateMessage(result, currentVersion);
    notifier.postNotification(message.summary, message.body, message.link);
}

namespace {

class FeedUpdaterFactory final : public UpdaterFactory {
public:
    std::shared_ptr<UpdaterController> makeController(bool startingUpdater) override
    {
        // The notifier lives as long as the controller that reports through it.
        auto notifier = std::make_shared<DesktopNotifier>();
        const QString version = QString::fromStdString(applicationVersion());
        return std::make_shared<FeedUpdaterController>(
            startingUpdater, QString::fromStdString(updateFeedURL()), version,
            [notifier, version](const UpdateCheckResult& result) { notifyUpdateResult(*notifier, result, version); });
    }
};

} // namespace

std::shared_ptr<UpdaterFactory> makeUpdaterFactory() { return std::make_shared<FeedUpdaterFactory>(); }

} // namespace platform::linux_impl
