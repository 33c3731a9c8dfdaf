// libmpv opened at run time: the table of its functions we call, and readers of the values it
// hands back. A tray app that has not played yet does not carry libmpv's two hundred libraries.
#pragma once

#include <QString>

// Types and constants only: the functions are looked up at run time.
#include <mpv/client.h>

#include <initializer_list>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace platform::linux_impl {

// One argument of a command in libmpv's named form.
struct MpvArgument {
    const char* name;
    const char* value;
};

// Lives as long as any handle made from it: the session and the thread that destroys its handles
// each hold a reference, and only the last one closes the library.
class MpvLibrary {
public:
    // libmpv.so.2 with every function below; none, with the reason, when it is missing or does not fit.
    static std::shared_ptr<const MpvLibrary> open(QString* error);
    // Loads libmpv and its two hundred libraries on a thread of its own, so that a play that may
    // follow soon (the menu opened) finds them mapped; open() then costs a lookup. Once a run is
    // enough: the libraries stay loaded.
    static void preload();

    // A table with no library behind it, for the caller to fill (tests stand in for libmpv so).
    MpvLibrary() = default;
    MpvLibrary(const MpvLibrary&) = delete;
    MpvLibrary& operator=(const MpvLibrary&) = delete;
    ~MpvLibrary();

    decltype(&::mpv_client_api_version) client_api_version = nullptr;
    decltype(&::mpv_create) create = nullptr;
    decltype(&::mpv_initialize) initialize = nullptr;
    decltype(&::mpv_terminate_destroy) terminate_destroy = nullptr;
    decltype(&::mpv_set_option_string) set_option_string = nullptr;
    decltype(&::mpv_error_string) error_string = nullptr;
    decltype(&::mpv_request_log_messages) request_log_messages = nullptr;
    decltype(&::mpv_observe_property) observe_property = nullptr;
    decltype(&::mpv_unobserve_property) unobserve_property = nullptr;
    decltype(&::mpv_set_wakeup_callback) set_wakeup_callback = nullptr;
    decltype(&::mpv_command_node_async) command_node_async = nullptr;
    decltype(&::mpv_set_property_async) set_property_async = nullptr;
    decltype(&::mpv_get_property) get_property = nullptr;
    decltype(&::mpv_get_property_async) get_property_async = nullptr;
    decltype(&::mpv_free_node_contents) free_node_contents = nullptr;
    decltype(&::mpv_wait_event) wait_event = nullptr;

    // Sends a command as a map of named arguments (plus per-file options, for loadfile): the
    // positions of arguments change between releases (0.38 put an index before loadfile's
    // options), their names do not. Returns libmpv's status: a command the core cannot parse is
    // refused here, and no event ever answers it.
    int commandAsync(mpv_handle* mpv, uint64_t userdata, std::initializer_list<MpvArgument> args,
                     std::initializer_list<MpvArgument> fileOptions = {}) const;

private:
    template <typename Function>
    bool resolve(Function& function, const char* name, QString* error);
    bool resolveAll(QString* error);

    void* handle_ = nullptr;
};

// The value under key in a node map, if there is one.
const mpv_node* mpvMapValue(const mpv_node& map, const char* key);
// A finite number held by the node, if it holds one.
std::optional<double> mpvNumber(const mpv_node* node);
// The seekable ranges (start, end in seconds) of a `demuxer-cache-state` value.
std::vector<std::pair<double, double>> mpvSeekableRanges(const mpv_node& cacheState);

} // namespace platform::linux_impl
