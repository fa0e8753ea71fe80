#pragma once
// The current-note report: which note each voice plays at the Start counter with the
// current settings, as the 16 labels of the "Current note from Start Counter" dialog.

#include <array>
#include <string>
#include <string_view>

#include "engine/settings.h"

namespace tarrowin {

inline constexpr std::string_view kCurrentNoteCaption = "Current note from Start Counter";

struct CurrentNoteLabel {
    std::string text;     // "C#5 (3)", "none" or "N/A"
    bool greyed = false;  // the voice is off; its note is shown all the same
    int32_t note = -1;    // the note behind the text (-1 when none was produced)
};

// Evaluates every voice at settings.global.startCounter with a note engine of its own.
// Voices that modulate randomly are not evaluated: their note depends on chance.
std::array<CurrentNoteLabel, kVoices> currentNoteLabels(const Settings& settings);

}  // namespace tarrowin
