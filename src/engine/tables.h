#pragma once
// The constant musical tables and the labels under which the user picks from them.
// Every list is in the order the user sees; a selection is stored as its zero-based row.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "settings.h"

namespace tarrowin {

inline constexpr int kScaleRows = 16;  // 15 fixed scales and "User defined"
inline constexpr int kUserDefinedScale = 15;
inline constexpr int kStartNotes = 97;  // "C0" (0) .. "C8" (96)
inline constexpr int kNoteValueRows = 12;
inline constexpr int kOtherNoteValue = 11;
inline constexpr int kDynamics = 6;
inline constexpr int kInstruments = 128;
inline constexpr int kPercussionKeys = 47;
inline constexpr int kPercussionKeyBase = 35;

extern const std::array<std::string_view, kScaleRows> kScaleLabels;
// Intervals and mirrored intervals of the 15 fixed scales.
const ScaleList& scaleIntervals(int row);
const ScaleList& mirroredScaleIntervals(int row);

extern const std::array<std::string_view, 12> kPitchClassNames;  // "C", "C#", ... "B"
extern const std::array<std::string_view, 4> kOctaveLabels;      // "1" .. "4"
extern const std::array<std::string_view, kNoteValueRows> kNoteValueLabels;  // row 11: "Other (%d)"
extern const std::array<int32_t, kNoteValueRows - 1> kNoteValueTicks;
extern const std::array<std::string_view, kDynamics> kDynamicLabels;  // "PP" .. "FF"
extern const std::array<int32_t, kDynamics> kDynamicVelocities;
extern const std::array<std::string_view, 2> kModeLabels;  // "All Notes", "Tied"
extern const std::array<std::string_view, kInstruments> kInstrumentNames;
extern const std::array<std::string_view, kPercussionKeys> kPercussionLabels;
extern const std::array<std::string_view, kAlgorithms> kAlgorithmMenuLabels;

// The scale list a voice uses: the row's intervals, or their mirror when both inverted and
// matchScale are set; row 15 uses userScale (mirrored the same way).
ScaleList buildScaleList(int32_t scaleIndex, const ScaleList& userScale, bool inverted, bool matchScale);
// The mirror of a scale: every entry s becomes 12 - s (0 stays 0), sorted ascending.
ScaleList mirrorScale(const ScaleList& list);
// The semitones whose boxes are checked, ascending, moved down so that the list starts at 0.
ScaleList buildUserScale(const std::array<bool, 12>& checked);
// The boxes a user scale ticks: semitone s for every entry s (entries outside 0..11 tick none).
std::array<bool, 12> userScaleMarks(const ScaleList& userScale);
// Sorts elements ascending (the exchange sort the user-scale editor uses).
void sortScale(ScaleList& list);

// A generator coefficient as its parameter dialog edits it: the voice's field and the
// values the dialog accepts.
struct CoefficientRule {
    float VoiceSettings::*member;
    float min;
    float max;
};
// The coefficients of algorithm a in the order its dialog shows them (one or two); none for
// Morse-Thue, whose Param1 and Param2 are edited on the form.
std::span<const CoefficientRule> coefficientRules(Algorithm a);

// The values an integer setting takes wherever it is typed, dragged or read: the form, the
// dialogs, the document's rules and the command line.
struct IntRange {
    int32_t min;
    int32_t max;
    constexpr bool contains(int64_t v) const { return v >= min && v <= max; }
};
inline constexpr IntRange kParam1Range{2, 1000000};
inline constexpr IntRange kParam2Range{1, 1000000000};
inline constexpr IntRange kOffsetRange{-20000, 20000};
inline constexpr IntRange kTempoRange{20, 340};  // quarter notes per minute
inline constexpr IntRange kPanRange{-64, 63};

// Name of MIDI note n: pitch class of n mod 12 and n / 12, "C5" for 60. For 0..127; other
// values give "".
std::string noteName(int n);
// Ticks of note-value row 0..10 (32, 16, 8, ...); 0 for other rows.
int32_t noteValueTicks(int row);
// Velocity of dynamic row 0..5 (22 .. 127); the dynamics are clamped to that range.
int32_t velocityOf(int dynamicIndex);
// The General MIDI key of percussion row r: r + 35.
int32_t percussionMidiKey(int row);
// "000 Grand piano" .. "127 Gunshot": three digits, a blank, the name as written.
std::string instrumentLabel(int program);
// Label of note-value row for a voice: row 11 reads "Other (%d)" with its ticks.
std::string noteValueLabel(int row, float noteValue);

}  // namespace tarrowin
