#include "pickers.h"

namespace tarrowin {

namespace {

RangePicker makeRange(const char* title, int32_t from, int32_t to) {
    RangePicker r;
    r.title = title;
    r.from = from;
    r.to = to;
    return r;
}

}  // namespace

RangePicker RangePicker::param1Range(int32_t from, int32_t to) {
    RangePicker r = makeRange("Param1 Range", from, to);
    r.param1Mode = true;
    return r;
}

RangePicker RangePicker::param2Range(int32_t from, int32_t to) {
    RangePicker r = makeRange("Param2 Range", from, to);
    r.param2Mode = true;
    return r;
}

RangePicker RangePicker::noteValueRange(int32_t from, int32_t to) {
    RangePicker r = makeRange("Note Value Range", from, to);
    r.noteValueMode = true;
    return r;
}

std::optional<Message> RangePicker::ok() const {
    IntRange range{};
    if (param1Mode) {
        range = kParam1Range;
    } else if (param2Mode) {
        range = kParam2Range;
    } else if (noteValueMode) {
        range = {1, 960};
    } else {
        return std::nullopt;
    }
    if (range.contains(from) && range.contains(to) && from < to) return std::nullopt;
    return errorMessage("Parameters must be between " + std::to_string(range.min) + " and " +
                        std::to_string(range.max) + "\nFrom must be less than To");
}

std::string AlgorithmsPicker::label(int i) {
    static const std::array<const char*, kAlgorithms> labels = {
        "Morse-Thue", "Log Map", "1/f Noise", "Henon", "Hopalong", "Martin", "Gingerbread", "Lorenz",
    };
    return labels[static_cast<size_t>(i)];
}

NoteValuesPicker::NoteValuesPicker() : FlagPicker(allOn(), "Please choose at least one value") {
    flags_[kOtherNoteValue] = false;
    shown_ = flags_;
}

std::string NoteValuesPicker::label(int i) {
    static const std::array<const char*, kNoteValueRows> labels = {
        "Whole",        "Half",        "Quarter",        "Eighth",    "Sixteenth",   "Thirtysecond",
        "Dotted Whole", "Dotted half", "Dotted Quarter", "Dotted 8h", "Dotted 16th", "Other",
    };
    return labels[static_cast<size_t>(i)];
}

bool NoteValuesPicker::setChecked(int i, bool on) {
    const bool wasOn = isChecked(i);
    FlagPicker::setChecked(i, on);
    return i == kOtherNoteValue && on && !wasOn;
}

void NoteValuesPicker::setOtherRange(const RangePicker& range) {
    otherFrom = range.from;
    otherTo = range.to;
}

std::string ScalesPicker::label(int i) { return std::string(kScaleLabels[static_cast<size_t>(i)]); }

void ScalesPicker::open() {
    FlagPicker::open();
    allowUserShown_ = allowUser_;
}

void ScalesPicker::all() {
    FlagPicker::all();
    allowUserShown_ = true;
}

void ScalesPicker::none() {
    FlagPicker::none();
    allowUserShown_ = false;
}

std::optional<Message> ScalesPicker::ok() {
    if (checkedCount() == 0 && !allowUserShown_) return errorMessage(refusal_);
    flags_ = shown_;
    allowUser_ = allowUserShown_;
    return std::nullopt;
}

}  // namespace tarrowin
