#pragma once
// The pickers with which the Randomizer restricts its draws, and the From/To range picker.
// Each picker is a fixed list of on/off items: the flags it hands back, the items shown
// checked while it is open, "All" and "None", and an OK that refuses to close with nothing
// chosen. These classes are the pickers' state and rules, not windows: a Qt dialog shows them.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "engine/settings.h"
#include "engine/tables.h"
#include "prompter.h"

namespace tarrowin {

// The From/To pair of integers of "Param1 Range", "Param2 Range" and "Note Value Range".
// The mode says which bounds OK checks.
struct RangePicker {
    int32_t from = 0;
    int32_t to = 0;
    std::string title;
    bool param1Mode = false;
    bool param2Mode = false;
    bool noteValueMode = false;

    static RangePicker param1Range(int32_t from, int32_t to);
    static RangePicker param2Range(int32_t from, int32_t to);
    static RangePicker noteValueRange(int32_t from, int32_t to);

    // The refusal of OK for the mode that is set, or none: the dialog may close.
    std::optional<Message> ok() const;
};

template <int N>
class FlagPicker {
   public:
    static constexpr int kItems = N;

    // The flags handed back; they change only through an accepted OK.
    const std::array<bool, N>& flags() const { return flags_; }
    bool flag(int i) const { return flags_[static_cast<size_t>(i)]; }

    // Opening shows the flags as the checked items.
    void open() { shown_ = flags_; }
    bool isChecked(int i) const { return shown_[static_cast<size_t>(i)]; }
    void setChecked(int i, bool on) { shown_[static_cast<size_t>(i)] = on; }
    void all() { shown_.fill(true); }
    void none() { shown_.fill(false); }
    // The running count of checked items.
    int checkedCount() const {
        int n = 0;
        for (bool b : shown_) n += b ? 1 : 0;
        return n;
    }

    // The message OK refuses with.
    const char* refusalText() const { return refusal_; }
    // The refusal the handed-back flags would meet: none of them is on.
    std::optional<Message> checkFlags() const {
        for (bool b : flags_) {
            if (b) return std::nullopt;
        }
        return errorMessage(refusal_);
    }

    // OK: the refusal when nothing is checked; otherwise the checked items become the flags.
    std::optional<Message> ok() {
        if (checkedCount() == 0) return errorMessage(refusal_);
        flags_ = shown_;
        return std::nullopt;
    }

   protected:
    FlagPicker(const std::array<bool, N>& initial, const char* refusal)
        : flags_(initial), shown_(initial), refusal_(refusal) {}
    static std::array<bool, N> allOn() {
        std::array<bool, N> a;
        a.fill(true);
        return a;
    }
    std::array<bool, N> flags_;
    std::array<bool, N> shown_;
    const char* refusal_;
};

// "Algorithms": the eight generators, all on at first.
class AlgorithmsPicker : public FlagPicker<kAlgorithms> {
   public:
    static constexpr const char* kTitle = "Algorithms";
    AlgorithmsPicker() : FlagPicker(allOn(), "Please choose at least one algorithm") {}
    static std::string label(int i);
};

// "Note Values": the twelve note-value rows, all on except "Other", which draws its length
// from its own From/To range.
class NoteValuesPicker : public FlagPicker<kNoteValueRows> {
   public:
    static constexpr const char* kTitle = "Note Values";
    NoteValuesPicker();
    static std::string label(int i);

    // Returns true when the "Note Value Range" dialog opens now: "Other" became checked.
    // "All" turns "Other" on without asking for the range.
    bool setChecked(int i, bool on);
    RangePicker otherRangePicker() const { return RangePicker::noteValueRange(otherFrom, otherTo); }
    // Takes the range of a closed "Note Value Range" dialog.
    void setOtherRange(const RangePicker& range);

    int32_t otherFrom = 1;
    int32_t otherTo = 48;
};

// "Scales": the fifteen fixed scales and "Allow User-defined Scales"; OK accepts no scale at
// all when user-defined scales are allowed.
class ScalesPicker : public FlagPicker<kScaleRows - 1> {
   public:
    static constexpr const char* kTitle = "Scales";
    ScalesPicker() : FlagPicker(allOn(), "Please select at least one scale") {}
    static std::string label(int i);

    bool allowUserDefined() const { return allowUser_; }
    bool allowUserDefinedChecked() const { return allowUserShown_; }
    void setAllowUserDefinedChecked(bool on) { allowUserShown_ = on; }
    void open();
    void all();
    void none();
    std::optional<Message> ok();

   private:
    bool allowUser_ = true;
    bool allowUserShown_ = true;
};

// "Select Instruments": the 128 programs; made for each opening from the Randomizer's flags.
class InstrumentsPicker : public FlagPicker<kInstruments> {
   public:
    static constexpr const char* kTitle = "Select Instruments";
    explicit InstrumentsPicker(const std::array<bool, kInstruments>& allowed)
        : FlagPicker(allowed, "Please select at least one instrument") {}
    static std::string label(int i) { return instrumentLabel(i); }
};

// "Select Notes": the 97 start notes "C0" .. "C8"; made for each opening.
class NotesPicker : public FlagPicker<kStartNotes> {
   public:
    static constexpr const char* kTitle = "Select Notes";
    explicit NotesPicker(const std::array<bool, kStartNotes>& allowed)
        : FlagPicker(allowed, "Please select at least one note") {}
    static std::string label(int i) { return noteName(i); }
};

// "Select Octaves": octave counts 1..4 (item k is k + 1 octaves).
class OctavesPicker : public FlagPicker<4> {
   public:
    static constexpr const char* kTitle = "Select Octaves";
    OctavesPicker() : FlagPicker(allOn(), "Please make at least one selection") {}
    static std::string label(int i) { return std::string(kOctaveLabels[static_cast<size_t>(i)]); }
};

// "Select Dynamics": "PP" .. "FF".
class DynamicsPicker : public FlagPicker<kDynamics> {
   public:
    static constexpr const char* kTitle = "Select Dynamics";
    DynamicsPicker() : FlagPicker(allOn(), "Please make at least one selection") {}
    static std::string label(int i) { return std::string(kDynamicLabels[static_cast<size_t>(i)]); }
};

}  // namespace tarrowin
