// Thousands of seeded random steps through every door into the tray (menu, shortcuts, media
// commands, the stream itself, the settings store, the login item), checked after each step
// against a small reference model. KOVRA_RANDOM_SEED replays a run; KOVRA_RANDOM_STEPS shortens it.
#include "tests/unit/World.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <random>
#include <sstream>

using platform::ControlStateValueOn;
using platform::LoginItemStatus;
using platform::MediaTime;
using platform::PlaybackState;
using Status = platform::RemoteCommandHandlerStatus;

namespace {

constexpr std::uint64_t defaultSeed = 20240611;
constexpr std::uint64_t defaultSteps = 500; // per episode
constexpr int episodes = 10;
constexpr long stride = MenuManager::slotTagStride;
const char* const slotsKey = "hotkeyChannels";
constexpr std::array<uint32_t, 5> slotKeys{key1, key2, key3, key4, key5};

std::optional<std::uint64_t> envNumber(const char* name, std::uint64_t fallback)
{
    const char* text = std::getenv(name);
    if (!text || !*text)
        return fallback;
    char* end = nullptr;
    const auto value = std::strtoull(text, &end, 0);
    return *end ? std::nullopt : std::optional(value);
}

std::string mark(bool on) { return on ? "[x] " : "[ ] "; }

// What the tray ought to be doing, kept apart from it. shown is the menu of the last rebuild:
// a change that fires no rebuild (a stall, an edited settings file) shows only at the next one.
struct Model {
    std::vector<KovraChannel> channels = KovraChannel::allChannels;
    Strings channelIds = [this] {
        Strings v;
        for (const auto& c : channels)
            v.push_back(c.id);
        return v;
    }();
    std::optional<std::size_t> current;
    float rate = 0;
    std::optional<Strings> stored; // as the settings store would read it back
    LoginItemStatus login = LoginItemStatus::NotRegistered;
    int players = 0, published = 0, stateWrites = 0, rebuilds = 0, updateChecks = 0;
    PlaybackState lastState = PlaybackState::Unknown;
    Strings shown;

    bool playing() const { return players && rate > 0; }
    Strings ids() const
    {
        Strings v = stored.value_or(Strings{});
        v.resize(std::max<std::size_t>(v.size(), 5));
        return v;
    }
    std::optional<std::string> idForSlot(long s) const
    {
        const Strings v = ids();
        if (s < 0 || std::size_t(s) >= v.size() || v[std::size_t(s)].empty())
            return std::nullopt;
        return v[std::size_t(s)];
    }
    static std::optional<std::size_t> find(const Strings& list, const std::optional<std::string>& id)
    {
        const auto at = id ? std::find(list.begin(), list.end(), *id) : list.end();
        return at == list.end() ? std::nullopt : std::optional(std::size_t(at - list.begin()));
    }

    void rebuilt()
    {
        ++rebuilds;
        shown = render();
    }
    void setState(PlaybackState s, float newRate)
    {
        rate = players ? newRate : 0;
        lastState = s;
        ++stateWrites;
        rebuilt();
    }
    void play(std::size_t j)
    {
        current = j;
        ++players, ++published;
        setState(PlaybackState::Playing, 1);
    }
    void selectOrToggle(std::optional<std::size_t> j)
    {
        if (j && current != j)
            play(*j);
        else if (j)
            playing() ? setState(PlaybackState::Paused, 0) : setState(PlaybackState::Playing, 1);
    }
    void setSlot(long s, std::optional<std::string> id)
    {
        Strings v = ids();
        v[std::size_t(s)] = id.value_or("");
        stored = v;
    }
    void start() // the first-run defaults, unless some slot holds something
    {
        const Strings v = ids();
        for (long s = 0; s < 3 && std::all_of(v.begin(), v.end(), [](auto& id) { return id.empty(); }); ++s)
            setSlot(s, Strings{"velmora", "tarvesi", "nimo"}[std::size_t(s)]);
        rebuilt();
    }
    void toggleLogin(bool registerFails, bool unregisterFails)
    {
        if (login == LoginItemStatus::Enabled ? !unregisterFails : !registerFails)
            login = login == LoginItemStatus::Enabled ? LoginItemStatus::NotRegistered : LoginItemStatus::Enabled;
        rebuilt();
    }

    Strings render() const
    {
        Strings out{"title '" + (current ? " " + channels[*current].name : "") + "'"};
        for (std::size_t j = 0; j < channels.size(); ++j) {
            const auto s = find(ids(), channels[j].id);
            out.push_back(mark(current == j && playing()) + channels[j].name + " #" + std::to_string(j)
                          + (s ? " \u2325" + std::to_string(*s + 1) : ""));
        }
        out.push_back(mark(login == LoginItemStatus::Enabled) + "launch_at_login");
        for (long s = 0; s < 5; ++s) {
            const auto id = idForSlot(s);
            const auto holder = find(channelIds, id);
            out.push_back("\u2325" + std::to_string(s + 1) + ": " + (holder ? channels[*holder].name : "hotkey_none"));
            out.push_back("  " + mark(!id) + "hotkey_none #" + std::to_string(s * stride));
            for (std::size_t j = 0; j < channels.size(); ++j)
                out.push_back("  " + mark(id == channels[j].id) + channels[j].name + " #"
                              + std::to_string(s * stride + long(j) + 1));
        }
        return out;
    }
};

// The same view of the menu the tray really attached.
Strings render(const platform::Menu& menu, const std::string& buttonTitle)
{
    Strings out{"title '" + buttonTitle + "'"};
    for (const auto& item : menu.items()) {
        const bool on = item->state() == ControlStateValueOn;
        if (item->action() == "channelSelected:") {
            std::string line = mark(on) + item->title() + " #" + std::to_string(item->tag());
            if (!item->keyEquivalent().empty())
                line += (item->keyEquivalentModifierMask() == platform::EventModifierFlagOption ? " \u2325" : " ?")
                        + item->keyEquivalent();
            out.push_back(line);
        } else if (item->action() == "toggleLaunchAtLogin") {
            out.push_back(mark(on) + item->title());
        } else if (item->submenu()) {
            for (const auto& slot : item->submenu()->items()) {
                out.push_back(slot->title());
                if (!slot->submenu())
                    continue;
                for (const auto& entry : slot->submenu()->items())
                    if (!entry->isSeparatorItem())
                        out.push_back("  " + mark(entry->state() == ControlStateValueOn) + entry->title() + " #"
                                      + std::to_string(entry->tag()));
            }
        }
    }
    return out;
}

std::string join(const Strings& lines, std::size_t from = 0)
{
    std::string out;
    for (std::size_t i = from; i < lines.size(); ++i)
        out += "  " + lines[i] + "\n";
    return out;
}

} // namespace

// Each episode starts a fresh tray, so the first moments (nothing played, nothing stored, a
// settings file already broken) come round often, not once.
class RandomSequence : public Tray, public ::testing::WithParamInterface<int> {};
INSTANTIATE_TEST_SUITE_P(Episodes, RandomSequence, ::testing::Range(0, episodes));

TEST_P(RandomSequence, SurvivesAnyOrderOfEvents)
{
    const auto base = envNumber("KOVRA_RANDOM_SEED", defaultSeed);
    const auto steps = envNumber("KOVRA_RANDOM_STEPS", defaultSteps);
    ASSERT_TRUE(base && steps) << "KOVRA_RANDOM_SEED and KOVRA_RANDOM_STEPS take a number";
    const std::uint64_t seed = *base + std::uint64_t(GetParam());
    std::cout << "[ random ] KOVRA_RANDOM_SEED " << *base << ", episode " << GetParam() << ": seed " << seed << ", "
              << *steps << " steps\n";
    std::mt19937 rng{std::uint32_t(seed)};
    // Plain modulo, not the library's distributions, so a seed replays the same on any toolchain.
    auto pick = [&](std::size_t n) { return std::size_t(rng() % n); };

    Model model;
    std::ostringstream problem; // what a step itself saw go wrong; the invariants come after
    auto expect = [&](bool ok, const std::string& what) {
        if (!ok)
            problem << what << "\n";
    };
    using Ran = std::optional<platform::OSStatus>;

    // A menu entry chosen the way the desktop does, from the menu attached right now. What it
    // should do follows from where it sits, not from its tag, so a wrong tag shows.
    auto clickMenu = [&]() -> std::string {
        std::array<std::vector<std::pair<std::shared_ptr<platform::MenuItem>, std::function<void()>>>, 4> kinds;
        std::size_t position = 0;
        for (const auto& i : item->menu->items()) {
            if (i->action() == "channelSelected:")
                kinds[0].push_back({i, [&model, j = position++] { model.selectOrToggle(j); }});
            for (long s = 0; i->submenu() && s < long(i->submenu()->items().size()); ++s) {
                const auto& slotMenu = i->submenu()->items()[std::size_t(s)]->submenu();
                if (!slotMenu)
                    continue;
                std::size_t k = 0; // the none entry, then one per channel
                for (const auto& entry : slotMenu->items()) {
                    if (entry->isSeparatorItem())
                        continue;
                    auto id = k ? std::optional(model.channelIds.at(k - 1)) : std::nullopt;
                    kinds[1].push_back({entry, [&model, s, id] {
                                            model.setSlot(s, id);
                                            model.rebuilt();
                                        }});
                    ++k;
                }
            }
            if (i->action() == "toggleLaunchAtLogin")
                kinds[2].push_back(
                    {i, [&] { model.toggleLogin(loginItem.failRegistration, loginItem.failUnregistration); }});
            if (i->action() == "checkForUpdates:")
                kinds[3].push_back({i, [&] { ++model.updateChecks; }});
        }
        const std::size_t roll = pick(20);
        const auto& kind = kinds[roll < 9 ? 0 : roll < 16 ? 1 : roll < 18 ? 2 : 3];
        const auto& [entry, effect] = kind.at(pick(kind.size()));
        const platform::MenuItem copy = *entry; // the rebuild drops the menu it came from
        expect(platform::sendAction(copy), "nobody answered the entry");
        effect();
        return "menu '" + copy.title() + "' #" + std::to_string(copy.tag());
    };

    auto pressHotkey = [&]() -> std::string {
        const long slot = long(pick(5));
        expect(press(slotKeys[std::size_t(slot)]) == Ran(platform::noErr), "the hot key went unanswered");
        model.selectOrToggle(model.find(model.channelIds, model.idForSlot(slot)));
        return "Alt+" + std::to_string(slot + 1);
    };

    auto oddHotkey = [&]() -> std::string {
        static constexpr std::array<uint32_t, 6> ids{5, 6, 99, 100000, 0x7fffffff, 0xffffffff};
        const uint32_t id = ids[pick(ids.size())];
        expect(hotKeys.deliver(platform::EventHotKeyID{platform::fourCharCode("KOVM"), id}) == Ran(platform::noErr),
               "an odd hot key id went unanswered");
        model.selectOrToggle(model.find(model.channelIds, model.idForSlot(long(id))));
        expect(hotKeys.deliver(std::nullopt) == Ran(platform::eventNotHandledErr), "an empty event was handled");
        expect(!press(key6) && !press(key1, platform::optionKey | platform::shiftKey), "a foreign key reached us");
        return "hot key id " + std::to_string(id) + ", an empty event, Alt+6, Shift+Alt+1";
    };

    // A skip lands exactly on the target, held within the newest seekable range, or nowhere.
    auto checkSkip = [&](const doubles::PlayerRecord* record, std::size_t seeksBefore, double seconds) {
        if (!record)
            return;
        const auto& ranges = record->item->ranges;
        if (!record->hasCurrentItem || ranges.empty())
            return expect(record->seeks.size() == seeksBefore, "sought without a seekable range");
        const MediaTime target = MediaTime::add(record->currentTime, MediaTime::makeWithSeconds(seconds, 600));
        const MediaTime end = ranges.back().end(), start = ranges.back().start;
        const MediaTime want = MediaTime::compare(target, end) > 0     ? end
                               : MediaTime::compare(target, start) < 0 ? start
                                                                       : target;
        expect(record->seeks.size() == seeksBefore + 1 && MediaTime::compare(record->seeks.back().time, want) == 0
                   && record->seeks.back().toleranceAfter == MediaTime::zero(),
               "no exact seek to " + std::to_string(want.seconds()) + " s");
    };

    auto mediaCommand = [&]() -> std::string {
        static constexpr std::array<const char*, 7> names{"play",          "pause", "play-pause", "skip forward",
                                                          "skip backward", "next",  "previous"};
        static constexpr std::array<double, 7> skips{0, 0, 0, 15, -15, 15, -15};
        const std::size_t n = pick(names.size());
        const char* const name = names[n];
        const double skipBy = skips[n];
        platform::RemoteCommandCenter& center = commands;
        platform::RemoteCommand* const all[] = {
            &center.playCommand(),         &center.pauseCommand(),        &center.togglePlayPauseCommand(),
            &center.skipForwardCommand(),  &center.skipBackwardCommand(), &center.nextTrackCommand(),
            &center.previousTrackCommand()};
        const auto record = media.lastPlayer();
        const std::size_t seeksBefore = record ? record->seeks.size() : 0;
        // The interval an event carries must not matter.
        const auto status = all[n]->invoke({double(pick(3)) * 15 - 10});
        const bool canPlay = model.current.has_value();
        expect(status == (n == 0 && !canPlay ? Status::CommandFailed : Status::Success), "wrong command status");
        if (n == 0 && canPlay)
            model.play(*model.current);
        else if (n == 1 || (n == 2 && model.playing()))
            model.setState(PlaybackState::Paused, 0);
        else if (n == 2 && model.players)
            model.setState(PlaybackState::Playing, 1);
        else if (n == 2 && canPlay)
            model.play(*model.current);
        else if (skipBy != 0)
            checkSkip(record.get(), seeksBefore, skipBy);
        return std::string("media ") + name;
    };

    // The stream on its own: it stalls and recovers (no rebuild follows), its seekable window moves.
    auto streamEvent = [&]() -> std::string {
        const auto record = media.lastPlayer();
        if (!record)
            return "stream: none yet";
        static constexpr std::array<int32_t, 5> scales{1, 600, 1000, 44100, 90000};
        const std::size_t what = pick(8);
        if (what < 2) {
            record->rate = model.rate = 0;
            return "stream stalls";
        }
        if (what < 4) { // it reconnects only while it is meant to play
            if (model.lastState == PlaybackState::Playing)
                record->rate = model.rate = 1;
            return "stream recovers";
        }
        if (what == 7) {
            record->hasCurrentItem = !record->hasCurrentItem;
            return std::string("current item ") + (record->hasCurrentItem ? "back" : "gone");
        }
        record->item->ranges.clear();
        for (std::size_t n = pick(4); n > 0; --n) {
            const int32_t ts = scales[pick(scales.size())];
            const MediaTime start{int64_t(pick(120 * std::size_t(ts))), ts};
            record->item->ranges.push_back({start, MediaTime{int64_t(pick(60 * std::size_t(ts))), ts}});
        }
        record->currentTime = MediaTime{int64_t(pick(200 * 600)), 600};
        return "seekable: " + std::to_string(record->item->ranges.size()) + " ranges, at "
               + std::to_string(record->currentTime.seconds()) + " s";
    };

    // Someone edits the settings file behind the app's back, or the login item changes outside it.
    auto editSettings = [&]() -> std::string {
        static const Strings pool{"", "velmora", "tarvesi", "nimo", "gone-channel"};
        Strings ids(pick(8));
        std::string text;
        for (auto& id : ids)
            text += " '" + (id = pool[pick(pool.size())]) + "'";
        switch (pick(4)) {
        case 0:
            defaults.storeValue(slotsKey, 42.0);
            model.stored.reset();
            return "settings: a number, not a list";
        case 1:
            defaults.storeArray(slotsKey, {std::string("nimo"), 3.0, std::string("velmora")});
            model.stored.reset();
            return "settings: a number in the list";
        default:
            defaults.storeStrings(slotsKey, ids);
            model.stored = ids;
            return "settings: slots" + text;
        }
    };
    auto loginFlip = [&]() -> std::string {
        model.login = loginItem.current = LoginItemStatus(pick(4));
        loginItem.failRegistration = pick(4) == 0;
        loginItem.failUnregistration = pick(4) == 0;
        return "login item status " + std::to_string(int(model.login)) + (loginItem.failRegistration ? ", " : "")
               + (loginItem.failRegistration ? "registering fails" : "")
               + (loginItem.failUnregistration ? ", unregistering fails" : "");
    };

    auto invariants = [&]() {
        std::ostringstream p;
        int sounding = 0;
        for (const auto& record : media.players)
            sounding += !record->released && record->rate > 0;
        if (sounding > 1)
            p << sounding << " players sound at once\n";
        if (int(media.players.size()) != model.players || media.livePlayers() != (model.players ? 1 : 0))
            p << media.players.size() << " players made, " << media.livePlayers() << " alive\n";
        if (player->isPlaying() != model.playing())
            p << "isPlaying is " << player->isPlaying() << "\n";
        const auto& current = player->currentChannel();
        const KovraChannel* want = model.current ? &model.channels[*model.current] : nullptr;
        if (bool(current) != bool(want) || (want && current->id != want->id))
            p << "the current channel is " << (current ? current->id : "none") << "\n";
        if (want && media.lastPlayer()->item->url != want->streamURL().absoluteString())
            p << "the live player streams " << media.lastPlayer()->item->url << "\n";
        if (item->menuCount != model.rebuilds)
            p << item->menuCount << " menus attached, expected " << model.rebuilds << "\n";
        if (const Strings shown = render(*item->menu, button().title); shown != model.shown)
            p << "the menu shows:\n" << join(shown) << "expected:\n" << join(model.shown);
        if (int(nowPlaying.infos.size()) != model.published
            || (want && nowPlaying.infos.back() != platform::NowPlayingInfo{true, want->name, "Kovra"}))
            p << "now playing was published " << nowPlaying.infos.size() << " times, last with the wrong title\n";
        if (int(nowPlaying.states.size()) != model.stateWrites
            || (model.stateWrites && nowPlaying.states.back() != model.lastState))
            p << "the playback state is not " << int(model.lastState) << "\n";
        if (defaults.strings(slotsKey) != model.stored)
            p << "the stored slots are not what was chosen\n";
        if (d.updaters->controllers.at(0)->checks != model.updateChecks)
            p << "update checks: " << d.updaters->controllers.at(0)->checks << "\n";
        return p.str();
    };

    const std::vector<std::pair<std::size_t, std::function<std::string()>>> doors{
        {30, clickMenu},   {20, pressHotkey}, {4, oddHotkey}, {20, mediaCommand},
        {10, streamEvent}, {6, editSettings}, {4, loginFlip}};
    std::size_t totalWeight = 0;
    for (const auto& door : doors)
        totalWeight += door.first;
    Strings journal{pick(4) ? "before start: " + editSettings() : "before start: nothing stored"};
    startWith();
    model.start();
    for (std::uint64_t step = 0; step < *steps; ++step) {
        std::size_t roll = pick(totalWeight), door = 0;
        while (roll >= doors[door].first)
            roll -= doors[door++].first;
        problem.str("");
        try {
            journal.push_back(std::to_string(step) + ": " + doors[door].second());
        } catch (const std::exception& e) {
            journal.push_back(std::to_string(step) + ": threw " + e.what());
            problem << journal.back() << "\n";
        } catch (...) {
            journal.push_back(std::to_string(step) + ": threw");
            problem << journal.back() << "\n";
        }
        if (const std::string found = problem.str() + invariants(); !found.empty()) {
            ADD_FAILURE() << "episode seed " << seed << ", step " << step << " (" << journal.back() << "):\n"
                          << found << "replay: KOVRA_RANDOM_SEED=" << *base << " KOVRA_RANDOM_STEPS=" << step + 1
                          << " --gtest_filter=*/" << GetParam() << "\nthe last steps:\n"
                          << join(journal, journal.size() > 60 ? journal.size() - 60 : 0);
            return;
        }
    }
}
