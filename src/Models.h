// The broadcaster's built-in channel catalogue and the rule that turns a channel into the
// address of its HLS live stream.
#pragma once

#include "platform/URL.h"

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

struct KovraChannel {
    enum class ChannelCategory { national };

    std::string id;
    std::string name;
    std::string color;
    ChannelCategory category = ChannelCategory::national;

    // The live playlist on the broadcaster's stream host, computed afresh at every call.
    platform::URL streamURL() const;

    static const std::vector<KovraChannel> allChannels;
    // The first-run hotkey assignment. Deliberately its own list: a catalogue change must
    // not silently change which channels new users find on Alt+1..3.
    static const std::vector<std::string> defaultChannelIds;
};

template <>
struct std::hash<KovraChannel::ChannelCategory> {
    std::size_t operator()(KovraChannel::ChannelCategory category) const noexcept
    {
        // The case index as an unsigned machine word; there is one case, so always 0.
        return std::hash<std::size_t>{}(static_cast<std::size_t>(category));
    }
};
