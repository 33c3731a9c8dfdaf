// The libmpv handle's lifetime: made with our options on demand, its events drained on the main
// thread, its blocking destruction on a thread of its own.
#include "platform/linux/playback/MpvCore.h"

#include "platform/linux/playback/MpvOptions.h"

#include <chrono>
#include <clocale>

namespace platform::linux_impl {

namespace {

// A started core with our options; none when libmpv cannot make one or refuses what TLS
// verification rests on. With logWarnings, the core's warnings arrive as log-message events.
mpv_handle* startCore(const MpvLibrary& lib, bool logWarnings)
{
    // libmpv parses numbers with the C locale only.
    std::setlocale(LC_NUMERIC, "C");
    mpv_handle* mpv = lib.create();
    if (!mpv)
        return nullptr;
    if (!setMpvOptions(lib, mpv)) {
        lib.terminate_destroy(mpv);
        return nullptr;
    }
    if (logWarnings)
        lib.request_log_messages(mpv, "warn");
    if (lib.initialize(mpv) < 0) {
        lib.terminate_destroy(mpv);
        return nullptr;
    }
    return mpv;
}

} // namespace

MpvCore::MpvCore(LibraryOpener openLibrary, EventHandler onEvent)
    : openLibrary_(std::move(openLibrary)), onEvent_(std::move(onEvent))
{
}

MpvCore::~MpvCore()
{
    shutdown();
    if (destroyer_.joinable())
        destroyer_.join();
}

bool MpvCore::ensureLibrary()
{
    if (lib_)
        return true;
    if (libraryMissing_ || shutDown_)
        return false;
    QString error;
    lib_ = openLibrary_(&error);
    if (!lib_) {
        // Without it nothing can sound; say so once, and let plays do nothing from now on.
        libraryMissing_ = true;
        qCCritical(lcMedia).noquote() << "cannot play: libmpv (libmpv.so.2) is not usable:" << error;
        return false;
    }
    return true;
}

bool MpvCore::create()
{
    if (mpv_)
        return true;
    if (shutDown_ || !ensureLibrary())
        return false;
    mpv_ = startCore(*lib_, lcMedia().isDebugEnabled());
    if (mpv_)
        lib_->set_wakeup_callback(mpv_, &MpvCore::wakeup, this);
    return mpv_ != nullptr;
}

void MpvCore::discard()
{
    if (!mpv_)
        return;
    lib_->set_wakeup_callback(mpv_, nullptr, nullptr);
    lib_->terminate_destroy(mpv_);
    mpv_ = nullptr;
}

void MpvCore::wakeup(void* context)
{
    // On one of libmpv's threads: only post; the events are read on the main thread.
    auto* self = static_cast<MpvCore*>(context);
    if (!self->drainQueued_.exchange(true))
        QMetaObject::invokeMethod(self, &MpvCore::drainEvents, Qt::QueuedConnection);
}

void MpvCore::drainEvents()
{
    drainQueued_ = false;
    while (mpv_) {
        const mpv_event* event = lib_->wait_event(mpv_, 0);
        if (!event || event->event_id == MPV_EVENT_NONE)
            break;
        // What libmpv has to say (asked for only while debugging) goes to our log.
        if (event->event_id == MPV_EVENT_LOG_MESSAGE && event->data) {
            const auto& message = *static_cast<const mpv_event_log_message*>(event->data);
            qCDebug(lcMedia).noquote() << "mpv" << message.prefix << QString::fromUtf8(message.text).trimmed();
        }
        onEvent_(*event);
    }
}

bool MpvCore::command(std::initializer_list<MpvArgument> args, uint64_t userdata,
                      std::initializer_list<MpvArgument> fileOptions)
{
    if (!mpv_)
        return false;
    const int error = lib_->commandAsync(mpv_, userdata, args, fileOptions);
    if (error < 0)
        reportRefusal(args.begin()->value, error);
    return error >= 0;
}

bool MpvCore::setPause(bool paused)
{
    if (!mpv_)
        return false;
    int flag = paused ? 1 : 0;
    const int error = lib_->set_property_async(mpv_, 0, "pause", MPV_FORMAT_FLAG, &flag);
    if (error < 0)
        reportRefusal("pause", error);
    return error >= 0;
}

bool MpvCore::requestProperty(const char* property, mpv_format format, uint64_t userdata)
{
    // A table without it (a stand-in for libmpv) cannot answer.
    if (!mpv_ || !lib_->get_property_async)
        return false;
    return lib_->get_property_async(mpv_, userdata, property, format) >= 0;
}

bool MpvCore::setProperty(const char* property, double value, uint64_t userdata)
{
    if (!mpv_)
        return false;
    return lib_->set_property_async(mpv_, userdata, property, MPV_FORMAT_DOUBLE, &value) >= 0;
}

bool MpvCore::observe(uint64_t id, const char* property, mpv_format format)
{
    if (!mpv_)
        return false;
    const int error = lib_->observe_property(mpv_, id, property, format);
    if (error < 0)
        reportRefusal(property, error);
    return error >= 0;
}

bool MpvCore::unobserve(uint64_t id)
{
    if (!mpv_)
        return false;
    const int error = lib_->unobserve_property(mpv_, id);
    if (error < 0)
        reportRefusal("unobserve", error);
    return error >= 0;
}

bool MpvCore::readNode(const char* property, const std::function<void(const mpv_node&)>& read) const
{
    if (!mpv_)
        return false;
    mpv_node node{};
    if (lib_->get_property(mpv_, property, MPV_FORMAT_NODE, &node) < 0)
        return false;
    read(node);
    lib_->free_node_contents(&node);
    return true;
}

QString MpvCore::errorString(int error) const
{
    return lib_ ? QString::fromUtf8(lib_->error_string(error)) : QString::number(error);
}

void MpvCore::reportRefusal(const char* what, int error)
{
    if (refusalReported_)
        return;
    refusalReported_ = true;
    qCCritical(lcMedia).noquote() << "libmpv refused" << what << "(" << errorString(error) << ")";
}

void MpvCore::shutdown()
{
    if (shutDown_)
        return;
    shutDown_ = true;
    if (!mpv_)
        return;
    mpv_handle* mpv = mpv_;
    mpv_ = nullptr;
    // No more wakeups once this returns; queued drains find no handle.
    lib_->set_wakeup_callback(mpv, nullptr, nullptr);
    // Destroying a core with an open stream takes 100-200 ms: not on the main thread. The thread
    // keeps the library loaded until the handle is gone.
    destroyer_ = std::thread([lib = lib_, mpv] {
        const auto started = std::chrono::steady_clock::now();
        lib->terminate_destroy(mpv);
        qCDebug(lcMedia)
            << "media core destroyed in"
            << std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count()
            << "ms";
    });
}

} // namespace platform::linux_impl
