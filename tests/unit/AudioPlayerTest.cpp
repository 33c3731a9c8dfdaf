// The stream player and the desktop's media commands acting on it.
#include "tests/unit/World.h"

using platform::MediaTime;
using platform::PlaybackState;
using Status = platform::RemoteCommandHandlerStatus;

namespace {

class StreamPlayer : public World {
protected:
    StreamPlayer()
    {
        player->onStateChange = [this] { ++stateChanges; };
    }

    // Puts the playing stream at a position with seekable ranges {start, duration}, in seconds.
    void at(double seconds, std::vector<std::pair<double, double>> ranges)
    {
        auto record = media.lastPlayer();
        record->currentTime = MediaTime::makeWithSeconds(seconds, 1000);
        record->item->ranges.clear();
        for (auto [start, duration] : ranges)
            record->item->ranges.push_back({MediaTime{int64_t(start), 1}, MediaTime{int64_t(duration), 1}});
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
    int stateChanges = 0;
};

} // namespace

TEST_F(StreamPlayer, PausingBeforeAnyPlayStillReportsPaused)
{
    EXPECT_FALSE(player->isPlaying());
    EXPECT_FALSE(player->currentChannel());
    player->skip(15);
    player->pause();
    EXPECT_TRUE(media.players.empty());
    EXPECT_EQ(nowPlaying.states, std::vector{PlaybackState::Paused});
    EXPECT_EQ(stateChanges, 1);
}

TEST_F(StreamPlayer, ListenersSeeTheNewChannelAlreadyPlaying)
{
    bool sawPlaying = false;
    player->onStateChange = [&] { sawPlaying = player->isPlaying() && player->currentChannel()->id == "velmora"; };
    player->play(channel(0));
    EXPECT_TRUE(sawPlaying);
    EXPECT_EQ(nowPlaying.infos, (std::vector<platform::NowPlayingInfo>{{true, "Kovra Velmora", "Kovra"}}));
    EXPECT_EQ(nowPlaying.states, std::vector{PlaybackState::Playing});
    EXPECT_EQ(media.items.at(0)->url, channel(0).streamURL().absoluteString());
}

TEST_F(StreamPlayer, SwitchingSilencesTheOldStreamBeforeTheNewOneStarts)
{
    player->play(channel(0));
    player->play(channel(0)); // the same channel again opens it afresh
    player->play(channel(1));
    EXPECT_LT(*log.first("MediaPlayer2.pause"), *log.first("MediaPlayer3.play"));
    EXPECT_LT(*log.first("MediaPlayer2.released"), *log.first("MediaPlayer3.play"));
    EXPECT_EQ(media.items.size(), 3u);
    EXPECT_EQ(media.livePlayers(), 1);
    EXPECT_EQ(player->currentChannel()->id, "tarvesi");
}

TEST_F(StreamPlayer, PauseAndResumeKeepTheStreamAndThePublishedChannel)
{
    player->play(channel(0));
    player->pause();
    EXPECT_FALSE(player->isPlaying());
    player->resume();
    EXPECT_TRUE(player->isPlaying());
    EXPECT_EQ(media.lastPlayer()->calls, (Strings{"play", "pause", "play"}));
    EXPECT_EQ(nowPlaying.infos.size(), 1u);
    EXPECT_EQ(nowPlaying.states, (std::vector{PlaybackState::Playing, PlaybackState::Paused, PlaybackState::Playing}));
    EXPECT_EQ(stateChanges, 3);
    media.lastPlayer()->rate = 0; // still loading
    EXPECT_FALSE(player->isPlaying());
}

TEST_F(StreamPlayer, SkipsAreExactAndBoundedByTheLastRangeOnly)
{
    player->play(channel(0));
    at(100, {{0, 40}, {50, 60}});
    player->skip(15); // past the end: exactly the end
    at(55, {{0, 40}, {50, 60}});
    player->skip(-15); // before the start: exactly the start, not the earlier range
    at(70.5, {{50, 60}});
    player->skip(15);
    player->skip(-15);
    player->skip(0);
    at(95, {{50, 60}});
    player->skip(15); // onto the end itself
    EXPECT_EQ(seeks(), (std::vector<double>{110, 50, 85.5, 55.5, 70.5, 110}));
}

TEST_F(StreamPlayer, SkippingWhilePausedMovesButStaysPausedAndQuiet)
{
    player->play(channel(0));
    player->pause();
    at(70, {{50, 60}});
    player->skip(15);
    EXPECT_EQ(seeks(), std::vector<double>{85});
    EXPECT_FALSE(player->isPlaying());
    EXPECT_EQ(stateChanges, 2);
}

TEST_F(StreamPlayer, SkipDoesNothingWithoutSomewhereToGo)
{
    player->play(channel(0));
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

// ---- Media commands

TEST_F(StreamPlayer, CommandsBeforeAnythingPlayed)
{
    EXPECT_EQ(commands.playCommand().invoke(), Status::CommandFailed);
    for (auto* command :
         {&commands.togglePlayPauseCommand(), &commands.skipForwardCommand(), &commands.skipBackwardCommand(),
          &commands.nextTrackCommand(), &commands.previousTrackCommand()})
        EXPECT_EQ(command->invoke(), Status::Success);
    EXPECT_TRUE(media.players.empty());
    EXPECT_EQ(stateChanges, 0);
    EXPECT_EQ(commands.pauseCommand().invoke(), Status::Success);
    EXPECT_EQ(nowPlaying.states, std::vector{PlaybackState::Paused});
    EXPECT_EQ(stateChanges, 1); // one handler per command
    EXPECT_EQ(commands.skipForwardCommand().preferredIntervals(), std::vector<double>{15});
    EXPECT_EQ(commands.skipBackwardCommand().preferredIntervals(), std::vector<double>{15});
}

TEST_F(StreamPlayer, ToggleKeepsTheStreamWhilePlayReopensIt)
{
    player->play(channel(1));
    commands.togglePlayPauseCommand().invoke();
    EXPECT_FALSE(player->isPlaying());
    commands.togglePlayPauseCommand().invoke();
    EXPECT_TRUE(player->isPlaying());
    EXPECT_EQ(media.players.size(), 1u);
    EXPECT_EQ(nowPlaying.infos.size(), 1u);
    player->pause();
    EXPECT_EQ(commands.playCommand().invoke(), Status::Success);
    EXPECT_EQ(commands.playCommand().invoke(), Status::Success);
    EXPECT_EQ(media.players.size(), 3u);
    EXPECT_EQ(nowPlaying.infos.size(), 3u);
    EXPECT_TRUE(player->isPlaying());
}

TEST_F(StreamPlayer, TrackAndSkipCommandsMoveFifteenSecondsWhateverTheEventCarries)
{
    player->play(channel(0));
    at(70, {{0, 200}});
    commands.nextTrackCommand().invoke();
    commands.previousTrackCommand().invoke();
    commands.skipForwardCommand().invoke({60});
    commands.skipBackwardCommand().invoke({60});
    EXPECT_EQ(seeks(), (std::vector<double>{85, 55, 85, 55}));
    EXPECT_EQ(player->currentChannel()->id, "velmora");
    EXPECT_EQ(nowPlaying.infos.size(), 1u);
}

TEST_F(StreamPlayer, HandlersOutlivingThePlayerDoNothing)
{
    player->play(channel(0));
    player.reset();
    log.clear();
    stateChanges = 0;
    EXPECT_EQ(commands.playCommand().invoke(), Status::CommandFailed);
    for (auto* command : {&commands.pauseCommand(), &commands.togglePlayPauseCommand(), &commands.nextTrackCommand(),
                          &commands.skipBackwardCommand()})
        EXPECT_EQ(command->invoke(), Status::Success);
    EXPECT_TRUE(log.entries().empty());
    EXPECT_EQ(stateChanges, 0);
}
