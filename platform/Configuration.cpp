// Compiled-in packaging defaults with their environment overrides.
#include "platform/Configuration.h"

#include <cstdlib>

#ifndef KOVRA_STREAM_HOST_DEFAULT
#define KOVRA_STREAM_HOST_DEFAULT "stream.kovra.example"
#endif
#ifndef KOVRA_UPDATE_FEED_DEFAULT
#define KOVRA_UPDATE_FEED_DEFAULT "https://updates.kovra.example/kovra-radio/appcast.xml"
#endif
#ifndef KOVRA_VERSION
#define KOVRA_VERSION "0.0.0"
#endif

namespace platform {

namespace {
std::string fromEnvironment(const char* name, const char* fallback)
{
    const char* value = std::getenv(name);
    return (value && *value) ? std::string(value) : std::string(fallback);
}
} // namespace

std::string streamHost() { return fromEnvironment("KOVRA_STREAM_HOST", KOVRA_STREAM_HOST_DEFAULT); }
std::string updateFeedURL() { return fromEnvironment("KOVRA_UPDATE_FEED", KOVRA_UPDATE_FEED_DEFAULT); }
std::string applicationVersion() { return KOVRA_VERSION; }

} // namespace platform
