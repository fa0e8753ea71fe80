#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "engine/note_engine.h"
#include "engine/tables.h"
#include "support/literal_warmup.h"

namespace tarrowin {
namespace {

VoiceArray voicesWith(const VoiceSettings& first) {
    VoiceArray voices = Settings::defaults().voices;
    voices[0] = first;
    return voices;
}

TEST(NoteGrid, OffsetShiftsCountersNotTicks) {
    VoiceSettings v = VoiceSettings::defaults(0);
    NoteEngine e(voicesWith(v));
    EXPECT_EQ(e.noteLength(0), 8);
    for (int t : {0, 8, 16}) {
        EXPECT_TRUE(e.isDue(0, t));
        EXPECT_EQ(e.counterAt(0, t), t / 8);
    }
    EXPECT_FALSE(e.isDue(0, 4));

    v.offset = 2;
    e.setVoices(voicesWith(v));
    EXPECT_TRUE(e.isDue(0, 0));
    EXPECT_EQ(e.counterAt(0, 0), 2);
    EXPECT_EQ(e.counterAt(0, 16), 4);

    v.offset = -1;
    e.setVoices(voicesWith(v));
    EXPECT_FALSE(e.isDue(0, 0));
    EXPECT_TRUE(e.isDue(0, 8));
    EXPECT_EQ(e.counterAt(0, 8), 0);
}

TEST(NoteGrid, PositiveOffsetPlaysTheThirdStepFirst) {
    VoiceSettings v = VoiceSettings::defaults(0);
    v.algorithm = Algorithm::LogisticMap;
    v.offset = 2;
    NoteEngine e(voicesWith(v));
    e.prepareRun(0);
    const auto first = e.evaluate(0, 0);

    GeneratorState st;
    nextNote(st, 0, 0, v);
    nextNote(st, 0, 1, v);
    EXPECT_EQ(first, nextNote(st, 0, 2, v));
}

TEST(NoteGrid, StartTickDoesNotChangeTheNotes) {
    for (int a = 0; a < kAlgorithms; ++a) {
        VoiceSettings v = VoiceSettings::defaults(0);
        v.algorithm = static_cast<Algorithm>(a);
        v.setNoteValue(2, 0);
        v.setOctaves(2);
        for (int offset : {0, 3, -2}) {
            v.offset = offset;
            NoteEngine fromZero(voicesWith(v)), fromTwelve(voicesWith(v));
            fromZero.prepareRun(0);
            for (int t = 0; t < 16; ++t) fromZero.evaluate(0, t);
            fromTwelve.prepareRun(12);
            for (int t = 12; t < 16; ++t) fromTwelve.evaluate(0, t);
            for (int t = 16; t < 200; ++t) {
                ASSERT_EQ(fromZero.evaluate(0, t), fromTwelve.evaluate(0, t)) << a << " " << offset << " " << t;
            }
        }
    }
}

// Random settings over every algorithm, both offset signs, note values 1..960 and
// modulation; the stepping warm-up must leave exactly the state the tick loop leaves.
TEST(WarmUp, SteppingEqualsTheTickLoop) {
    std::mt19937 rng(2024);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int round = 0; round < 300; ++round) {
        VoiceArray voices = Settings::defaults().voices;
        for (int v = 0; v < kVoices; ++v) {
            VoiceSettings& s = voices[static_cast<size_t>(v)];
            s.algorithm = static_cast<Algorithm>(pick(0, 7));
            s.offset = pick(-40, 40);
            s.noteValue = static_cast<float>(pick(0, 3) == 0 ? pick(1, 960) : pick(1, 12));
            s.param1 = pick(2, 9);
            s.param2 = pick(1, 1000);
            s.modulate = pick(0, 1);
            s.modulateMode = pick(0, 1);
            s.modulateEvery = pick(1, 50);
            s.setOctaves(pick(0, 3));
            s.setScaleIndex(pick(0, 14));
            s.gingerX0 = static_cast<float>(pick(-20, 20)) / 3.0f;
        }
        const int64_t start = pick(0, 3) == 0 ? 0 : pick(0, 3000);
        NoteEngine fast(voices);
        GeneratorState literal;
        uint32_t fastDraws = 7, literalDraws = 7;
        fast.state().randomRunLength = [&fastDraws] { return static_cast<int32_t>((fastDraws = fastDraws * 1103515245u + 12345u) % 50u) + 1; };
        literal.randomRunLength = [&literalDraws] { return static_cast<int32_t>((literalDraws = literalDraws * 1103515245u + 12345u) % 50u) + 1; };
        fast.prepareRun(start);
        testing::literalPrepareRun(literal, voices, start);
        const GeneratorState& f = fast.state();
        ASSERT_EQ(f.countdown, literal.countdown) << round;
        ASSERT_EQ(f.transposition, literal.transposition) << round;
        auto same = [](const auto& a, const auto& b) { return std::memcmp(a.data(), b.data(), sizeof a) == 0; };
        ASSERT_TRUE(same(f.logX, literal.logX) && same(f.noiseX, literal.noiseX) && same(f.noiseY, literal.noiseY) &&
                    same(f.henonX, literal.henonX) && same(f.henonY, literal.henonY) && same(f.hopX, literal.hopX) &&
                    same(f.hopY, literal.hopY) && same(f.martinX, literal.martinX) &&
                    same(f.martinY, literal.martinY) && same(f.gingerX, literal.gingerX) &&
                    same(f.gingerY, literal.gingerY) && same(f.lorenzX, literal.lorenzX))
            << round;
        ASSERT_EQ(fastDraws, literalDraws) << round;
    }
}

TEST(WarmUp, ReportsTheLastNoteAndSkipsWhenNothingPrecedesTheStart) {
    VoiceSettings v = VoiceSettings::defaults(0);
    NoteEngine e(voicesWith(v));
    e.resetVoice(0);
    EXPECT_EQ(e.warmUpVoice(0, 0), std::nullopt);
    // Start 10 with quarter notes: steps 0 and 1 precede it; the last is counter 1.
    EXPECT_EQ(e.warmUpVoice(0, 10), 62);
    v.offset = -3;
    e.setVoices(voicesWith(v));
    EXPECT_EQ(e.warmUpVoice(0, 24), std::nullopt);  // start + offset * nv = 0
}

SoundingRule liveRule() { return {}; }
SoundingRule compositionRule() { return {true, true}; }

TEST(Sounding, TiedVoiceHoldsRepeatedPitches) {
    VoiceSettings v = VoiceSettings::defaults(0);
    VoiceCursor c;
    auto d1 = soundingDecision(c, 60, v, true, 9, liveRule());
    EXPECT_FALSE(d1.noteOff);
    EXPECT_EQ(d1.noteOn, (NoteMessage{0, 60, 88}));
    auto d2 = soundingDecision(c, 60, v, true, 9, liveRule());
    EXPECT_FALSE(d2.noteOff);
    EXPECT_FALSE(d2.noteOn);
    auto d3 = soundingDecision(c, 62, v, true, 9, liveRule());
    EXPECT_EQ(d3.noteOff, (NoteMessage{0, 60, 88}));
    EXPECT_EQ(d3.noteOn, (NoteMessage{0, 62, 88}));
}

TEST(Sounding, AllNotesVoiceStrikesEveryStep) {
    VoiceSettings v = VoiceSettings::defaults(0);
    v.tied = 0;
    VoiceCursor c;
    soundingDecision(c, 60, v, true, 9, liveRule());
    auto d = soundingDecision(c, 60, v, true, 9, liveRule());
    EXPECT_EQ(d.noteOff, (NoteMessage{0, 60, 88}));
    EXPECT_EQ(d.noteOn, (NoteMessage{0, 60, 88}));
}

TEST(Sounding, PercussionChannelStrikesThePercussionKeyButTiesUsePitches) {
    VoiceSettings v = VoiceSettings::defaults(9);
    v.percussionKey = 3;
    VoiceCursor c;
    EXPECT_EQ(soundingDecision(c, 71, v, true, 9, liveRule()).noteOn, (NoteMessage{9, 38, 88}));
    EXPECT_FALSE(soundingDecision(c, 71, v, true, 9, liveRule()).noteOn);  // same pitch: tie
    auto d = soundingDecision(c, 72, v, true, 9, liveRule());
    EXPECT_EQ(d.noteOff, (NoteMessage{9, 38, 88}));
    EXPECT_EQ(d.noteOn, (NoteMessage{9, 38, 88}));
    // Another percussion channel: the voice plays its pitches.
    EXPECT_EQ(soundingDecision(c, 73, v, true, 3, liveRule()).noteOn, (NoteMessage{9, 73, 88}));
}

TEST(Sounding, DisabledVoices) {
    VoiceSettings v = VoiceSettings::defaults(1);
    VoiceCursor live;
    EXPECT_EQ(soundingDecision(live, 60, v, false, 9, liveRule()).noteOn, (NoteMessage{1, 60, 0}));
    EXPECT_FALSE(soundingDecision(live, 60, v, false, 9, liveRule()).noteOn);
    // In a composition a disabled voice strikes at every step, silently.
    VoiceCursor comp;
    soundingDecision(comp, 60, v, false, 9, compositionRule());
    auto d = soundingDecision(comp, 60, v, false, 9, compositionRule());
    EXPECT_EQ(d.noteOff, (NoteMessage{1, 60, 0}));
    EXPECT_EQ(d.noteOn, (NoteMessage{1, 60, 0}));
}

TEST(Sounding, PitchMinusOneIsAPitchNotNone) {
    VoiceSettings v = VoiceSettings::defaults(0);
    VoiceCursor c;
    auto first = soundingDecision(c, -1, v, true, 9, liveRule());
    ASSERT_TRUE(first.noteOn);
    EXPECT_EQ(first.noteOn->key, 11);  // folded into range by octaves
    EXPECT_FALSE(soundingDecision(c, -1, v, true, 9, liveRule()).noteOn);  // a tie, not "none"
}

TEST(Sounding, NoteOffGoesToTheChannelTheKeyWasStruckOn) {
    VoiceSettings v = VoiceSettings::defaults(0);
    v.channel = 3;
    VoiceCursor c;
    soundingDecision(c, 60, v, true, 9, compositionRule());
    v.channel = 5;
    auto d = soundingDecision(c, 62, v, true, 9, compositionRule());
    EXPECT_EQ(d.noteOff, (NoteMessage{3, 60, 0}));
    EXPECT_EQ(d.noteOn, (NoteMessage{5, 62, 88}));
}

TEST(Sounding, KeysFoldIntoMidiRangeByOctaves) {
    EXPECT_EQ(foldKey(127), 127);
    EXPECT_EQ(foldKey(128), 116);
    EXPECT_EQ(foldKey(139), 127);
    EXPECT_EQ(foldKey(140), 116);
    EXPECT_EQ(foldKey(0), 0);
    EXPECT_EQ(foldKey(-1), 11);
    EXPECT_EQ(foldKey(-12), 0);
    EXPECT_EQ(foldKey(-13), 11);
    for (int p = -300; p < 400; ++p) {
        const int k = foldKey(p);
        ASSERT_TRUE(k >= 0 && k <= 127 && (k - p) % 12 == 0) << p;
    }
}

}  // namespace
}  // namespace tarrowin
