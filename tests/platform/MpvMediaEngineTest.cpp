// The media engine over a stand-in for libmpv that refuses or accepts commands the way a real
// core does: a refusal comes back from the call itself, and no event ever follows it.
#include "tests/fixtures/PlatformTestSupport.h"

#include "platform/linux/playback/MpvMediaEngine.h"

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

using namespace platform;
using namespace platform::linux_impl;
using kovra_test::runUntil;

namespace {

// What the stand-in core was asked, whether it takes loads, and the events it has to tell.
struct FakeCore {
    static inline bool acceptLoads = false;
    static inline std::vector<std::string> commands;
    static inline std::deque<mpv_event> events;
    static inline void (*wakeup)(void*) = nullptr;
    static inline void* wakeupContext = nullptr;

    static void tell(std::initializer_list<mpv_event> news)
    {
        events.insert(events.end(), news);
        wakeup(wakeupContext);
    }
};

const char* commandName(const mpv_node* node)
{
    const mpv_node* name = mpvMapValue(*node, "name");
    return name && name->format == MPV_FORMAT_STRING ? name->u.string : "";
}

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
        FakeCore::commands.emplace_back(commandName(command));
        const bool refused = FakeCore::commands.back() == "loadfile" && !FakeCore::acceptLoads;
        return refused ? int(MPV_ERROR_INVALID_PARAMETER) : 0;
    };
    lib->set_property_async = [](mpv_handle*, uint64_t, const char*, mpv_format, void*) { return 0; };
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

long loads() { return std::count(FakeCore::commands.begin(), FakeCore::commands.end(), "loadfile"); }

// The stream's position as the core reports it, and the event that reports it.
double at = 0;
mpv_event_property timePos{"time-pos", MPV_FORMAT_DOUBLE, &at};
const mpv_event moved{MPV_EVENT_PROPERTY_CHANGE, 0, 1, &timePos};

// The core answers the load of that generation, its entry (id 7) starts and sounds at `seconds`.
void tellSounding(uint64_t generation, double seconds)
{
    static char idKey[] = "playlist_entry_id";
    static char* keys[] = {idKey};
    static mpv_node id{.u = {.int64 = 7}, .format = MPV_FORMAT_INT64};
    static mpv_node_list ids{1, &id, keys};
    static mpv_event_command reply{{.u = {.list = &ids}, .format = MPV_FORMAT_NODE_MAP}};
    static mpv_event_start_file started{7};
    at = seconds;
    FakeCore::tell({{MPV_EVENT_COMMAND_REPLY, 0, generation, &reply}, {MPV_EVENT_START_FILE, 0, 0, &started}, moved});
}

} // namespace

TEST(MpvMediaEngine, APlayerCountsAsPlayingOnlyWhileItsStreamSounds)
{
    kovra_test::qtApp();
    MpvMediaEngine engine(&openFakeLibrary);
    std::vector<bool> failures;
    QObject::connect(&engine, &MpvMediaEngine::playbackFailedChanged, [&](bool failed) { failures.push_back(failed); });
    auto player =
        engine.playerWithItem(engine.itemWithURL(*URL::fromString("https://127.0.0.1/radio_nimo/kovra_nimo.m3u8")));

    player->play();
    EXPECT_EQ(loads(), 1);
    EXPECT_EQ(player->rate(), 0.0f) << "nothing can sound, so the player must not say it plays";
    EXPECT_EQ(failures, std::vector<bool>{true});

    ASSERT_TRUE(runUntil([] { return loads() >= 3; })) << "the refused load is tried again";
    EXPECT_EQ(player->rate(), 0.0f);

    FakeCore::acceptLoads = true;
    ASSERT_TRUE(runUntil([] { return loads() >= 4; }));
    EXPECT_EQ(player->rate(), 0.0f) << "taken, but not sounding yet";
    int told = 0;
    player->setRateChangeHandler([&] { ++told; });
    tellSounding(loads(), 100);
    ASSERT_TRUE(runUntil([&] { return player->rate() == 1.0f; }));
    EXPECT_EQ(failures, (std::vector<bool>{true, false}));

    // The server fails the stream: it stops counting as playing, and the player says so by itself.
    static mpv_event_end_file ended{MPV_END_FILE_REASON_ERROR, MPV_ERROR_LOADING_FAILED, 7, 0, 0};
    FakeCore::tell({{MPV_EVENT_END_FILE, 0, 0, &ended}});
    ASSERT_TRUE(runUntil([&] { return player->rate() == 0.0f; }));
    EXPECT_EQ(told, 2);
}

TEST(MpvMediaEngine, ASeekThatNeverBeginsLeavesThePositionToTheCore)
{
    kovra_test::qtApp();
    FakeCore::acceptLoads = true;
    MpvMediaEngine engine(&openFakeLibrary);
    auto player = engine.playerWithItem(engine.itemWithURL(*URL::fromString("https://127.0.0.1/radio_nimo/a.m3u8")));
    player->play();

    tellSounding(1, 100);
    ASSERT_TRUE(runUntil([&] { return player->currentTime().seconds() == 100; }));

    player->seekToTime(MediaTime::makeWithSeconds(90, 600), MediaTime::zero(), MediaTime::zero());
    EXPECT_EQ(player->currentTime().seconds(), 90) << "a second skip builds on the first";
    // The core never begins it, as when the target was trimmed from the back-buffer.
    EXPECT_TRUE(runUntil([&] { return player->currentTime().seconds() == 100; }));
    at = 101;
    FakeCore::tell({moved, mpv_event{MPV_EVENT_PLAYBACK_RESTART, 0, 0, nullptr}});
    ASSERT_TRUE(runUntil([&] { return player->currentTime().seconds() == 101; }));
    EXPECT_TRUE(runUntil([] { return FakeCore::events.empty(); }));
    EXPECT_EQ(player->currentTime().seconds(), 101) << "a later restart does not bring the old target back";
}
