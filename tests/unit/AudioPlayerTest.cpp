// The stream player's 15 s skips and the desktop's media commands acting on it.
#include "tests/fixtures/World.h"

using platform::MediaTime;
using Status = platform::RemoteCommandHandlerStatus;

namespace {

// A player with a stream playing.
class StreamPlayer : public World {
protected:
    StreamPlayer() { player->play(KovraChannel::allChannels[0]); }

    // Puts the playing stream at a position with seekable ranges {start, duration}, in seconds.
    void at(double seconds, std::vector<std::pair<double, double>> ranges)
    {
        auto record = media.lastPlayer();
        record->currentTime = MediaTime::makeWithSeconds(seconds, 1000);
        record->ranges.clear();
        for (auto [start, duration] : ranges)
            record->ranges.push_back({MediaTime{int64_t(start), 1}, MediaTime{int64_t(duration), 1}});
    }
    // Where the seeks went, in seconds; every one of them exact.
    std::vector<double> seeks() const
    {
        std::vector<double> out;
        for (const auto& seek : media.lastPlayer()->seeks) {
            EXPECT_EQ(seek.toleranceBefore, MediaTime::zero());
            EXPECT_EQ(seek.toleranceAfter, MediaTime::zero());
            out.push_back(seek.time.seconds());
        }
        return out;
    }

    std::shared_ptr<AudioPlayer> player = std::make_shared<AudioPlayer>();
};

} // namespace

TEST_F(StreamPlayer, SkipsAreExactAndClampedToTheLastRangeOnly)
{
    at(100, {{0, 40}, {50, 60}});
    player->skip(15); // past the end: exactly the end
    at(55, {{0, 40}, {50, 60}});
    player->skip(-15); // before the start: exactly the start, not the earlier range
    at(70.5, {{50, 60}});
    player->skip(15);
    player->skip(-15);
    player->pause(); // paused: it moves and stays paused
    player->skip(0);
    EXPECT_FALSE(player->isPlaying());
    EXPECT_EQ(seeks(), (std::vector<double>{110, 50, 85.5, 55.5, 70.5}));
}

TEST_F(StreamPlayer, SkipDoesNothingWithoutSomewhereToGo)
{
    at(70, {});
    player->skip(15);
    at(70, {{50, 60}});
    media.lastPlayer()->hasCurrentItem = false;
    player->skip(15);
    media.lastPlayer()->hasCurrentItem = true;
    player->skip(std::numeric_limits<double>::quiet_NaN());
    media.lastPlayer()->currentTime = MediaTime{}; // position not known yet
    player->skip(15);
    EXPECT_TRUE(seeks().empty());
}

TEST_F(StreamPlayer, TrackAndSkipCommandsMoveFifteenSecondsWhateverTheEventCarries)
{
    at(70, {{0, 200}});
    commands.nextTrackCommand().invoke();
    commands.previousTrackCommand().invoke();
    commands.skipForwardCommand().invoke({60});
    commands.skipBackwardCommand().invoke({60});
    EXPECT_EQ(seeks(), (std::vector<double>{85, 55, 85, 55}));
    EXPECT_EQ(commands.skipForwardCommand().preferredIntervals(), std::vector<double>{15});
    EXPECT_EQ(media.players.size(), 1u);
}

TEST_F(StreamPlayer, HandlersOutlivingThePlayerDoNothing)
{
    player.reset();
    doubles::mediaCalls = 0;
    EXPECT_EQ(commands.playCommand().invoke(), Status::CommandFailed);
    for (auto* command : {&commands.pauseCommand(), &commands.togglePlayPauseCommand(), &commands.nextTrackCommand(),
                          &commands.skipBackwardCommand()})
        EXPECT_EQ(command->invoke(), Status::Success);
    EXPECT_EQ(doubles::mediaCalls, 0);
}
