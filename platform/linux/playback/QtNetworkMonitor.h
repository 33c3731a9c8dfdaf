// What Qt's network information backend (NetworkManager where it runs) says about the network,
// reduced to the two events playback acts on. Without a backend it never says anything.
#pragma once

#include <QNetworkInformation>
#include <QObject>
#include <QTimer>

#include <chrono>

namespace platform::linux_impl {

class QtNetworkMonitor : public QObject {
    Q_OBJECT

public:
    explicit QtNetworkMonitor(QObject* parent = nullptr);

Q_SIGNALS:
    // Online again after a spell of partial or unknown connectivity: worth retrying a failed stream
    // at once, while a stream that still sounds is fine as it is.
    void cameOnline();
    // Online on another connection than before (after being disconnected, or on another medium):
    // connections opened on the old one, before `since`, will not carry on.
    void switched(std::chrono::steady_clock::time_point since);

private:
    void reachabilityChanged(QNetworkInformation::Reachability reachability);
    void mediumChanged(QNetworkInformation::TransportMedium medium);
    void markSwitched(std::chrono::steady_clock::time_point at);
    void announce();

    bool online_ = false;
    // The connection we were online on went away since we were last online.
    bool lost_ = false;
    std::chrono::steady_clock::time_point lostAt_;
    QNetworkInformation::TransportMedium medium_ = QNetworkInformation::TransportMedium::Unknown;
    // Qt reports state and medium separately, often a moment apart: one event for both.
    QTimer settle_;
    bool cameOnline_ = false;
    bool switched_ = false;
    std::chrono::steady_clock::time_point switchedAt_;
};

} // namespace platform::linux_impl
