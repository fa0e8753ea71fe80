#pragma once
// Offline rendering: the export stream of the current settings or of the composition,
// played through the built-in synthesizer as fast as it computes, into a WAV file
// (16-bit stereo PCM). Each tick lasts what it lasts on a device, so the file is as long
// as the playback, plus a tail for the last notes to ring out.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "engine/performance.h"
#include "engine/settings.h"

namespace tarrowin {

class ReplacingFile;

struct RenderOptions {
    std::string soundFont;  // empty: the built-in synthesizer's search
    int sampleRate = 44100;
    double tailSeconds = 1.0;
    int32_t percussionChannel = kDefaultPercussionChannel;
    // Seeds the "Random" modulation run lengths: one seed always gives the same audio.
    // None: defaultRunLengthSeed(), else different lengths on every render.
    std::optional<uint64_t> seed;
};

struct RenderResult {
    bool ok = false;
    std::string message;  // why it failed
    std::string soundFont;
    int64_t frames = 0;        // frames written
    int64_t playbackMs = 0;    // the length of the playback itself, without the tail
};

// Called now and then with the fraction of ticks rendered (0..1).
using RenderProgress = std::function<void(double fraction)>;

// The length of a run in milliseconds: its ticks at their events' tick lengths.
int64_t performanceLengthMs(PerformanceMode mode, const Settings& current, std::span<const Settings> events);

// mode: ExportCurrent or ExportComposition. The file appears complete or not at all (it
// is written through a ReplacingFile).
RenderResult renderToWav(PerformanceMode mode, const Settings& current, std::span<const Settings> events,
                         const std::string& path, const RenderOptions& options, const RenderProgress& progress = {});
// The same into an output the caller opened, committed on success and abandoned on
// failure. The audio's length is known before it is made, so the header goes first and a
// streaming output (a pipe, the standard output) gets the audio as it is rendered.
RenderResult renderToWav(PerformanceMode mode, const Settings& current, std::span<const Settings> events,
                         ReplacingFile& file, const RenderOptions& options, const RenderProgress& progress = {});

}  // namespace tarrowin
