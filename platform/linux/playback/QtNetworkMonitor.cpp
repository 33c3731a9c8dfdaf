// QNetworkInformation, loaded once per process: NetworkManager's backend where NetworkManager runs
// (it tells the medium too), otherwise any backend that knows reachability.
#include "platform/linux/playback/QtNetworkMonitor.h"

#include "platform/linux/playback/MediaLog.h"

#include <algorithm>
#include <utility>

namespace platform::linux_impl {

namespace {

using Reachability = QNetworkInformation::Reachability;
using Medium = QNetworkInformation::TransportMedium;

// Long enough to join the state and medium changes NetworkManager sends for one switch.
constexpr int kSettleMs = 150;

QNetworkInformation* loadBackend()
{
    if (QNetworkInformation::instance())
        return QNetworkInformation::instance();
    if (QNetworkInformation::loadBackendByName(u"networkmanager")
        || QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability))
        return QNetworkInformation::instance();
    return nullptr;
}

} // namespace

QtNetworkMonitor::QtNetworkMonitor(QObject* parent) : QObject(parent)
{
    settle_.setSingleShot(true);
    settle_.setInterval(kSettleMs);
    connect(&settle_, &QTimer::timeout, this, &QtNetworkMonitor::announce);
    auto* info = loadBackend();
    if (!info) {
        qCDebug(lcMedia) << "no network information backend";
        return;
    }
    qCDebug(lcMedia) << "network information from" << info->backendName();
    online_ = info->reachability() == Reachability::Online;
    medium_ = info->transportMedium();
    connect(info, &QNetworkInformation::reachabilityChanged, this, &QtNetworkMonitor::reachabilityChanged);
    connect(info, &QNetworkInformation::transportMediumChanged, this, &QtNetworkMonitor::mediumChanged);
}

void QtNetworkMonitor::reachabilityChanged(Reachability reachability)
{
    qCDebug(lcMedia) << "network reachability" << reachability;
    const bool online = reachability == Reachability::Online;
    // Disconnected, or unknown (connecting, asleep): the connection we had is gone. Site or local
    // only is what a failed connectivity check says about a connection that is still there.
    if ((reachability == Reachability::Disconnected || reachability == Reachability::Unknown) && !lost_) {
        lost_ = true;
        lostAt_ = std::chrono::steady_clock::now();
    }
    if (online && !online_) {
        if (lost_)
            markSwitched(lostAt_);
        else
            cameOnline_ = true;
        lost_ = false;
        settle_.start();
    }
    online_ = online;
}

void QtNetworkMonitor::mediumChanged(Medium medium)
{
    qCDebug(lcMedia) << "network medium" << medium;
    if (medium == Medium::Unknown)
        return;
    if (online_ && medium_ != Medium::Unknown && medium != medium_) {
        markSwitched(std::chrono::steady_clock::now());
        settle_.start();
    }
    medium_ = medium;
}

void QtNetworkMonitor::markSwitched(std::chrono::steady_clock::time_point at)
{
    // Of two changes joined into one event, the earlier one dates it.
    switchedAt_ = switched_ ? std::min(switchedAt_, at) : at;
    switched_ = true;
}

void QtNetworkMonitor::announce()
{
    const bool switched = std::exchange(switched_, false);
    const bool cameOnline = std::exchange(cameOnline_, false);
    if (!online_)
        return;
    if (switched)
        Q_EMIT this->switched(switchedAt_);
    else if (cameOnline)
        Q_EMIT this->cameOnline();
}

} // namespace platform::linux_impl
