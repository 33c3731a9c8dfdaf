// The media session's transitions over a stand-in for libmpv, on clocks the test moves and limits
// of milliseconds: sleep, network changes, stalls, long pauses, failed loads, and when the listener
// is told the stream sounds; and the player fronts of the engine over it.
#include "tests/fixtures/PlatformTestSupport.h"

#include "platform/linux/playback/MpvMediaEngine.h"

#include <algorithm>
#include <deque>
#include <map>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using namespace platform;
using namespace platform::linux_impl;
using kovra_test::runUntil;
using State = MpvSession::State;

namespace {

// The stand-in core: what it was asked, whether it takes loads, and the events it has to tell. A
// refusal comes back from the call itself, and no event ever follows it, as from a real core.
struct FakeCore {
    static inline bool acceptLoads = true;
    static inline std::vector<std::string> commands;
    static inline std::map<std::string, double> properties;
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
    static mpv_event none{};
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
        const mpv_node* name = mpvMapValue(*command, "name");
        FakeCore::commands.emplace_back(name && name->format == MPV_FORMAT_STRING ? name->u.string : "");
        return FakeCore::commands.back() == "loadfile" && !FakeCore::acceptLoads ? int(MPV_ERROR_INVALID_PARAMETER) : 0;
    };
    lib->set_property_async = [](mpv_handle*, uint64_t, const char* name, mpv_format format, void* value) {
        FakeCore::properties[name] =
            format == MPV_FORMAT_DOUBLE ? *static_cast<double*>(value) : *static_cast<int*>(value);
        return 0;
    };
    lib->get_property = [](mpv_handle*, const char*, mpv_format, void*) { return int(MPV_ERROR_PROPERTY_UNAVAILABLE); };
    lib->free_node_contents = [](mpv_node*) {};
    lib->wait_event = [](mpv_handle*, double) {
        static mpv_event current;
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

// The core answers the last load, its entry (id 7) starts and sounds at `seconds`.
void tellSounding(double seconds)
{
    static char idKey[] = "playlist_entry_id";
    static char* keys[] = {idKey};
    static mpv_node id{.u = {.int64 = 7}, .format = MPV_FORMAT_INT64};
    static mpv_node_list ids{1, &id, keys};
    static mpv_event_command reply{{.u = {.list = &ids}, .format = MPV_FORMAT_NODE_MAP}};
    static mpv_event_start_file started{7};
    at = seconds;
    const uint64_t generation = FakeCore::count("loadfile");
    FakeCore::tell({{MPV_EVENT_COMMAND_REPLY, 0, generation, &reply}, {MPV_EVENT_START_FILE, 0, 0, &started}, moved});
}

void tellEnded(mpv_end_file_reason reason)
{
    static mpv_event_end_file ended{};
    ended = {reason, MPV_ERROR_LOADING_FAILED, 7, 0, 0};
    FakeCore::tell({{MPV_EVENT_END_FILE, 0, 0, &ended}});
}

// One session on moved clocks and short limits, and what it told, in order.
struct Session {
    ReconnectPolicy::Clock::time_point now{};
    int64_t boot = 0;
    std::vector<std::string> told;
    const MediaPlayer* player = reinterpret_cast<const MediaPlayer*>(&told);
    std::unique_ptr<MpvSession> session;

    explicit Session(std::chrono::milliseconds quiet = 1h, std::chrono::milliseconds longPause = 1h)
    {
        kovra_test::qtApp();
        FakeCore::commands.clear();
        FakeCore::acceptLoads = true;
        MpvSessionTiming timing{.openingQuiet = quiet,
                                .quiet = quiet,
                                .outputTail = quiet,
                                .watchdogTick = 5ms,
                                .longPause = longPause,
                                .backoffDivisor = 100};
        timing.now = [this] { return now; };
        timing.bootNow = [this] { return boot; };
        session = std::make_unique<MpvSession>(&openFakeLibrary, timing);
        QObject::connect(session.get(), &MpvSession::failedChanged,
                         [this](bool f) { told.push_back(f ? "failed" : "ok"); });
        QObject::connect(session.get(), &MpvSession::soundingChanged,
                         [this](bool s) { told.push_back(s ? "sounding" : "quiet"); });
    }
    MpvSession* operator->() const { return session.get(); }
    bool toldOf(const char* what) const { return std::count(told.begin(), told.end(), what) > 0; }
    // Plays until heard, and pauses then if asked to.
    void sound(bool thenPause)
    {
        session->start(player, nullptr, "https://127.0.0.1/a.m3u8");
        tellSounding(100);
        ASSERT_TRUE(runUntil([this] { return toldOf("sounding"); }));
        if (thenPause)
            session->pause(player);
    }
};

} // namespace

TEST(MpvSession, SleepNetworkStallAndLongPauseWhilePlayingOrPaused)
{
    struct Case {
        const char* what;
        bool paused;
        void (*act)(Session&);
        State after;
        long reloads;
        bool dropped; // the core was told to stop the stream
        std::vector<std::string> told;
        std::chrono::milliseconds longPause = 1h;
    };
    const std::vector<std::string> heard{"sounding"}, quiet{"sounding", "quiet"};
    constexpr int64_t kLater = 21'000'000'000; // past the paused position's window
    const Case cases[] = {
        {"sleep drops the stream", false, [](Session& s) { s->prepareForSleep(); }, State::Waiting, 0, true, quiet},
        {"wake opens it afresh", false, [](Session& s) { s->prepareForSleep(), s->wake(); }, State::Opening, 1, true,
         quiet},
        {"an unannounced wake leaves it", false, [](Session& s) { s->wake(); }, State::Playing, 0, false, heard},
        {"the network back leaves it", false, [](Session& s) { s->networkOnline(); }, State::Playing, 0, false, heard},
        {"another network reopens it", false, [](Session& s) { s->networkSwitched(std::chrono::steady_clock::now()); },
         State::Opening, 1, false, heard},
        {"a stall drops it and retries",
         false,
         [](Session& s) { s.now += 9s, runUntil([] { return FakeCore::count("loadfile") == 2; }); },
         State::Opening,
         1,
         true,
         {"sounding", "quiet", "failed"}},
        {"paused, a short sleep keeps it", true, [](Session& s) { s->prepareForSleep(), s->resume(s.player); },
         State::Playing, 0, false, quiet},
        {"paused, a long sleep loses it", true,
         [](Session& s) { s->prepareForSleep(), s.boot += kLater, s->resume(s.player); }, State::Opening, 1, false,
         quiet},
        {"paused, another network loses it", true,
         [](Session& s) { s->networkSwitched({}), s.boot += kLater, s->resume(s.player); }, State::Opening, 1, false,
         quiet},
        {"paused long, it is dropped", true, [](Session& s) { runUntil([&] { return s->state() == State::Stopped; }); },
         State::Stopped, 0, true, quiet, 10ms},
        {"paused, a failure stops it", true,
         [](Session&) { tellEnded(MPV_END_FILE_REASON_ERROR), runUntil([] { return FakeCore::events.empty(); }); },
         State::Stopped, 0, false, quiet},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Session s(1h, c.longPause);
        s.sound(c.paused);
        EXPECT_EQ(FakeCore::properties["cache-secs"], c.paused ? 0 : 3.6e6) << "paused, nothing is read ahead";
        const long stops = FakeCore::count("stop");
        c.act(s);
        EXPECT_EQ(s->state(), c.after);
        EXPECT_EQ(FakeCore::count("loadfile") - 1, c.reloads);
        EXPECT_EQ(FakeCore::count("stop") > stops, c.dropped);
        EXPECT_EQ(s.told, c.told);
    }
}

TEST(MpvSession, TheListenerIsToldWhenItFallsSilentAndWhenSoundComesBack)
{
    struct Case {
        const char* what;
        bool refused;
        bool heardFirst;
        State silentIn;
        std::vector<std::string> told;
    };
    const Case cases[] = {
        {"no sound after the open", false, false, State::Opening, {"failed"}},
        {"the sound stops", false, true, State::Playing, {"sounding", "quiet", "failed"}},
        {"the load is refused", true, false, State::Retrying, {"failed"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Session s(c.refused ? 1h : 20ms);
        FakeCore::acceptLoads = !c.refused;
        c.heardFirst ? s.sound(false) : s->start(s.player, nullptr, "https://127.0.0.1/a.m3u8");
        ASSERT_TRUE(runUntil([&] { return s->failed() && FakeCore::count("loadfile") >= (c.refused ? 3 : 1); }));
        EXPECT_EQ(s->state(), c.silentIn);
        EXPECT_EQ(s.told, c.told);
        FakeCore::acceptLoads = true;
        const long loads = FakeCore::count("loadfile");
        ASSERT_TRUE(runUntil([&] { return !c.refused || FakeCore::count("loadfile") > loads; })) << "retried";
        tellSounding(101);
        ASSERT_TRUE(runUntil([&] { return s.told.size() >= c.told.size() + 2; }));
        EXPECT_EQ(std::vector(s.told.begin() + long(c.told.size()), s.told.begin() + long(c.told.size()) + 2),
                  (std::vector<std::string>{"ok", "sounding"}));
    }
}

TEST(MpvSession, ASeekThatNeverBeginsLeavesThePositionToTheCore)
{
    Session s;
    s.sound(false);
    s->seek(s.player, 90);
    EXPECT_EQ(s->position(s.player), 90) << "a second skip builds on the first";
    s.now += 1s; // the core never begins it, as when the target was trimmed from the back-buffer
    EXPECT_EQ(s->position(s.player), 100);
    at = 101;
    FakeCore::tell({moved, mpv_event{MPV_EVENT_PLAYBACK_RESTART, 0, 0, nullptr}});
    ASSERT_TRUE(runUntil([] { return FakeCore::events.empty(); }));
    EXPECT_EQ(s->position(s.player), 101) << "a later restart does not bring the old target back";
}

TEST(MpvMediaEngine, APlayerCountsAsPlayingOnlyWhileItsStreamSounds)
{
    Session clear; // the stand-in's record, emptied
    FakeCore::acceptLoads = false;
    MpvMediaEngine engine(&openFakeLibrary, MpvSessionTiming{.outputTail = 1ms, .backoffDivisor = 100});
    auto player = engine.playerWithItem(engine.itemWithURL(*URL::fromString("https://127.0.0.1/radio_nimo/a.m3u8")));
    int told = 0;
    player->setRateChangeHandler([&] { ++told; });
    player->play();
    EXPECT_EQ(player->rate(), 0.0f) << "nothing can sound, so the player must not say it plays";
    FakeCore::acceptLoads = true;
    ASSERT_TRUE(runUntil([] { return FakeCore::count("loadfile") >= 2; }));
    tellSounding(100);
    ASSERT_TRUE(runUntil([&] { return player->rate() == 1.0f; }));
    tellEnded(MPV_END_FILE_REASON_ERROR);
    ASSERT_TRUE(runUntil([&] { return player->rate() == 0.0f; })) << "the server failed the stream";
    EXPECT_EQ(told, 2) << "the player says so by itself, both times";
}
