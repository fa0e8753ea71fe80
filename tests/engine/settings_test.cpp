#include <gtest/gtest.h>

#include "engine/settings.h"
#include "engine/tables.h"

namespace tarrowin {
namespace {

TEST(Settings, NewDocumentDefaults) {
    const Settings s = Settings::defaults();
    EXPECT_EQ(s.global.tempo, 96);
    EXPECT_EQ(s.global.startCounter, 0);
    EXPECT_EQ(s.global.endCounter, 0);
    EXPECT_EQ(s.global.timeSigNumerator, 4);
    EXPECT_EQ(s.global.timeSigDenominator, 4);
    for (int v = 0; v < kVoices; ++v) {
        const VoiceSettings& voice = s.voices[static_cast<size_t>(v)];
        SCOPED_TRACE(v);
        EXPECT_EQ(voice.enabled, v == 0 ? 1 : 0);
        EXPECT_EQ(voice.channel, v);
        EXPECT_EQ(voice.algorithm, Algorithm::MorseThue);
        EXPECT_EQ(voice.param1, 2);
        EXPECT_EQ(voice.param2, 1);
        EXPECT_EQ(voice.scale, (ScaleList{0, 2, 4, 5, 7, 9, 11}));
        EXPECT_EQ(voice.userScale, (ScaleList{0, 2, 4, 5, 7, 9, 11}));
        EXPECT_EQ(voice.octaves, 1);
        EXPECT_EQ(voice.startNote, 60);
        EXPECT_EQ(voice.noteValue, 8.0f);
        EXPECT_EQ(voice.noteValueIndex, 2);
        EXPECT_EQ(voice.velocity, 88);
        EXPECT_EQ(voice.tied, 1);
        EXPECT_EQ(voice.matchScale, 1);
        EXPECT_EQ(voice.hopalongAngle, 3.1415927f);
        EXPECT_EQ(voice.gingerX0, -0.1f);
    }
}

TEST(Settings, SettersKeepDerivedFieldsInStep) {
    VoiceSettings v = VoiceSettings::defaults(0);
    v.setDynamic(5);
    EXPECT_EQ(v.velocity, 127);
    v.setDynamic(0);
    EXPECT_EQ(v.velocity, 22);

    v.setOctaves(3);
    EXPECT_EQ(v.octaves, 4);
    EXPECT_EQ(v.octavesIndex, 3);

    v.setNoteValue(8, 999.0f);  // a table row ignores the ticks passed
    EXPECT_EQ(v.noteValue, 12.0f);
    v.setNoteValue(kOtherNoteValue, 20.0f);
    EXPECT_EQ(v.noteValue, 20.0f);
    EXPECT_EQ(v.noteValueIndex, 11);

    v.setInversion(true, true);
    EXPECT_EQ(v.scale, (ScaleList{0, 1, 3, 5, 7, 8, 10}));
    v.setScaleIndex(13);
    EXPECT_EQ(v.scale, (ScaleList{0, 3, 5, 8, 10}));
    v.setInversion(true, false);
    EXPECT_EQ(v.scale, (ScaleList{0, 2, 4, 7, 9}));
    v.setScaleIndex(kUserDefinedScale);
    v.setUserScale(ScaleList{0, 4, 7});
    EXPECT_EQ(v.scale, (ScaleList{0, 4, 7}));
    v.setInversion(true, true);
    EXPECT_EQ(v.scale, (ScaleList{0, 5, 8}));
}

TEST(Settings, SwitchingAlgorithmKeepsCoefficients) {
    VoiceSettings v = VoiceSettings::defaults(2);
    v.setAlgorithm(Algorithm::Henon);
    v.henonA = 1.2f;
    v.henonB = 0.25f;
    v.setAlgorithm(Algorithm::Martin);
    v.setAlgorithm(Algorithm::Henon);
    EXPECT_EQ(v.henonA, 1.2f);
    EXPECT_EQ(v.henonB, 0.25f);
}

TEST(Settings, TickLengthAndNoteTicks) {
    EXPECT_EQ(tickLengthMs(96), 78);
    EXPECT_EQ(tickLengthMs(120), 62);
    EXPECT_EQ(tickLengthMs(20), 375);
    EXPECT_EQ(tickLengthMs(340), 22);
    EXPECT_EQ(noteTicks(8.9f), 8);
    EXPECT_EQ(noteTicks(960.0f), 960);
    EXPECT_EQ(noteTicks(0.5f), 1);
    EXPECT_EQ(noteTicks(std::numeric_limits<float>::quiet_NaN()), 1);
}

TEST(Settings, ScaleListEqualityIgnoresUnusedSlots) {
    ScaleList a{0, 2, 4};
    ScaleList b = a;
    b.values[5] = 9;
    EXPECT_EQ(a, b);
    EXPECT_FALSE(a == (ScaleList{0, 2, 5}));
    EXPECT_TRUE(ScaleList{}.empty());
}

}  // namespace
}  // namespace tarrowin
