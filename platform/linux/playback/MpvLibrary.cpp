// Opening libmpv and reading the nodes it returns.
#include "platform/linux/playback/MpvLibrary.h"

#include <dlfcn.h>

#include <thread>
#include <vector>

#include <cmath>
#include <cstring>

namespace platform::linux_impl {

std::shared_ptr<const MpvLibrary> MpvLibrary::open(QString* error)
{
    auto lib = std::make_shared<MpvLibrary>();
    lib->handle_ = dlopen("libmpv.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!lib->handle_) {
        *error = QString::fromLocal8Bit(dlerror());
        return nullptr;
    }
    if (!lib->resolveAll(error))
        return nullptr;
    // Minor versions only add to the API: every 2.x has what we call.
    const unsigned long version = lib->client_api_version();
    if ((version >> 16) != (MPV_CLIENT_API_VERSION >> 16)) {
        *error = QStringLiteral("client API %1.%2, built for %3.%4")
                     .arg(version >> 16)
                     .arg(version & 0xffff)
                     .arg(MPV_CLIENT_API_VERSION >> 16)
                     .arg(MPV_CLIENT_API_VERSION & 0xffff);
        return nullptr;
    }
    return lib;
}

void MpvLibrary::preload()
{
    // The handle is never closed: the libraries stay for the open() that follows.
    std::thread([] { dlopen("libmpv.so.2", RTLD_NOW | RTLD_LOCAL); }).detach();
}

MpvLibrary::~MpvLibrary()
{
    if (handle_)
        dlclose(handle_);
}

template <typename Function>
bool MpvLibrary::resolve(Function& function, const char* name, QString* error)
{
    void* symbol = dlsym(handle_, name);
    if (!symbol) {
        *error = QStringLiteral("missing %1").arg(QLatin1String(name));
        return false;
    }
    // POSIX guarantees that a symbol's address converts to a function pointer.
    static_assert(sizeof(Function) == sizeof(void*));
    std::memcpy(&function, &symbol, sizeof(function));
    return true;
}

bool MpvLibrary::resolveAll(QString* error)
{
    return resolve(client_api_version, "mpv_client_api_version", error) && resolve(create, "mpv_create", error)
           && resolve(initialize, "mpv_initialize", error) && resolve(terminate_destroy, "mpv_terminate_destroy", error)
           && resolve(set_option_string, "mpv_set_option_string", error)
           && resolve(error_string, "mpv_error_string", error)
           && resolve(request_log_messages, "mpv_request_log_messages", error)
           && resolve(observe_property, "mpv_observe_property", error)
           && resolve(unobserve_property, "mpv_unobserve_property", error)
           && resolve(set_wakeup_callback, "mpv_set_wakeup_callback", error)
           && resolve(command_node_async, "mpv_command_node_async", error)
           && resolve(set_property_async, "mpv_set_property_async", error)
           && resolve(get_property, "mpv_get_property", error)
           && resolve(get_property_async, "mpv_get_property_async", error)
           && resolve(free_node_contents, "mpv_free_node_contents", error)
           && resolve(wait_event, "mpv_wait_event", error);
}

const mpv_node* mpvMapValue(const mpv_node& map, const char* key)
{
    if (map.format != MPV_FORMAT_NODE_MAP || !map.u.list)
        return nullptr;
    for (int i = 0; i < map.u.list->num; ++i) {
        if (map.u.list->keys[i] && std::strcmp(map.u.list->keys[i], key) == 0)
            return &map.u.list->values[i];
    }
    return nullptr;
}

std::optional<double> mpvNumber(const mpv_node* node)
{
    if (!node)
        return std::nullopt;
    if (node->format == MPV_FORMAT_DOUBLE && std::isfinite(node->u.double_))
        return node->u.double_;
    if (node->format == MPV_FORMAT_INT64)
        return double(node->u.int64);
    return std::nullopt;
}

std::vector<std::pair<double, double>> mpvSeekableRanges(const mpv_node& cacheState)
{
    std::vector<std::pair<double, double>> out;
    const mpv_node* ranges = mpvMapValue(cacheState, "seekable-ranges");
    if (!ranges || ranges->format != MPV_FORMAT_NODE_ARRAY || !ranges->u.list)
        return out;
    for (int i = 0; i < ranges->u.list->num; ++i) {
        const mpv_node& range = ranges->u.list->values[i];
        const auto start = mpvNumber(mpvMapValue(range, "start"));
        const auto end = mpvNumber(mpvMapValue(range, "end"));
        if (start && end && *end > *start)
            out.emplace_back(*start, *end);
    }
    return out;
}

int MpvLibrary::commandAsync(mpv_handle* mpv, uint64_t userdata, std::initializer_list<MpvArgument> args,
                             std::initializer_list<MpvArgument> fileOptions) const
{
    const auto stringNode = [](const char* value) {
        mpv_node node{};
        node.format = MPV_FORMAT_STRING;
        node.u.string = const_cast<char*>(value); // libmpv copies what it is given
        return node;
    };
    std::vector<char*> optionKeys;
    std::vector<mpv_node> optionValues;
    for (const MpvArgument& option : fileOptions) {
        optionKeys.push_back(const_cast<char*>(option.name));
        optionValues.push_back(stringNode(option.value));
    }
    mpv_node_list optionList{int(optionValues.size()), optionValues.data(), optionKeys.data()};
    std::vector<char*> keys;
    std::vector<mpv_node> values;
    for (const MpvArgument& argument : args) {
        keys.push_back(const_cast<char*>(argument.name));
        values.push_back(stringNode(argument.value));
    }
    if (fileOptions.size() > 0) {
        mpv_node options{};
        options.format = MPV_FORMAT_NODE_MAP;
        options.u.list = &optionList;
        keys.push_back(const_cast<char*>("options"));
        values.push_back(options);
    }
    mpv_node_list list{int(values.size()), values.data(), keys.data()};
    mpv_node map{};
    map.format = MPV_FORMAT_NODE_MAP;
    map.u.list = &list;
    return command_node_async(mpv, userdata, &map);
}

} // namespace platform::linux_impl
