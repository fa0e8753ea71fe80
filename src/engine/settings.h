#pragma once
// The settings that decide what the 16 voices play: one VoiceSettings per voice and the
// composition-wide GlobalSettings. A Settings value (both together) is what the document
// edits and what a composition event stores.

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace tarrowin {

inline constexpr int kVoices = 16;
inline constexpr int kAlgorithms = 8;
inline constexpr int kMaxScaleNotes = 12;
inline constexpr int kMaxCounter = 50000;

enum class Algorithm : int16_t {
    MorseThue = 0,
    LogisticMap = 1,
    OneOverFNoise = 2,
    Henon = 3,
    Hopalong = 4,
    Martin = 5,
    Gingerbreadman = 6,
    Lorenz = 7,
};

// A counted list of semitone offsets (0..11, ascending, first 0). count 0 means "no list",
// which is what a freshly constructed composition event holds.
struct ScaleList {
    int32_t count = 0;
    std::array<int32_t, kMaxScaleNotes> values{};

    ScaleList() = default;
    ScaleList(std::initializer_list<int32_t> notes);

    bool empty() const { return count == 0; }
    int32_t operator[](int i) const { return values[static_cast<size_t>(i)]; }
    // Appends one value; the caller keeps count <= 12.
    void push(int32_t value) { values[static_cast<size_t>(count++)] = value; }
    bool operator==(const ScaleList& other) const;
};

struct VoiceSettings {
    int32_t enabled = 0;
    Algorithm algorithm = Algorithm::MorseThue;
    int32_t param1 = 2;
    int32_t param2 = 1;
    int32_t offset = 0;
    int32_t modulate = 0;
    int32_t modulateMode = 0;  // 0 = "Every", 1 = "Random"
    int32_t modulateEvery = 5;
    int32_t scaleIndex = 0;
    ScaleList scale;
    ScaleList userScale;
    int32_t octaves = 1;
    int32_t octavesIndex = 0;
    int32_t startNote = 60;
    float noteValue = 8.0f;
    int32_t noteValueIndex = 2;
    int32_t instrument = 0;
    int32_t channel = 0;
    int32_t tied = 1;  // 0 = "All Notes", 1 = "Tied"
    int32_t inverted = 0;
    int32_t matchScale = 1;
    int32_t dynamicIndex = 3;
    int32_t velocity = 88;
    int32_t pan = 0;
    int32_t percussionKey = 0;
    float logisticMu = 3.9f;
    float noiseCoefficient = 0.5f;
    float henonA = 1.7f;
    float henonB = 0.4f;
    float hopalongAngle = 3.1415927f;
    float martinAngle = 3.1415927f;
    float gingerX0 = -0.1f;
    float gingerY0 = 0.0f;
    float lorenzCoefficient = 0.8f;

    // The new-document settings of voice v (0..15): voice 0 on, channel = v, Major lists.
    static VoiceSettings defaults(int v);

    // Setters that keep the invariants between fields. Each changes only this voice;
    // the document wraps them to mark itself modified.
    void setScaleIndex(int32_t index);
    void setInversion(bool isInverted, bool isMatchScale);
    void setUserScale(const ScaleList& list);
    void setDynamic(int32_t index);
    // index 0..10 takes its length from the note-value table; 11 ("Other") takes ticks.
    void setNoteValue(int32_t index, float ticks);
    void setOctaves(int32_t index);
    void setAlgorithm(Algorithm a);
    // scale := the list that scaleIndex, userScale, inverted and matchScale give.
    void rebuildScale();

    bool operator==(const VoiceSettings&) const = default;
};

struct GlobalSettings {
    int32_t tempo = 96;
    int32_t startCounter = 0;
    int32_t endCounter = 0;
    int16_t timeSigNumerator = 4;
    int16_t timeSigDenominator = 4;

    bool operator==(const GlobalSettings&) const = default;
};

using VoiceArray = std::array<VoiceSettings, kVoices>;

// The global and per-voice settings together: the current settings of a document, and
// the contents of one composition event (with its own counters in `global`).
struct Settings {
    GlobalSettings global;
    VoiceArray voices;

    // The new-document values of every field.
    void resetToDefaults();
    static Settings defaults();

    bool operator==(const Settings&) const = default;
};

// Milliseconds per tick (a 32nd note) at a tempo in quarter notes per minute; integer
// division, so tempo 96 gives 78 ms. Tempos below 1 are treated as 1.
int32_t tickLengthMs(int32_t tempo);

// The whole number of ticks of a note value: truncation toward zero, never below 1
// (a value from a damaged source that is NaN or below 1 plays as one tick).
int32_t noteTicks(float noteValue);

}  // namespace tarrowin
