#pragma once
// The values a document may hold when it is opened from a file or loaded from JSON. A value
// outside them could divide by zero (note value, tempo, scale count, modulation period),
// loop forever (Morse-Thue base 1), index outside a table (algorithm, scale, dynamic,
// note-value, start-note, instrument rows) or put an invalid byte on the MIDI wire. Values
// the program itself can leave outside the form's ranges load as they are: the counters up
// to 50959 (Round pushes End above 50000), a denominator that is no power of two, any
// finite coefficient and any reserved member. A larger counter no window can store, and it
// would make an export or an image run for hours. The rules are data, shared by every
// reader.

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "engine/settings.h"

namespace tarrowin {

class CTarrowinDoc;

// The outcome of reading, writing or checking a document. `message` is the text shown to
// the user and names what was wrong.
struct FileResult {
    bool ok = true;
    std::string message;

    static FileResult failure(std::string text) { return {false, std::move(text)}; }
};

// Where a value sits: the current settings (event -1) or an event, a voice (0..15) or the
// global values (voice -1). Messages say "Current settings, voice 3" or "Event 4".
struct ValueLocation {
    int event = -1;
    int voice = -1;
    std::string describe() const;
};

template <class Record>
struct IntRule {
    std::string_view name;
    int32_t min;
    int32_t max;
    int32_t (*get)(const Record&);
    void (*set)(Record&, int32_t);
};

struct FloatRule {
    std::string_view name;
    float min;
    float max;
    float VoiceSettings::*member;
};

struct ListRule {
    std::string_view name;
    ScaleList VoiceSettings::*member;
};

// The longest note value in ticks ("Other" up to 960).
inline constexpr int32_t kMaxNoteTicks = 960;
// The largest counter a document holds: the window stores at most kMaxCounter, and Round
// moves End up to the next multiple of a voice's note value, at most kMaxNoteTicks - 1 on.
inline constexpr int32_t kMaxStoredCounter = kMaxCounter + kMaxNoteTicks - 1;

inline constexpr int32_t kMinListCount = 1;
inline constexpr int32_t kMaxListCount = kMaxScaleNotes;
inline constexpr int32_t kMinListValue = 0;
inline constexpr int32_t kMaxListValue = 11;

// In the order the settings are listed to the user; every integer field of the two records.
extern const std::array<IntRule<GlobalSettings>, 5> kGlobalRules;
extern const std::array<IntRule<VoiceSettings>, 22> kVoiceIntRules;
extern const std::array<FloatRule, 10> kVoiceFloatRules;
extern const std::array<ListRule, 2> kVoiceListRules;

// Each check returns "" when the value is allowed, else the message naming field and place.
template <class Record>
std::string checkInt(const IntRule<Record>& rule, int64_t value, const ValueLocation& where);
std::string checkFloat(const FloatRule& rule, double value, const ValueLocation& where);
std::string checkListCount(std::string_view list, int64_t count, const ValueLocation& where);
std::string checkListValue(std::string_view list, int64_t value, const ValueLocation& where);

// The first value of the settings that breaks a rule; `event` -1 for the current settings.
FileResult validateSettings(const Settings& settings, int event = -1);
// The current settings, then every event in order.
FileResult validateDocument(const Settings& current, std::span<const Settings> events);
FileResult validateDocument(const CTarrowinDoc& doc);

// The float a number becomes when stored (rounded to the nearest); none when that is not
// finite. A number a little above the largest float, such as its shortest text
// "3.4028235e+38", rounds down to it.
std::optional<float> nearestFloat(double value);

// Shortest text that reads back as the same float ("3.9", "nan", "inf").
std::string formatFloat(float value);
// The same for a double; values beyond float range are shown in full.
std::string formatNumber(double value);

}  // namespace tarrowin
