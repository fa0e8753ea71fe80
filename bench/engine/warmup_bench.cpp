// The warm-up that brings all 16 voices to the Start counter, against the tick-by-tick loop
// that tests every tick for a due note. Prints both times and their ratio for each case.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>

#include "engine/note_engine.h"
#include "support/literal_warmup.h"

namespace {

using namespace tarrowin;

constexpr int64_t kStart = 50000;

VoiceArray voicesWithNoteValue(float noteValue) {
    VoiceArray voices = Settings::defaults().voices;
    for (int v = 0; v < kVoices; ++v) {
        VoiceSettings& s = voices[static_cast<size_t>(v)];
        s.algorithm = static_cast<Algorithm>(v % kAlgorithms);
        s.offset = 20000;
        s.noteValue = noteValue;
        s.setOctaves(v % 4);
    }
    return voices;
}

void BM_SteppingWarmUp(benchmark::State& state) {
    const VoiceArray voices = voicesWithNoteValue(static_cast<float>(state.range(0)));
    NoteEngine engine(voices);
    for (auto _ : state) {
        engine.prepareRun(kStart);
        benchmark::DoNotOptimize(engine.state().logX);
    }
}

void BM_TickLoopWarmUp(benchmark::State& state) {
    const VoiceArray voices = voicesWithNoteValue(static_cast<float>(state.range(0)));
    GeneratorState st;
    for (auto _ : state) {
        testing::literalPrepareRun(st, voices, kStart);
        benchmark::DoNotOptimize(st.logX);
    }
}

BENCHMARK(BM_SteppingWarmUp)->Arg(960)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TickLoopWarmUp)->Arg(960)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

template <typename F>
double millis(F&& f, int repeats) {
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < repeats; ++i) f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count() / repeats;
}

// One run of both loops side by side, so the ratio comes from the same moment.
void printRatios() {
    std::printf("Warm-up of 16 voices to Start %lld with offset 20000 (all eight algorithms):\n",
                static_cast<long long>(kStart));
    for (float noteValue : {960.0f, 1.0f}) {
        const VoiceArray voices = voicesWithNoteValue(noteValue);
        NoteEngine engine(voices);
        GeneratorState st;
        const double ours = millis([&] { engine.prepareRun(kStart); }, 20);
        const double literal = millis([&] { testing::literalPrepareRun(st, voices, kStart); }, 2);
        std::printf("  note value %4.0f: tick loop %9.3f ms, stepping %7.3f ms, %8.1fx faster\n", noteValue, literal, ours,
                    literal / ours);
    }
}

}  // namespace

int main(int argc, char** argv) {
    printRatios();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
