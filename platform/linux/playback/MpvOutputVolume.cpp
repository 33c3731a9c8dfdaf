// Following and setting the stream's volume on the sound server through mpv's ao-volume, which is
// there only while an audio output is open.
#include "platform/linux/playback/MpvOutputVolume.h"

#include <algorithm>
#include <cmath>

namespace platform::linux_impl {

namespace {

// Apart from the session's own requests (0, load generations, seeks).
constexpr uint64_t kRead = (uint64_t(1) << 62) | 1;
constexpr uint64_t kWrite = (uint64_t(1) << 62) | 2;
constexpr int kPollMs = 1000;

// The server keeps volumes in steps of 1/65536; a thousandth is what anyone can tell apart.
double normalised(double volume) { return std::clamp(std::round(volume * 1000) / 1000, 0.0, 1.0); }

} // namespace

MpvOutputVolume::MpvOutputVolume(MpvCore& core) : core_(core)
{
    poll_.setInterval(kPollMs);
    connect(&poll_, &QTimer::timeout, this, &MpvOutputVolume::ask);
}

void MpvOutputVolume::setVolume(double volume)
{
    if (!std::isfinite(volume))
        return;
    wanted_ = normalised(volume);
    take(*wanted_);
    if (outputOpen_)
        send();
}

void MpvOutputVolume::send()
{
    if (wanted_ && core_.setProperty("ao-volume", *wanted_ * 100, kWrite))
        ++writesInFlight_;
}

void MpvOutputVolume::follow(bool on)
{
    if (!on) {
        poll_.stop();
        return;
    }
    poll_.start();
    ask();
}

void MpvOutputVolume::ask()
{
    if (writesInFlight_ == 0)
        core_.requestProperty("ao-volume", MPV_FORMAT_DOUBLE, kRead);
}

void MpvOutputVolume::take(double volume)
{
    volume = normalised(volume);
    if (std::abs(volume - volume_) < 0.0005)
        return;
    volume_ = volume;
    Q_EMIT volumeChanged(volume_);
}

void MpvOutputVolume::handleEvent(const mpv_event& event)
{
    switch (event.event_id) {
    case MPV_EVENT_AUDIO_RECONFIG:
        // An output is opening: its volume is the server's (what it kept for us), unless one was
        // asked for meanwhile, which it should have from its first sound.
        ask();
        break;
    case MPV_EVENT_GET_PROPERTY_REPLY: {
        if (event.reply_userdata != kRead)
            break;
        const auto* property = static_cast<const mpv_event_property*>(event.data);
        if (event.error < 0 || !property || property->format != MPV_FORMAT_DOUBLE || !property->data) {
            // Closed, or not open yet.
            outputOpen_ = false;
            break;
        }
        const bool opened = !outputOpen_;
        outputOpen_ = true;
        // An answer from before our own change is not news.
        if (opened && wanted_)
            send();
        else if (writesInFlight_ == 0)
            take(*static_cast<const double*>(property->data) / 100);
        break;
    }
    case MPV_EVENT_SET_PROPERTY_REPLY:
        if (event.reply_userdata != kWrite)
            break;
        writesInFlight_ = std::max(0, writesInFlight_ - 1);
        // Refused while no output is open: the next one opens at the volume wanted.
        if (event.error < 0)
            outputOpen_ = false;
        else if (writesInFlight_ == 0)
            wanted_.reset();
        break;
    default:
        break;
    }
}

} // namespace platform::linux_impl
