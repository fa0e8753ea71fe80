#include "tools/pickers.h"

#include <gtest/gtest.h>

namespace tarrowin {
namespace {

template <class Picker>
void expectNoneRefusedAllAccepted(Picker picker, const char* refusal) {
    SCOPED_TRACE(Picker::kTitle);
    const auto before = picker.flags();
    picker.open();
    picker.none();
    EXPECT_EQ(picker.checkedCount(), 0);
    EXPECT_EQ(picker.ok(), (std::optional<Message>{Message{refusal, "Error", MessageIcon::Exclamation}}));
    EXPECT_EQ(picker.flags(), before);  // a refused OK changes nothing
    picker.all();
    EXPECT_EQ(picker.checkedCount(), Picker::kItems);
    EXPECT_FALSE(picker.ok());
    for (int i = 0; i < Picker::kItems; ++i) EXPECT_TRUE(picker.flag(i));
}

TEST(SelectionDialogsTest, EveryPickerRefusesNothingAndAcceptsAll) {
    std::array<bool, kInstruments> instruments{};
    instruments[5] = true;
    std::array<bool, kStartNotes> notes{};
    notes[60] = true;
    expectNoneRefusedAllAccepted(AlgorithmsPicker{}, "Please choose at least one algorithm");
    expectNoneRefusedAllAccepted(NoteValuesPicker{}, "Please choose at least one value");
    expectNoneRefusedAllAccepted(InstrumentsPicker{instruments}, "Please select at least one instrument");
    expectNoneRefusedAllAccepted(NotesPicker{notes}, "Please select at least one note");
    expectNoneRefusedAllAccepted(OctavesPicker{}, "Please make at least one selection");
    expectNoneRefusedAllAccepted(DynamicsPicker{}, "Please make at least one selection");
}

TEST(SelectionDialogsTest, NoteValuesStartWithoutOtherAndAskForItsRange) {
    NoteValuesPicker values;
    EXPECT_EQ(values.checkedCount(), 11);
    EXPECT_FALSE(values.flag(kOtherNoteValue));
    EXPECT_EQ(values.otherFrom, 1);
    EXPECT_EQ(values.otherTo, 48);
    values.open();
    EXPECT_FALSE(values.setChecked(0, false));
    EXPECT_TRUE(values.setChecked(kOtherNoteValue, true));
    EXPECT_FALSE(values.setChecked(kOtherNoteValue, true));  // already on
    RangePicker range = values.otherRangePicker();
    EXPECT_EQ(range.title, "Note Value Range");
    range.from = 20, range.to = 30;
    values.setOtherRange(range);
    EXPECT_FALSE(values.setChecked(kOtherNoteValue, false));
    EXPECT_EQ(values.otherFrom, 20);
    EXPECT_EQ(values.otherTo, 30);
}

TEST(SelectionDialogsTest, ScalesAcceptOnlyUserDefinedScales) {
    ScalesPicker scales;
    EXPECT_TRUE(scales.allowUserDefined());
    scales.open();
    for (int i = 0; i < ScalesPicker::kItems; ++i) scales.setChecked(i, false);
    EXPECT_FALSE(scales.ok());
    EXPECT_EQ(scales.checkedCount(), 0);
    EXPECT_TRUE(scales.allowUserDefined());
    scales.open();
    scales.none();  // also clears "Allow User-defined Scales"
    EXPECT_FALSE(scales.allowUserDefinedChecked());
    EXPECT_EQ(scales.ok()->text, "Please select at least one scale");
    scales.all();
    EXPECT_TRUE(scales.allowUserDefinedChecked());
    scales.setAllowUserDefinedChecked(false);
    EXPECT_FALSE(scales.ok());
    EXPECT_FALSE(scales.allowUserDefined());
    EXPECT_TRUE(scales.flag(13));
}

TEST(SelectionDialogsTest, PickersShowWhatWasChosenLastTime) {
    AlgorithmsPicker algorithms;
    algorithms.open();
    algorithms.setChecked(static_cast<int>(Algorithm::Henon), false);
    ASSERT_FALSE(algorithms.ok());
    algorithms.open();
    EXPECT_FALSE(algorithms.isChecked(static_cast<int>(Algorithm::Henon)));
    EXPECT_EQ(algorithms.checkedCount(), 7);

    std::array<bool, kStartNotes> notes{};
    notes[3] = notes[50] = true;
    NotesPicker picker(notes);
    picker.open();
    EXPECT_TRUE(picker.isChecked(50));
    EXPECT_FALSE(picker.isChecked(51));
    EXPECT_EQ(picker.checkedCount(), 2);
    EXPECT_EQ(NotesPicker::label(96), "C8");
    EXPECT_EQ(InstrumentsPicker::label(113), "113  Agogo bells");
}

TEST(RangeDialogTest, EachModeChecksItsBounds) {
    const auto refused = [](RangePicker r, int32_t from, int32_t to) {
        r.from = from, r.to = to;
        return r.ok();
    };
    const RangePicker note = RangePicker::noteValueRange(1, 48);
    EXPECT_EQ(refused(note, 48, 48),
              (std::optional<Message>{Message{"Parameters must be between 1 and 960\nFrom must be less than To", "Error",
                                              MessageIcon::Exclamation}}));
    EXPECT_FALSE(refused(note, 1, 960));
    EXPECT_TRUE(refused(note, 0, 960));
    EXPECT_TRUE(refused(note, 1, 961));

    const RangePicker p1 = RangePicker::param1Range(2, 100);
    EXPECT_EQ(p1.title, "Param1 Range");
    EXPECT_EQ(refused(p1, 1, 3)->text, "Parameters must be between 2 and 1000000\nFrom must be less than To");
    EXPECT_FALSE(refused(p1, 2, 3));
    EXPECT_TRUE(refused(p1, 3, 2));
    EXPECT_TRUE(refused(p1, 2, 1000001));

    const RangePicker p2 = RangePicker::param2Range(1, 100);
    EXPECT_EQ(p2.title, "Param2 Range");
    EXPECT_FALSE(refused(p2, 1, 1000000000));
    EXPECT_EQ(refused(p2, 0, 5)->text, "Parameters must be between 1 and 1000000000\nFrom must be less than To");
    EXPECT_TRUE(refused(p2, 1, 1000000001));
}

}  // namespace
}  // namespace tarrowin
