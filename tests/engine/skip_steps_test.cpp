// skipSteps and skipStepsTogether against one nextNote call per step: the state they leave
// must be the same to the last bit, including after the cycle shortcut of long warm-ups.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "engine/generators.h"
#include "engine/note_engine.h"
#include "support/random_coefficients.h"

namespace tarrowin {
namespace {

// A voice with the Randomizer's coefficients and any modulation.
VoiceSettings randomVoice(std::mt19937& rng, Algorithm a) {
    auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    VoiceSettings s = VoiceSettings::defaults(0);
    s.setAlgorithm(a);
    testing::drawCoefficients(rng, s);
    s.modulate = pick(0, 1);
    s.modulateMode = pick(0, 1);
    s.modulateEvery = pick(1, 49);
    return s;
}

// Draws that both states take from the same sequence, so "Random" modulation compares too.
void deterministicDraws(GeneratorState& st, uint32_t& seed) {
    st.randomRunLength = [&seed] { return static_cast<int32_t>((seed = seed * 1103515245u + 12345u) % 50u) + 1; };
}

bool sameState(const GeneratorState& a, const GeneratorState& b) {
    auto same = [](const auto& x, const auto& y) { return std::memcmp(x.data(), y.data(), sizeof x) == 0; };
    return a.countdown == b.countdown && a.transposition == b.transposition && same(a.logX, b.logX) &&
           same(a.noiseX, b.noiseX) && same(a.noiseY, b.noiseY) && same(a.henonX, b.henonX) &&
           same(a.henonY, b.henonY) && same(a.hopX, b.hopX) && same(a.hopY, b.hopY) && same(a.martinX, b.martinX) &&
           same(a.martinY, b.martinY) && same(a.gingerX, b.gingerX) && same(a.gingerY, b.gingerY) &&
           same(a.lorenzX, b.lorenzX);
}

TEST(SkipSteps, LeavesTheStateOfOneStepAtATimeForEveryAlgorithm) {
    std::mt19937 rng(77);
    for (int a = 0; a < kAlgorithms; ++a) {
        for (int round = 0; round < 12; ++round) {
            const VoiceSettings s = randomVoice(rng, static_cast<Algorithm>(a));
            const int32_t first = std::uniform_int_distribution<int32_t>(-40, 40)(rng);
            // Long enough for most maps to fall into a cycle in float precision.
            const int64_t count = std::uniform_int_distribution<int64_t>(1, 30000)(rng);
            GeneratorState skipped, stepped;
            uint32_t skippedSeed = 3, steppedSeed = 3;
            deterministicDraws(skipped, skippedSeed);
            deterministicDraws(stepped, steppedSeed);
            resetGeneratorState(skipped, 0, s.algorithm, s);
            resetGeneratorState(stepped, 0, s.algorithm, s);

            skipSteps(skipped, 0, first, count, s);
            for (int64_t j = 0; j < count; ++j) nextNote(stepped, 0, static_cast<int32_t>(first + j), s);
            ASSERT_TRUE(sameState(skipped, stepped)) << "algorithm " << a << " round " << round << " count " << count;
            ASSERT_EQ(skippedSeed, steppedSeed) << "algorithm " << a << " round " << round;
            // The next note agrees too (it reads the transposition the skip left).
            ASSERT_EQ(nextNote(skipped, 0, static_cast<int32_t>(first + count), s),
                      nextNote(stepped, 0, static_cast<int32_t>(first + count), s));
        }
    }
}

TEST(SkipSteps, ModulationEveryCountsFromTheLastMultiple) {
    VoiceSettings s = VoiceSettings::defaults(0);
    s.setAlgorithm(Algorithm::LogisticMap);
    s.modulate = 1;
    s.modulateMode = 0;
    s.modulateEvery = 5;
    const size_t a = static_cast<size_t>(Algorithm::LogisticMap);
    // Ranges below, across and just past multiples of 5, and one holding no multiple.
    for (auto [first, count] : {std::pair{0, 4}, {0, 5}, {0, 6}, {3, 9}, {11, 3}, {-7, 20}, {10, 1}, {6, 4}}) {
        GeneratorState skipped, stepped;
        stepped.transposition[a][0] = skipped.transposition[a][0] = 7;  // left over from before
        skipSteps(skipped, 0, first, count, s);
        for (int j = 0; j < count; ++j) nextNote(stepped, 0, first + j, s);
        EXPECT_EQ(skipped.countdown[a][0], stepped.countdown[a][0]) << first << "+" << count;
        EXPECT_EQ(skipped.transposition[a][0], stepped.transposition[a][0]) << first << "+" << count;
    }
}

TEST(SkipSteps, SixteenVoicesTogetherMatchEachAlone) {
    std::mt19937 rng(5);
    for (int round = 0; round < 6; ++round) {
        VoiceArray voices;
        std::vector<SkipRequest> requests;
        for (int v = 0; v < kVoices; ++v) {
            voices[static_cast<size_t>(v)] = randomVoice(rng, static_cast<Algorithm>(std::uniform_int_distribution<int>(0, 7)(rng)));
            // Some voices take no step at all; the others different numbers of them.
            const int64_t count = v % 5 == 0 ? 0 : std::uniform_int_distribution<int64_t>(1, 12000)(rng);
            requests.push_back(SkipRequest{v, v - 8, count, &voices[static_cast<size_t>(v)]});
        }
        GeneratorState together, alone;
        uint32_t togetherSeed = 11, aloneSeed = 11;
        deterministicDraws(together, togetherSeed);
        deterministicDraws(alone, aloneSeed);
        for (int v = 0; v < kVoices; ++v) {
            const VoiceSettings& s = voices[static_cast<size_t>(v)];
            resetGeneratorState(together, v, s.algorithm, s);
            resetGeneratorState(alone, v, s.algorithm, s);
        }
        skipStepsTogether(together, requests);
        for (const SkipRequest& r : requests) {
            for (int64_t j = 0; j < r.count; ++j) nextNote(alone, r.v, static_cast<int32_t>(r.first + j), *r.voice);
        }
        ASSERT_TRUE(sameState(together, alone)) << round;
        ASSERT_EQ(togetherSeed, aloneSeed) << round;
    }
}

TEST(NoteEngineGrid, NextDueFollowsIsDue) {
    VoiceSettings v = VoiceSettings::defaults(0);
    for (int32_t offset : {-3, -1, 0, 2}) {
        for (float noteValue : {1.0f, 3.0f, 8.0f, 12.0f}) {
            v.offset = offset;
            v.noteValue = noteValue;
            VoiceArray voices = Settings::defaults().voices;
            voices[0] = v;
            const NoteEngine e(voices);
            for (int64_t t = 0; t < 80; ++t) {
                const NoteEngine::DueStep next = e.nextDue(0, t);
                int64_t expected = t;
                while (!e.isDue(0, expected)) ++expected;
                ASSERT_EQ(next.tick, expected) << offset << " " << noteValue << " " << t;
                ASSERT_EQ(next.counter, e.counterAt(0, expected));
            }
        }
    }
}

}  // namespace
}  // namespace tarrowin
