#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "engine/generators.h"
#include "engine/tables.h"

namespace tarrowin {
namespace {

VoiceSettings morseVoice() {
    VoiceSettings v = VoiceSettings::defaults(0);
    return v;  // base 2, multiplier 1, Major, one octave from 60
}

std::vector<int32_t> notes(GeneratorState& st, const VoiceSettings& v, int from, int to) {
    std::vector<int32_t> out;
    for (int k = from; k <= to; ++k) out.push_back(nextNote(st, 0, k, v));
    return out;
}

TEST(DigitSum, OrdinaryAndNegativeSums) {
    EXPECT_EQ(digitSum(0, 2), 0);
    EXPECT_EQ(digitSum(7, 2), 3);
    EXPECT_EQ(digitSum(2, 2), 1);   // a = b gives 1
    EXPECT_EQ(digitSum(1, 10), 1);  // a < b gives a
    EXPECT_EQ(digitSum(1999, 10), 28);
    EXPECT_EQ(digitSum(255, 16), 30);
    // Negative values (an overflowed product) are compared as unsigned and give a
    // negative sum of the negative remainders.
    EXPECT_EQ(digitSum(-1, 2), -1);
    EXPECT_EQ(digitSum(-19, 10), -10);
    // A base below 2 would never finish; it counts as 2.
    EXPECT_EQ(digitSum(7, 1), 3);
}

// The digit sum as it reads in words, on 32-bit signed values.
int32_t literalDigitSum(int32_t a, int32_t b) {
    int32_t sum = 0;
    while (static_cast<uint32_t>(a) > static_cast<uint32_t>(b)) {
        sum += a % b;
        a /= b;
    }
    return sum + a / b + a % b;
}

TEST(DigitSum, AgreesWithTheLiteralLoopForEveryBaseKind) {
    std::mt19937 rng(7);
    const int32_t bases[] = {2, 3, 4, 7, 8, 10, 16, 64, 1000, 4096, 999983, 1000000};
    const int32_t edges[] = {0, 1, -1, 2, -2, INT32_MAX, INT32_MIN, INT32_MIN + 1, 1000000, -1000000};
    for (int32_t b : bases) {
        for (int32_t a : edges) ASSERT_EQ(digitSum(a, b), literalDigitSum(a, b)) << a << " base " << b;
        for (int i = 0; i < 20000; ++i) {
            const auto a = static_cast<int32_t>(rng());
            ASSERT_EQ(digitSum(a, b), literalDigitSum(a, b)) << a << " base " << b;
        }
    }
}

TEST(MorseThue, CountersGiveDigitSumsThroughTheScale) {
    GeneratorState st;
    EXPECT_EQ(notes(st, morseVoice(), 0, 7), (std::vector<int32_t>{60, 62, 62, 64, 62, 64, 64, 65}));
}

TEST(MorseThue, InversionMirrorsAboutTheRange) {
    GeneratorState st;
    VoiceSettings v = morseVoice();
    v.inverted = 1;
    v.matchScale = 0;
    v.rebuildScale();
    EXPECT_EQ(nextNote(st, 0, 1, v), 12 * 1 + 120 - 62);
    EXPECT_EQ(nextNote(st, 0, 0, v), 72);
}

TEST(MorseThue, OverflowingProductWrapsAndStaysInRange) {
    GeneratorState st;
    VoiceSettings v = morseVoice();
    v.param1 = 10;
    v.param2 = 1000000000;
    v.octaves = 2;
    // 3 * 10^9 wraps to a negative 32-bit value, whose digit sum is negative.
    const int32_t product = static_cast<int32_t>(3u * 1000000000u);
    ASSERT_LT(digitSum(product, 10), 0);
    for (int k = 0; k < 200; ++k) {
        const int32_t note = nextNote(st, 0, k, v);
        EXPECT_GE(note, 60);
        EXPECT_LT(note, 60 + 24);
    }
}

TEST(Modulation, EveryModeTransposesAtMultiplesAndHolds) {
    GeneratorState st;
    VoiceSettings plain = morseVoice();
    VoiceSettings mod = plain;
    mod.modulate = 1;
    mod.modulateMode = 0;
    mod.modulateEvery = 4;
    GeneratorState reference;
    const auto base = notes(reference, plain, 0, 11);
    const auto shifted = notes(st, mod, 0, 11);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(shifted[k], base[k]) << k;
    // At 4 the transposition becomes D(4) mod 12 = 1 and holds until 8, where D(8) = 1 again.
    for (int k = 4; k < 12; ++k) EXPECT_EQ(shifted[k], base[k] + 1) << k;

    // The counter is the source for the other generators: at 4, T = 4 mod 12.
    GeneratorState a, b;
    VoiceSettings lorenz = plain;
    lorenz.algorithm = Algorithm::Lorenz;
    lorenz.octaves = 4;
    VoiceSettings lorenzMod = lorenz;
    lorenzMod.modulate = 1;
    lorenzMod.modulateEvery = 4;
    const auto l0 = notes(a, lorenz, 0, 9);
    const auto l1 = notes(b, lorenzMod, 0, 9);
    EXPECT_EQ(l1[3], l0[3]);
    EXPECT_EQ(l1[4], l0[4] + 4);
    EXPECT_EQ(l1[7], l0[7] + 4);
    EXPECT_EQ(l1[8], l0[8] + 8);
}

TEST(Modulation, RandomModeUsesRunLengths) {
    GeneratorState st;
    st.randomRunLength = [] { return 3; };
    VoiceSettings v = morseVoice();
    v.algorithm = Algorithm::Lorenz;
    v.modulate = 1;
    v.modulateMode = 1;
    VoiceSettings plain = v;
    plain.modulate = 0;
    GeneratorState ref;
    const auto base = notes(ref, plain, 0, 8);
    const auto got = notes(st, v, 0, 8);
    // T is taken from the counter at the start of each run of 3 notes: 0, 3, 6.
    for (int k = 0; k < 9; ++k) EXPECT_EQ(got[k], base[k] + (k / 3) * 3) << k;
}

TEST(Modulation, ClearCountdownsForgetsTheTransposition) {
    VoiceSettings v = morseVoice();
    v.modulate = 1;
    v.modulateEvery = 4;
    GeneratorState st;
    for (int k = 0; k <= 9; ++k) nextNote(st, 0, k, v);  // leaves T = D(8) mod 12 = 1
    clearCountdowns(st);
    GeneratorState fresh;
    // Counter 9 is past the period but not a multiple: without the reset the old T would
    // carry into the new run.
    EXPECT_EQ(nextNote(st, 0, 9, v), nextNote(fresh, 0, 9, v));
}

TEST(Maps, FirstStepsFromTheResetState) {
    GeneratorState st;
    VoiceSettings v = morseVoice();
    v.algorithm = Algorithm::Lorenz;
    resetGeneratorState(st, 0, v.algorithm, v);
    nextNote(st, 0, 0, v);
    EXPECT_EQ(st.lorenzX[0], 0.8f);

    v.algorithm = Algorithm::Gingerbreadman;
    v.gingerX0 = -0.1f;
    v.gingerY0 = 0.0f;
    resetGeneratorState(st, 0, v.algorithm, v);
    nextNote(st, 0, 0, v);
    EXPECT_FLOAT_EQ(st.gingerX[0], 1.1f);
    EXPECT_FLOAT_EQ(st.gingerY[0], -0.1f);

    v.algorithm = Algorithm::Henon;
    v.henonA = 1.4f;
    v.henonB = 0.3f;
    resetGeneratorState(st, 0, v.algorithm, v);
    nextNote(st, 0, 0, v);
    nextNote(st, 0, 1, v);
    // Second step from (1, 0.3): x = 0.3 - 1.4 + 1, and y is b times the new x.
    const float x2 = static_cast<float>(static_cast<double>(0.3f) - static_cast<double>(1.4f) + 1.0);
    EXPECT_EQ(st.henonX[0], x2);
    EXPECT_EQ(st.henonY[0], static_cast<float>(static_cast<double>(x2) * static_cast<double>(0.3f)));
}

TEST(Maps, StateIsStoredInSinglePrecision) {
    GeneratorState st;
    VoiceSettings v = morseVoice();
    v.algorithm = Algorithm::LogisticMap;
    v.logisticMu = 3.9f;
    float x = 0.2f;
    for (int k = 0; k < 50; ++k) {
        nextNote(st, 0, k, v);
        x = static_cast<float>((1.0 - x) * static_cast<double>(x) * static_cast<double>(3.9f));
        ASSERT_EQ(st.logX[0], x) << k;
    }
}

TEST(Maps, LogisticAtOneLandsOneOctaveAboveOrWrapsWithFourOctaves) {
    VoiceSettings v = morseVoice();
    v.algorithm = Algorithm::LogisticMap;
    v.logisticMu = 4.0f;
    GeneratorState st;
    st.logX[0] = 0.5f;  // (1 - 0.5) * 0.5 * 4 = 1 exactly
    EXPECT_EQ(nextNote(st, 0, 0, v), 60 + 12);
    v.setOctaves(2);
    st.logX[0] = 0.5f;
    EXPECT_EQ(nextNote(st, 0, 0, v), 60 + 36);
    v.setOctaves(3);  // four octaves: K = 4n is outside the fold, brought back to 0
    st.logX[0] = 0.5f;
    EXPECT_EQ(nextNote(st, 0, 0, v), 60);
}

TEST(Maps, NonFiniteStatesGivePositionZero) {
    VoiceSettings v = morseVoice();
    v.algorithm = Algorithm::Martin;
    GeneratorState st;
    st.martinX[0] = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(nextNote(st, 0, 0, v), 60);
    v.algorithm = Algorithm::Henon;
    st.henonX[0] = std::numeric_limits<float>::max();
    st.henonY[0] = 0.0f;
    for (int k = 0; k < 4; ++k) EXPECT_EQ(nextNote(st, 0, k, v), 60);
}

TEST(Maps, EveryAlgorithmStaysInsideItsRange) {
    for (int a = 0; a < kAlgorithms; ++a) {
        for (int octaves = 1; octaves <= 4; ++octaves) {
            VoiceSettings v = morseVoice();
            v.algorithm = static_cast<Algorithm>(a);
            v.param1 = 3;
            v.param2 = 7;
            v.setOctaves(octaves - 1);
            v.setScaleIndex(9);
            GeneratorState st;
            resetGeneratorState(st, 0, v.algorithm, v);
            for (int k = 0; k < 2000; ++k) {
                const int32_t note = nextNote(st, 0, k, v);
                ASSERT_GE(note, 60) << a << " " << k;
                // Only a logistic value of exactly 1 lands above the range.
                ASSERT_LE(note, 60 + 12 * octaves + (a == 1 ? 0 : -1)) << a << " " << k;
            }
        }
    }
}

TEST(Maps, HopalongSignTreatsNegativeZeroAsPositive) {
    VoiceSettings v = morseVoice();
    v.algorithm = Algorithm::Hopalong;
    v.hopalongAngle = 1.0f;
    GeneratorState a, b;
    a.hopX[0] = 0.0f;
    b.hopX[0] = -0.0f;
    nextNote(a, 0, 0, v);
    nextNote(b, 0, 0, v);
    EXPECT_EQ(a.hopX[0], b.hopX[0]);
    EXPECT_EQ(a.hopX[0], static_cast<float>(0.0 - std::sqrt(std::fabs(0.0 * std::sin(1.0) - std::cos(1.0)))));
}

}  // namespace
}  // namespace tarrowin
