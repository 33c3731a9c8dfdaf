// One libmpv handle and its lifetime: the library loaded on the first play, the handle made on
// demand, its events read on the main thread, and its destruction, which blocks, done elsewhere.
#pragma once

#include "platform/linux/playback/MediaLog.h"
#include "platform/linux/playback/MpvLibrary.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <initializer_list>
#include <memory>
#include <thread>

namespace platform::linux_impl {

class MpvCore : public QObject {
    Q_OBJECT

public:
    using LibraryOpener = std::function<std::shared_ptr<const MpvLibrary>(QString* error)>;
    using EventHandler = std::function<void(const mpv_event&)>;

    MpvCore(LibraryOpener openLibrary, EventHandler onEvent);
    ~MpvCore() override;
    MpvCore(const MpvCore&) = delete;
    MpvCore& operator=(const MpvCore&) = delete;

    bool exists() const { return mpv_ != nullptr; }
    // Makes the handle; false when libmpv is unusable or the core has shut down.
    bool create();
    // Drops a handle that could not be set up; it holds no stream, so this is quick.
    void discard();
    // libmpv cannot be loaded at all: no retry will make it appear.
    bool libraryMissing() const { return libraryMissing_; }
    bool isShutDown() const { return shutDown_; }

    // Each returns false when there is no handle or the core refused the request; a refusal is
    // logged once, as the same one comes back on every retry.
    bool command(std::initializer_list<MpvArgument> args, uint64_t userdata = 0,
                 std::initializer_list<MpvArgument> fileOptions = {});
    bool setPause(bool paused);
    // Asks for a property's value, or sets it; the answer comes as an event with this user data.
    bool requestProperty(const char* property, mpv_format format, uint64_t userdata);
    bool setProperty(const char* property, double value, uint64_t userdata);
    bool observe(uint64_t id, const char* property, mpv_format format);
    bool unobserve(uint64_t id);
    // Reads a property now, waiting on the core: for values asked for rarely.
    bool readNode(const char* property, const std::function<void(const mpv_node&)>& read) const;
    QString errorString(int error) const;

    // Silences the handle and hands it to a worker thread for destruction; no events follow.
    void shutdown();

private:
    bool ensureLibrary();
    void drainEvents();
    void reportRefusal(const char* what, int error);
    static void wakeup(void* context);

    LibraryOpener openLibrary_;
    EventHandler onEvent_;
    std::shared_ptr<const MpvLibrary> lib_;
    mpv_handle* mpv_ = nullptr;
    bool libraryMissing_ = false;
    bool shutDown_ = false;
    bool refusalReported_ = false;
    std::atomic<bool> drainQueued_{false};
    std::thread destroyer_;
};

} // namespace platform::linux_impl
