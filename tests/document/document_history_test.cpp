#include "document/document_history.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "document/document_file.h"

namespace tarrowin {
namespace {

CTarrowinDoc composedDocument(int events) {
    CTarrowinDoc doc;
    doc.OnNewDocument();
    for (int i = 0; i < events; ++i) {
        doc.setStartCounter(i * 10);
        doc.setEndCounter(i * 10 + 5 + i);
        doc.setTempo(60 + i);
        EXPECT_FALSE(doc.addCurrentSettingsAsEvent());
    }
    doc.SetModifiedFlag(false);
    return doc;
}

using Change = std::function<void(CTarrowinDoc&)>;

DocumentDelta record(CTarrowinDoc& doc, const Change& change, bool withComposition = true) {
    const auto before = DocumentDelta::capture(doc, withComposition);
    change(doc);
    return DocumentDelta::between(before, doc);
}

// Every kind of change the window makes comes back byte for byte, in both directions.
TEST(DocumentHistory, UndoAndRedoRestoreTheFileBytes) {
    const std::vector<std::pair<std::string, Change>> changes = {
        {"field", [](CTarrowinDoc& d) { d.setParam1(3, 77); }},
        {"user scale", [](CTarrowinDoc& d) { d.setUserScale(5, ScaleList{0, 3, 7}); d.setScaleIndex(5, 15); }},
        {"add", [](CTarrowinDoc& d) { d.setEndCounter(900); ASSERT_FALSE(d.addCurrentSettingsAsEvent()); }},
        {"insert", [](CTarrowinDoc& d) { d.setEndCounter(900); ASSERT_FALSE(d.insertCurrentSettingsAsEvent(2)); }},
        {"remove middle", [](CTarrowinDoc& d) { d.mutableComposition().remove(1); }},
        {"copy beside its original", [](CTarrowinDoc& d) {
             auto& c = d.mutableComposition();
             c.insert(2, c.event(1));
         }},
        {"clear", [](CTarrowinDoc& d) { d.mutableComposition().clear(); }},
        {"replace", [](CTarrowinDoc& d) { d.CopyCurrentSettingsIntoEvent(d.mutableComposition().event(3)); }},
        {"tempo of every event", [](CTarrowinDoc& d) {
             for (int i = 0; i < d.composition().count(); ++i) d.mutableComposition().event(i).global.tempo = 200;
         }},
        {"tuning and a voice's Tuned switch", [](CTarrowinDoc& d) {
             TuningSettings t;
             t.tuning = *Tuning::fromText("five\n5\n240.\n480.\n720.\n960.\n2/1\n").value;
             t.tuned[3] = false;
             d.setTuning(t);
         }},
        {"load and create", [](CTarrowinDoc& d) {
             ASSERT_TRUE(d.LoadEventIntoCurrentSettings(2));
             d.setEnabled(7, true);
             for (int i = 0; i < 3; ++i) ASSERT_FALSE(d.addCurrentSettingsAsEvent());
         }},
    };
    for (const auto& [name, change] : changes) {
        CTarrowinDoc doc = composedDocument(5);
        const auto before = serializeDocument(doc);
        const DocumentDelta delta = record(doc, change);
        const auto after = serializeDocument(doc);
        ASSERT_FALSE(delta.empty()) << name;
        delta.undo(doc);
        EXPECT_EQ(serializeDocument(doc), before) << name;
        delta.redo(doc);
        EXPECT_EQ(serializeDocument(doc), after) << name;
    }
}

TEST(DocumentHistory, AFieldEditRecordsOnlyWhatChanged) {
    CTarrowinDoc doc = composedDocument(1000);
    const DocumentDelta field = record(doc, [](CTarrowinDoc& d) { d.setParam2(9, 5); });
    EXPECT_LT(field.bytes(), 256u);
    const DocumentDelta oneEvent = record(doc, [](CTarrowinDoc& d) { d.mutableComposition().event(500).voices[2].pan = 9; });
    EXPECT_LT(oneEvent.bytes(), 512u);
}

TEST(DocumentHistory, ConsecutiveStepsWithOneKeyMergeUntilTheSavedState) {
    CTarrowinDoc doc = composedDocument(0);
    DocumentHistory history;
    constexpr int kTempoKey = 1;
    for (int tempo : {100, 101, 102}) {
        history.push("Tempo", record(doc, [&](CTarrowinDoc& d) { d.setTempo(tempo); }, false), kTempoKey);
    }
    EXPECT_EQ(history.count(), 1u);
    history.setClean();
    history.push("Tempo", record(doc, [](CTarrowinDoc& d) { d.setTempo(150); }, false), kTempoKey);
    EXPECT_EQ(history.count(), 2u);  // the saved state stays reachable

    ASSERT_TRUE(history.undo(doc));
    EXPECT_EQ(doc.global().tempo, 102);
    EXPECT_FALSE(doc.isModified());  // back at the saved state
    ASSERT_TRUE(history.undo(doc));
    EXPECT_EQ(doc.global().tempo, 96);
    EXPECT_TRUE(doc.isModified());
    EXPECT_EQ(history.redoName(), "Tempo");
}

TEST(DocumentHistory, BoundsDropTheOldestStepsAndANewStepDropsTheRedoSteps) {
    CTarrowinDoc doc = composedDocument(0);
    DocumentHistory byCount(3);
    for (int i = 0; i < 5; ++i) byCount.push("Param1", record(doc, [&](CTarrowinDoc& d) { d.setParam1(0, 10 + i); }, false));
    EXPECT_EQ(byCount.count(), 3u);
    while (byCount.undo(doc)) {
    }
    EXPECT_EQ(doc.voice(0).param1, 11);  // the two oldest are gone
    EXPECT_TRUE(doc.isModified());       // and with them the opened state

    DocumentHistory bySize(500, 4096);
    for (int i = 0; i < 5; ++i) {
        bySize.push("Add", record(doc, [](CTarrowinDoc& d) { d.setEndCounter(99); ASSERT_FALSE(d.addCurrentSettingsAsEvent()); }));
    }
    EXPECT_LE(bySize.bytes(), 4096u + sizeof(Settings) * 2);
    EXPECT_LT(bySize.count(), 5u);

    ASSERT_TRUE(bySize.undo(doc));
    bySize.push("Param1", record(doc, [](CTarrowinDoc& d) { d.setParam1(0, 3); }, false));
    EXPECT_FALSE(bySize.canRedo());
}

}  // namespace
}  // namespace tarrowin
