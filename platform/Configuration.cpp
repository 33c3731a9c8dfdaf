// Compiled-in packaging defaults with their environment overrides.
#include "platform/Configuration.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace platform {

namespace {
std::string fromEnvironment(const char* name, const char* fallback)
{
    const char* value = std::getenv(name);
    return (value && *value) ? std::string(value) : std::string(fallback);
}

// An override comes from the environment; anything beyond a name or address with an optional port
// (a path, a query, credentials, spaces) would silently redirect the stream, so it is ignored.
bool isPlainHost(const std::string& host)
{
    const auto first = static_cast<unsigned char>(host.empty() ? '\0' : host.front());
    return (std::isalnum(first) || first == '[') && std::all_of(host.begin(), host.end(), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == ':' || c == '['
                      || c == ']';
           });
}

} // namespace

std::string streamHost()
{
    const std::string host = fromEnvironment("KOVRA_STREAM_HOST", KOVRA_STREAM_HOST_DEFAULT);
    return isPlainHost(host) ? host : std::string(KOVRA_STREAM_HOST_DEFAULT);
}
std::string updateFeedURL() { return fromEnvironment("KOVRA_UPDATE_FEED", KOVRA_UPDATE_FEED_DEFAULT); }
std::string applicationVersion() { return KOVRA_VERSION; }

} // namespace platform
