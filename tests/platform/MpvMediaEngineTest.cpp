// The media engine over a stand-in for libmpv that refuses or accepts commands the way a real
// core does: a refusal comes back from the call itself, and no event ever follows it.
#include "PlatformTestSupport.h"

#include "platform/linux/MpvMediaEngine.h"

#include <algorithm>
#include <string>
#include <vector>

using namespace platform;
using namespace platform::linux_impl;
using kovra_test::runUntil;

namespace {

// What the stand-in core was asked, and whether it takes loads.
struct FakeCore {
    static inline bool acceptLoads = false;
    static inline std::vector<std::string> commands;
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
    lib->set_wakeup_callback = [](mpv_handle*, void (*)(void*), void*) {};
    lib->command_node_async = [](mpv_handle*, uint64_t, mpv_node* command) {
        FakeCore::commands.emplace_back(commandName(command));
        const bool refused = FakeCore::commands.back() == "loadfile" && !FakeCore::acceptLoads;
        return refused ? int(MPV_ERROR_INVALID_PARAMETER) : 0;
    };
    lib->set_property_async = [](mpv_handle*, uint64_t, const char*, mpv_format, void*) { return 0; };
    lib->get_property = [](mpv_handle*, const char*, mpv_format, void*) { return int(MPV_ERROR_PROPERTY_UNAVAILABLE); };
    lib->free_node_contents = [](mpv_node*) {};
    lib->wait_event = [](mpv_handle*, double) { return &none; };
    return lib;
}

long loads() { return std::count(FakeCore::commands.begin(), FakeCore::commands.end(), "loadfile"); }

} // namespace

TEST(MpvMediaEngine, ARefusedLoadIsNotPlayingAndIsRetriedUntilTheCoreTakesIt)
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
    EXPECT_EQ(player->rate(), 1.0f);
    EXPECT_EQ(failures, (std::vector<bool>{true, false}));
}
