#include "reports/current_note.h"

#include <gtest/gtest.h>

namespace tarrowin {
namespace {

VoiceSettings& voice(Settings& s, int v) { return s.voices[static_cast<size_t>(v)]; }

TEST(CurrentNote, StartZeroShowsStepZeroAndGreysVoicesThatAreOff) {
    Settings s = Settings::defaults();
    voice(s, 4).startNote = 49;
    const auto labels = currentNoteLabels(s);
    EXPECT_EQ(labels[0].text, "C5 (0)");
    EXPECT_FALSE(labels[0].greyed);
    EXPECT_EQ(labels[4].text, "C#4 (0)");
    EXPECT_TRUE(labels[4].greyed);
    for (int v = 1; v < kVoices; ++v) EXPECT_TRUE(labels[static_cast<size_t>(v)].greyed);
}

TEST(CurrentNote, StartBetweenNotesShowsTheLastWarmUpStep) {
    Settings s = Settings::defaults();
    s.global.startCounter = 10;  // quarter notes: not due at 10, step 1 was the last before
    // With offset 3 the warm-up steps run three notes ahead: counters 3..7, the last with
    // digit sum 3, while the number shown is 10 / 8 + 3.
    voice(s, 1).offset = 3;
    const auto labels = currentNoteLabels(s);
    EXPECT_EQ(labels[0].text, "D5 (1)");  // digit sum of 1 is 1: Major degree 1
    EXPECT_EQ(labels[1].text, "F5 (4)");
}

TEST(CurrentNote, DueAtStartShowsTheEvaluatedNote) {
    Settings s = Settings::defaults();
    s.global.startCounter = 16;
    voice(s, 0).offset = 2;  // counter 4 at tick 16: digit sum 1
    voice(s, 2).setNoteValue(5, 0.0f);  // 32nd notes
    voice(s, 2).offset = -3;            // counter 13 (1101): digit sum 3
    const auto labels = currentNoteLabels(s);
    EXPECT_EQ(labels[0].text, "D5 (4)");
    EXPECT_EQ(labels[2].text, "F5 (13)");
}

TEST(CurrentNote, EveryModulationIsWarmedUpForMorseThueToo) {
    Settings s = Settings::defaults();
    s.global.startCounter = 5;
    VoiceSettings& v = voice(s, 0);
    v.setNoteValue(5, 0.0f);
    v.modulate = 1;
    v.modulateEvery = 4;  // counter 4 transposes by 1 and holds it at counter 5
    EXPECT_EQ(currentNoteLabels(s)[0].text, "F5 (5)");
}

TEST(CurrentNote, RandomModulationShowsNotAvailable) {
    Settings s = Settings::defaults();
    for (int v : {0, 6}) {
        voice(s, v).modulate = 1;
        voice(s, v).modulateMode = 1;
    }
    voice(s, 7).modulateMode = 1;  // random mode without modulate: evaluated as usual
    const auto labels = currentNoteLabels(s);
    EXPECT_EQ(labels[0].text, "N/A");
    EXPECT_FALSE(labels[0].greyed);
    EXPECT_EQ(labels[6].text, "N/A");
    EXPECT_TRUE(labels[6].greyed);
    EXPECT_EQ(labels[7].text, "C5 (0)");
}

TEST(CurrentNote, NotesOutsideTheMidiRangeShowNone) {
    Settings s = Settings::defaults();
    s.global.startCounter = 8;
    VoiceSettings& high = voice(s, 0);  // counter 1: digit sum 27 in base 1000000
    high.param1 = 1000000;
    high.param2 = 27;
    high.startNote = 96;
    high.setOctaves(3);  // position 27 of 28: 96 + 36 + 11 = 143
    voice(s, 1).offset = -2;  // no warm-up and not due at 8: no note at all
    const auto labels = currentNoteLabels(s);
    EXPECT_EQ(labels[0].note, 143);
    EXPECT_EQ(labels[0].text, "none");
    EXPECT_EQ(labels[1].note, -1);
    EXPECT_EQ(labels[1].text, "none");
    voice(s, 0).startNote = 80;  // 127 is still a note
    EXPECT_EQ(currentNoteLabels(s)[0].text, "G10 (1)");
}

}  // namespace
}  // namespace tarrowin
