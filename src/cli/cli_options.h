#pragma once
// Option checks shared by the commands, so that an option is either read exactly as
// written or refused: no NaN slips through a range, no seed is silently replaced.

#include <CLI/CLI.hpp>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "engine/settings.h"

namespace tarrowin::cli {

// A number within low..high; "nan" and "inf" are refused.
CLI::Validator finiteRange(double low, double high);

// --seed S: 1..2147483398, the Randomizer's seeds (0 would count as 1).
CLI::Option* addSeedOption(CLI::App* cmd, std::optional<int64_t>& seed, const std::string& help);
// --seed S of export, render and play: seeds the "Random" modulation run lengths.
CLI::Option* addRunSeedOption(CLI::App* cmd, std::optional<int64_t>& seed);

// Voices as --voices names them: "1,3,5-8", "all" or "none". A list that names something
// else is refused with a message naming `option`.
std::array<bool, kVoices> parseVoices(const std::string& option, const std::string& text);

}  // namespace tarrowin::cli
