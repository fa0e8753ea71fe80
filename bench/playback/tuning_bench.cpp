// Times the MIDI file export and the audio rendering of a tuned document against the same
// document untuned: retuning looks each key up in tables made before the run, so it must
// cost next to nothing per note (target: within 5 %). Processor time of this thread, best
// of N, the runs taking turns. With pitch bend the file holds a bend before most notes, which the export writes
// at its own cost: that time is shown, not held to the target.
//
//   tuning_bench [--repeat N]     best of N runs of each (default 5)

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <unistd.h>
#include <vector>

#include "document/document.h"
#include "midifile/midi_export.h"
#include "playback/wav_render.h"
#include "support/striking_voices.h"

namespace tarrowin {
namespace {

double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// The best of `repeat` runs of each, the runs taking turns: a machine whose speed drifts
// (other work, a changing clock) weighs on each alike.
std::vector<double> bestOfEach(int repeat, const std::vector<std::function<bool()>>& runs) {
    std::vector<double> fastest(runs.size(), 1e300);
    for (int r = 0; r < repeat; ++r) {
        for (size_t i = 0; i < runs.size(); ++i) {
            const double t0 = cpuSeconds();
            if (!runs[i]()) {
                std::printf("  run %zu failed\n", i);
                return std::vector<double>(runs.size(), 1e300);
            }
            fastest[i] = std::min(fastest[i], cpuSeconds() - t0);
        }
    }
    return fastest;
}

// 16 voices striking every 32nd note ("All Notes"), each on its own channel, `events`
// events of `ticks` ticks.
CTarrowinDoc denseDocument(int events, int32_t ticks) {
    CTarrowinDoc doc;
    doc.OnNewDocument();
    Settings s = doc.current();
    s.global.endCounter = ticks;
    testing::strikeWithEveryVoice(s);
    for (int v = 0; v < kVoices; ++v) {
        VoiceSettings& voice = s.voices[static_cast<size_t>(v)];
        voice.setNoteValue(5, 0.0f);
        voice.setOctaves(3);
        voice.startNote = 36 + 2 * v;
    }
    doc.mutableCurrent() = s;
    for (int i = 0; i < events; ++i) doc.mutableComposition().append(s);
    return doc;
}

// 31-tone equal temperament; `map`: its first 12 degrees on the white keys only, the black
// keys unmapped.
TuningSettings thirtyOneTones(TuningMethod method, bool map = false) {
    std::string scale = "31 equal\n31\n";
    for (int k = 1; k < 31; ++k) scale += std::to_string(1200.0 * k / 31) + "\n";
    TuningSettings t;
    t.tuning = *Tuning::fromText(scale + "2/1\n", map ? "12\n0\n127\n60\n60\n261.6\n31\n0\nx\n1\nx\n2\n3\nx\n4\nx\n5\nx\n6\n" : "").value;
    t.method = method;
    t.tuned[kDefaultPercussionChannel] = false;  // voice 10 plays the drums
    return t;
}

bool report(const char* what, double untuned, double tuned, bool held) {
    const double change = 100.0 * (tuned / untuned - 1.0);
    const bool met = !held || change <= 5.0;
    std::printf("  %-28s untuned %8.3f s   tuned %8.3f s   %+6.1f %%%s\n", what, untuned, tuned, change,
                held ? (met ? "   target met" : "   TARGET NOT MET (5 %)") : "   (not held to the target)");
    return met;
}

}  // namespace
}  // namespace tarrowin

int main(int argc, char** argv) {
    using namespace tarrowin;
    int repeat = 5;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--repeat") == 0) repeat = std::max(1, std::atoi(argv[i + 1]));
    }
    bool ok = true;

    std::printf("Export: 100 events x 2000 ticks, 16 voices at 32nd notes (3.2 million notes)\n");
    const CTarrowinDoc untuned = denseDocument(100, 2000);
    const auto tunedWith = [&untuned](const TuningSettings& t) {
        CTarrowinDoc doc = untuned;
        doc.setTuning(t);
        return doc;
    };
    const CTarrowinDoc exports[] = {untuned, tunedWith(thirtyOneTones(TuningMethod::Mts)),
                                    tunedWith(thirtyOneTones(TuningMethod::Mts, true)),
                                    tunedWith(thirtyOneTones(TuningMethod::PitchBend))};
    std::vector<std::function<bool()>> exportRuns;
    for (const CTarrowinDoc& doc : exports) {
        exportRuns.emplace_back([&doc] {
            CountingOutput out;
            return writeMidi(doc, ExportOptions{ExportMode::Composition, kDefaultPercussionChannel, {}, {}}, out).ok;
        });
    }
    const std::vector<double> exportTimes = bestOfEach(repeat, exportRuns);
    ok &= report("MIDI Tuning Standard", exportTimes[0], exportTimes[1], true);
    ok &= report("MTS, black keys unmapped", exportTimes[0], exportTimes[2], true);
    report("pitch bend", exportTimes[0], exportTimes[3], false);

    std::printf("Render: 800 ticks, 16 voices at 32nd notes, tempo 340 (1.4 s of audio)\n");
    CTarrowinDoc render = denseDocument(0, 800);
    render.setTempo(340);
    const std::string wav = (std::filesystem::temp_directory_path() / ("tarrowin-tuning-bench-" + std::to_string(::getpid()) + ".wav")).string();
    const auto renderRun = [&](std::shared_ptr<const TuningSettings> tuning) -> std::function<bool()> {
        return [&render, &wav, tuning] {
            RenderOptions options;
            options.tailSeconds = 0;
            options.tuning = tuning;
            return renderToAudio(PerformanceMode::ExportCurrent, render.current(), {}, wav, options).ok;
        };
    };
    const std::vector<double> renderTimes = bestOfEach(
        repeat, {renderRun(nullptr), renderRun(std::make_shared<TuningSettings>(thirtyOneTones(TuningMethod::Mts)))});
    ok &= report("key tuning", renderTimes[0], renderTimes[1], true);
    std::filesystem::remove(wav);
    return ok ? 0 : 1;
}
