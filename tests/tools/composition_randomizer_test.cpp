#include "tools/composition_randomizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "document/document_file.h"
#include "engine/tables.h"
#include "recording_prompter.h"

namespace tarrowin {
namespace {

using testing::RecordingPrompter;

class RandomizerTest : public ::testing::Test {
   protected:
    void SetUp() override {
        doc.OnNewDocument();
        for (int v = 0; v < 4; ++v) doc.mutableCurrent().voices[static_cast<size_t>(v)].enabled = 1;
        dialog.open(doc);
    }
    void only(std::initializer_list<RandomBox> list) {
        dialog.noBoxes();
        for (RandomBox b : list) dialog.boxes[static_cast<size_t>(b)] = true;
    }
    template <class Picker>
    static void allowOnly(Picker& picker, std::initializer_list<int> items) {
        picker.open();
        picker.none();
        for (int i : items) picker.setChecked(i, true);
        ASSERT_FALSE(picker.ok());
    }
    RandomizeOutcome randomize(int64_t seed) {
        UniformRandom random(seed);
        return dialog.randomize(doc, random, prompter);
    }
    CreateOutcome create(int64_t seed) {
        UniformRandom random(seed);
        return dialog.create(doc, random, prompter);
    }
    const VoiceSettings& voice(int v) const { return doc.voice(v); }

    CTarrowinDoc doc;
    CompositionRandomizer dialog;
    RecordingPrompter prompter;
};

// Every value a draw can give lies in the range of its field, and the paired fields agree.
void expectValidVoice(const VoiceSettings& s) {
    EXPECT_GE(static_cast<int>(s.algorithm), 0);
    EXPECT_LT(static_cast<int>(s.algorithm), kAlgorithms);
    EXPECT_EQ(s.octaves, s.octavesIndex + 1);
    EXPECT_EQ(s.velocity, velocityOf(s.dynamicIndex));
    EXPECT_GE(s.startNote, 0);
    EXPECT_LE(s.startNote, 96);
    EXPECT_TRUE(s.pan == -64 || s.pan == 0 || s.pan == 63);
    EXPECT_TRUE(s.modulateEvery >= 1 && s.modulateEvery <= 50);
    EXPECT_TRUE(s.param1 >= 2 && s.param1 < 100);
    EXPECT_TRUE(s.param2 >= 1 && s.param2 < 100);
    if (s.noteValueIndex < kOtherNoteValue) {
        EXPECT_EQ(s.noteValue, static_cast<float>(noteValueTicks(s.noteValueIndex)));
    }
    EXPECT_TRUE(s.logisticMu >= 3.5f && s.logisticMu <= 4.0f);
    EXPECT_TRUE(std::fabs(s.hopalongAngle) <= 6.28319f && std::fabs(s.martinAngle) <= 6.28319f);
    EXPECT_TRUE(std::fabs(s.gingerX0) <= 20.0f && std::fabs(s.gingerY0) <= 20.0f);
    EXPECT_TRUE(s.lorenzCoefficient >= 0.7f && s.lorenzCoefficient <= 1.0f);
    EXPECT_EQ(s.scale, buildScaleList(s.scaleIndex, s.userScale, s.inverted != 0, s.matchScale != 0));
    EXPECT_GE(s.userScale.count, 3);
    EXPECT_EQ(s.userScale[0], 0);
}

TEST_F(RandomizerTest, EveryBoxDrawsValidSettingsForTheChosenVoicesOnly) {
    const VoiceSettings untouched = voice(9);
    dialog.voiceChoice[9] = false;
    dialog.voiceChoice[12] = true;
    for (int64_t seed = 1; seed <= 60; ++seed) {
        const RandomizeOutcome out = randomize(seed);
        ASSERT_TRUE(out.done);
        for (int v : {0, 1, 2, 3, 12}) {
            SCOPED_TRACE(v);
            expectValidVoice(voice(v));
            EXPECT_TRUE(out.randomized[static_cast<size_t>(v)]);
            EXPECT_EQ(voice(v).enabled, 1);
        }
        EXPECT_EQ(voice(9), untouched);
        EXPECT_GE(doc.global().tempo, 20);
        EXPECT_LE(doc.global().tempo, 339);
    }
    EXPECT_TRUE(doc.isModified());
    EXPECT_EQ(voice(12).channel, 12);  // never drawn
}

TEST_F(RandomizerTest, DrawsComeInTheWrittenOrder) {
    // One voice, every box but "Match Scl", and a seed whose first draws give Henon (so no
    // Param1 or Param2 draw, two coefficients), no modulation, a fixed scale and no "Other"
    // note value: then each step takes one draw, Coefficient two, in the written order.
    dialog.voiceChoice.fill(false);
    dialog.voiceChoice[0] = true;
    dialog.allBoxes();
    dialog.boxes[static_cast<size_t>(RandomBox::MatchScl)] = false;
    auto trunc = [](float n, float u) { return static_cast<int32_t>(n * u); };
    std::array<float, 14> u{};
    int64_t seed = 0;
    UniformRandom expected;
    do {
        expected = UniformRandom(++seed);
        for (float& x : u) x = expected();
    } while (trunc(8, u[0]) != 3 || u[3] > 0.5f || trunc(16, u[7]) == 15 || trunc(12, u[8]) == 11);
    UniformRandom random(seed);
    dialog.randomize(doc, random, prompter);
    const VoiceSettings& s = voice(0);
    EXPECT_EQ(s.algorithm, Algorithm::Henon);
    EXPECT_EQ(s.henonA, u[1] + 1.0f);
    EXPECT_EQ(s.henonB, u[2]);
    EXPECT_EQ(s.modulate, 0);
    EXPECT_EQ(s.octaves, trunc(4, u[4]) + 1);
    EXPECT_EQ(s.startNote, trunc(97, u[5]));
    EXPECT_EQ(s.inverted, u[6] >= 0.5f ? 1 : 0);
    EXPECT_EQ(s.scaleIndex, trunc(16, u[7]));
    EXPECT_EQ(s.noteValueIndex, trunc(12, u[8]));
    EXPECT_EQ(s.instrument, trunc(128, u[9]));
    EXPECT_EQ(s.tied, u[10] >= 0.5f ? 1 : 0);
    EXPECT_EQ(s.dynamicIndex, trunc(6, u[11]));
    EXPECT_EQ(s.pan, u[12] < 0.333333f ? -64 : u[12] < 0.666666f ? 0 : 63);
    EXPECT_EQ(doc.global().tempo, trunc(320, u[13]) + 20);
    EXPECT_EQ(random, expected);  // and no draw more
}

TEST_F(RandomizerTest, OnlyHenonAllowedGivesHenonWithCoefficientsInRange) {
    allowOnly(dialog.algorithms, {static_cast<int>(Algorithm::Henon)});
    for (int64_t seed = 1; seed <= 30; ++seed) {
        randomize(seed);
        for (int v = 0; v < 4; ++v) {
            EXPECT_EQ(voice(v).algorithm, Algorithm::Henon);
            EXPECT_TRUE(voice(v).henonA >= 1.0f && voice(v).henonA <= 2.0f);
            EXPECT_TRUE(voice(v).henonB > 0.0f && voice(v).henonB < 1.0f);
        }
    }
}

TEST_F(RandomizerTest, Param1IsDrawnForMorseThueVoicesOnly) {
    allowOnly(dialog.algorithms, {static_cast<int>(Algorithm::Lorenz)});
    doc.mutableCurrent().voices[0].param1 = 777;
    doc.mutableCurrent().voices[0].param2 = 888;
    randomize(5);
    EXPECT_EQ(voice(0).param1, 777);
    EXPECT_EQ(voice(0).param2, 888);
    allowOnly(dialog.algorithms, {static_cast<int>(Algorithm::MorseThue)});
    dialog.param1From = 500, dialog.param1To = 510;
    randomize(5);
    EXPECT_TRUE(voice(0).param1 >= 500 && voice(0).param1 < 510);
}

TEST_F(RandomizerTest, OnlyUserScalesGiveNewUserScales) {
    dialog.createOnlyUserScales = true;
    for (int64_t seed = 1; seed <= 40; ++seed) {
        const RandomizeOutcome out = randomize(seed);
        for (int v = 0; v < 4; ++v) {
            const VoiceSettings& s = voice(v);
            EXPECT_EQ(s.scaleIndex, kUserDefinedScale);
            EXPECT_TRUE(s.userScale.count >= 3 && s.userScale.count <= 12);
            EXPECT_EQ(s.userScale[0], 0);
            for (int i = 1; i < s.userScale.count; ++i) EXPECT_LT(s.userScale[i - 1], s.userScale[i]);
            ASSERT_TRUE(out.userScaleMarks[static_cast<size_t>(v)]);
            EXPECT_EQ(buildUserScale(*out.userScaleMarks[static_cast<size_t>(v)]), s.userScale);
            EXPECT_EQ(s.scale, buildScaleList(kUserDefinedScale, s.userScale, s.inverted != 0, s.matchScale != 0));
        }
    }
}

TEST_F(RandomizerTest, OnlyPentatonicWithoutUserScalesGivesPentatonic) {
    allowOnly(dialog.scales, {13});
    dialog.scales.open();
    dialog.scales.setAllowUserDefinedChecked(false);
    ASSERT_FALSE(dialog.scales.ok());
    dialog.scalesPickerClosed();
    EXPECT_FALSE(dialog.createUserScales);
    for (int64_t seed = 1; seed <= 20; ++seed) {
        randomize(seed);
        for (int v = 0; v < 4; ++v) EXPECT_EQ(voice(v).scaleIndex, 13);
    }
}

TEST_F(RandomizerTest, ADrawnInversionRebuildsTheScaleWithoutTheScaleBox) {
    only({RandomBox::Inverted, RandomBox::MatchScl});
    bool sawMirror = false;
    for (int64_t seed = 1; seed <= 40; ++seed) {
        randomize(seed);
        for (int v = 0; v < 4; ++v) {
            const VoiceSettings& s = voice(v);
            EXPECT_EQ(s.scale, buildScaleList(s.scaleIndex, s.userScale, s.inverted != 0, s.matchScale != 0));
            sawMirror |= s.inverted && s.matchScale;
        }
    }
    EXPECT_TRUE(sawMirror);
}

TEST_F(RandomizerTest, OtherNoteValuesComeFromTheOtherRange) {
    allowOnly(dialog.noteValues, {kOtherNoteValue});
    dialog.noteValues.otherFrom = 100, dialog.noteValues.otherTo = 110;
    const RandomizeOutcome out = randomize(3);
    for (int v = 0; v < 4; ++v) {
        EXPECT_EQ(voice(v).noteValueIndex, kOtherNoteValue);
        EXPECT_TRUE(voice(v).noteValue >= 100.0f && voice(v).noteValue < 110.0f);
        EXPECT_EQ(out.otherNoteValue[static_cast<size_t>(v)], static_cast<int32_t>(voice(v).noteValue));
    }
}

TEST_F(RandomizerTest, SetsThatAllowNothingAreRefusedBeforeAnyDraw) {
    const Settings before = doc.current();
    dialog.allowedNotes.fill(false);
    EXPECT_FALSE(randomize(1).done);
    EXPECT_EQ(prompter.messages.back().text, "Please select at least one note");
    dialog.boxes[static_cast<size_t>(RandomBox::Note)] = false;
    dialog.param2From = 50, dialog.param2To = 50;
    EXPECT_FALSE(randomize(1).done);
    EXPECT_EQ(prompter.messages.back().text, "Parameters must be between 1 and 1000000000\nFrom must be less than To");
    EXPECT_EQ(doc.current(), before);
    EXPECT_FALSE(doc.isModified());
}

TEST_F(RandomizerTest, EnablingRulesFollowTheBoxes) {
    EXPECT_EQ(dialog.enabling(), (RandomizerEnabling{false, false, true, true, true}));
    dialog.voicesOnOff = true;
    EXPECT_TRUE(dialog.enabling().allowSilence);
    EXPECT_TRUE(dialog.enabling().minVoicesOn);
    dialog.allowSilence = true;
    EXPECT_FALSE(dialog.enabling().minVoicesOn);
    EXPECT_EQ(dialog.setBox(RandomBox::Inverted, false), PickerRequest::None);
    EXPECT_FALSE(dialog.enabling().matchScl);
    dialog.setCreateUserScales(true);
    dialog.createOnlyUserScales = true;
    dialog.setCreateUserScales(false);
    EXPECT_FALSE(dialog.createOnlyUserScales);
    EXPECT_FALSE(dialog.enabling().createOnlyUserScales);
    // Scale clicked while the picker forbids user scales clears both scale boxes.
    dialog.setCreateUserScales(true);
    dialog.createOnlyUserScales = true;
    dialog.scales.open();
    dialog.scales.setAllowUserDefinedChecked(false);
    ASSERT_FALSE(dialog.scales.ok());
    EXPECT_EQ(dialog.setBox(RandomBox::Scale, true), PickerRequest::Scales);
    EXPECT_FALSE(dialog.createUserScales);
    EXPECT_FALSE(dialog.createOnlyUserScales);
    EXPECT_FALSE(dialog.enabling().createUserScales);
    EXPECT_EQ(dialog.setBox(RandomBox::Instrument, true), PickerRequest::Instruments);
    EXPECT_EQ(dialog.setBox(RandomBox::Param2, true), PickerRequest::Param2Range);
    EXPECT_EQ(dialog.setBox(RandomBox::Tempo, true), PickerRequest::None);
}

TEST_F(RandomizerTest, TheSameSeedGivesTheSameDocument) {
    CTarrowinDoc other;
    other.OnNewDocument();
    other.mutableCurrent() = doc.current();
    CompositionRandomizer otherDialog = dialog;
    dialog.voicesOnOff = otherDialog.voicesOnOff = true;
    UniformRandom r1(2024), r2(2024);
    dialog.create(doc, r1, prompter);
    otherDialog.create(other, r2, prompter);
    EXPECT_EQ(doc.current(), other.current());
    EXPECT_EQ(doc.composition(), other.composition());
    EXPECT_EQ(serializeDocument(doc), serializeDocument(other));
    EXPECT_EQ(r1, r2);
    CTarrowinDoc third;
    third.OnNewDocument();
    third.mutableCurrent() = other.current();
    UniformRandom r3(2025);
    CompositionRandomizer(otherDialog).create(third, r3, prompter);
    EXPECT_NE(third.composition(), other.composition());
}

TEST_F(RandomizerTest, CreateDrawsInTheWrittenOrder) {
    // start0, End, the sounding draw of the one chosen voice (made also with "Voices On/Off"
    // off), whether Tempo varies, then "Randomize !": Pan, and Tempo when it varies.
    dialog.voiceChoice.fill(false);
    dialog.voiceChoice[2] = true;
    dialog.numberOfEvents = 1;
    dialog.startCounterMode = kStartFromZero;
    only({RandomBox::Pan, RandomBox::Tempo});
    int64_t seed = 1;
    std::array<float, 6> u{};
    for (;; ++seed) {
        UniformRandom expected(seed);
        for (float& x : u) x = expected();
        if (u[3] < 0.5f) break;
    }
    create(seed);
    ASSERT_EQ(doc.composition().count(), 1);
    const CompositionEvent& e = doc.composition().event(0);
    EXPECT_EQ(e.global.startCounter, 0);
    EXPECT_EQ(e.global.endCounter, static_cast<int32_t>(u[1] * 150.0f + 50.0f));
    EXPECT_EQ(e.voices[2].enabled, 1);
    EXPECT_EQ(e.voices[2].pan, u[4] < 0.333333f ? -64 : u[4] < 0.666666f ? 0 : 63);
    EXPECT_EQ(e.global.tempo, static_cast<int32_t>(320.0f * u[5]) + 20);
}

TEST_F(RandomizerTest, CreateFromZeroChainsTheCounters) {
    dialog.startCounterMode = kStartFromZero;
    const auto boxes = dialog.boxes;
    const auto choice = dialog.voiceChoice;
    const CreateOutcome out = create(8);
    ASSERT_TRUE(out.started);
    ASSERT_EQ(doc.composition().count(), 10);
    ASSERT_EQ(out.added.size(), 10u);
    int32_t start = 0;
    for (int i = 0; i < 10; ++i) {
        const GlobalSettings& g = doc.composition().event(i).global;
        EXPECT_EQ(g.startCounter, start);
        EXPECT_GE(g.endCounter - g.startCounter, 50);
        EXPECT_LE(g.endCounter - g.startCounter, 199);
        EXPECT_EQ(out.added[static_cast<size_t>(i)].listLine, eventListLine(doc.composition().event(i)));
        start = g.endCounter;
    }
    EXPECT_TRUE(out.loadedFirstEvent);
    EXPECT_EQ(doc.current(), doc.composition().event(0));
    EXPECT_EQ(dialog.boxes, boxes);
    EXPECT_EQ(dialog.voiceChoice, choice);
    EXPECT_FALSE(dialog.creating());
    EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(RandomizerTest, CreateStartsFromTheLastEventOrAtRandom) {
    CompositionEvent e = doc.current();
    e.global.startCounter = 0, e.global.endCounter = 1234;
    doc.mutableComposition().append(e);
    dialog.numberOfEvents = 3;
    create(4);
    ASSERT_EQ(doc.composition().count(), 4);
    EXPECT_EQ(doc.composition().event(1).global.startCounter, 1234);
    EXPECT_EQ(doc.current(), doc.composition().event(0));  // event 0 is loaded, old or new

    dialog.startCounterMode = kRandomizeStart;
    dialog.sequential = false;
    dialog.randomStartMin = 40000, dialog.randomStartMax = 40100;
    create(5);
    for (int i = 4; i < 7; ++i) {
        const int32_t s = doc.composition().event(i).global.startCounter;
        EXPECT_TRUE(s >= 40000 && s < 40100) << s;
    }
}

TEST_F(RandomizerTest, CreateStopsAtTheCounterLimit) {
    CompositionEvent e = doc.current();
    e.global.startCounter = 49000, e.global.endCounter = 49950;
    doc.mutableComposition().append(e);
    dialog.minCounter = 51;
    const Settings before = doc.current();
    const auto boxes = dialog.boxes;
    const CreateOutcome out = create(1);
    EXPECT_TRUE(out.stoppedAtCounterLimit);
    EXPECT_FALSE(out.loadedFirstEvent);
    EXPECT_EQ(doc.composition().count(), 1);
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_EQ(prompter.messages[0], (Message{"Maximum counter value reached", "Tarrowin", MessageIcon::Exclamation}));
    EXPECT_EQ(doc.current(), before);
    EXPECT_EQ(dialog.boxes, boxes);
    EXPECT_FALSE(dialog.creating());

    // A sequential random start: the events made so far stay.
    dialog.startCounterMode = kRandomizeStart;
    dialog.randomStartMin = 48999, dialog.randomStartMax = 49000;
    dialog.minCounter = 800, dialog.maxCounter = 1000;
    create(1);
    EXPECT_EQ(doc.composition().count(), 2);
    EXPECT_EQ(doc.composition().event(1).global.startCounter, 48999);
    EXPECT_EQ(prompter.messages.back().text, "Maximum counter value reached!");
}

TEST_F(RandomizerTest, CreateMayEndAnEventAtTheCounterLimit) {
    CompositionEvent e = doc.current();
    e.global.startCounter = 49000, e.global.endCounter = 49950;
    doc.mutableComposition().append(e);
    dialog.numberOfEvents = 2;
    dialog.minCounter = 50, dialog.maxCounter = 51;  // every event is 50 long
    const CreateOutcome out = create(1);
    ASSERT_EQ(doc.composition().count(), 2);
    EXPECT_EQ(doc.composition().event(1).global.endCounter, 50000);
    EXPECT_TRUE(out.stoppedAtCounterLimit);  // the second event would end at 50050
}

TEST_F(RandomizerTest, CreateKeepsTheMinimumOfVoicesOn) {
    dialog.voiceChoice.fill(false);
    dialog.voiceChoice[1] = dialog.voiceChoice[5] = dialog.voiceChoice[7] = true;
    dialog.voicesOnOff = true;
    dialog.minVoicesOn = 2;
    dialog.numberOfEvents = 40;
    create(11);
    ASSERT_EQ(doc.composition().count(), 40);
    std::set<int> counts;
    for (const auto& ev : doc.composition().events()) {
        const int on = ev.voices[1].enabled + ev.voices[5].enabled + ev.voices[7].enabled;
        EXPECT_GE(on, 2);
        counts.insert(on);
        EXPECT_EQ(ev.voices[0].enabled, 1);  // not chosen: keeps its state
        EXPECT_EQ(ev.voices[2].enabled, 1);
        EXPECT_EQ(ev.voices[6].enabled, 0);
    }
    EXPECT_EQ(counts.size(), 2u);  // both 2 and 3 voices on occur
}

TEST_F(RandomizerTest, CreateTakesUpToTheLimitOfEvents) {
    dialog.numberOfEvents = 1001;
    EXPECT_FALSE(create(1).started);
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_EQ(prompter.messages[0].text,
              "Maximum number of Events is 1000.\n"
              "Minimum number of Events of 1.\n"
              "Minimum counter value is 1.\n"
              "Maximum counter value is 1000\n"
              "Minimum counter value must be less than Maximum counter value.");
    EXPECT_EQ(prompter.messages[0].caption, "Error");
    EXPECT_TRUE(doc.composition().isEmpty());
    dialog.numberOfEvents = 1000;
    dialog.minCounter = 1, dialog.maxCounter = 2;
    const CreateOutcome out = create(1);
    EXPECT_TRUE(out.started);
    EXPECT_EQ(doc.composition().count(), 1000);
    EXPECT_EQ(prompter.messages.size(), 1u);
    dialog.numberOfEvents = 1;
    EXPECT_FALSE(create(1).started);
    EXPECT_EQ(prompter.messages.back().text.substr(0, 33), "Maximum number of Events is 0.\nMi");
}

TEST_F(RandomizerTest, CreateChecksItsNumbersInOrder) {
    const auto refusal = [&](auto change) {
        CompositionRandomizer saved = dialog;
        change(dialog);
        const bool started = create(1).started;
        dialog = saved;
        return started ? Message{} : prompter.messages.back();
    };
    const char* counters = "Maximum number of Events is 1000.\nMinimum number of Events of 1.\n";
    EXPECT_TRUE(refusal([](auto& d) { d.minCounter = 0; }).text.starts_with(counters));
    EXPECT_TRUE(refusal([](auto& d) { d.maxCounter = 1001; }).text.starts_with(counters));
    EXPECT_TRUE(refusal([](auto& d) { d.minCounter = 200; }).text.starts_with(counters));
    EXPECT_TRUE(refusal([](auto& d) { d.numberOfEvents = 0; }).text.starts_with(counters));
    const std::string random =
        "Minimum values for Random Counters is 0.\nMaximum values for Random Counters is 49000\n"
        "Minimum counter value must be less than Maximum counter value.";
    EXPECT_EQ(refusal([](auto& d) { d.randomStartMax = 49001; }).text, random);
    EXPECT_EQ(refusal([](auto& d) { d.randomStartMin = -1; }).text, random);
    EXPECT_EQ(refusal([](auto& d) { d.randomStartMin = d.randomStartMax; }).text, random);
    EXPECT_EQ(refusal([](auto& d) { d.voiceChoice.fill(false); }),
              (Message{"Please select some voices", "Tarrowin", MessageIcon::Exclamation}));
    EXPECT_EQ(refusal([](auto& d) { d.minVoicesOn = 5; }),
              (Message{"minimum voices on range is 1 to 4", "Error", MessageIcon::Exclamation}));
    EXPECT_EQ(refusal([](auto& d) { d.minVoicesOn = 0; }).text, "minimum voices on range is 1 to 4");
    // The first failing check wins.
    EXPECT_TRUE(refusal([](auto& d) { d.minCounter = 0, d.voiceChoice.fill(false); }).text.starts_with(counters));
    EXPECT_TRUE(doc.composition().isEmpty());
    EXPECT_FALSE(doc.isModified());
    // Accepted bounds.
    dialog.randomStartMin = 0, dialog.randomStartMax = 49000, dialog.minCounter = 1, dialog.maxCounter = 1000;
    dialog.numberOfEvents = 2;
    EXPECT_TRUE(create(1).started);
}

}  // namespace
}  // namespace tarrowin
