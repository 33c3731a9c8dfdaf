// What the desktop shows as now playing, and the media commands it sends back.
#pragma once

#include "platform/Service.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform {

enum class PlaybackState : int { Unknown = 0, Playing = 1, Paused = 2 };

// The now-playing dictionary; these are all the entries it can hold.
struct NowPlayingInfo {
    std::optional<bool> isLiveStream;
    std::optional<std::string> title;
    std::optional<std::string> artist;
    bool operator==(const NowPlayingInfo&) const = default;
};

class NowPlayingCenter : public Service<NowPlayingCenter> {
public:
    static NowPlayingCenter& defaultCenter() { return shared(); }
    virtual ~NowPlayingCenter() = default;
    // Replaces everything published before.
    virtual void setNowPlayingInfo(const NowPlayingInfo& info) = 0;
    virtual void setPlaybackState(PlaybackState state) = 0;
};

enum class RemoteCommandHandlerStatus : int { Success = 0, CommandFailed = 200 };

struct RemoteCommandEvent {
    // The interval a skip command carries, in seconds (0 when none).
    double interval = 0;
};

// One command of the shared centre. Plain data: the platform delivers a command with invoke().
class RemoteCommand {
public:
    using Handler = std::function<RemoteCommandHandlerStatus(const RemoteCommandEvent&)>;

    void addTargetWithHandler(Handler handler) { handlers_.push_back(std::move(handler)); }
    void setPreferredIntervals(std::vector<double> intervals) { preferredIntervals_ = std::move(intervals); }
    const std::vector<double>& preferredIntervals() const { return preferredIntervals_; }
    bool hasTargets() const { return !handlers_.empty(); }

    // Calls every handler; none, or one that failed, makes the command fail.
    RemoteCommandHandlerStatus invoke(const RemoteCommandEvent& event = {}) const
    {
        auto status =
            handlers_.empty() ? RemoteCommandHandlerStatus::CommandFailed : RemoteCommandHandlerStatus::Success;
        for (const auto& handler : handlers_) {
            if (handler(event) != RemoteCommandHandlerStatus::Success)
                status = RemoteCommandHandlerStatus::CommandFailed;
        }
        return status;
    }

private:
    std::vector<Handler> handlers_;
    std::vector<double> preferredIntervals_;
};

class RemoteCommandCenter : public Service<RemoteCommandCenter> {
public:
    static RemoteCommandCenter& sharedCommandCenter() { return shared(); }
    virtual ~RemoteCommandCenter() = default;

    RemoteCommand& playCommand() { return play_; }
    RemoteCommand& pauseCommand() { return pause_; }
    RemoteCommand& togglePlayPauseCommand() { return toggle_; }
    RemoteCommand& skipForwardCommand() { return skipForward_; }
    RemoteCommand& skipBackwardCommand() { return skipBackward_; }
    RemoteCommand& nextTrackCommand() { return nextTrack_; }
    RemoteCommand& previousTrackCommand() { return previousTrack_; }

private:
    RemoteCommand play_, pause_, toggle_, skipForward_, skipBackward_, nextTrack_, previousTrack_;
};

} // namespace platform
