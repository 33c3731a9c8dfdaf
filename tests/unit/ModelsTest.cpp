// Stream addresses: the compiled-in host, its run-time override, and input that must not reach a URL.
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

// A plain host and port in its place is what every end-to-end test plays from.
TEST(StreamAddress, AHostOverrideIsUsedOnlyWhenItIsAPlainHost)
{
    EXPECT_EQ(nimoWithHost(nullptr), compiledHost + "/radio_nimo/kovra_nimo.m3u8");
    for (const char* garbage : {"not a host", "evil.example/x?", "user@evil.example", ":8443", "ho\x01st", ""})
        EXPECT_EQ(nimoWithHost(garbage), compiledHost + "/radio_nimo/kovra_nimo.m3u8") << garbage;
}

TEST(StreamAddress, AnIdThatIsNoPlainWordIsEscapedNotSpliced)
{
    const KovraChannel odd{"a b/../x?", "Odd", "000000", KovraChannel::ChannelCategory::national};
    EXPECT_EQ(odd.streamURL().absoluteString(), compiledHost + "/radio_a%20b%2F..%2Fx%3F/kovra_a%20b%2F..%2Fx%3F.m3u8");
}
