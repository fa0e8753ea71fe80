#pragma once
// Offline rendering: the export stream of the current settings or of the composition,
// played through the built-in synthesizer as fast as it computes, into a WAV or FLAC file
// (16-bit stereo). Each tick lasts what it lasts on a device, so the file is as long as
// the playback, plus a tail for the last notes to ring out. On request the same pass also
// writes a file for each voice that sounds (its "stem"), all as long as the mix and adding
// up to it.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/performance.h"
#include "engine/settings.h"
#include "engine/tuning.h"

namespace tarrowin {

class ReplacingFile;

enum class AudioFormat {
    Wav,   // 16-bit PCM in a RIFF file, at most 4 GB
    Flac,  // 16-bit lossless, through libsndfile
};

// The format a file name asks for by its extension (.wav, .flac, in any case); none for any
// other name.
std::optional<AudioFormat> audioFormatFor(const std::string& path);

struct RenderOptions {
    std::string soundFont;  // empty: the built-in synthesizer's search
    int sampleRate = 44100;
    double tailSeconds = 1.0;
    int32_t percussionChannel = kDefaultPercussionChannel;
    AudioFormat format = AudioFormat::Wav;
    // Asked at every tick; true abandons the rendering, which then leaves no file.
    std::function<bool()> cancelled;
    // Seeds the "Random" modulation run lengths: one seed always gives the same audio.
    // None: defaultRunLengthSeed(), else different lengths on every render.
    std::optional<uint64_t> seed;
    // The document's tuning, sounded by the synthesizer's key tuning; none: equal temperament.
    std::shared_ptr<const TuningSettings> tuning;
    // Not empty: the folder that also gets the dry sound of each voice that sounds and
    // the reverb and chorus of them all, each in a file named by stemFileName in `format`.
    // The mix is then the exact sum of those files (where it does not clip), and within a
    // step of 16 bits of the mix rendered without them, which FluidSynth dithers.
    std::string stemsFolder;
};

struct RenderResult {
    bool ok = false;
    bool cancelled = false;
    std::string message;  // why it failed
    std::string soundFont;
    int64_t frames = 0;        // frames written
    int64_t playbackMs = 0;    // the length of the playback itself, without the tail
    std::vector<int> stems;    // the stems written: voices 0..15, and kEffectsStem
};

// The stems: one for each voice, and the reverb and the chorus of all of them.
inline constexpr int kEffectsStem = kVoices;
inline constexpr int kStems = kVoices + 1;
// "voice-01.wav" .. "voice-16.flac" for voices 0..15, "effects.wav" for kEffectsStem.
std::string stemFileName(int stem, AudioFormat format);

// Called now and then with the fraction of ticks rendered (0..1).
using RenderProgress = std::function<void(double fraction)>;

// The length of a run in milliseconds: its ticks at their events' tick lengths.
int64_t performanceLengthMs(PerformanceMode mode, const Settings& current, std::span<const Settings> events);

// Why the rendering cannot sound as options.tuning asks (a tuned and an untuned voice that
// share a channel); empty when it can.
std::string renderTuningRefusal(PerformanceMode mode, const Settings& current, std::span<const Settings> events,
                                const RenderOptions& options);

// mode: ExportCurrent or ExportComposition. Writes options.format through a ReplacingFile:
// a failed or cancelled rendering leaves no file and never a partial one in place of an
// older file. The stems' folder follows OutputFolder's rules (a folder made for them is
// removed again when the rendering fails); an earlier rendering's stem, in that format,
// of a voice that no longer sounds is removed from it.
RenderResult renderToAudio(PerformanceMode mode, const Settings& current, std::span<const Settings> events,
                           const std::string& path, const RenderOptions& options, const RenderProgress& progress = {});
// The same into an output the caller opened, committed on success and abandoned on
// failure. A WAV's length is known before it is made, so its header goes first and a
// streaming output (a pipe, the standard output) gets the audio as it is rendered.
RenderResult renderToAudio(PerformanceMode mode, const Settings& current, std::span<const Settings> events,
                           ReplacingFile& output, const RenderOptions& options, const RenderProgress& progress = {});

// renderToAudio into a WAV file.
RenderResult renderToWav(PerformanceMode mode, const Settings& current, std::span<const Settings> events,
                         const std::string& path, const RenderOptions& options, const RenderProgress& progress = {});
RenderResult renderToWav(PerformanceMode mode, const Settings& current, std::span<const Settings> events,
                         ReplacingFile& output, const RenderOptions& options, const RenderProgress& progress = {});

}  // namespace tarrowin
