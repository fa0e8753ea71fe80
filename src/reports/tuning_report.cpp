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

std::string tuningTitle(const Tuning& tuning) {
    const std::string description = tuning.description().empty() ? "(no description)" : tuning.description();
    return description + (tuning.isEqualTemperament() ? " (default)" : "");
}

std::string tuningDegreeSummary(const Tuning& tuning) {
    return std::to_string(tuning.scale().degrees()) + ", repeating every " + fixed(tuning.scale().period(), 3) + " cents";
}

std::string tuningMapSummary(const Tuning& tuning) {
    const KeyboardMap& map = tuning.map();
    if (tuning.mapText().empty()) return "degree 0 on key " + std::to_string(map.middleKey) + ", a degree a key";
    size_t unmapped = 0;
    for (int k = 0; k < kMidiKeys; ++k) unmapped += tuning.key(k).mapped ? 0 : 1;
    return "keys " + std::to_string(map.firstKey) + " to " + std::to_string(map.lastKey) + " retuned, degree 0 on key " +
           std::to_string(map.middleKey) + ", " +
           (map.size == 0 ? std::string("a degree a key") : std::to_string(map.size) + " keys a pattern") + ", " +
           std::to_string(unmapped) + " keys unmapped";
}

std::vector<std::string> tuningReport(const TuningSettings& t) {
    const Tuning& tuning = t.tuning;
    std::vector<std::string> rows = {
        "Tuning: " + tuningTitle(tuning),
        "Degrees: " + tuningDegreeSummary(tuning),
        "Degrees in cents: " + tuningDegrees(tuning),
        "Keyboard map: " + tuningMapSummary(tuning),
        "Reference: " + tuningReference(tuning),
    };
    rows.push_back("Method: " + std::string(tuningMethodLabel(t.method)));
    const std::string untuned = untunedVoices(t);
    rows.push_back("Tuned voices: " + (untuned.empty() ? std::string("all") : "all but " + untuned));
    return rows;
}

}  // namespace tarrowin
