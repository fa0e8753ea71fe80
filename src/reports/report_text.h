#pragma once
// Small text helpers shared by the reports: printf-style formatting (the report rows are
// printf formats, so the numbers look exactly as they always have) and safe table lookups
// for values that a damaged file may hold outside their range.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "engine/settings.h"

namespace tarrowin::reports {

// printf into a std::string; the format is checked by the compiler.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Row `index` of a table, or "?" when the stored value has no row.
template <size_t N>
std::string_view row(const std::array<std::string_view, N>& table, int index) {
    if (index < 0 || static_cast<size_t>(index) >= N) return "?";
    return table[static_cast<size_t>(index)];
}

// The modulation kinds as the generators apply them.
bool modulatesEvery(const VoiceSettings& voice);
bool modulatesRandomly(const VoiceSettings& voice);

}  // namespace tarrowin::reports
