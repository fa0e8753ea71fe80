// Times the composition export on two compositions against a reference export that tests
// every voice on every tick and warms the generators up tick by tick, and prints the time,
// the notes per second and the ratio of each. Both are timed writing into a byte counter
// (as into /dev/null), in processor time, best of N; a further run of each checks that
// they write the same bytes.
//
//   midifile_bench [--repeat N]     best of N runs of each (default 3)

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <span>
#include <vector>

#include "document/document.h"
#include "engine/generators.h"
#include "engine/note_engine.h"
#include "engine/tables.h"
#include "midifile/midi_export.h"
#include "support/literal_warmup.h"
#include "support/random_coefficients.h"

namespace tarrowin {
namespace {

// Hashes and counts the file's bytes without keeping them.
class HashingOutput : public ByteOutput {
   public:
    bool write(const uint8_t* data, size_t size) override {
        for (size_t i = 0; i < size; ++i) hash_ = (hash_ ^ data[i]) * 1099511628211ull;
        size_ += size;
        return true;
    }
    bool writeAt(uint64_t, const uint8_t* data, size_t size) override {
        for (size_t i = 0; i < size; ++i) patch_ = (patch_ ^ data[i]) * 1099511628211ull;
        return true;
    }
    uint64_t digest() const { return hash_ ^ (patch_ << 1) ^ size_; }
    uint64_t size() const { return size_; }

   private:
    uint64_t hash_ = 14695981039346656037ull;
    uint64_t patch_ = 0;
    uint64_t size_ = 0;
};

// The composition export as it reads in words: all 16 voices tested at every tick, the
// generators warmed up tick by tick.
int64_t referenceExport(std::span<const Settings> events, int32_t percussionChannel, PerformanceSink& sink) {
    std::array<bool, kVoices> used{};
    for (const Settings& e : events) {
        for (int v = 0; v < kVoices; ++v) used[static_cast<size_t>(v)] |= e.voices[static_cast<size_t>(v)].enabled != 0;
    }
    GeneratorState st;
    std::array<VoiceCursor, kVoices> cursor{};
    const SoundingRule rule{true, true};
    int64_t date = 0;
    int64_t notes = 0;
    for (size_t i = 0; i < events.size(); ++i) {
        const Settings& e = events[i];
        clearCountdowns(st);
        std::array<int64_t, kVoices> ticks{};
        for (int v = 0; v < kVoices; ++v) ticks[static_cast<size_t>(v)] = noteTicks(e.voices[static_cast<size_t>(v)].noteValue);
        sink.eventBegins(static_cast<int>(i), e.global, date);
        for (int v = 0; v < kVoices; ++v) {
            const VoiceSettings& s = e.voices[static_cast<size_t>(v)];
            if (used[static_cast<size_t>(v)]) sink.message(date, ShortMessage::programChange(s.channel, s.instrument));
        }
        for (int v = 0; v < kVoices; ++v) {
            const VoiceSettings& s = e.voices[static_cast<size_t>(v)];
            if (used[static_cast<size_t>(v)]) sink.message(date, ShortMessage::pan(s.channel, s.pan));
        }
        for (int v = 0; v < kVoices; ++v) {
            if (used[static_cast<size_t>(v)]) testing::literalWarmUpVoice(st, v, e.voices[static_cast<size_t>(v)], e.global.startCounter);
        }
        for (int64_t pc = e.global.startCounter; pc < e.global.endCounter; ++pc, ++date) {
            std::array<int32_t, kVoices> next{};
            std::array<bool, kVoices> due{};
            for (int v = 0; v < kVoices; ++v) {
                const size_t i = static_cast<size_t>(v);
                const int64_t t = pc + ticks[i] * e.voices[i].offset;
                due[i] = used[i] && t >= 0 && t % ticks[i] == 0;
                if (due[i]) next[i] = nextNote(st, v, static_cast<int32_t>(t / ticks[i]), e.voices[i]);
            }
            for (int v = 0; v < kVoices; ++v) {
                const size_t i = static_cast<size_t>(v);
                if (!due[i]) continue;
                const SoundingDecision d =
                    soundingDecision(cursor[i], next[i], e.voices[i], e.voices[i].enabled != 0, percussionChannel, rule);
                if (d.noteOff) sink.message(date, ShortMessage::noteOff(d.noteOff->channel, d.noteOff->key, 0));
                if (d.noteOn) {
                    sink.message(date, ShortMessage::noteOn(d.noteOn->channel, d.noteOn->key, d.noteOn->velocity));
                    ++notes;
                }
            }
        }
    }
    for (int v = 0; v < kVoices; ++v) {
        const size_t i = static_cast<size_t>(v);
        if (!used[i] || events.empty()) continue;
        const int32_t channel = cursor[i].lastKey ? cursor[i].keyChannel : events.back().voices[i].channel;
        for (int key = 0; key < 128; ++key) sink.message(date, ShortMessage::noteOff(channel, key, 0));
    }
    sink.end(date);
    return notes;
}

// A voice as the Randomizer draws it (modulation "Every" only: "Random" draws from a
// generator of its own in every run, and the two exports must write the same bytes).
VoiceSettings randomVoice(std::mt19937& rng, int v, bool allAlgorithms, int algorithm) {
    auto U = [&rng] { return std::uniform_real_distribution<float>(0.0f, 1.0f)(rng); };
    auto pick = [&rng](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    VoiceSettings s = VoiceSettings::defaults(v);
    s.enabled = U() >= 0.5f ? 1 : 0;
    s.setAlgorithm(static_cast<Algorithm>(allAlgorithms ? algorithm : pick(kAlgorithms)));
    testing::drawCoefficients(rng, s);
    s.modulate = U() > 0.5f ? 1 : 0;
    s.modulateMode = 0;
    s.modulateEvery = 1 + pick(49);
    s.setOctaves(pick(4));
    s.startNote = pick(97);
    s.setInversion(U() >= 0.5f, U() >= 0.5f);
    s.setScaleIndex(pick(15));
    s.setNoteValue(pick(11), 0.0f);
    s.instrument = pick(128);
    s.tied = U() >= 0.5f ? 1 : 0;
    s.setDynamic(pick(6));
    s.pan = std::array<int32_t, 3>{-64, 0, 63}[static_cast<size_t>(pick(3))];
    return s;
}

// (a) what the Randomizer makes: random Start counters and lengths, random voices.
std::vector<Settings> randomizerComposition(std::mt19937& rng) {
    std::vector<Settings> events;
    for (int i = 0; i < kMaxEvents; ++i) {
        Settings e = Settings::defaults();
        e.global.startCounter = std::uniform_int_distribution<int>(0, 49000)(rng);
        e.global.endCounter = e.global.startCounter + std::uniform_int_distribution<int>(50, 199)(rng);
        e.global.tempo = std::uniform_int_distribution<int>(20, 339)(rng);
        for (int v = 0; v < kVoices; ++v) e.voices[static_cast<size_t>(v)] = randomVoice(rng, v, false, 0);
        events.push_back(e);
    }
    return events;
}

// (b) dense: 2000 ticks from Start 0 in every event, all 16 voices on at 32nd notes
// ("All Notes", so every step is struck), two voices per algorithm.
std::vector<Settings> denseComposition(std::mt19937& rng) {
    std::vector<Settings> events;
    for (int i = 0; i < kMaxEvents; ++i) {
        Settings e = Settings::defaults();
        e.global.startCounter = 0;
        e.global.endCounter = 2000;
        for (int v = 0; v < kVoices; ++v) {
            VoiceSettings s = randomVoice(rng, v, true, v % kAlgorithms);
            s.enabled = 1;
            s.tied = 0;
            s.setNoteValue(5, 0.0f);  // a 32nd note: one tick
            e.voices[static_cast<size_t>(v)] = s;
        }
        events.push_back(e);
    }
    return events;
}

struct Timing {
    double seconds = 1e300;
    int64_t notes = 0;
    uint64_t bytes = 0;
};

// The processor time of this thread: on a shared machine it counts only the work done,
// not the time other processes held the processor.
double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// The best of `repeat` runs into a byte counter (as into /dev/null).
Timing timeBest(int repeat, const std::function<int64_t(ByteOutput&)>& run) {
    Timing best;
    for (int r = 0; r < repeat; ++r) {
        CountingOutput out;
        const double t0 = cpuSeconds();
        const int64_t notes = run(out);
        const double t1 = cpuSeconds();
        best.seconds = std::min(best.seconds, t1 - t0);
        best.notes = notes;
        best.bytes = out.size();
    }
    return best;
}

uint64_t digestOf(const std::function<int64_t(ByteOutput&)>& run) {
    HashingOutput out;
    run(out);
    return out.digest();
}

bool compare(const char* name, const std::vector<Settings>& events, int repeat, double target, bool targetIsRatio) {
    CTarrowinDoc doc;
    doc.OnNewDocument();
    for (const Settings& e : events) doc.mutableComposition().append(e);

    const auto exportRun = [&](ByteOutput& out) -> int64_t {
        const ExportResult r = writeMidi(doc, ExportOptions{ExportMode::Composition, kDefaultPercussionChannel, {}, {}}, out);
        return r.ok ? r.notes : -1;
    };
    const auto referenceRun = [&](ByteOutput& out) -> int64_t {
        MidiFileWriter writer(out);
        MidiFileSink sink(writer);
        const int64_t notes = referenceExport(events, kDefaultPercussionChannel, sink);
        writer.finish();
        return notes;
    };
    const Timing ours = timeBest(repeat, exportRun);
    const Timing reference = timeBest(repeat, referenceRun);
    const double ratio = reference.seconds / ours.seconds;
    const double notesPerSecond = static_cast<double>(ours.notes) / ours.seconds;
    std::printf("%s\n", name);
    std::printf("  export     %9.3f s  %12lld notes  %8.2f million notes/s  %10llu bytes\n", ours.seconds,
                static_cast<long long>(ours.notes), notesPerSecond / 1e6, static_cast<unsigned long long>(ours.bytes));
    std::printf("  reference  %9.3f s  %12lld notes  %8.2f million notes/s\n", reference.seconds,
                static_cast<long long>(reference.notes), static_cast<double>(reference.notes) / reference.seconds / 1e6);
    const bool same = ours.bytes == reference.bytes && digestOf(exportRun) == digestOf(referenceRun);
    std::printf("  ratio      %9.2f x faster; files %s\n", ratio, same ? "identical" : "DIFFER");
    const bool met = targetIsRatio ? ratio >= target : notesPerSecond >= target;
    if (targetIsRatio) {
        std::printf("  target     at least %.0f x: %s\n", target, met ? "met" : "NOT MET");
    } else {
        std::printf("  target     at least %.0f million notes/s: %s\n", target / 1e6, met ? "met" : "NOT MET");
    }
    return same && met;
}

}  // namespace
}  // namespace tarrowin

int main(int argc, char** argv) {
    int repeat = 3;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--repeat") == 0) repeat = std::max(1, std::atoi(argv[i + 1]));
    }
    std::mt19937 rng(20240611);
    const auto a = tarrowin::randomizerComposition(rng);
    const auto b = tarrowin::denseComposition(rng);
    bool ok = tarrowin::compare("(a) Randomizer-like: 1000 events, Start 0..49000, 50..199 ticks, random voices", a,
                                repeat, 5.0, true);
    ok &= tarrowin::compare("(b) dense: 1000 events x 2000 ticks, 16 voices at 32nd notes, all algorithms", b, repeat,
                            20e6, false);
    return ok ? 0 : 1;
}
