#include "tuning_report.h"

#include <cstdio>

#include "engine/tables.h"

namespace tarrowin {

namespace {

std::string fixed(double value, int decimals) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

}  // namespace

std::string tuningReference(const Tuning& tuning) {
    const KeyboardMap& map = tuning.map();
    return fixed(map.referenceFrequency, 3) + " Hz at key " + std::to_string(map.referenceKey) + " (" +
           noteName(map.referenceKey) + ")";
}

std::string tuningDegrees(const Tuning& tuning) {
    std::string text;
    for (const double cents : tuning.scale().cents) text += (text.empty() ? "" : " ") + fixed(cents, 1);
    return text;
}

std::string untunedVoices(const TuningSettings& tuning) {
    std::string text;
    for (int v = 0; v < kVoices; ++v) {
        if (!tuning.tuned[static_cast<size_t>(v)]) text += (text.empty() ? "" : ", ") + std::to_string(v + 1);
    }
    return text.empty() ? text : (text.find(',') == std::string::npos ? "voice " : "voices ") + text;
}

std::vector<std::string> tuningReport(const TuningSettings& t) {
    const Tuning& tuning = t.tuning;
    const ScalaScale& scale = tuning.scale();
    const std::string description = tuning.description().empty() ? "(no description)" : tuning.description();
    std::vector<std::string> rows = {
        "Tuning: " + description + (tuning.isEqualTemperament() ? " (default)" : ""),
        "Degrees: " + std::to_string(scale.degrees()) + ", repeating every " + fixed(scale.period(), 3) + " cents",
        "Degrees in cents: " + tuningDegrees(tuning),
    };
    const KeyboardMap& map = tuning.map();
    if (tuning.mapText().empty()) {
        rows.push_back("Keyboard map: degree 0 on key " + std::to_string(map.middleKey) + ", a degree a key");
    } else {
        size_t unmapped = 0;
        for (int k = 0; k < kMidiKeys; ++k) unmapped += tuning.key(k).mapped ? 0 : 1;
        rows.push_back("Keyboard map: keys " + std::to_string(map.firstKey) + " to " + std::to_string(map.lastKey) +
                       " retuned, degree 0 on key " + std::to_string(map.middleKey) + ", " +
                       (map.size == 0 ? std::string("a degree a key") : std::to_string(map.size) + " keys a pattern") +
                       ", " + std::to_string(unmapped) + " keys unmapped");
    }
    rows.push_back("Reference: " + tuningReference(tuning));
    rows.push_back("Method: " + std::string(tuningMethodLabel(t.method)));
    const std::string untuned = untunedVoices(t);
    rows.push_back("Tuned voices: " + (untuned.empty() ? std::string("all") : "all but " + untuned));
    return rows;
}

}  // namespace tarrowin
