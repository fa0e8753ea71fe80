// The arithmetic of following a transport and an incoming MIDI clock, on made-up cycles and
// clock times.

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "playback/jack_sync.h"
#include "playback/midi_clock.h"

namespace tarrowin {
namespace {

constexpr double kRate = 48000;
constexpr double kUsPerFrame = 1e6 / kRate;

TransportState rolling(double frame, bool bbt = false, double bpm = 0, int bar = 1, int beat = 1, int tick = 0) {
    TransportState s;
    s.rolling = true;
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

constexpr double kPeriod120 = 60e6 / (120 * 24);  // us between clocks at 120 quarter notes a minute

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

}  // namespace
}  // namespace tarrowin
