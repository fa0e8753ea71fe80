#include "document/document.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/tables.h"

namespace tarrowin {
namespace {

const ScaleList kMajor{0, 2, 4, 5, 7, 9, 11};

CTarrowinDoc newDocument() {
    CTarrowinDoc doc;
    doc.OnNewDocument();
    return doc;
}

// A document whose current settings can become an event (End > Start).
CTarrowinDoc playableDocument() {
    CTarrowinDoc doc = newDocument();
    doc.setEndCounter(64);
    doc.SetModifiedFlag(false);
    return doc;
}

TEST(Document, ConstructionGivesTheDefaultsWithStartNote48) {
    const CTarrowinDoc doc;
    for (int v = 0; v < kVoices; ++v) {
        EXPECT_EQ(doc.voice(v).startNote, 48) << v;
        EXPECT_EQ(doc.voice(v).enabled, v == 0 ? 1 : 0) << v;
        EXPECT_EQ(doc.voice(v).channel, v);
    }
    EXPECT_EQ(doc.global(), GlobalSettings{});
    EXPECT_TRUE(doc.composition().isEmpty());
    EXPECT_FALSE(doc.isModified());
}

TEST(Document, NewDocumentResetsEverythingItOwns) {
    CTarrowinDoc doc = playableDocument();
    doc.setTempo(200);
    doc.setUserScale(3, ScaleList{0, 3, 6});
    doc.setScaleIndex(3, kUserDefinedScale);
    doc.setReserved(9);
    ASSERT_FALSE(doc.addCurrentSettingsAsEvent());
    doc.OnNewDocument();

    EXPECT_EQ(doc.current(), Settings::defaults());
    EXPECT_EQ(doc.reserved(), 1);
    EXPECT_EQ(doc.composition().count(), 0);
    EXPECT_EQ(doc.composition().lastIndex(), -1);
    EXPECT_FALSE(doc.isModified());
    for (int v = 0; v < kVoices; ++v) {
        EXPECT_EQ(doc.voice(v).scale, kMajor);
        EXPECT_EQ(doc.voice(v).userScale, kMajor);
        EXPECT_EQ(doc.voice(v).startNote, 60);
        EXPECT_EQ(doc.voice(v).velocity, 88);
        EXPECT_EQ(doc.voice(v).tied, 1);
    }
    EXPECT_EQ(doc.voice(0).enabled, 1);
    EXPECT_EQ(doc.voice(1).enabled, 0);
}

TEST(Document, EveryEditOfTheCurrentSettingsMarksItModified) {
    const std::vector<std::pair<std::string, std::function<void(CTarrowinDoc&)>>> edits = {
        {"enabled", [](CTarrowinDoc& d) { d.setEnabled(4, true); }},
        {"param1", [](CTarrowinDoc& d) { d.setParam1(4, 3); }},
        {"param2", [](CTarrowinDoc& d) { d.setParam2(4, 3); }},
        {"offset", [](CTarrowinDoc& d) { d.setOffset(4, -3); }},
        {"modulate", [](CTarrowinDoc& d) { d.setModulate(4, true); }},
        {"modulation", [](CTarrowinDoc& d) { d.setModulation(4, 1, 9); }},
        {"scale", [](CTarrowinDoc& d) { d.setScaleIndex(4, 3); }},
        {"inversion", [](CTarrowinDoc& d) { d.setInversion(4, true, true); }},
        {"user scale", [](CTarrowinDoc& d) { d.setUserScale(4, ScaleList{0, 1, 2}); }},
        {"dynamic", [](CTarrowinDoc& d) { d.setDynamic(4, 5); }},
        {"note value", [](CTarrowinDoc& d) { d.setNoteValue(4, 11, 20.0f); }},
        {"octaves", [](CTarrowinDoc& d) { d.setOctaves(4, 2); }},
        {"start note", [](CTarrowinDoc& d) { d.setStartNote(4, 30); }},
        {"algorithm", [](CTarrowinDoc& d) { d.setAlgorithm(4, Algorithm::Lorenz); }},
        {"instrument", [](CTarrowinDoc& d) { d.editVoice(4, [](VoiceSettings& v) { v.instrument = 9; }); }},
        {"tempo", [](CTarrowinDoc& d) { d.setTempo(120); }},
        {"start", [](CTarrowinDoc& d) { d.setStartCounter(5); }},
        {"end", [](CTarrowinDoc& d) { d.setEndCounter(5); }},
        {"denominator", [](CTarrowinDoc& d) { d.setTimeSigDenominator(8); }},
    };
    for (const auto& [name, edit] : edits) {
        CTarrowinDoc doc = newDocument();
        const Settings before = doc.current();
        edit(doc);
        EXPECT_TRUE(doc.isModified()) << name;
        EXPECT_NE(doc.current(), before) << name;
    }
}

TEST(Document, CommandsThatDoNotMarkItModified) {
    CTarrowinDoc doc = playableDocument();
    doc.setTimeSigNumerator(3);
    EXPECT_EQ(doc.global().timeSigNumerator, 3);
    EXPECT_FALSE(doc.isModified());

    CompositionEvent scratch;
    doc.CopyCurrentSettingsIntoEvent(scratch);
    ASSERT_FALSE(doc.addCurrentSettingsAsEvent());
    ASSERT_FALSE(doc.insertCurrentSettingsAsEvent(0));
    ASSERT_TRUE(doc.LoadEventIntoCurrentSettings(1));
    EXPECT_FALSE(doc.isModified());

    doc.SetModifiedFlag(true);
    doc.replaceContents(Settings::defaults(), 1, Composition{});
    EXPECT_FALSE(doc.isModified());
}

TEST(Document, EventsAndCurrentSettingsHoldSeparateLists) {
    CTarrowinDoc doc = playableDocument();
    doc.setUserScale(5, ScaleList{0, 4, 7});
    doc.setScaleIndex(5, kUserDefinedScale);
    ASSERT_FALSE(doc.addCurrentSettingsAsEvent());
    doc.setUserScale(5, ScaleList{0, 1, 2, 3});
    EXPECT_EQ(doc.composition().event(0).voices[5].userScale, (ScaleList{0, 4, 7}));
    EXPECT_EQ(doc.composition().event(0).voices[5].scale, (ScaleList{0, 4, 7}));

    // And the other way: loading, then editing the current settings, leaves the event.
    ASSERT_TRUE(doc.LoadEventIntoCurrentSettings(0));
    EXPECT_EQ(doc.voice(5).userScale, (ScaleList{0, 4, 7}));
    doc.setUserScale(5, ScaleList{0, 5, 10});
    EXPECT_EQ(doc.composition().event(0).voices[5].userScale, (ScaleList{0, 4, 7}));
}

TEST(Document, CopyingIntoAnEventAndLoadingItBackRestoresTheSettings) {
    CTarrowinDoc doc = playableDocument();
    doc.setAlgorithm(7, Algorithm::Henon);
    doc.editVoice(7, [](VoiceSettings& v) {
        v.henonA = 1.9f;
        v.percussionKey = 12;
        v.pan = -30;
    });
    doc.setNoteValue(7, kOtherNoteValue, 20.0f);
    doc.setTimeSigNumerator(3);
    doc.setTimeSigDenominator(8);
    const Settings before = doc.current();
    ASSERT_FALSE(doc.addCurrentSettingsAsEvent());
    doc.OnNewDocument();
    Composition c;
    c.append(before);
    doc.replaceContents(doc.current(), 1, c);
    ASSERT_TRUE(doc.LoadEventIntoCurrentSettings(0));
    EXPECT_EQ(doc.current(), before);
}

TEST(Document, AddsAtMostAThousandEvents) {
    CTarrowinDoc doc = playableDocument();
    for (int i = 0; i < kMaxEvents; ++i) ASSERT_FALSE(doc.addCurrentSettingsAsEvent()) << i;
    EXPECT_EQ(doc.composition().count(), 1000);
    EXPECT_EQ(doc.composition().lastIndex(), 999);

    const auto refusal = doc.addCurrentSettingsAsEvent();
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->text, "Sorry, you have reached the limit of events (1000)");
    EXPECT_EQ(refusal->caption, "Tarrowin");
    EXPECT_TRUE(doc.insertCurrentSettingsAsEvent(0));
    EXPECT_FALSE(doc.mutableComposition().append(Settings::defaults()));
    EXPECT_FALSE(doc.mutableComposition().insert(3, Settings::defaults()));
    EXPECT_EQ(doc.composition().count(), 1000);
}

TEST(Document, AnEventNeedsEndAfterStart) {
    CTarrowinDoc doc = newDocument();
    doc.setStartCounter(10);
    doc.setEndCounter(10);
    const auto refusal = doc.addCurrentSettingsAsEvent();
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->text, "Minimum difference between Start and End counters  is 1");
    EXPECT_EQ(refusal->caption, "Error");
    EXPECT_TRUE(doc.insertCurrentSettingsAsEvent(0));
    EXPECT_TRUE(doc.composition().isEmpty());
    doc.setEndCounter(11);
    EXPECT_FALSE(doc.addCurrentSettingsAsEvent());
    EXPECT_EQ(doc.composition().event(0).global.startCounter, 10);
    EXPECT_EQ(doc.composition().event(0).global.endCounter, 11);
}

TEST(Document, InsertKeepsTheOrder) {
    CTarrowinDoc doc = playableDocument();
    for (int tempo : {100, 200}) {
        doc.setTempo(tempo);
        ASSERT_FALSE(doc.addCurrentSettingsAsEvent());
    }
    doc.setTempo(150);
    ASSERT_FALSE(doc.insertCurrentSettingsAsEvent(1));
    ASSERT_EQ(doc.composition().count(), 3);
    EXPECT_EQ(doc.composition().event(0).global.tempo, 100);
    EXPECT_EQ(doc.composition().event(1).global.tempo, 150);
    EXPECT_EQ(doc.composition().event(2).global.tempo, 200);
    EXPECT_FALSE(doc.insertCurrentSettingsAsEvent(4));  // outside: nothing added, no message
    EXPECT_EQ(doc.composition().count(), 3);
    EXPECT_FALSE(doc.mutableComposition().remove(3));
    EXPECT_TRUE(doc.mutableComposition().remove(0));
    EXPECT_EQ(doc.composition().event(0).global.tempo, 150);
}

TEST(Document, LoadingAnEventMakesItTheCurrentSettings) {
    CTarrowinDoc doc = playableDocument();
    ASSERT_FALSE(doc.addCurrentSettingsAsEvent());
    doc.setTempo(180);
    doc.setUserScale(9, ScaleList{0, 6});
    doc.SetModifiedFlag(false);

    ASSERT_TRUE(doc.LoadEventIntoCurrentSettings(0));
    EXPECT_EQ(doc.current(), doc.composition().event(0));
    EXPECT_EQ(doc.global().tempo, 96);
    EXPECT_FALSE(doc.isModified());

    doc.setTempo(180);
    EXPECT_FALSE(doc.LoadEventIntoCurrentSettings(1));  // outside: nothing changes
    EXPECT_FALSE(doc.LoadEventIntoCurrentSettings(-1));
    EXPECT_EQ(doc.global().tempo, 180);
}

}  // namespace
}  // namespace tarrowin
