// The media session's transitions over a stand-in for libmpv, on clocks the test moves and limits
// of milliseconds: sleep, network changes, stalls, long pauses, failed loads, and when the listener
// is told the stream sounds or falls silent.
#include "tests/fixtures/PlatformTestSupport.h"

#include "platform/linux/playback/MpvSession.h"

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using namespace platform;
using namespace platform::linux_impl;
using kovra_test::runUntil;
using State = MpvSession::State;

namespace {

// The stand-in core: what it was asked, how many loads it refuses, and the events it has to tell.
// A refusal comes back from the call itself, and no event ever follows it, as from a real core.
struct FakeCore {
    static inline int refusals = 0;
    static inline std::vector<std::string> commands;
    static inline double cacheSeconds = -1;
    static inline std::deque<mpv_event> events;
    static inline void (*wakeup)(void*) = nullptr;
    static inline void* wakeupContext = nullptr;

    static void tell(std::initializer_list<mpv_event> news)
    {
        events.insert(events.end(), news);
        wakeup(wakeupContext);
    }
    static long count(const char* name) { return std::count(commands.begin(), commands.end(), name); }
};

std::shared_ptr<const MpvLibrary> openFakeLibrary(QString*)
{
    static char core;
    static mpv_event none{}, current{};
    auto lib = std::make_shared<MpvLibrary>();
    lib->create = [] { return reinterpret_cast<mpv_handle*>(&core); };
    lib->initialize = [](mpv_handle*) { return 0; };
    lib->terminate_destroy = [](mpv_handle*) {};
    lib->set_option_string = [](mpv_handle*, const char*, const char*) { return 0; };
    lib->error_string = [](int) { return "invalid parameter"; };
    lib->request_log_messages = [](mpv_handle*, const char*) { return 0; };
    lib->observe_property = [](mpv_handle*, uint64_t, const char*, mpv_format) { return 0; };
    lib->unobserve_property = [](mpv_handle*, uint64_t) { return 0; };
    lib->set_wakeup_callback = [](mpv_handle*, void (*callback)(void*), void* context) {
        FakeCore::wakeup = callback;
        FakeCore::wakeupContext = context;
    };
    lib->command_node_async = [](mpv_handle*, uint64_t, mpv_node* command) {
        FakeCore::commands.emplace_back(mpvMapValue(*command, "name")->u.string);
        return FakeCore::commands.back() == "loadfile" && FakeCore::refusals-- > 0 ? int(MPV_ERROR_INVALID_PARAMETER)
                                                                                   : 0;
    };
    lib->set_property_async = [](mpv_handle*, uint64_t, const char* name, mpv_format, void* value) {
        if (std::string(name) == "cache-secs")
            FakeCore::cacheSeconds = *static_cast<double*>(value);
        return 0;
    };
    lib->wait_event = [](mpv_handle*, double) {
        if (FakeCore::events.empty())
            return &none;
        current = FakeCore::events.front();
        FakeCore::events.pop_front();
        return &current;
    };
    return lib;
}

// The stream's position as the core reports it, and the event that reports it.
double at = 0;
mpv_event_property timePos{"time-pos", MPV_FORMAT_DOUBLE, &at};
const mpv_event moved{MPV_EVENT_PROPERTY_CHANGE, 0, MpvStream::kTimePos, &timePos};

// The core answers the last load, its entry (id 7) starts and sounds at `seconds`, or only opens.
void tellSounding(double seconds, mpv_event news = moved)
{
    static char idKey[] = "playlist_entry_id";
    static char* keys[] = {idKey};
    static mpv_node id{.u = {.int64 = 7}, .format = MPV_FORMAT_INT64};
    static mpv_node_list ids{1, &id, keys};
    static mpv_event_command reply{{.u = {.list = &ids}, .format = MPV_FORMAT_NODE_MAP}};
    static mpv_event_start_file started{7};
    at = seconds;
    const uint64_t generation = FakeCore::count("loadfile");
    FakeCore::tell({{MPV_EVENT_COMMAND_REPLY, 0, generation, &reply}, {MPV_EVENT_START_FILE, 0, 0, &started}, news});
}

void tellFailed()
{
    static mpv_event_end_file ended{MPV_END_FILE_REASON_ERROR, MPV_ERROR_LOADING_FAILED, 7, 0, 0};
    FakeCore::tell({{MPV_EVENT_END_FILE, 0, 0, &ended}});
}

// One session on clocks the test moves, and what it told, in order. Its limits are out of reach
// but for the one a case shortens, and its backoff a hundred times shorter.
struct Session {
    ReconnectPolicy::Clock::time_point now{};
    int64_t boot = 0;
    std::vector<std::string> told;
    const MediaPlayer* player = reinterpret_cast<const MediaPlayer*>(&told);
    std::unique_ptr<MpvSession> session;

    explicit Session(void (*tune)(MpvSessionTiming&) = nullptr)
    {
        kovra_test::qtApp();
        FakeCore::commands.clear();
        MpvSessionTiming timing{
            .openingQuiet = 1h, .quiet = 1h, .outputTail = 1h, .watchdogTick = 5ms, .longPause = 1h};
        timing.backoffDivisor = 100, timing.now = [this] { return now; }, timing.bootNow = [this] { return boot; };
        if (tune)
            tune(timing);
        session = std::make_unique<MpvSession>(&openFakeLibrary, timing);
        QObject::connect(session.get(), &MpvSession::failedChanged,
                         [this](bool f) { told.emplace_back(f ? "failed" : "ok"); });
        QObject::connect(session.get(), &MpvSession::soundingChanged,
                         [this](bool s) { told.emplace_back(s ? "sounding" : "quiet"); });
    }
    MpvSession* operator->() const { return session.get(); }
    void start() { session->start(player, nullptr, "https://127.0.0.1/a.m3u8"); }
};

bool loads(long n)
{
    return runUntil([n] { return FakeCore::count("loadfile") == n; });
}

// Sound after silence: the listener is told it sounds again.
void soundAgain(Session& s)
{
    tellSounding(101);
    runUntil([&] { return s.told.size() == 3; });
}

} // namespace

TEST(MpvSession, TransitionsOnSleepNetworkStallPauseFailureAndSilence)
{
    enum From { Opened, Heard, Paused };
    struct Case {
        const char* what;
        From from;
        void (*act)(Session&);
        State after;
        long reloads;
        bool dropped; // the core was told to stop the stream
        std::vector<std::string> told;
        void (*tune)(MpvSessionTiming&) = nullptr; // what the case changes first
    };
    const std::vector<std::string> heard{"sounding"}, quiet{"sounding", "quiet"}, silent{"sounding", "quiet", "failed"};
    const std::vector<std::string> back{"failed", "ok", "sounding"};
    constexpr int64_t kLater = 21'000'000'000; // past the paused position's window
    const Case cases[] = {
        {"sleep drops the stream, wake opens it afresh", Heard, [](Session& s) { s->prepareForSleep(), s->wake(); },
         State::Opening, 1, true, quiet},
        {"an unannounced wake leaves it", Heard, [](Session& s) { s->wake(); }, State::Playing, 0, false, heard},
        {"the network back leaves it", Heard, [](Session& s) { s->networkOnline(); }, State::Playing, 0, false, heard},
        {"a stall drops it and retries", Heard, [](Session& s) { s.now += 9s, loads(2); }, State::Opening, 1, true,
         silent},
        {"paused, a short sleep keeps it", Paused, [](Session& s) { s->prepareForSleep(), s->resume(s.player); },
         State::Playing, 0, false, quiet},
        {"paused long, with its connection kept", Paused, [](Session& s) { s.boot += kLater, s->resume(s.player); },
         State::Playing, 0, false, quiet},
        {"paused, another network loses it", Paused,
         [](Session& s) { s->networkSwitched({}), s.boot += kLater, s->resume(s.player); }, State::Opening, 1, false,
         quiet},
        {"paused, a failure stops it", Paused,
         [](Session&) { tellFailed(), runUntil([] { return FakeCore::events.empty(); }); }, State::Stopped, 0, false,
         quiet},
        {"silent after the sound stops", Heard, [](Session& s) { runUntil([&] { return s->failed(); }); },
         State::Playing, 0, false, silent, [](MpvSessionTiming& t) { t.quiet = 10ms; }},
        {"a stream that played well and ended is opened at once", Heard, [](Session&) { tellFailed(), loads(2); },
         State::Opening, 1, false, heard},
        {"silent after the open, opened once more only, however often it goes quiet, then heard", Opened,
         [](Session& s) {
             runUntil([&] { return s->failed(); });
             tellSounding(0, {MPV_EVENT_FILE_LOADED, 0, 0, nullptr}), loads(2);
             runUntil([] { return false; }, 100); // quiet again while the link is slow
             tellSounding(0, {MPV_EVENT_FILE_LOADED, 0, 0, nullptr});
             soundAgain(s);
         },
         State::Playing, 1, false, back, [](MpvSessionTiming& t) { t.openingQuiet = 10ms; }},
        {"refused loads, retried until heard", Opened, [](Session& s) { loads(3), soundAgain(s); }, State::Playing, 2,
         false, back, [](MpvSessionTiming&) { FakeCore::refusals = 2; }},
    };
    // Another network reopening a stream, a long pause dropping it and a long sleep losing a paused
    // one's position are the real binary's (tests/faults/test_faults.py).
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeCore::refusals = 0;
        Session s(c.tune);
        s.start();
        if (c.from != Opened) {
            tellSounding(100);
            ASSERT_TRUE(runUntil([&] { return !s.told.empty(); }));
        }
        if (c.from == Paused)
            s->pause(s.player);
        EXPECT_EQ(FakeCore::cacheSeconds, c.from == Paused ? 0 : 3.6e6) << "paused, nothing is read ahead";
        const long stops = FakeCore::count("stop");
        c.act(s);
        EXPECT_EQ(s->state(), c.after);
        EXPECT_EQ(FakeCore::count("loadfile") - 1, c.reloads);
        EXPECT_EQ(FakeCore::count("stop") > stops, c.dropped);
        EXPECT_EQ(s.told, c.told);
    }
}

TEST(MpvSession, ASeekThatNeverBeginsLeavesThePositionToTheCore)
{
    Session s;
    s.start();
    tellSounding(100);
    ASSERT_TRUE(runUntil([&] { return s->position(s.player) == 100; }));
    s->seek(s.player, 90);
    EXPECT_EQ(s->position(s.player), 90) << "a second skip builds on the first";
    s.now += 1s; // the core never begins it, as when the target was trimmed from the back-buffer
    EXPECT_EQ(s->position(s.player), 100);
    at = 101;
    FakeCore::tell({moved, mpv_event{MPV_EVENT_PLAYBACK_RESTART, 0, 0, nullptr}});
    ASSERT_TRUE(runUntil([] { return FakeCore::events.empty(); }));
    EXPECT_EQ(s->position(s.player), 101) << "a later restart does not bring the old target back";
}
