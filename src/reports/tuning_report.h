#pragma once
// A document's tuning in words, a line each: what `info` and `tuning` print and what the
// Tuning dialog shows.

#include <string>
#include <vector>

#include "engine/tuning.h"

namespace tarrowin {

// The scale's description ("(no description)" for none; "(default)" after equal
// temperament without a scale).
std::string tuningTitle(const Tuning& tuning);
// "19, repeating every 1200.000 cents".
std::string tuningDegreeSummary(const Tuning& tuning);
// "degree 0 on key 60, a degree a key", or which keys the map retunes and leaves out.
std::string tuningMapSummary(const Tuning& tuning);
// "261.626 Hz at key 60 (C5)": the keyboard map's reference.
std::string tuningReference(const Tuning& tuning);
// "100.0 200.0 ... 1200.0": the degrees 1..n in cents.
std::string tuningDegrees(const Tuning& tuning);
// "voices 10, 11" for the voices the tuning leaves alone; empty when it tunes all of them.
std::string untunedVoices(const TuningSettings& tuning);

// The lines: the description, the degrees and their period, the map, the reference, the
// method and the voices left untuned.
std::vector<std::string> tuningReport(const TuningSettings& tuning);

}  // namespace tarrowin
