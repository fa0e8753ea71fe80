#pragma once
// The eight note generators. Each call advances one voice's generator by one step: it
// updates the voice's transposition, steps the voice's map and folds the map value into a
// scale degree and octave, giving a MIDI pitch (not clamped to 0..127).

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <span>

#include "settings.h"

namespace tarrowin {

// Per-voice state of every generator and of its modulation. Each run owns one.
struct GeneratorState {
    using PerVoiceInt = std::array<int32_t, kVoices>;
    using PerVoiceFloat = std::array<float, kVoices>;

    std::array<PerVoiceInt, kAlgorithms> countdown{};
    std::array<PerVoiceInt, kAlgorithms> transposition{};
    PerVoiceFloat logX{};
    PerVoiceFloat noiseX{}, noiseY{};
    PerVoiceFloat henonX{}, henonY{};
    PerVoiceFloat hopX{}, hopY{};
    PerVoiceFloat martinX{}, martinY{};
    PerVoiceFloat gingerX{}, gingerY{};
    PerVoiceFloat lorenzX{};

    // Source of the "Random" modulation run lengths, 1..50. Empty: the state's own
    // Mersenne Twister, seeded from defaultRunLengthSeed() when one is set, else from the
    // system's entropy.
    std::function<int32_t()> randomRunLength;

    GeneratorState();
    int32_t drawRunLength();
    // Restarts the state's own run lengths from `seed`: one seed always gives the same lengths.
    void seedRunLengths(uint64_t seed);
    // sin and cos of a voice's Hopalong angle, computed once per angle.
    void hopalongTrig(int v, float angle, double& sine, double& cosine);

   private:
    std::mt19937 rng_;
    std::array<float, kVoices> trigAngle_{};
    std::array<double, kVoices> trigSin_{}, trigCos_{};
};

// The seed of the run lengths of every GeneratorState made from now on (a program's
// --seed); none, the default: each state draws from the system's entropy. A run that
// carries a seed of its own (PerformanceOptions::seed) uses that instead.
void setDefaultRunLengthSeed(std::optional<uint64_t> seed);
std::optional<uint64_t> defaultRunLengthSeed();

// One step of voice v's generator for counter k; returns the pitch. The voice's settings
// must be playable (see playableVoice); the engine's snapshot of a run always is.
int32_t nextNote(GeneratorState& state, int v, int32_t k, const VoiceSettings& voice);

// A copy of the voice whose generator inputs are inside the ranges the generators rely on
// (algorithm 0..7, 1..12 scale notes, 1..4 octaves, base >= 2, period >= 1). The document
// refuses anything else; this keeps a damaged value from reaching a step.
VoiceSettings playableVoice(const VoiceSettings& voice);

// Takes `count` steps of voice v's generator with the counters first, first + 1, ... and
// discards their notes: the state afterwards is exactly that of `count` nextNote calls
// (the same random draws included), for a fraction of the work. Playable settings only,
// as for nextNote.
void skipSteps(GeneratorState& state, int v, int32_t first, int64_t count, const VoiceSettings& voice);

// skipSteps for several voices at once (each voice at most once): their maps advance side
// by side, which the processor runs in parallel.
struct SkipRequest {
    int v = 0;
    int32_t first = 0;
    int64_t count = 0;
    const VoiceSettings* voice = nullptr;
};
void skipStepsTogether(GeneratorState& state, std::span<const SkipRequest> requests);

// Puts the map state of voice v for one algorithm to its initial values.
void resetGeneratorState(GeneratorState& state, int v, Algorithm algorithm, const VoiceSettings& voice);

// Zeroes every modulation countdown and transposition of every voice and algorithm, so
// identical runs give identical notes whatever ran before.
void clearCountdowns(GeneratorState& state);
// The same for voice v alone.
void clearCountdowns(GeneratorState& state, int v);

// Sum of the base-b digits of a, with the sign rules of the Morse-Thue generator: a is
// compared as unsigned, so a negative value gives a negative sum. Bases below 2 count as 2.
int32_t digitSum(int32_t a, int32_t base);

}  // namespace tarrowin
