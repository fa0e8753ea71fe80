#pragma once
// The warm-up as a loop over every tick, the way it reads in words: the reference that
// the engine's stepping warm-up is checked and measured against.

#include "engine/generators.h"
#include "engine/settings.h"

namespace tarrowin::testing {

inline void literalWarmUpVoice(GeneratorState& st, int v, const VoiceSettings& voice, int64_t start) {
    resetGeneratorState(st, v, voice.algorithm, voice);
    const int64_t nv = noteTicks(voice.noteValue);
    const int64_t X = static_cast<int64_t>(voice.offset) * nv;
    for (int64_t i = 0; i < start + X; ++i) {
        const int64_t F = i + X;
        if (F % nv == 0) nextNote(st, v, static_cast<int32_t>(F / nv), voice);
    }
}

inline void literalPrepareRun(GeneratorState& st, const VoiceArray& voices, int64_t start) {
    clearCountdowns(st);
    for (int v = 0; v < kVoices; ++v) literalWarmUpVoice(st, v, voices[static_cast<size_t>(v)], start);
}

}  // namespace tarrowin::testing
