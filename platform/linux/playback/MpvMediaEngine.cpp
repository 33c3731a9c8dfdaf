// Items and players over the shared media core. A player is a light front: it owns the core from
// its first play() until another player plays or it is released, and is obeyed only meanwhile.
#include "platform/linux/playback/MpvMediaEngine.h"

#include "platform/linux/playback/LogindSleepMonitor.h"
#include "platform/linux/playback/QtNetworkMonitor.h"

#include <QTimer>

namespace platform::linux_impl {

namespace {

class MpvMediaItem : public MediaItem {
public:
    MpvMediaItem(QString url, std::weak_ptr<MpvSession> session) : url_(std::move(url)), session_(std::move(session)) {}

    std::vector<MediaTimeRange> seekableTimeRanges() const override
    {
        auto session = session_.lock();
        return session ? session->seekableRanges(this) : std::vector<MediaTimeRange>{};
    }

    const QString& url() const { return url_; }

private:
    QString url_;
    std::weak_ptr<MpvSession> session_;
};

// A light front on the shared session: it owns the handle from its first play() until another
// player plays or it is released, and is obeyed only while it owns it.
class MpvMediaPlayer : public MediaPlayer {
public:
    MpvMediaPlayer(std::shared_ptr<MpvMediaItem> item, std::shared_ptr<MpvSession> session)
        : item_(std::move(item)), session_(std::move(session))
    {
        // Only the owner's stream is in question, and only while it is meant to play.
        failureWatch_ = QObject::connect(session_.get(), &MpvSession::failedChanged, session_.get(), [this] {
            if (playing_ && session_->owns(this))
                rateChanged();
        });
    }

    ~MpvMediaPlayer() override
    {
        QObject::disconnect(failureWatch_);
        session_->release(this);
    }
    MpvMediaPlayer(const MpvMediaPlayer&) = delete;
    MpvMediaPlayer& operator=(const MpvMediaPlayer&) = delete;

    void play() override
    {
        if (!item_)
            return;
        if (session_->owns(this))
            session_->resume(this);
        else
            session_->start(this, item_.get(), item_->url());
        playing_ = true;
    }

    void pause() override
    {
        playing_ = false;
        session_->pause(this);
    }

    // A stream that does not sound, and is not about to, does not count as playing, whatever was asked.
    float rate() const override { return playing_ && session_->owns(this) && !session_->failed() ? 1.0f : 0.0f; }

    std::shared_ptr<MediaItem> currentItem() const override { return item_; }

    MediaTime currentTime() const override
    {
        const auto seconds = session_->position(this);
        return seconds ? MediaTime::makeWithSeconds(*seconds, MpvSession::kPositionTimescale) : MediaTime{};
    }

    void seekToTime(MediaTime time, MediaTime, MediaTime) override
    {
        // Every seek is exact: the tolerances the callers pass are zero.
        if (time.isValid())
            session_->seek(this, time.seconds());
    }

private:
    std::shared_ptr<MpvMediaItem> item_;
    std::shared_ptr<MpvSession> session_;
    bool playing_ = false;
    QMetaObject::Connection failureWatch_;
};

} // namespace

MpvMediaEngine::MpvMediaEngine(MpvCore::LibraryOpener openLibrary)
    : session_(std::make_shared<MpvSession>(std::move(openLibrary)))
{
    connect(session_.get(), &MpvSession::seeked, this, &MpvMediaEngine::seeked);
    connect(session_.get(), &MpvSession::failedChanged, this, &MpvMediaEngine::playbackFailedChanged);
    connect(session_.get(), &MpvSession::soundingChanged, this, &MpvMediaEngine::soundingChanged);
    connect(&session_->volume(), &MpvOutputVolume::volumeChanged, this, &MpvMediaEngine::volumeChanged);
}

std::shared_ptr<MediaItem> MpvMediaEngine::itemWithURL(const URL& url)
{
    const QString address = QString::fromStdString(url.absoluteString());
    return std::make_shared<MpvMediaItem>(relay_ ? relay_->route(address) : address, session_);
}

std::unique_ptr<MediaPlayer> MpvMediaEngine::playerWithItem(std::shared_ptr<MediaItem> item)
{
    // After this first play has been sent: reading the network's state waits on the system bus.
    if (followSystem_ && !following_)
        QTimer::singleShot(0, this, &MpvMediaEngine::startFollowing);
    return std::make_unique<MpvMediaPlayer>(std::dynamic_pointer_cast<MpvMediaItem>(std::move(item)), session_);
}

void MpvMediaEngine::startFollowing()
{
    if (!followSystem_ || following_)
        return;
    following_ = true;
    MpvSession* session = session_.get();
    auto* sleep = new LogindSleepMonitor(this);
    connect(sleep, &LogindSleepMonitor::aboutToSleep, session, &MpvSession::prepareForSleep);
    connect(sleep, &LogindSleepMonitor::wokeUp, session, &MpvSession::wake);
    auto* network = new QtNetworkMonitor(this);
    connect(network, &QtNetworkMonitor::cameOnline, session, &MpvSession::networkOnline);
    connect(network, &QtNetworkMonitor::switched, session, &MpvSession::networkSwitched);
    if (relay_) {
        LoopbackHttpRelay* relay = relay_.get();
        connect(network, &QtNetworkMonitor::cameOnline, relay, &LoopbackHttpRelay::networkChanged);
        connect(network, &QtNetworkMonitor::switched, relay, &LoopbackHttpRelay::networkChanged);
    }
}

} // namespace platform::linux_impl
