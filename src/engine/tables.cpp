#include "tables.h"

#include <algorithm>
#include <cstdio>

namespace tarrowin {

const std::array<std::string_view, kScaleRows> kScaleLabels = {
    "Major", "Minor Natural", "Minor Harmonic", "Minor Melodic", "Lydian", "Mixolydian",
    "Dorian", "Phrygian", "Locrian", "Octatonic 1", "Octatonic 2", "Accoustic",
    "Wholetone", "Pentatonic", "Chromatic", "User defined",
};

namespace {

const std::array<ScaleList, kScaleRows - 1> kIntervals = {
    ScaleList{0, 2, 4, 5, 7, 9, 11},
    ScaleList{0, 2, 3, 5, 7, 8, 10},
    ScaleList{0, 2, 3, 5, 7, 8, 11},
    ScaleList{0, 2, 3, 5, 7, 9, 11},
    ScaleList{0, 2, 4, 6, 7, 9, 11},
    ScaleList{0, 2, 4, 5, 7, 9, 10},
    ScaleList{0, 2, 3, 5, 7, 9, 10},
    ScaleList{0, 1, 3, 5, 7, 8, 10},
    ScaleList{0, 1, 3, 5, 6, 8, 10},
    ScaleList{0, 2, 3, 5, 6, 8, 9, 11},
    ScaleList{0, 1, 3, 4, 6, 7, 9, 10},
    ScaleList{0, 2, 4, 6, 7, 9, 10},
    ScaleList{0, 2, 4, 6, 8, 10},
    ScaleList{0, 2, 4, 7, 9},
    ScaleList{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11},
};

const std::array<ScaleList, kScaleRows - 1> kMirrored = {
    ScaleList{0, 1, 3, 5, 7, 8, 10},
    ScaleList{0, 2, 4, 5, 7, 9, 10},
    ScaleList{0, 1, 4, 5, 7, 9, 10},
    ScaleList{0, 1, 3, 5, 7, 9, 10},
    ScaleList{0, 1, 3, 5, 6, 8, 10},
    ScaleList{0, 2, 3, 5, 7, 8, 10},
    ScaleList{0, 2, 3, 5, 7, 9, 10},
    ScaleList{0, 2, 4, 5, 7, 9, 11},
    ScaleList{0, 2, 4, 6, 7, 9, 11},
    ScaleList{0, 1, 3, 4, 6, 7, 9, 10},
    ScaleList{0, 2, 3, 5, 6, 8, 9, 11},
    ScaleList{0, 2, 3, 5, 6, 8, 10},
    ScaleList{0, 2, 4, 6, 8, 10},
    ScaleList{0, 3, 5, 8, 10},
    ScaleList{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11},
};

int clampRow(int row, int rows) { return std::clamp(row, 0, rows - 1); }

}  // namespace

const ScaleList& scaleIntervals(int row) { return kIntervals[static_cast<size_t>(clampRow(row, kScaleRows - 1))]; }
const ScaleList& mirroredScaleIntervals(int row) { return kMirrored[static_cast<size_t>(clampRow(row, kScaleRows - 1))]; }

const std::array<std::string_view, 12> kPitchClassNames = {
    "C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B",
};
const std::array<std::string_view, 4> kOctaveLabels = {"1", "2", "3", "4"};
const std::array<std::string_view, kNoteValueRows> kNoteValueLabels = {
    "Whole", "Half", "Quarter", "8th", "16th", "32nd", "Dotted Whole", "Dotted Half",
    "Dotted Quarter", "Dotted 8th", "Dotted 16th", "Other (%d)",
};
const std::array<int32_t, kNoteValueRows - 1> kNoteValueTicks = {32, 16, 8, 4, 2, 1, 48, 24, 12, 6, 3};
const std::array<std::string_view, kDynamics> kDynamicLabels = {"PP", "P", "MP", "MF", "F", "FF"};
const std::array<int32_t, kDynamics> kDynamicVelocities = {22, 44, 66, 88, 110, 127};
const std::array<std::string_view, 2> kModeLabels = {"All Notes", "Tied"};
const std::array<std::string_view, kAlgorithms> kAlgorithmMenuLabels = {
    "Morse-Thue", "Logistic Map...", "1/f noise ...", "Henon...",
    "Hopalong...", "Martin...", "Gingerbreadman...", "Lorenz...",
};

const std::array<std::string_view, kInstruments> kInstrumentNames = {
    "Grand piano", "Bright piano", "Electric piano", "Honky tonk piano",
    "Rhodes piano", "Chorus piano", "Harpsichord", "Clavinet",
    "Celesta", "Glockenspiel", "Music Box", "Vibraphone",
    "Marimba", "Xilophone", "Tubular bells", "Dulcimer",
    "Hammond organ", "Percussive organ", "Rock organ", "Church organ",
    "Reed organ", "Accordion", "Harmonica", "Tango accordion",
    "Nylon string guitar", "Steel string guitar", "Electric guitar (jazz)", "Electric guitar (clean)",
    "Electric guitar (mute)", "Overdriven guitar", "Distorted guitar", "Guitar harmonics",
    "Accoustic bass", "Electric bass (finger)", "Electric bass (pick)", "Fretless bass",
    "Slap bass 1", "Slap bass 2", "Synth bass 1", "Synth bass 2",
    "Violin", "Viola", "'Cello", "Double bass",
    "Tremolo strings ", "Pizzicato strings", "Orchestral harp", "Timpani",
    "String ensemble 1", "String ensemble 2", "Synth strings 1", "Synth strings 2",
    "Choir aahs", "Voice oohs", "Synth voices", "Orchestra hit",
    "Trumpet", "Trombone", "Tuba", "Muted trumpet",
    "French horn", "Brass section", "Synth brass 1", "Synth brass 2 ",
    "Soprano sax", "Alto sax", "Tenor sax", "Baritone sax",
    "Oboe", "English horn", "Bassoon", "Clarinet",
    "Piccolo", "Flute", "Recorder", "Pan flute",
    "Blown bottle", "Shakuhachi", "Whistle", "Ocarina",
    "Lead 1 (square)", "Lead 2 (sawtooth)", "Lead 3 (calliope)", "Lead 4 (chiff)",
    "Lead 5 (charang)", "Lead 6 (voice)", "Lead 7 (fifth)", "Lead 8 (bass +)",
    "Pad 1 (new age)", "Pad 2 (warm)", "Pad 3 (polysynth)", "Pad 4 (choir)",
    "Pad 5 (bowed)", "Pad 6 (metallic)", "Pad 7 (halo)", "Pad 8 (sweep)",
    "FX 1 (rain)", "FX 2 (soundtrack)", "FX 3 (crystal)", "FX 4 (atmosphere)",
    "FX 5 (brightness)", "FX 6 (goblins)", "FX 7 (echoes)", "FX 8 (sci-fi)",
    "Sitar", "Banjo", "Shamisen", "Koto",
    "Kalimba", "Bag pipe", "Fiddle", "Shanai",
    "Tinklebell", " Agogo bells", "Stool drum", "Wood block",
    "Taiko drum", "Melodic drum", "Synth drum", "Reverse cymbal",
    "Guitar fret noise", "Breath noise", "Seashore", "Bird tweet",
    "Telephone ring", "Helicopter", "Applause", "Gunshot",
};

const std::array<std::string_view, kPercussionKeys> kPercussionLabels = {
    "Base Drum 1", "Base Drum 2", "Side Stick", "Acoustic Snare",
    "Hand Clap", "Electric Snare", "Low Floor Tom", "Closed Hi-Hat",
    "Hi Floor Tom", "Pedal Hi-Hat", "Low Tom", "Open Hi-Hat",
    "Low-Mid Tom", "High-Mid Tom", "Crash Cymbal 1", "High Tom",
    "Ride Cymbal 1", "Chinese Cymbal", "Ride Bell", "Tambourine",
    "Splash Cymbal", "Cowbell", "Crash Cymbal 2", "Vibraslap",
    "Ride Cymbal 2", "High Bongo", "Low Bongo", "Muted High Conga",
    "Open High Conga", "Low Conga", "High Timbale", "Low Timbale",
    "High Agogo", "Low Agogo", "Cabase", "Maracas",
    "Short Whistle", "Long Whistle", "Short Guiro", "Long Guiro",
    "Claves", "High Wood Block", "Low Wood Block", "Muted Cuica",
    "Open Cuica", "Muted Triangle", "Open Triangle",
};

void sortScale(ScaleList& list) {
    for (int i = 0; i < list.count; ++i) {
        for (int j = i + 1; j < list.count; ++j) {
            if (list.values[static_cast<size_t>(j)] < list.values[static_cast<size_t>(i)]) {
                std::swap(list.values[static_cast<size_t>(i)], list.values[static_cast<size_t>(j)]);
            }
        }
    }
}

ScaleList mirrorScale(const ScaleList& list) {
    ScaleList out;
    for (int i = 0; i < list.count; ++i) {
        const int32_t s = list[i];
        out.push(s == 0 ? 0 : 12 - s);
    }
    sortScale(out);
    return out;
}

ScaleList buildScaleList(int32_t scaleIndex, const ScaleList& userScale, bool inverted, bool matchScale) {
    const bool mirrored = inverted && matchScale;
    if (scaleIndex == kUserDefinedScale) {
        return mirrored ? mirrorScale(userScale) : userScale;
    }
    return mirrored ? mirroredScaleIntervals(scaleIndex) : scaleIntervals(scaleIndex);
}

ScaleList buildUserScale(const std::array<bool, 12>& checked) {
    ScaleList out;
    for (int s = 0; s < 12; ++s) {
        if (checked[static_cast<size_t>(s)]) out.push(s);
    }
    if (out.count > 0) {
        const int32_t lowest = out[0];
        for (int i = 0; i < out.count; ++i) out.values[static_cast<size_t>(i)] -= lowest;
    }
    return out;
}

std::array<bool, 12> userScaleMarks(const ScaleList& userScale) {
    std::array<bool, 12> marks{};
    for (int i = 0; i < std::clamp(userScale.count, 0, kMaxScaleNotes); ++i) {
        const int32_t s = userScale[i];
        if (s >= 0 && s < 12) marks[static_cast<size_t>(s)] = true;
    }
    return marks;
}

namespace {

using V = VoiceSettings;
// 6.28319 is the float just above 2 pi, so a whole turn either way is accepted.
constexpr float kTurn = 6.28319f;
constexpr CoefficientRule kLogisticRules[] = {{&V::logisticMu, 2.0f, 4.0f}};
constexpr CoefficientRule kNoiseRules[] = {{&V::noiseCoefficient, 0.0f, 1.0f}};
constexpr CoefficientRule kHenonRules[] = {{&V::henonA, 1.0f, 2.0f}, {&V::henonB, 0.0f, 1.0f}};
constexpr CoefficientRule kHopalongRules[] = {{&V::hopalongAngle, -kTurn, kTurn}};
constexpr CoefficientRule kMartinRules[] = {{&V::martinAngle, -kTurn, kTurn}};
constexpr CoefficientRule kGingerRules[] = {{&V::gingerX0, -20.0f, 20.0f}, {&V::gingerY0, -20.0f, 20.0f}};
constexpr CoefficientRule kLorenzRules[] = {{&V::lorenzCoefficient, 0.0f, 1.0f}};

}  // namespace

std::span<const CoefficientRule> coefficientRules(Algorithm a) {
    switch (a) {
        case Algorithm::LogisticMap: return kLogisticRules;
        case Algorithm::OneOverFNoise: return kNoiseRules;
        case Algorithm::Henon: return kHenonRules;
        case Algorithm::Hopalong: return kHopalongRules;
        case Algorithm::Martin: return kMartinRules;
        case Algorithm::Gingerbreadman: return kGingerRules;
        case Algorithm::Lorenz: return kLorenzRules;
        case Algorithm::MorseThue: break;
    }
    return {};
}

std::string noteName(int n) {
    if (n < 0 || n > 127) return {};
    return std::string(kPitchClassNames[static_cast<size_t>(n % 12)]) + std::to_string(n / 12);
}

int32_t noteValueTicks(int row) {
    if (row < 0 || row >= kNoteValueRows - 1) return 0;
    return kNoteValueTicks[static_cast<size_t>(row)];
}

int32_t velocityOf(int dynamicIndex) { return kDynamicVelocities[static_cast<size_t>(clampRow(dynamicIndex, kDynamics))]; }

int32_t percussionMidiKey(int row) { return row + kPercussionKeyBase; }

std::string instrumentLabel(int program) {
    program = clampRow(program, kInstruments);
    char number[8];
    std::snprintf(number, sizeof number, "%03d ", program);
    return number + std::string(kInstrumentNames[static_cast<size_t>(program)]);
}

std::string noteValueLabel(int row, float noteValue) {
    if (row == kOtherNoteValue) return "Other (" + std::to_string(noteTicks(noteValue)) + ")";
    return std::string(kNoteValueLabels[static_cast<size_t>(clampRow(row, kNoteValueRows))]);
}

}  // namespace tarrowin
