#pragma once
// The document the playback benchmarks play: every voice on at tempo 340 (22 ms ticks),
// voice 1 striking at every tick, the others on grids of 2 to 16 ticks.

#include "engine/settings.h"
#include "support/striking_voices.h"

namespace tarrowin::bench {

inline constexpr int32_t kTempo = 340;

inline Settings denseSettings(int32_t start, int32_t ticks) {
    Settings s = Settings::defaults();
    s.global.tempo = kTempo;
    s.global.startCounter = start;
    s.global.endCounter = start + ticks;
    testing::strikeWithEveryVoice(s);
    for (int v = 0; v < kVoices; ++v) {
        s.voices[static_cast<size_t>(v)].setNoteValue(11, static_cast<float>(v == 0 ? 1 : 2 + v % 15));
    }
    return s;
}

}  // namespace tarrowin::bench
