// The volume of our stream on the sound server: mpv's ao-volume, which on PulseAudio (and PipeWire's
// PulseAudio server) is the sink input's own volume, the one the desktop's mixer shows for the app and
// the server keeps per application from one run to the next. Not a gain inside the decoder.
#pragma once

#include "platform/linux/playback/MpvCore.h"

#include <QObject>
#include <QTimer>

#include <optional>

namespace platform::linux_impl {

class MpvOutputVolume : public QObject {
    Q_OBJECT
public:
    explicit MpvOutputVolume(MpvCore& core);

    // 0 to 1 on the sound server's scale: as the server last said, or as last set. Before the
    // first stream of the run has sounded the server has not said yet, and it reads 1.
    double volume() const { return volume_; }
    // Clamped to 0 to 1; reaches the server now, or when the next stream opens.
    void setVolume(double volume);
    // Follows changes made elsewhere while on: while a stream is heard (a paused process must sleep;
    // what changed meanwhile is found once it sounds again).
    void follow(bool on);
    // The core's events: its audio output opening, and the answers to our requests.
    void handleEvent(const mpv_event& event);

Q_SIGNALS:
    // Whoever changed it: us, the mixer, another program.
    void volumeChanged(double volume);

private:
    void ask();
    void send();
    void take(double volume);

    MpvCore& core_;
    double volume_ = 1.0;
    // A volume asked for that the server has not taken yet.
    std::optional<double> wanted_;
    int writesInFlight_ = 0;
    bool outputOpen_ = false;
    // The server does not tell the core of changes made elsewhere: asked while an output is open.
    QTimer poll_;
};

} // namespace platform::linux_impl
