#pragma once
// The benchmarks' busy documents: every voice on and striking at every step of its grid
// ("All Notes"), the eight algorithms two voices each.

#include "engine/settings.h"

namespace tarrowin::testing {

inline void strikeWithEveryVoice(Settings& s) {
    for (int v = 0; v < kVoices; ++v) {
        VoiceSettings& voice = s.voices[static_cast<size_t>(v)];
        voice.enabled = 1;
        voice.tied = 0;
        voice.setAlgorithm(static_cast<Algorithm>(v % kAlgorithms));
    }
}

}  // namespace tarrowin::testing
