// Renders a 16-voice piece of two minutes with its stems (a file per voice and the
// effects) into WAV and into FLAC files on the disk, beside the same render without stems,
// and prints for each the processor and wall time and how many times faster than real
// time it ran, best of N. The target is processor time: on a machine shared with other
// work the wall time measures that work too. A dense piece (every note struck, down to
// sixteenths, on sustaining instruments) shows what the synthesizer itself costs there.
//
//   playback_stems_bench [--repeat N]     best of N runs of each (default 3)

#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "engine/settings.h"
#include "playback/wav_render.h"

using namespace tarrowin;
namespace fs = std::filesystem;

namespace {

constexpr double kTarget = 20.0;  // the stems, as WAV, at least this much faster than real time

// Every voice on, each with its own generator, instrument and pan, at tempo 120 for two
// minutes, voice 10 on drums. Typical: in "Tied" mode (a note held while it repeats) in
// eighth, quarter and half notes. Dense: every note struck, in sixteenths too.
Settings piece(bool dense) {
    Settings s = Settings::defaults();
    s.global.tempo = 120;
    s.global.startCounter = 0;
    s.global.endCounter = 1936;  // 62 ms ticks
    static const int kTypical[] = {3, 2, 1, 2};  // eighth, quarter, half, quarter
    static const int kDense[] = {3, 2, 1, 4};    // eighth, quarter, half, sixteenth
    for (int v = 0; v < kVoices; ++v) {
        VoiceSettings& voice = s.voices[static_cast<size_t>(v)];
        voice.enabled = 1;
        voice.tied = dense ? 0 : 1;
        voice.instrument = v * 8;
        voice.pan = (v * 9) % 64 - 32;
        voice.setAlgorithm(static_cast<Algorithm>(v % kAlgorithms));
        voice.setNoteValue((dense ? kDense : kTypical)[v % 4], 0.0f);
    }
    return s;
}

double seconds(const timespec& a, const timespec& b) {
    return static_cast<double>(b.tv_sec - a.tv_sec) + static_cast<double>(b.tv_nsec - a.tv_nsec) * 1e-9;
}

struct Timing {
    double cpu = 1e30;
    double wall = 1e30;
    double audio = 0;
};

Timing time(const Settings& s, const fs::path& dir, AudioFormat format, bool stems, int repeat) {
    Timing best;
    for (int i = 0; i < repeat; ++i) {
        fs::remove_all(dir);
        fs::create_directories(dir);
        RenderOptions options;
        options.format = format;
        options.seed = 1;
        if (stems) options.stemsFolder = (dir / "stems").string();
        timespec cpu0{}, cpu1{}, wall0{}, wall1{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu0);
        clock_gettime(CLOCK_MONOTONIC, &wall0);
        const RenderResult r = renderToAudio(PerformanceMode::ExportCurrent, s, {},
                                             (dir / (format == AudioFormat::Flac ? "mix.flac" : "mix.wav")).string(), options);
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu1);
        clock_gettime(CLOCK_MONOTONIC, &wall1);
        if (!r.ok) {
            std::fprintf(stderr, "playback_stems_bench: %s\n", r.message.c_str());
            std::exit(2);
        }
        if (stems && r.stems.size() != kStems) {
            std::fprintf(stderr, "playback_stems_bench: %zu stems written, not %d\n", r.stems.size(), kStems);
            std::exit(2);
        }
        best.audio = static_cast<double>(r.frames) / options.sampleRate;
        best.cpu = std::min(best.cpu, seconds(cpu0, cpu1));
        best.wall = std::min(best.wall, seconds(wall0, wall1));
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    int repeat = 3;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
            repeat = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: playback_stems_bench [--repeat N]\n");
            return 2;
        }
    }
    const char* tmp = std::getenv("TMPDIR");
    const fs::path dir = fs::path(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") /
                         ("tarrowin-stems-bench-" + std::to_string(::getpid()));
    struct Row {
        const char* name;
        bool dense;
        AudioFormat format;
        bool stems;
    } rows[] = {
        {"typical: mix alone, WAV", false, AudioFormat::Wav, false},
        {"typical: mix and 17 stems, WAV", false, AudioFormat::Wav, true},
        {"typical: mix alone, FLAC", false, AudioFormat::Flac, false},
        {"typical: mix and 17 stems, FLAC", false, AudioFormat::Flac, true},
        {"dense: mix alone, WAV", true, AudioFormat::Wav, false},
        {"dense: mix and 17 stems, WAV", true, AudioFormat::Wav, true},
    };
    std::printf("16 voices, best of %d                 audio    cpu s   wall s   x real time (cpu / wall)\n", repeat);
    double stemsWav = 0;
    for (const Row& row : rows) {
        const Timing t = time(piece(row.dense), dir, row.format, row.stems, repeat);
        std::printf("%-36s %6.1f s %7.2f %8.2f   %6.1f / %.1f\n", row.name, t.audio, t.cpu, t.wall, t.audio / t.cpu,
                    t.audio / t.wall);
        std::fflush(stdout);
        if (!row.dense && row.stems && row.format == AudioFormat::Wav) stemsWav = t.audio / t.cpu;
    }
    fs::remove_all(dir);
    const bool met = stemsWav >= kTarget;
    std::printf("typical piece's stems (WAV) %.1f times faster than real time: target %.0f %s\n", stemsWav, kTarget,
                met ? "met" : "MISSED");
    return met ? 0 : 1;
}
