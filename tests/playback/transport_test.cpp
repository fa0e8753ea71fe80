// The arithmetic of following a transport and an incoming MIDI clock, on made-up cycles and
// clock times.

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "fake_clock.h"
#include "playback/jack_sync.h"
#include "playback/midi_clock.h"

namespace tarrowin {
namespace {

constexpr double kRate = 48000;
constexpr double kUsPerFrame = 1e6 / kRate;

TransportState rolling(double frame, bool bbt = false, double bpm = 0, int bar = 1, int beat = 1, int tick = 0) {
    TransportState s;
    s.frame = frame;
    s.cycleStartUs = 1'000'000 + static_cast<int64_t>(frame * kUsPerFrame);
    s.usPerFrame = kUsPerFrame;
    s.rate = kRate;
    s.bbt = bbt;
    s.position.bar = bar;
    s.position.beat = beat;
    s.position.tick = tick;
    s.position.beatsPerMinute = bpm;
    s.position.beatsPerBar = 4;
    return s;
}

// The document plays at tempo 200: 37 ms (1776 frames) a tick by the program's rule, 1800
// frames in exact eighths of a beat.
TempoMap tempo200() { return TempoMap::ofCurrent(GlobalSettings{200, 0, 0, 4, 4}, false); }

TEST(TransportFollower, CountsOnTheMastersBeatsElseOnTheOwnTempoFromFrameZero) {
    struct Case {
        const char* what;
        bool leading;
        TransportState at;
        double frame;
        double tick;
    };
    const std::vector<Case> cases = {
        {"no master: whole milliseconds from frame 0", false, rolling(0), 17760, 10},
        {"leading: exact eighths of a beat", true, rolling(0, true, 120, 2), 18000, 10},
        {"a master at 120: bar 2 is tick 32, 3000 frames a tick", false, rolling(96000, true, 120, 2), 99000, 33},
        {"a master's bar, beat and tick", false, rolling(0, true, 120, 3, 2, 960), 0, 8 * 9.5},
    };
    for (const Case& c : cases) {
        TransportFollower f(tempo200(), c.leading);
        f.anchor(c.at);
        EXPECT_DOUBLE_EQ(f.tickAtFrame(c.frame), c.tick) << c.what;
        EXPECT_NEAR(f.frameOfTick(c.tick), c.frame, 1e-6) << c.what;
        EXPECT_NEAR(f.timeOfTick(c.at, c.tick), double(c.at.cycleStartUs) + (c.frame - c.at.frame) * kUsPerFrame, 1e-3)
            << c.what;
    }
}

TEST(TransportFollower, AChangeOfTempoOrAMasterThatGoesKeepsThePositionWithoutAJump) {
    TransportFollower f(tempo200(), false);
    f.anchor(rolling(96000, true, 120, 2));  // tick 32
    // At tick 36 the master slows to 60: the position stays, the ticks are 6000 frames apart.
    EXPECT_FALSE(f.follow(rolling(108000, true, 60, 2, 1, 960)));
    EXPECT_DOUBLE_EQ(f.tickAtFrame(108000), 36);
    EXPECT_DOUBLE_EQ(f.frameOfTick(37), 114000);
    // It goes away at tick 37: on at the document's 1776 frames a tick.
    EXPECT_TRUE(f.follow(rolling(114000)));
    EXPECT_NEAR(f.tickAtFrame(114000), 37, 1e-9);
    EXPECT_NEAR(f.frameOfTick(40), 114000 + 3 * 1776, 1e-6);
    EXPECT_FALSE(f.follow(rolling(115776)));
}

TEST(TransportFollower, AnEditedTempoSetsThePaceFromItsTickUnlessAMasterDoes) {
    // Edited at tick 10 to tempo 100: 75 ms (3600 frames) a tick, or exactly 3600 frames.
    struct Case {
        const char* what;
        bool leading;
        TransportState at;
        double editFrame;      // where tick 10 was, and stays
        double framesPerTick;  // from there on
    };
    const std::vector<Case> cases = {
        {"no master: the own tempo map", false, rolling(0), 17760, 3600},
        {"leading", true, rolling(0), 18000, 3600},
        {"a master at 120 keeps its pace", false, rolling(96000, true, 120, 1), 96000 + 10 * 3000, 3000},
    };
    for (const Case& c : cases) {
        TransportFollower f(tempo200(), c.leading);
        f.anchor(c.at);
        f.changeTempo(10, 100);
        EXPECT_DOUBLE_EQ(f.frameOfTick(10), c.editFrame) << c.what;
        EXPECT_NEAR(f.frameOfTick(14), c.editFrame + 4 * c.framesPerTick, 1e-6) << c.what;
        EXPECT_NEAR(f.tickAtFrame(c.editFrame + c.framesPerTick), 11, 1e-9) << c.what;
    }
    // The master goes at tick 12: on at the edited tempo, not the one the play began with.
    TransportFollower f(tempo200(), false);
    f.anchor(rolling(96000, true, 120, 1));
    f.changeTempo(10, 100);
    EXPECT_TRUE(f.follow(rolling(96000 + 12 * 3000)));
    EXPECT_NEAR(f.frameOfTick(14), 96000 + 12 * 3000 + 2 * 3600, 1e-6);
}

constexpr double kPeriod120 = 60e6 / (120 * 24);  // us between clocks at 120 quarter notes a minute

TEST(TransportJump, CyclesThisClientMissedAreNoJumpALocateIs) {
    struct Case {
        const char* what;
        bool lastRolling;
        uint32_t lastFrame, lastCycleFrame, frame, cycleFrame;
        int64_t jump;
    };
    const Case cases[] = {
        {"rolling on by one period", true, 1000, 50000, 1256, 50256, 0},
        {"two cycles this client was not called in", true, 1000, 50000, 1768, 50768, 0},
        {"starting, then rolling: it stood still", false, 1000, 50000, 1000, 50256, 0},
        {"located ahead", true, 1000, 50000, 480000, 50256, 480000 - 1256},
        {"located back while this client missed a cycle", true, 90000, 50000, 0, 50512, -90512},
        {"starting after a locate", false, 1000, 50000, 480000, 50256, 479000},
        {"the frame clock wraps", true, 1000, 0xFFFFFF00u, 1512, 0x00000100u, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(transportJump(c.lastRolling, c.lastFrame, c.lastCycleFrame, c.frame, c.cycleFrame), c.jump) << c.what;
    }
}

TEST(ClockFollower, ASteadyClockThatJittersGivesASteadyTempo) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> jitter(-1000, 1000);  // +-1 ms
    ClockFollower f;
    f.restart(0);
    for (int k = 0; k < 96; ++k) f.clock(static_cast<int64_t>(5e6 + k * kPeriod120 + jitter(random)));
    EXPECT_EQ(f.last(), 95);
    EXPECT_NEAR(f.periodUs(), kPeriod120, kPeriod120 * 0.01);
    // The next clocks are predicted on the clock's true grid, well within the jitter.
    for (int k = 96; k < 99; ++k) EXPECT_NEAR(f.timeOfClock(k), 5e6 + k * kPeriod120, 700) << k;
}

TEST(ClockFollower, ATempoChangeIsFollowedWithinABeat) {
    struct Case {
        double to;       // the new tempo
        int within;      // clocks until the period is right within 1 %
    };
    for (const Case& c : std::vector<Case>{{126, 24}, {150, 24}, {60, 2}}) {
        ClockFollower f;
        f.restart(0);
        double t = 1e6;
        for (int k = 0; k < 48; ++k, t += kPeriod120) f.clock(static_cast<int64_t>(t));
        const double period = 60e6 / (c.to * 24);
        t += period - kPeriod120;
        for (int k = 0; k < c.within; ++k, t += period) f.clock(static_cast<int64_t>(t));
        EXPECT_NEAR(f.periodUs(), period, period * 0.01) << c.to;
    }
}


// A clock input that hands over each message once the test's clock has reached its time.
class ScriptedClockInput final : public ClockInput {
   public:
    ScriptedClockInput(testing::FakeClock& clock, std::vector<ClockEvent> events)
        : clock_(clock), events_(std::move(events)) {}
    bool pop(ClockEvent& e) override {
        const int64_t now = std::chrono::duration_cast<std::chrono::microseconds>(clock_.now()).count();
        if (next_ >= events_.size() || events_[next_].timeUs > now) return false;
        e = events_[next_++];
        return true;
    }
    std::string name() const override { return "test:clock"; }

   private:
    testing::FakeClock& clock_;
    std::vector<ClockEvent> events_;
    size_t next_ = 0;
};

// 120 quarter notes a minute from 1 s on: `head` first, then `clocks` clocks, then `tail`.
std::vector<ClockEvent> clockRun(std::vector<ClockEvent> head, int clocks, std::vector<uint8_t> tail) {
    std::vector<ClockEvent> events = std::move(head);
    int64_t t = 1'000'000;
    for (ClockEvent& e : events) e.timeUs = t;
    for (int k = 0; k < clocks; ++k, t += static_cast<int64_t>(kPeriod120)) events.push_back({t, 0xF8, 0, 0});
    for (uint8_t status : tail) events.push_back({t, status, 0, 0});
    return events;
}

TEST(MidiClockIn, StartOrContinueFromTheSongPositionThenATickEveryThirdClockUntilStopOrSilence) {
    struct Case {
        const char* what;
        std::vector<ClockEvent> head;
        std::vector<uint8_t> tail;
        int64_t firstTick;
        std::string why;
        size_t ticks;  // 60 clocks are 20 ticks; a clock that stops is followed a tick further
    };
    const std::vector<Case> cases = {
        {"Start", {{0, 0xFA, 0, 0}}, {0xFC}, 0, "The MIDI clock sent Stop", 20},
        {"Continue from 16th note 8", {{0, 0xF2, 8, 0}, {0, 0xFB, 0, 0}}, {0xFC}, 16, "The MIDI clock sent Stop", 20},
        {"Start, then silence", {{0, 0xFA, 0, 0}}, {}, 0, "The MIDI clock stopped arriving", 21},
    };
    for (const Case& c : cases) {
        testing::FakeClock clock(std::chrono::milliseconds(900));
        clock.runFree();
        auto source = makeClockTickSource(
            std::make_unique<ScriptedClockInput>(clock, clockRun(c.head, 60, c.tail)), clock);
        const std::atomic<int32_t> playing{1};
        const TickTime first = source->start(playing, {});
        ASSERT_EQ(first.kind, TickTime::Kind::Move) << c.what;
        EXPECT_EQ(first.tick, c.firstTick) << c.what;
        EXPECT_EQ(first.at, std::chrono::microseconds(1'000'000)) << c.what;
        std::vector<Clock::Duration> ticks{first.at};
        TickTime t;
        for (int64_t n = c.firstTick + 1;; ++n) {
            t = source->next(n, 62, playing, {});
            if (t.kind != TickTime::Kind::Due) break;
            ticks.push_back(t.at);
        }
        EXPECT_EQ(t.kind, TickTime::Kind::End) << c.what;
        EXPECT_EQ(t.why, c.why) << c.what;
        EXPECT_EQ(ticks.size(), c.ticks) << c.what;
        for (size_t i = 1; i < ticks.size(); ++i) {
            EXPECT_NEAR(double((ticks[i] - ticks[i - 1]).count()), 3 * kPeriod120 * 1000, 2000) << c.what << " " << i;
        }
    }
}

}  // namespace
}  // namespace tarrowin
