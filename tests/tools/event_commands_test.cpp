#include "tools/event_commands.h"

#include <gtest/gtest.h>

#include "recording_prompter.h"

namespace tarrowin {
namespace {

using testing::RecordingPrompter;

const Message kLimit{"Sorry, you have reached the limit of events (1000)", "Tarrowin", MessageIcon::Exclamation};
const Message kCounters{"Minimum difference between Start and End counters  is 1", "Error", MessageIcon::Exclamation};

class EventCommandsTest : public ::testing::Test {
   protected:
    void SetUp() override { doc.OnNewDocument(); }
    // Appends events whose counters are [10i, 10i + 5] and whose tempo is 100 + i.
    void addEvents(int n) {
        for (int i = 0; i < n; ++i) {
            CompositionEvent e = doc.current();
            e.global.startCounter = 10 * i;
            e.global.endCounter = 10 * i + 5;
            e.global.tempo = 100 + i;
            doc.mutableComposition().append(e);
        }
    }
    void setCounters(int32_t start, int32_t end) {
        doc.mutableCurrent().global.startCounter = start;
        doc.mutableCurrent().global.endCounter = end;
    }
    CTarrowinDoc doc;
    RecordingPrompter prompter;
};

TEST_F(EventCommandsTest, AddAppendsACopyOfTheCurrentSettingsWithoutMarkingTheDocument) {
    setCounters(0, 200);
    doc.mutableCurrent().voices[3].userScale = ScaleList{0, 3, 7};
    const EventEdit edit = addEvent(doc, prompter);
    EXPECT_EQ(edit.kind, EventEdit::Kind::Added);
    EXPECT_EQ(edit.index, 0);
    EXPECT_EQ(edit.listLine, "[0 -> 200]");
    EXPECT_EQ(edit.comboLine, "0");
    ASSERT_EQ(doc.composition().count(), 1);
    EXPECT_EQ(doc.composition().event(0), doc.current());
    EXPECT_FALSE(doc.isModified());
    EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(EventCommandsTest, AddAndInsertRefuseAnEndThatIsNotAboveTheStart) {
    addEvents(2);
    setCounters(40, 40);
    const Composition before = doc.composition();
    EXPECT_FALSE(addEvent(doc, prompter).done());
    EXPECT_FALSE(insertEvent(doc, prompter, 1).done());
    ASSERT_EQ(prompter.messages.size(), 2u);
    EXPECT_EQ(prompter.messages[0], kCounters);
    EXPECT_EQ(prompter.messages[1], kCounters);
    EXPECT_EQ(doc.composition(), before);
}

TEST_F(EventCommandsTest, AFullCompositionRefusesAddAndInsertWithTheLimitMessage) {
    setCounters(0, 10);
    for (int i = 0; i < kMaxEvents; ++i) ASSERT_TRUE(addEvent(doc, prompter).done());
    EXPECT_TRUE(prompter.messages.empty());
    EXPECT_FALSE(addEvent(doc, prompter).done());
    EXPECT_FALSE(insertEvent(doc, prompter, 5).done());
    EXPECT_EQ(doc.composition().count(), kMaxEvents);
    ASSERT_EQ(prompter.messages.size(), 2u);
    EXPECT_EQ(prompter.messages[0], kLimit);
    EXPECT_EQ(prompter.messages[1], kLimit);
}

TEST_F(EventCommandsTest, InsertPutsTheNewEventBeforeTheSelectedOne) {
    addEvents(5);
    setCounters(300, 400);
    const Composition before = doc.composition();
    const EventEdit edit = insertEvent(doc, prompter, 2);
    EXPECT_EQ(edit.kind, EventEdit::Kind::Inserted);
    EXPECT_EQ(edit.index, 2);
    EXPECT_EQ(edit.listLine, "[300 -> 400]");
    EXPECT_EQ(edit.comboLine, "5");
    ASSERT_EQ(doc.composition().count(), 6);
    EXPECT_EQ(doc.composition().event(2), doc.current());
    for (int i = 0; i < 2; ++i) EXPECT_EQ(doc.composition().event(i), before.event(i));
    for (int i = 2; i < 5; ++i) EXPECT_EQ(doc.composition().event(i + 1), before.event(i));
    EXPECT_FALSE(doc.isModified());
    EXPECT_EQ(eventListLines(doc.composition())[3], "[20 -> 25]");
}

TEST_F(EventCommandsTest, InsertAndRemoveDoNothingWithoutASelection) {
    setCounters(0, 10);
    EXPECT_FALSE(insertEvent(doc, prompter, 0).done());  // empty composition
    addEvents(2);
    EXPECT_FALSE(insertEvent(doc, prompter, std::nullopt).done());
    EXPECT_FALSE(removeEvent(doc, prompter, std::nullopt).done());
    EXPECT_FALSE(removeEvent(doc, prompter, 2).done());
    EXPECT_EQ(doc.composition().count(), 2);
    EXPECT_TRUE(prompter.messages.empty());
    EXPECT_TRUE(prompter.questions.empty());
}

TEST_F(EventCommandsTest, RemoveAsksAndMovesTheFollowingEventsDown) {
    addEvents(3);
    const Composition before = doc.composition();
    prompter.answer(false);
    EXPECT_FALSE(removeEvent(doc, prompter, 0).done());
    EXPECT_EQ(doc.composition(), before);
    const EventEdit edit = removeEvent(doc, prompter, 0);
    ASSERT_EQ(prompter.questions.size(), 2u);
    EXPECT_EQ(prompter.questions[0].text, "Are you sure?");
    EXPECT_EQ(prompter.questions[0].caption, "Delete");
    EXPECT_EQ(edit.kind, EventEdit::Kind::Removed);
    EXPECT_FALSE(edit.backToCurrentSettings);
    ASSERT_EQ(doc.composition().count(), 2);
    EXPECT_EQ(doc.composition().event(0), before.event(1));
    EXPECT_EQ(doc.composition().event(1), before.event(2));
    EXPECT_FALSE(doc.isModified());
}

TEST_F(EventCommandsTest, RemovingTheLastEventReturnsToCurrentSettingsMode) {
    addEvents(1);
    const EventEdit edit = removeEvent(doc, prompter, 0);
    EXPECT_TRUE(edit.backToCurrentSettings);
    EXPECT_TRUE(doc.composition().isEmpty());
    EXPECT_TRUE(playFromEventLines(doc.composition()).empty());
    EXPECT_FALSE(doc.isModified());
}

TEST_F(EventCommandsTest, ClearAsksAndMarksTheDocumentModified) {
    addEvents(4);
    prompter.answer(false);
    EXPECT_FALSE(clearEvents(doc, prompter).done());
    EXPECT_EQ(doc.composition().count(), 4);
    EXPECT_FALSE(doc.isModified());
    const EventEdit edit = clearEvents(doc, prompter);
    EXPECT_EQ(prompter.questions.back().text, "Are you sure?");
    EXPECT_EQ(prompter.questions.back().caption, "Delete All");
    EXPECT_TRUE(edit.backToCurrentSettings);
    EXPECT_TRUE(doc.composition().isEmpty());
    EXPECT_TRUE(doc.isModified());
}

TEST_F(EventCommandsTest, ReplaceChangesOnlyTheChosenEvent) {
    addEvents(3);
    const Composition before = doc.composition();
    doc.mutableCurrent().voices[0].param1 = 7;
    const EventEdit edit = replaceEventWithCurrentSettings(doc, prompter, 1, CounterEdits{500, 700});
    ASSERT_EQ(prompter.questions.size(), 1u);
    EXPECT_EQ(prompter.questions[0].text, "Replace Event 1 with current settings?");
    EXPECT_EQ(prompter.questions[0].caption, "Edit Event");
    EXPECT_EQ(edit.kind, EventEdit::Kind::Replaced);
    EXPECT_EQ(edit.index, 1);
    EXPECT_EQ(edit.listLine, "[500 -> 700]");
    EXPECT_EQ(doc.composition().event(0), before.event(0));
    EXPECT_EQ(doc.composition().event(2), before.event(2));
    EXPECT_EQ(doc.composition().event(1), doc.current());
    EXPECT_EQ(doc.composition().event(1).voices[0].param1, 7);
    // Only taking the edits into the document marks it.
    EXPECT_TRUE(doc.isModified());
}

TEST_F(EventCommandsTest, ReplaceRefusals) {
    addEvents(3);
    const Composition before = doc.composition();
    // No chosen event: the edits are not even taken.
    EXPECT_FALSE(replaceEventWithCurrentSettings(doc, prompter, std::nullopt, CounterEdits{1, 2}).done());
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_EQ(prompter.messages[0],
              (Message{"Please select an event in the 'Play from Event' combo box", "Error", MessageIcon::Exclamation}));
    EXPECT_FALSE(doc.isModified());
    EXPECT_EQ(doc.global().endCounter, 0);
    // A bad counter range: the message; the counters just read stay in the document.
    EXPECT_FALSE(replaceEventWithCurrentSettings(doc, prompter, 2, CounterEdits{90, 80}).done());
    EXPECT_EQ(prompter.messages.back(), kCounters);
    EXPECT_EQ(doc.global().startCounter, 90);
    EXPECT_EQ(doc.global().endCounter, 80);
    // No to the question.
    prompter.answer(false);
    EXPECT_FALSE(replaceEventWithCurrentSettings(doc, prompter, 2, CounterEdits{90, 180}).done());
    EXPECT_EQ(doc.composition(), before);
}

TEST_F(EventCommandsTest, GlobalTempoGivesEveryEventTheCurrentTempoOnly) {
    addEvents(5);
    const Composition before = doc.composition();
    doc.mutableCurrent().global.tempo = 120;
    const Settings current = doc.current();
    EXPECT_EQ(globalTempo(doc, prompter).kind, EventEdit::Kind::TempoChanged);
    ASSERT_EQ(prompter.questions.size(), 1u);
    EXPECT_EQ(prompter.questions[0].text, "Do you want to globally change your composition's tempo to 120?");
    EXPECT_EQ(prompter.questions[0].caption, "Tarrowin");
    for (int i = 0; i < 5; ++i) {
        CompositionEvent expected = before.event(i);
        expected.global.tempo = 120;
        EXPECT_EQ(doc.composition().event(i), expected);
    }
    EXPECT_EQ(doc.current(), current);
    EXPECT_FALSE(doc.isModified());
}

TEST_F(EventCommandsTest, GlobalTempoOnAnEmptyCompositionOnlySaysSo) {
    EXPECT_FALSE(globalTempo(doc, prompter).done());
    EXPECT_TRUE(prompter.questions.empty());
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_EQ(prompter.messages[0], (Message{"You have not created a composition yet", "Error", MessageIcon::Exclamation}));
    prompter.answer(false);
    addEvents(2);
    EXPECT_FALSE(globalTempo(doc, prompter).done());
    EXPECT_EQ(doc.composition().event(1).global.tempo, 101);
}

TEST_F(EventCommandsTest, UpdateLoadsTheChosenEvent) {
    addEvents(3);
    EXPECT_FALSE(updateFromEvent(doc, std::nullopt).done());
    EXPECT_EQ(updateFromEvent(doc, 2).kind, EventEdit::Kind::Loaded);
    EXPECT_EQ(doc.current(), doc.composition().event(2));
    EXPECT_FALSE(doc.isModified());
    EXPECT_FALSE(replaceEventEnabled(doc, true));
    EXPECT_TRUE(replaceEventEnabled(doc, false));
}

}  // namespace
}  // namespace tarrowin
