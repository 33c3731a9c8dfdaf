// The channel catalogue and stream addresses.
#include "src/Models.h"

#include "platform/Configuration.h"

#include <algorithm>
#include <cctype>
#include <optional>

const std::vector<KovraChannel> KovraChannel::allChannels = {
    {"velmora", "Kovra Velmora", "006A44", ChannelCategory::national},
    {"tarvesi", "Kovra Tarvesi", "C1272D", ChannelCategory::national},
    {"nimo", "Kovra Nimo", "FDB913", ChannelCategory::national},
};

const std::vector<std::string> KovraChannel::defaultChannelIds = {"velmora", "tarvesi", "nimo"};

namespace {

// Catalogue ids are lowercase letters and pass through unchanged; escaping anything else keeps
// a hand-made record from producing an address that means something other than its id.
std::string pathComponent(const std::string& id)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : id) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0xF];
        }
    }
    return out;
}

std::optional<platform::URL> playlistOn(const std::string& host, const std::string& id)
{
    const std::string part = pathComponent(id);
    return platform::URL::fromString("https://" + host + "/radio_" + part + "/kovra_" + part + ".m3u8");
}

} // namespace

platform::URL KovraChannel::streamURL() const
{
    if (auto url = playlistOn(platform::streamHost(), id))
        return *url;
    // A reserved name that never resolves: the player then fails to connect, as for any dead host.
    return *playlistOn("stream.invalid", id);
}
