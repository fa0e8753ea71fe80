#pragma once
// The Scala scales and keyboard maps the tests read, from tests/tunings: 12-, 19- and
// 31-tone equal temperament, a just major scale in ratios, and a map of the white keys
// (the black keys unmapped) with D as the reference.

#include <fstream>
#include <sstream>
#include <string>

#include "engine/tuning.h"

namespace tarrowin::testing {

inline std::string tuningFilePath(const std::string& name) {
    return std::string(TARROWIN_SOURCE_DIR) + "/tests/tunings/" + name;
}

inline std::string tuningFile(const std::string& name) {
    std::ifstream in(tuningFilePath(name), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The just major scale on the white keys by pitch bend, voice 10 untuned.
inline TuningSettings justOnWhiteKeys() {
    TuningSettings t;
    t.tuning = *Tuning::fromText(tuningFile("ji-major.scl"), tuningFile("white-keys-d.kbm")).value;
    t.method = TuningMethod::PitchBend;
    t.tuned[9] = false;
    return t;
}

}  // namespace tarrowin::testing
