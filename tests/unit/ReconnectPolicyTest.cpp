// The reconnect policy on a clock the test moves: the retry schedule of an outage and when a
// stream counts as stalled.
#include "platform/linux/playback/ReconnectPolicy.h"

#include <gtest/gtest.h>

#include <vector>

using namespace std::chrono_literals;
using platform::linux_impl::ReconnectPolicy;

namespace {

struct ReconnectPolicyTest : ::testing::Test {
    ReconnectPolicy::Clock::time_point now{};
    ReconnectPolicy policy{[this] { return now; }};

    // Fails n attempts in a row, each after waiting out the delay before it.
    std::vector<long> failures(int n)
    {
        std::vector<long> delays;
        for (int i = 0; i < n; ++i) {
            delays.push_back(long(policy.nextDelay().count()));
            now += std::chrono::milliseconds(delays.back());
        }
        return delays;
    }
};

} // namespace

TEST_F(ReconnectPolicyTest, AYoungOutageRetriesSoonThenALongOneBacksOffToTheCap)
{
    EXPECT_EQ(failures(5), (std::vector<long>{500, 1000, 2000, 3000, 3000}));
    now += 60s;
    EXPECT_EQ(failures(3), (std::vector<long>{16000, 30000, 30000}));
}

TEST_F(ReconnectPolicyTest, TenSecondsOfSoundEndTheOutageButShortBurstsDoNot)
{
    failures(4);
    policy.sounding();
    now += 9s;
    policy.sounding();
    EXPECT_EQ(policy.nextDelay(), 3000ms) << "nine seconds of sound are not a recovery";
    now += 3s;
    policy.sounding();
    now += 10s;
    policy.sounding();
    EXPECT_EQ(policy.nextDelay(), 500ms);
}

TEST_F(ReconnectPolicyTest, OnlyAttemptsThatWaitOutTheirTimeoutGetMorePatientConnections)
{
    // Fails one attempt `took` after it started; the connection timeout of the next one.
    const auto attempt = [this](std::chrono::milliseconds took) {
        policy.attempting();
        now += took;
        now += policy.nextDelay();
        return policy.connectionTimeout();
    };
    EXPECT_EQ(policy.connectionTimeout(), 3s);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(attempt(50ms), 3s) << "quick refusals say nothing of the link";
    EXPECT_EQ(attempt(3s), 6s);
    EXPECT_EQ(attempt(1s), 6s);
    policy.attempting();
    policy.answered();
    now += 7s;
    policy.nextDelay();
    EXPECT_EQ(policy.connectionTimeout(), 6s) << "a stream that opened and then played nothing was not slow";
    attempt(6s);
    EXPECT_EQ(attempt(12s), 12s);
    policy.attempting();
    policy.sounding();
    now += 20s;
    EXPECT_EQ(policy.connectionTimeout(), 12s);
    policy.nextDelay();
    EXPECT_EQ(policy.connectionTimeout(), 12s) << "a stream that played and then stopped says nothing of the link";
    policy.reset();
    EXPECT_EQ(policy.connectionTimeout(), 3s);
    EXPECT_EQ(policy.nextDelay(), 500ms);
}

TEST_F(ReconnectPolicyTest, OpeningMayPauseLongBetweenStagesButASoundingStreamStallsAfterEightSeconds)
{
    policy.progressed();
    now += 29s;
    EXPECT_FALSE(policy.stalled()) << "opening over a slow link";
    now += 1s;
    EXPECT_TRUE(policy.stalled());
    policy.sounding();
    now += 7s;
    EXPECT_FALSE(policy.stalled());
    policy.sounding();
    now += 7s;
    EXPECT_FALSE(policy.stalled());
    now += 1s;
    EXPECT_TRUE(policy.stalled());
}

TEST_F(ReconnectPolicyTest, AfterWakeItRetriesEverySecondWithShortTimeoutsThenBacksOffAfresh)
{
    failures(8);
    policy.woke();
    EXPECT_EQ(failures(3), (std::vector<long>{1000, 1000, 1000}));
    EXPECT_EQ(policy.connectionTimeout(), ReconnectPolicy::kFirstConnectionTimeout);
    now += 30s;
    EXPECT_EQ(failures(2), (std::vector<long>{500, 1000}));
}
