#include "tools/multiple_voice_editor.h"

#include <gtest/gtest.h>

#include "engine/tables.h"
#include "recording_prompter.h"

namespace tarrowin {
namespace {

using testing::RecordingPrompter;

class VoiceEditorTest : public ::testing::Test {
   protected:
    void SetUp() override {
        doc.OnNewDocument();
        for (int v = 0; v < kVoices; ++v) doc.mutableCurrent().voices[static_cast<size_t>(v)].setDynamic(0);
    }
    void addEvents(int n) {
        for (int i = 0; i < n; ++i) {
            CompositionEvent e = doc.current();
            e.global.startCounter = i, e.global.endCounter = i + 10;
            doc.mutableComposition().append(e);
        }
        editor.open(doc);
    }
    CTarrowinDoc doc;
    MultipleVoiceEditor editor;
    RecordingPrompter prompter;
};

TEST_F(VoiceEditorTest, ChangeSettingsSetsOnlyTheCheckedFieldOfTheChosenVoices) {
    editor.voices[0] = editor.voices[2] = true;
    editor.setFlag(ChangeFlag::Dynamic, true);
    editor.newDynamic = 3;
    Settings expected = doc.current();
    expected.voices[0].setDynamic(3);
    expected.voices[2].setDynamic(3);
    const VoiceEditOutcome out = editor.changeSettings(doc, prompter);
    EXPECT_TRUE(out.done);
    EXPECT_TRUE(out.voices[0] && out.voices[2] && !out.voices[1]);
    EXPECT_EQ(doc.current(), expected);
    EXPECT_EQ(doc.voice(2).velocity, 88);
    EXPECT_TRUE(doc.isModified());
}

TEST_F(VoiceEditorTest, ChecksComeInOrderAndChangeNothing) {
    const Settings before = doc.current();
    const auto refusal = [&](bool events) {
        const bool done = events ? editor.changeSelectedEvents(doc, prompter).done : editor.changeSettings(doc, prompter).done;
        EXPECT_FALSE(done);
        return prompter.messages.back().text;
    };
    editor.setFlag(ChangeFlag::Octaves, true);
    editor.setFlag(ChangeFlag::Algorithm, true);
    EXPECT_EQ(refusal(false), "No voices selected!");
    editor.voices[4] = true;
    EXPECT_EQ(refusal(true), "No events selected!");
    EXPECT_EQ(refusal(false), "No Octaves selected!");
    editor.octavesChoice = 1;
    editor.setFlag(ChangeFlag::Mode, true);
    editor.setFlag(ChangeFlag::Instrument, true);
    EXPECT_EQ(refusal(false), "No Mode selected!");
    editor.modeChoice = 0;
    EXPECT_EQ(refusal(false), "No Instrument selected!");
    editor.instrumentChoice = 128;  // not a line of the list
    EXPECT_EQ(refusal(false), "No Instrument selected!");
    editor.instrumentChoice = 3;
    EXPECT_EQ(refusal(false), "No Algorithm selected!");
    editor.newParam1 = 1;
    EXPECT_EQ(refusal(false), "Please enter an integer between 2 and 1000000.");
    EXPECT_EQ(prompter.messages[0].caption, "Error");
    EXPECT_EQ(doc.current(), before);
    EXPECT_FALSE(doc.isModified());
}

TEST(CoefficientsTest, PassThroughAVoiceFieldByField) {
    const Coefficients c{3.1f, 0.2f, 1.3f, 0.4f, -1.5f, 1.6f, -7.0f, 8.0f, 0.9f};
    VoiceSettings voice;
    c.storeInto(voice);
    EXPECT_EQ(voice.henonB, 0.4f);
    EXPECT_EQ(voice.gingerY0, 8.0f);
    EXPECT_EQ(Coefficients::of(voice), c);
}

TEST_F(VoiceEditorTest, CoefficientNeedsTheAlgorithmFlag) {
    editor.voices[0] = true;
    editor.setFlag(ChangeFlag::Coefficient, true);
    editor.coefficients.henonA = 1.2f;
    const VoiceSettings before = doc.voice(0);
    editor.changeSettings(doc, prompter);
    EXPECT_EQ(doc.voice(0), before);
    EXPECT_FALSE(editor.coefficientDialogTitle());
    editor.setFlag(ChangeFlag::Algorithm, true);
    editor.algorithmChoice = static_cast<int32_t>(Algorithm::Henon);
    EXPECT_EQ(editor.coefficientDialogTitle(), "Henon");
    editor.changeSettings(doc, prompter);
    EXPECT_EQ(doc.voice(0).algorithm, Algorithm::Henon);
    EXPECT_EQ(doc.voice(0).henonA, 1.2f);
    EXPECT_EQ(doc.voice(0).henonB, 0.4f);
    EXPECT_EQ(doc.voice(0).logisticMu, before.logisticMu);
}

TEST_F(VoiceEditorTest, InversionWithMatchScaleMirrorsTheScale) {
    editor.voices[1] = true;
    editor.setFlag(ChangeFlag::Inverted, true);
    editor.setFlag(ChangeFlag::MatchScale, true);
    editor.newInverted = editor.newMatchScale = true;
    EXPECT_TRUE(editor.enabling(doc).valueControl[static_cast<size_t>(ChangeFlag::MatchScale)]);
    // Without "Scale" the voice's scale still follows the inversion.
    editor.changeSettings(doc, prompter);
    EXPECT_EQ(doc.voice(1).scale, (ScaleList{0, 1, 3, 5, 7, 8, 10}));
    doc.mutableCurrent().voices[1].setScaleIndex(13);
    doc.mutableCurrent().voices[1].setInversion(false, false);
    editor.setFlag(ChangeFlag::Scale, true);
    editor.scaleChoice = 0;
    editor.changeSettings(doc, prompter);
    EXPECT_EQ(doc.voice(1).scaleIndex, 0);
    EXPECT_EQ(doc.voice(1).scale, (ScaleList{0, 1, 3, 5, 7, 8, 10}));
    editor.newInverted = false;
    EXPECT_FALSE(editor.enabling(doc).valueControl[static_cast<size_t>(ChangeFlag::MatchScale)]);
}

TEST_F(VoiceEditorTest, UserDefinedScaleComesFromTheEditor) {
    EXPECT_EQ(editor.userScale, scaleIntervals(0));
    std::array<bool, 12> marks{};
    marks[2] = marks[5] = marks[9] = true;  // D, F, A
    editor.userScaleEditorClosed(marks);
    EXPECT_EQ(editor.userScale, (ScaleList{0, 3, 7}));
    EXPECT_EQ(editor.userScaleEditorMarks()[3], true);
    editor.voices[6] = true;
    editor.setFlag(ChangeFlag::Scale, true);
    editor.scaleChoice = kUserDefinedScale;
    editor.setFlag(ChangeFlag::NoteValue, true);
    editor.noteValueChoice = kOtherNoteValue;
    editor.otherNoteValue = 20;
    editor.changeSettings(doc, prompter);
    EXPECT_EQ(doc.voice(6).userScale, (ScaleList{0, 3, 7}));
    EXPECT_EQ(doc.voice(6).scale, (ScaleList{0, 3, 7}));
    EXPECT_EQ(doc.voice(6).noteValue, 20.0f);
    EXPECT_EQ(doc.voice(6).noteValueIndex, kOtherNoteValue);
}

TEST_F(VoiceEditorTest, ChangeSelectedEventsLeavesTheCurrentSettings) {
    addEvents(3);
    const Composition before = doc.composition();
    const Settings current = doc.current();
    editor.voices[0] = editor.voices[15] = true;
    editor.allFlags();
    editor.noFlags();
    editor.setFlag(ChangeFlag::Param2, true);
    editor.setFlag(ChangeFlag::Pan, true);
    editor.newParam2 = 33;
    editor.newPan = -20;
    editor.eventSelection[0] = editor.eventSelection[2] = true;
    const VoiceEditOutcome out = editor.changeSelectedEvents(doc, prompter);
    EXPECT_EQ(out.events, (std::vector<int>{0, 2}));
    EXPECT_EQ(editor.eventFlags, (std::vector<bool>{true, false, true}));
    for (int i : {0, 2}) {
        CompositionEvent expected = before.event(i);
        for (int v : {0, 15}) {
            expected.voices[static_cast<size_t>(v)].param2 = 33;
            expected.voices[static_cast<size_t>(v)].pan = -20;
        }
        EXPECT_EQ(doc.composition().event(i), expected);
    }
    EXPECT_EQ(doc.composition().event(1), before.event(1));
    EXPECT_EQ(doc.current(), current);
    EXPECT_FALSE(doc.isModified());
}

TEST_F(VoiceEditorTest, EventControlsNeedEvents) {
    editor.open(doc);
    EXPECT_FALSE(editor.enabling(doc).eventControls);
    EXPECT_TRUE(editor.eventSelection.empty());
    addEvents(2);
    EXPECT_TRUE(editor.enabling(doc).eventControls);
    editor.selectAllEvents();
    EXPECT_EQ(editor.eventSelection, (std::vector<bool>{true, true}));
    editor.setFlag(ChangeFlag::Note, true);
    EXPECT_TRUE(editor.enabling(doc).valueControl[static_cast<size_t>(ChangeFlag::Note)]);
    EXPECT_FALSE(editor.enabling(doc).valueControl[static_cast<size_t>(ChangeFlag::Octaves)]);
}

}  // namespace
}  // namespace tarrowin
