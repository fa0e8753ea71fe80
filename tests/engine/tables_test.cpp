#include <gtest/gtest.h>

#include <set>

#include "engine/tables.h"

namespace tarrowin {
namespace {

TEST(Tables, MirroredScalesFollowTheMirrorRule) {
    for (int row = 0; row < kScaleRows - 1; ++row) {
        SCOPED_TRACE(kScaleLabels[static_cast<size_t>(row)]);
        EXPECT_EQ(mirroredScaleIntervals(row), mirrorScale(scaleIntervals(row)));
        const ScaleList& s = scaleIntervals(row);
        EXPECT_EQ(s[0], 0);
        for (int i = 1; i < s.count; ++i) EXPECT_LT(s[i - 1], s[i]);
    }
    EXPECT_EQ(scaleIntervals(9).count, 8);
    EXPECT_EQ(scaleIntervals(12).count, 6);
    EXPECT_EQ(scaleIntervals(13).count, 5);
    EXPECT_EQ(scaleIntervals(14).count, 12);
}

TEST(Tables, BuildScaleList) {
    const ScaleList major = scaleIntervals(0);
    EXPECT_EQ(buildScaleList(0, major, true, true), (ScaleList{0, 1, 3, 5, 7, 8, 10}));
    EXPECT_EQ(buildScaleList(0, major, true, false), major);
    EXPECT_EQ(buildScaleList(0, major, false, true), major);
    EXPECT_EQ(buildScaleList(kUserDefinedScale, ScaleList{0, 4, 7}, true, true), (ScaleList{0, 5, 8}));
    EXPECT_EQ(buildScaleList(kUserDefinedScale, ScaleList{0, 4, 7}, false, true), (ScaleList{0, 4, 7}));
}

TEST(Tables, BuildUserScaleStartsAtZero) {
    std::array<bool, 12> dfa{};
    dfa[2] = dfa[5] = dfa[9] = true;  // D, F, A
    EXPECT_EQ(buildUserScale(dfa), (ScaleList{0, 3, 7}));
    std::array<bool, 12> def{};
    def[2] = def[4] = def[6] = true;
    EXPECT_EQ(buildUserScale(def), (ScaleList{0, 2, 4}));
}

TEST(Tables, UserScaleMarksAreTheBoxesBuildUserScaleReads) {
    for (const ScaleList& s : {ScaleList{0, 4, 7}, scaleIntervals(0), scaleIntervals(14)})
        EXPECT_EQ(buildUserScale(userScaleMarks(s)), s);
    // A damaged list ticks only the semitones it can name.
    ScaleList damaged{0, 12, -1, 5};
    std::array<bool, 12> expected{};
    expected[0] = expected[5] = true;
    EXPECT_EQ(userScaleMarks(damaged), expected);
}

TEST(Tables, CoefficientRulesAcceptTheDefaults) {
    EXPECT_TRUE(coefficientRules(Algorithm::MorseThue).empty());
    const VoiceSettings d = VoiceSettings::defaults(0);
    for (int a = 1; a < kAlgorithms; ++a) {
        SCOPED_TRACE(a);
        const auto rules = coefficientRules(static_cast<Algorithm>(a));
        ASSERT_FALSE(rules.empty());
        for (const CoefficientRule& r : rules) {
            EXPECT_LT(r.min, r.max);
            EXPECT_GE(d.*r.member, r.min);
            EXPECT_LE(d.*r.member, r.max);
        }
    }
    // Both of Henon's and Gingerbreadman's, in the order their dialogs show them.
    EXPECT_EQ(coefficientRules(Algorithm::Henon)[1].member, &VoiceSettings::henonB);
    EXPECT_EQ(coefficientRules(Algorithm::Gingerbreadman)[0].member, &VoiceSettings::gingerX0);
}

TEST(Tables, NoteNames) {
    EXPECT_EQ(noteName(0), "C0");
    EXPECT_EQ(noteName(1), "C#0");
    EXPECT_EQ(noteName(48), "C4");
    EXPECT_EQ(noteName(60), "C5");
    EXPECT_EQ(noteName(95), "B7");
    EXPECT_EQ(noteName(96), "C8");
    EXPECT_EQ(noteName(126), "F#10");
    EXPECT_EQ(noteName(127), "G10");
    EXPECT_EQ(noteName(128), "");
    EXPECT_EQ(noteName(-1), "");
}

TEST(Tables, LabelsAsTheUserSeesThem) {
    EXPECT_EQ(instrumentLabel(0), "000 Grand piano");
    EXPECT_EQ(instrumentLabel(13), "013 Xilophone");
    EXPECT_EQ(instrumentLabel(32), "032 Accoustic bass");
    EXPECT_EQ(instrumentLabel(44), "044 Tremolo strings ");
    EXPECT_EQ(instrumentLabel(63), "063 Synth brass 2 ");
    EXPECT_EQ(instrumentLabel(113), "113  Agogo bells");
    EXPECT_EQ(instrumentLabel(127), "127 Gunshot");
    EXPECT_EQ(kScaleLabels[11], "Accoustic");
    EXPECT_EQ(kPercussionLabels[0], "Base Drum 1");
    EXPECT_EQ(kPercussionLabels[46], "Open Triangle");
    EXPECT_EQ(percussionMidiKey(0), 35);
    EXPECT_EQ(percussionMidiKey(46), 81);
    EXPECT_EQ(noteValueLabel(11, 20.0f), "Other (20)");
    EXPECT_EQ(noteValueLabel(2, 8.0f), "Quarter");
    std::set<std::string_view> unique(kInstrumentNames.begin(), kInstrumentNames.end());
    EXPECT_EQ(unique.size(), 128u);
}

TEST(Tables, NoteValuesAndDynamics) {
    const int expected[] = {32, 16, 8, 4, 2, 1, 48, 24, 12, 6, 3};
    for (int row = 0; row < 11; ++row) EXPECT_EQ(noteValueTicks(row), expected[row]);
    EXPECT_EQ(noteValueTicks(11), 0);
    const int velocities[] = {22, 44, 66, 88, 110, 127};
    for (int row = 0; row < 6; ++row) EXPECT_EQ(velocityOf(row), velocities[row]);
}

}  // namespace
}  // namespace tarrowin
