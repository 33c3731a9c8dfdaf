// The channel catalogue and stream addresses.
#include "src/Models.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {
const std::string compiledHost = "https://" KOVRA_TEST_STREAM_HOST;

std::string nimoWithHost(const char* host)
{
    host ? setenv("KOVRA_STREAM_HOST", host, 1) : unsetenv("KOVRA_STREAM_HOST");
    const std::string url = KovraChannel::allChannels[2].streamURL().absoluteString();
    unsetenv("KOVRA_STREAM_HOST");
    return url;
}
} // namespace

TEST(Catalogue, ThreeNationalChannelsInMenuOrderAndTheFirstRunSlots)
{
    const auto& c = KovraChannel::allChannels;
    ASSERT_EQ(c.size(), 3u);
    const KovraChannel copy = c[1];
    EXPECT_EQ(std::tie(c[0].id, c[0].name, c[0].color), std::tie("velmora", "Kovra Velmora", "006A44"));
    EXPECT_EQ(std::tie(copy.id, copy.name, copy.color), std::tie("tarvesi", "Kovra Tarvesi", "C1272D"));
    EXPECT_EQ(std::tie(c[2].id, c[2].name, c[2].color), std::tie("nimo", "Kovra Nimo", "FDB913"));
    for (const auto& channel : c)
        EXPECT_EQ(channel.category, KovraChannel::ChannelCategory::national);
    EXPECT_EQ(KovraChannel::defaultChannelIds, (std::vector<std::string>{"velmora", "tarvesi", "nimo"}));
    const std::hash<KovraChannel::ChannelCategory> hash;
    EXPECT_EQ(hash(KovraChannel::ChannelCategory::national), std::hash<std::size_t>{}(0));
}

TEST(StreamAddress, EachChannelHasItsPlaylistOnTheStreamHost)
{
    unsetenv("KOVRA_STREAM_HOST");
    EXPECT_EQ(KovraChannel::allChannels[0].streamURL().absoluteString(),
              compiledHost + "/radio_velmora/kovra_velmora.m3u8");
    EXPECT_EQ(KovraChannel::allChannels[1].streamURL().absoluteString(),
              compiledHost + "/radio_tarvesi/kovra_tarvesi.m3u8");
    EXPECT_EQ(nimoWithHost(nullptr), compiledHost + "/radio_nimo/kovra_nimo.m3u8");
    EXPECT_EQ(KovraChannel::allChannels[0].streamURL(), KovraChannel::allChannels[0].streamURL());
    EXPECT_EQ(nimoWithHost("127.0.0.1:8443"), "https://127.0.0.1:8443/radio_nimo/kovra_nimo.m3u8");
}

TEST(StreamAddress, AGarbledHostOverrideFallsBackToTheCompiledHost)
{
    for (const char* garbage : {"not a host", "evil.example/x?", "user@evil.example", ":8443", "ho\x01st", ""})
        EXPECT_EQ(nimoWithHost(garbage), compiledHost + "/radio_nimo/kovra_nimo.m3u8") << garbage;
}

TEST(StreamAddress, AnIdThatIsNoPlainWordIsEscapedNotSpliced)
{
    const KovraChannel odd{"a b/../x?", "Odd", "000000", KovraChannel::ChannelCategory::national};
    EXPECT_EQ(odd.streamURL().absoluteString(), compiledHost + "/radio_a%20b%2F..%2Fx%3F/kovra_a%20b%2F..%2Fx%3F.m3u8");
}
