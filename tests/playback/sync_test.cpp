// Where the ticks of a play come from: the tempo map's arithmetic, a play begun at a
// master's position, MIDI clock out from the internal clock, and a player following a
// source that moves and ends the play (a stand-in for JACK transport and MIDI clock in).

#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "fake_clock.h"
#include "playback/player.h"
#include "playback/recording_backend.h"
#include "playback/tempo_map.h"
#include "playback_test_support.h"

namespace tarrowin {
namespace {

using namespace std::chrono_literals;
using testing::FakeClock;
using testing::RecordingListener;
using testing::ReferenceRun;

constexpr double kRate = 48000;

TEST(TempoMap, TicksFramesAndBarsOfTheParts) {
    // Two parts: 16 ticks (2 beats) at tempo 120 in 4/4, then 3/4 at tempo 60 without end.
    const TempoMap map({{16, 120, 4, 4}, {INT64_MAX, 60, 3, 4}});
    struct Case {
        double tick;
        bool wholeMs;
        double frame;
    };
    for (const Case& c : std::vector<Case>{
             {10, false, 30000},           // 3000 frames a tick at 120
             {10, true, 29760},            // 62 ms a tick
             {20, false, 16 * 3000 + 4 * 6000},
             {20, true, 16 * 2976 + 4 * 6000},
         }) {
        EXPECT_DOUBLE_EQ(map.frameOfTick(c.tick, kRate, c.wholeMs), c.frame) << c.tick << " " << c.wholeMs;
        EXPECT_DOUBLE_EQ(map.tickAtFrame(c.frame, kRate, c.wholeMs), c.tick) << c.tick << " " << c.wholeMs;
    }
    EXPECT_EQ(map.length(), INT64_MAX);
    EXPECT_EQ(TempoMap::ofCurrent(GlobalSettings{120, 10, 74, 4, 4}, true).length(), 64);

    struct Bar {
        double frame;
        int bar, beat, tick;
        double barStartTick, bpm;
        int beatsPerBar;
    };
    for (const Bar& b : std::vector<Bar>{
             {0, 1, 1, 0, 0, 120, 4},
             {24000 + 12000, 1, 2, 960, 0, 120, 4},
             // The second part begins bar 2, after the first part's one (short) bar.
             {48000, 2, 1, 0, 7680, 60, 3},
             {48000 + 6000 * 8 * 4.5, 3, 2, 960, 7680 + 3 * 1920, 60, 3},
         }) {
        const BarBeat at = map.barBeatAt(b.frame, kRate);
        EXPECT_EQ(std::vector<int>({at.bar, at.beat, at.tick, at.beatsPerBar}),
                  std::vector<int>({b.bar, b.beat, b.tick, b.beatsPerBar}))
            << b.frame;
        EXPECT_DOUBLE_EQ(at.barStartTick, b.barStartTick) << b.frame;
        EXPECT_DOUBLE_EQ(at.beatsPerMinute, b.bpm) << b.frame;
    }
}

TEST(TempoMap, AnEditedTempoGoesOnFromItsTickWithoutAJump) {
    // Tempo 120 in 4/4 (3000 frames a tick); at tick 20 edited to 60, at tick 36 to 240.
    TempoMap map = TempoMap::ofCurrent(GlobalSettings{120, 0, 0, 4, 4}, false);
    map.changeTempo(20, 60, kRate, false);
    map.changeTempo(36, 240, kRate, false);
    struct Case {
        double frame;
        double tick;
        int bar, beat, bbtTick;
        double bpm;
    };
    for (const Case& c : std::vector<Case>{
             {59997, 19.999, 1, 3, 959, 120},      // just before the first edit
             {60000, 20, 1, 3, 960, 60},           // the edit: the same place, the new tempo
             {60000 + 8 * 6000, 28, 1, 4, 960, 60},
             {156000, 36, 2, 1, 960, 240},         // the second edit goes on from the first
             {156000 + 12 * 1500, 48, 2, 3, 0, 240},
         }) {
        EXPECT_NEAR(map.tickAtFrame(c.frame, kRate, false), c.tick, 1e-9) << c.frame;
        EXPECT_NEAR(map.frameOfTick(c.tick, kRate, false), c.frame, 1e-6) << c.frame;
        const BarBeat at = map.barBeatAt(c.frame, kRate);
        EXPECT_EQ(std::vector<int>({at.bar, at.beat, at.tick}), std::vector<int>({c.bar, c.beat, c.bbtTick})) << c.frame;
        EXPECT_DOUBLE_EQ(at.beatsPerMinute, c.bpm) << c.frame;
    }
    // The transport moved back and the tempo was edited at tick 24: the edit at 36 is gone.
    map.changeTempo(24, 120, kRate, false);
    EXPECT_DOUBLE_EQ(map.frameOfTick(40, kRate, false), 60000 + 4 * 6000 + 16 * 3000);
    // Many edits: the newest ones hold on from each other.
    for (int i = 0; i < 40; ++i) map.changeTempo(100 + i, 60 + 60 * (i % 2), kRate, false);
    EXPECT_NEAR(map.frameOfTick(140, kRate, false) - map.frameOfTick(138, kRate, false), 6000 + 3000, 1e-6);
    EXPECT_NEAR(map.tickAtFrame(map.frameOfTick(120.5, kRate, false), kRate, false), 120.5, 1e-9);
}

TEST(TempoMap, ATransportPositionIsEightTicksABeat) {
    BarBeat p;
    p.bar = 3;
    p.beat = 2;
    p.tick = 960;
    p.beatsPerBar = 4;
    EXPECT_DOUBLE_EQ(tickOfBarBeat(p), (8 + 1 + 0.5) * 8);
    p.barStartTick = 3840;  // two bars of 2/4 before: the master says where its bar starts
    EXPECT_DOUBLE_EQ(tickOfBarBeat(p), (2 + 1 + 0.5) * 8);
    p.ticksPerBeat = 480;
    p.tick = 240;
    p.barStartTick = 960;
    EXPECT_DOUBLE_EQ(tickOfBarBeat(p), (2 + 1 + 0.5) * 8);
}

Settings oneVoice(int32_t start, int32_t end, int32_t tempo = 120) {
    Settings s = Settings::defaults();
    s.global.tempo = tempo;
    s.global.startCounter = start;
    s.global.endCounter = end;
    s.voices[0].enabled = 1;
    s.voices[0].tied = 0;
    s.voices[0].setNoteValue(5, 1.0f);  // every tick
    return s;
}

TEST(PlayRequest, APlayBegunTicksInStartsAtThatCounterOrEvent) {
    PlayRequest live;
    live.current = oneVoice(100, 0);
    EXPECT_EQ(live.at(0)->firstCounter(), 100);
    EXPECT_EQ(live.at(37)->firstCounter(), 137);

    PlayRequest comp;
    comp.mode = PerformanceMode::Composition;
    comp.events = {oneVoice(0, 10), oneVoice(50, 50), oneVoice(200, 220), oneVoice(5, 9)};
    comp.firstEvent = 0;
    struct Case {
        int64_t tick;
        int event;
        int32_t counter;
    };
    for (const Case& c : std::vector<Case>{{0, 0, 0}, {9, 0, 9}, {10, 2, 200}, {29, 2, 219}, {30, 3, 5}, {33, 3, 8}}) {
        const auto at = comp.at(c.tick);
        ASSERT_TRUE(at) << c.tick;
        EXPECT_EQ(at->firstEvent, c.event) << c.tick;
        EXPECT_EQ(at->firstCounter(), c.counter) << c.tick;
    }
    EXPECT_FALSE(comp.at(34)) << "the composition has ended by then";
    comp.firstEvent = 2;
    EXPECT_EQ(comp.at(20)->firstEvent, 3);
}

// A master: the first tick at `firstTick`, each tick 10 ms after the last; at the ticks of
// `script` something else happens instead. `waitForStart`: it never starts by itself.
class ScriptedSource final : public TickSource {
   public:
    int64_t firstTick = 0;
    bool waitForStart = false;
    std::map<int64_t, TickTime> script;

    TickTime start(const std::atomic<int32_t>& playing, Clock::Duration) override {
        while (waitForStart && playing.load() != 0) std::this_thread::sleep_for(1ms);
        if (waitForStart) return TickTime::end();
        return TickTime::move(firstTick, timeOf(firstTick));
    }
    TickTime next(int64_t tick, int32_t, const std::atomic<int32_t>&, Clock::Duration) override {
        const auto it = script.find(tick);
        if (it == script.end()) return TickTime::due(timeOf(tick));
        const TickTime t = it->second;
        script.erase(it);
        return t;
    }
    Clock::Duration spacing(int32_t) const override { return 10ms; }
    void sleepUntil(Clock::Duration) override {}
    static Clock::Duration timeOf(int64_t tick) { return 1s + tick * 10ms; }
};

class SyncedPlayer : public ::testing::Test {
   protected:
    void SetUp() override {
        auto recorder = std::make_unique<RecordingBackend>(clock, std::vector<std::string>{"Recorder"}, true);
        device = recorder.get();
        std::vector<std::unique_ptr<MidiBackend>> backends;
        backends.push_back(std::move(recorder));
        output = std::make_unique<MidiOutput>(std::move(backends));
        output->countDevices();
        PlayerOptions options{false};
        options.tickSources = [this](const SyncOptions& sync, Clock& c, const TempoMap& map) -> TickSourceMade {
            asked = sync;
            if (!refusal.empty()) return {nullptr, refusal};
            if (!source) return makeTickSource(sync, c, map);
            return {std::move(source), {}};
        };
        player = std::make_unique<Player>(*output, clock, options);
        player->setListener(&listener);
    }
    void TearDown() override {
        clock.runFree();
        player.reset();
    }
    void playToTheEnd(PlayRequest r) {
        ASSERT_TRUE(player->play(std::move(r)).started());
        player->waitForWorker();
        ASSERT_TRUE(listener.waitFor([&] { return listener.finished == 1; }));
    }
    static PlayRequest live(const Settings& s, SyncOptions sync, bool lock = true) {
        PlayRequest r;
        r.current = s;
        r.lock = lock;
        r.sync = std::move(sync);
        return r;
    }

    FakeClock clock;
    RecordingBackend* device = nullptr;
    std::unique_ptr<MidiOutput> output;
    RecordingListener listener;
    std::unique_ptr<Player> player;
    std::unique_ptr<TickSource> source;
    std::string refusal;
    SyncOptions asked;
};

std::vector<ShortMessage> withoutSystem(const std::vector<ShortMessage>& in) {
    std::vector<ShortMessage> out;
    for (const ShortMessage& m : in) {
        if (m.status < 0xF0) out.push_back(m);
    }
    return out;
}

TEST_F(SyncedPlayer, ClockOutSendsThreeEvenClocksATickFramedByStartOrPositionAndStop) {
    for (const int32_t start : {0, 7}) {
        device->clear();
        {
            auto lock = listener.lock();
            listener.finished = 0;
        }
        clock.runFree();
        const Clock::Duration t0 = clock.now();
        SyncOptions sync;
        sync.clockOut = true;
        playToTheEnd(live(oneVoice(start, start + 4), sync));
        while (!player->canPlay()) std::this_thread::sleep_for(1ms);

        std::vector<uint8_t> system;
        std::vector<Clock::Duration> clocks;
        for (const auto& r : device->records()) {
            if (r.message.status < 0xF0) continue;
            system.push_back(r.message.status);
            if (r.message.status == 0xF8) clocks.push_back(r.stamp - t0);
        }
        const std::vector<uint8_t> head = start == 0 ? std::vector<uint8_t>{0xFA} : std::vector<uint8_t>{0xF2, 0xFB};
        EXPECT_TRUE(std::equal(head.begin(), head.end(), system.begin())) << start;
        EXPECT_EQ(system.back(), 0xFC);
        ASSERT_EQ(clocks.size(), 13u) << "3 clocks for each of 4 ticks, and the one of the End";
        for (size_t k = 0; k < clocks.size(); ++k) {
            const Clock::Duration ideal = Clock::Duration(62ms) * static_cast<int64_t>(k) / 3;
            EXPECT_NEAR(double(clocks[k].count()), double(ideal.count()), 1.0) << k;
        }
        if (start == 7) {
            const auto spp = device->messages()[0];
            EXPECT_EQ(spp, (ShortMessage{0xF2, 3, 0})) << "counter 7 is 16th note 3";
        }
        // The notes are those of a play without clock, in the same order.
        ReferenceRun ref;
        ref.end = start + 4;
        ref.run(PerformanceMode::Live, oneVoice(start, start + 4), {});
        std::vector<ShortMessage> notes;
        for (const auto& t : ref.messages) notes.push_back(t.message);
        EXPECT_EQ(withoutSystem(device->messages()), notes);
    }
}

TEST_F(SyncedPlayer, AMasterThatMovesThePlayStartsItAgainThereAndOneThatStopsEndsIt) {
    auto scripted = std::make_unique<ScriptedSource>();
    scripted->script[5] = TickTime::move(20, ScriptedSource::timeOf(5));
    scripted->script[24] = TickTime::end("The JACK transport stopped");
    source = std::move(scripted);
    clock.runFree();
    SyncOptions sync;
    sync.mode = SyncMode::FollowJack;
    playToTheEnd(live(oneVoice(100, 0), sync, false));
    EXPECT_EQ(asked.mode, SyncMode::FollowJack);

    // Ticks 0..4 from counter 100, then from tick 20 (counter 120) four ticks, each run
    // ending with All Notes Off.
    std::vector<ShortMessage> expected;
    for (const auto& [from, ticks] : std::vector<std::pair<int32_t, int>>{{100, 5}, {120, 4}}) {
        ReferenceRun ref;
        ref.lock = false;
        ref.stopAtDate = ticks;
        ref.run(PerformanceMode::Live, oneVoice(from, 0), {});
        for (const auto& t : ref.messages) expected.push_back(t.message);
    }
    EXPECT_EQ(device->messages(), expected);
    const auto records = device->records();
    EXPECT_EQ(records[32].stamp, ScriptedSource::timeOf(0)) << "the first note at the master's first tick";
    EXPECT_EQ(records.back().stamp, ScriptedSource::timeOf(23));
    auto lock = listener.lock();
    EXPECT_TRUE(listener.finish.stoppedItself);
    EXPECT_EQ(listener.finish.why, "The JACK transport stopped");
    EXPECT_EQ(listener.finish.end, PerformanceEnd::Stopped);
}

TEST_F(SyncedPlayer, StopWhileWaitingForTheMasterSendsNothingAndASyncThatCannotBeHadChangesNothing) {
    auto scripted = std::make_unique<ScriptedSource>();
    scripted->waitForStart = true;
    source = std::move(scripted);
    SyncOptions sync;
    sync.mode = SyncMode::MidiClock;
    ASSERT_TRUE(player->play(live(oneVoice(0, 8), sync)).started());
    EXPECT_TRUE(player->isPlaying());
    player->stop();
    player->waitForWorker();
    ASSERT_TRUE(listener.waitFor([&] { return listener.finished == 1; }));
    EXPECT_TRUE(device->messages().empty());
    EXPECT_FALSE(device->isOpen());
    {
        auto lock = listener.lock();
        EXPECT_FALSE(listener.finish.stoppedItself);
        EXPECT_EQ(listener.finish.why, "");
    }

    clock.runFree();
    ASSERT_TRUE(listener.waitFor([&] { return player->canPlay(); }));
    refusal = "No JACK server is running";
    const int opens = device->opens();
    const PlayResult r = player->play(live(oneVoice(0, 8), sync));
    EXPECT_EQ(r.status, PlayStatus::SyncError);
    EXPECT_EQ(r.message, refusal);
    EXPECT_EQ(device->opens(), opens);
    EXPECT_FALSE(player->isPlaying());
}

}  // namespace
}  // namespace tarrowin
