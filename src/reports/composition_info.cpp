#include "composition_info.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <set>

#include "engine/generators.h"
#include "engine/tables.h"
#include "report_text.h"

namespace tarrowin {

using reports::format;
using reports::row;

namespace {

// The report's own names, which differ from the form's labels.
constexpr std::array<std::string_view, 12> kScaleStepNames = {
    "C", "Db", "D", "Eb", "E", "F", "Gb", "G", "Ab", "A", "Bb", "B",
};
constexpr std::array<std::string_view, kDynamics> kDynamicNames = {
    "Pianissimo", "Piano", "Mezzo-piano", "Mezzo-forte", "Forte", "Fortissmo",
};
constexpr std::string_view kUserDefinedNoteValue = "User Defined";

// Per-algorithm and per-scale rows of the global summary, in table order.
constexpr std::array<const char*, kAlgorithms> kAlgorithmRows = {
    "\tMorse-Thue:\t %d (%.2f%%)", "\tLog Map:\t\t %d (%.2f%%)",  "\t1/f Noise:\t\t %d (%.2f%%)",
    "\tHenon:\t\t %d (%.2f%%)",    "\tHopalong:\t %d (%.2f%%)",   "\tMartin:\t\t %d (%.2f%%)",
    "\tGingerbreadman:\t %d (%.2f%%)", "\tLorentz:\t\t %d (%.2f%%)",
};
constexpr std::array<const char*, kScaleRows> kScaleRowFormats = {
    "\tMajor:\t\t %d (%.2f%%)",      "\tMinor Natural:\t %d (%.2f%%)", "\tMinor Harmonic:\t %d (%.2f%%)",
    "\tMinor Melodic:\t %d (%.2f%%)", "\tLydian:\t\t %d (%.2f%%)",      "\tMixolydian:\t %d (%.2f%%)",
    "\tDorian:\t\t %d (%.2f%%)",     "\tPhrygian:\t\t %d (%.2f%%)",    "\tLocrian:\t\t %d (%.2f%%)",
    "\tOctatonic 1:\t %d (%.2f%%)",   "\tOctatonic 2:\t %d (%.2f%%)",   "\tAccoustic:\t %d (%.2f%%)",
    "\tWholetone:\t %d (%.2f%%)",    "\tPentatonic:\t %d (%.2f%%)",    "\tChromatic:\t %d (%.2f%%)",
    "\tUser defined:\t %d (%.2f%%)",
};

bool isActive(const VoiceSettings& voice) { return voice.enabled != 0; }

// count / total * 100 in single precision, like the duration.
double percentage(int count, int total) {
    return static_cast<double>(static_cast<float>(count) / static_cast<float>(total) * 100.0f);
}

template <size_t N>
void countRows(std::vector<std::string>& rows, const std::array<const char*, N>& formats,
               const std::array<int, N>& counts) {
    int total = 0;
    for (int c : counts) total += c;
    for (size_t r = 0; r < N; ++r) {
        if (counts[r] != 0) rows.push_back(format(formats[r], counts[r], percentage(counts[r], total)));
    }
}

template <typename Predicate>
void modulationRows(std::vector<std::string>& rows, const Composition& composition, Predicate modulates) {
    bool any = false;
    for (int e = 0; e < composition.count(); ++e) {
        const auto& voices = composition.event(e).voices;
        for (int v = 0; v < kVoices; ++v) {
            if (modulates(voices[static_cast<size_t>(v)])) {
                rows.push_back(format("\t\t\t%d", e));
                any = true;
                break;
            }
        }
    }
    if (!any) rows.emplace_back("\t\t\tNone.");
}

std::string startNoteName(int32_t note) {
    if (note < 0 || note >= kStartNotes) return "?";
    return noteName(note);
}

std::string instrumentName(int32_t program) {
    std::string_view name = row(kInstrumentNames, program);
    const auto first = name.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    const auto last = name.find_last_not_of(' ');
    return std::string(name.substr(first, last - first + 1));
}

std::string algorithmRow(const VoiceSettings& s) {
    switch (playableVoice(s).algorithm) {
        case Algorithm::MorseThue: return format("\tAlgorithm: Morse-Thue (%d, %d)", s.param1, s.param2);
        case Algorithm::LogisticMap: return format("\tAlgorithm: Log Map (%f)", static_cast<double>(s.logisticMu));
        case Algorithm::OneOverFNoise:
            return format("\tAlgorithm: 1/f Noise (%f)", static_cast<double>(s.noiseCoefficient));
        case Algorithm::Henon:
            return format("\tAlgorithm: Henon (%f, %f)", static_cast<double>(s.henonA), static_cast<double>(s.henonB));
        case Algorithm::Hopalong: return format("\tAlgorithm: Hopalong (%f)", static_cast<double>(s.hopalongAngle));
        case Algorithm::Martin: return format("\tAlgorithm: Martin (%f)", static_cast<double>(s.martinAngle));
        case Algorithm::Gingerbreadman:
            return format("\tAlgorithm: Gingerbread (%f, %f)", static_cast<double>(s.gingerX0),
                          static_cast<double>(s.gingerY0));
        case Algorithm::Lorenz: return format("\tAlgorithm: Lorenz (%f)", static_cast<double>(s.lorenzCoefficient));
    }
    return {};
}

std::string scaleRow(const VoiceSettings& s) {
    std::string text = "\tScale: " + std::string(row(kScaleLabels, s.scaleIndex)) + " ";
    if (s.scaleIndex == kUserDefinedScale) {
        text += "( ";
        for (int i = 0; i < s.scale.count && i < kMaxScaleNotes; ++i) {
            text += std::string(row(kScaleStepNames, s.scale[i])) + " ";
        }
        text += ")";
    }
    return text;
}

void voiceRows(std::vector<std::string>& rows, int v, const VoiceSettings& s) {
    if (!isActive(s)) {
        rows.push_back(format("VOICE %d (Inactive)", v + 1));
        return;
    }
    rows.push_back(format("VOICE %d:", v + 1));
    rows.push_back(format("\tChannel: %d", s.channel));
    rows.push_back(algorithmRow(s));
    rows.push_back(format("\tOffset value: %d", s.offset));
    std::string modulates = "\tModulates: ";
    if (s.modulate == 1) {
        modulates += s.modulateMode == 1 ? "Yes (Randomly)" : format("Yes (Every %d)", s.modulateEvery);
    } else {
        modulates += "No";
    }
    rows.push_back(modulates);
    rows.push_back(format("\tNumber of octaves: %d", s.octaves));
    rows.push_back(format("\tStarting note: %s (MIDI note # %d)", startNoteName(s.startNote).c_str(), s.startNote));
    rows.push_back(scaleRow(s));
    if (s.noteValueIndex == kOtherNoteValue) {
        rows.push_back(format("\tNote Value: %s (%d)", std::string(kUserDefinedNoteValue).c_str(), noteTicks(s.noteValue)));
    } else {
        rows.push_back("\tNote Value: " + std::string(row(kNoteValueLabels, s.noteValueIndex)));
    }
    rows.push_back("\tInstrument: " + instrumentName(s.instrument));
    rows.push_back(std::string("\tMode: ") + (s.tied == 1 ? "Tied" : "All Notes"));
    std::string inverted = "\tInverted: ";
    if (s.inverted != 0) {
        inverted += std::string("Yes  Match Scale: ") + (s.matchScale != 0 ? "Yes" : "No");
    } else {
        inverted += "No";
    }
    rows.push_back(inverted);
    rows.push_back(format("\tPan value: %d", s.pan));
    rows.push_back("\tDynamic: " + std::string(row(kDynamicNames, s.dynamicIndex)));
}

}  // namespace

float compositionSeconds(const Composition& composition) {
    float seconds = 0.0f;
    for (const CompositionEvent& e : composition.events()) {
        // A damaged file may hold any counters and tempo: widen the difference and play a
        // tempo below 1 as 1, as the tick length does, so the sum stays finite.
        const int64_t ticks = static_cast<int64_t>(e.global.endCounter) - e.global.startCounter;
        const int64_t ticksPerMinute = static_cast<int64_t>(std::max<int32_t>(e.global.tempo, 1)) * 8;
        seconds += static_cast<float>(ticks * 60) / static_cast<float>(ticksPerMinute);
    }
    return seconds;
}

std::vector<std::string> globalReport(const Composition& composition, float fileVersion) {
    std::set<int> activeVoices;
    std::array<int, kAlgorithms> algorithms{};
    std::array<int, kScaleRows> scales{};
    for (const CompositionEvent& e : composition.events()) {
        for (int v = 0; v < kVoices; ++v) {
            const VoiceSettings& s = e.voices[static_cast<size_t>(v)];
            if (!isActive(s)) continue;
            activeVoices.insert(v);
            ++algorithms[static_cast<size_t>(playableVoice(s).algorithm)];
            // A scale row without a name is left out of the statistics.
            if (s.scaleIndex >= 0 && s.scaleIndex < kScaleRows) ++scales[static_cast<size_t>(s.scaleIndex)];
        }
    }

    const float T = compositionSeconds(composition);
    constexpr float kOneSixtieth = 1.0f / 60.0f;
    const auto minutes = static_cast<long long>(T * kOneSixtieth);
    const auto seconds = static_cast<long long>(T) % 60;
    const int N = composition.count();

    std::vector<std::string> rows;
    rows.emplace_back("GLOBAL INFORMATION:");
    rows.emplace_back("******************************");
    rows.emplace_back("");
    rows.push_back(format("File version: %.2f", static_cast<double>(fileVersion)));
    rows.push_back(format("Number of total active voices: %d", static_cast<int>(activeVoices.size())));
    rows.push_back(format("Number of events: %d", N));
    rows.push_back(format("Number of events left %d", kMaxEvents - N));
    rows.push_back(format("Approximate duration: %lld min. %lld sec.", minutes, seconds));
    rows.emplace_back("");
    rows.emplace_back("ALGORITHMS per event/voice:");
    countRows(rows, kAlgorithmRows, algorithms);
    rows.emplace_back("");
    rows.emplace_back("SCALES per event/voice:");
    countRows(rows, kScaleRowFormats, scales);
    rows.emplace_back("");
    rows.emplace_back("MODULATIONS:\t\t[Event]");
    rows.emplace_back("\tEvery [...]:");
    modulationRows(rows, composition, reports::modulatesEvery);
    rows.emplace_back("\tRandomly: ");
    modulationRows(rows, composition, reports::modulatesRandomly);
    return rows;
}

std::vector<std::string> eventReport(const Composition& composition, int index) {
    std::vector<std::string> rows;
    if (index < 0 || index >= composition.count()) return rows;
    const CompositionEvent& e = composition.event(index);
    rows.push_back(format("Event Number %d", index));
    rows.emplace_back("******************");
    rows.emplace_back("");
    rows.push_back(format("Counters: Start %u, End %u", static_cast<unsigned>(e.global.startCounter),
                          static_cast<unsigned>(e.global.endCounter)));
    rows.push_back(format("Tempo: %d", e.global.tempo));
    rows.push_back(format("Time signature: %d/%d", e.global.timeSigNumerator, e.global.timeSigDenominator));
    for (int v = 0; v < kVoices; ++v) voiceRows(rows, v, e.voices[static_cast<size_t>(v)]);
    return rows;
}

CompositionInfoContents updateCompositionInfo(const Composition& composition, float fileVersion) {
    CompositionInfoContents contents;
    contents.listsEnabled = !composition.isEmpty();
    if (!contents.listsEnabled) return contents;
    for (int e = 0; e < composition.count(); ++e) contents.events.push_back(std::to_string(e));
    contents.global = globalReport(composition, fileVersion);
    contents.event = eventReport(composition, 0);
    return contents;
}

}  // namespace tarrowin
