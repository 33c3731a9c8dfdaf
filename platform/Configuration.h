// Packaging configuration: compiled-in defaults that the environment may override for tests
// and demos. TLS verification is never among them.
#pragma once

#include <string>

namespace platform {

// The broadcaster's stream host, "host" or "host:port". KOVRA_STREAM_HOST overrides it when it
// names a plain host; anything else is ignored.
std::string streamHost();
// The update feed's https address (KOVRA_UPDATE_FEED overrides).
std::string updateFeedURL();
std::string applicationVersion();

} // namespace platform
