// The live worker's timing on the real clock: at tempo 340 (22 ms ticks) it plays 1000
// ticks into a recording device, and the times of its sends are compared with the ticks'
// ideal times. The same stream then plays with a plain sleep of one tick length after each
// tick, in the same run, for comparison.
//
//   playback_timing_bench [--ticks N]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "engine/performance.h"
#include "bench_settings.h"
#include "playback/clock.h"
#include "playback/midi_output.h"
#include "playback/player.h"
#include "playback/recording_backend.h"

using namespace tarrowin;
using Ms = std::chrono::duration<double, std::milli>;

namespace {

using bench::kTempo;

Settings benchSettings(int ticks) { return bench::denseSettings(0, ticks); }

// The ideal time of every message of the stream, from the start of the run.
std::vector<double> idealTimes(const Settings& s) {
    struct Ideal final : PerformanceSink, PerformanceControl {
        std::vector<double> times;
        double ms = 0;
        int32_t end = 0;
        void message(int64_t, const ShortMessage&) override { times.push_back(ms); }
        void tickDone(int64_t, int32_t len) override { ms += len; }
        int32_t endCounter() override { return end; }
    } ideal;
    ideal.end = s.global.endCounter;
    performCurrent(PerformanceMode::Live, s, ideal, ideal);
    return ideal.times;
}

struct Figures {
    double driftAtLastTick = 0;
    double p50 = 0;
    double p99 = 0;
    double max = 0;
    size_t sends = 0;
};

// Lateness of each send against its ideal time, both counted from the first send.
Figures measure(const std::vector<RecordingBackend::Record>& records, const std::vector<double>& ideal, int ticks) {
    Figures f;
    if (records.size() != ideal.size() || records.empty()) {
        std::fprintf(stderr, "the device got %zu messages, the stream has %zu\n", records.size(), ideal.size());
        std::exit(1);
    }
    std::vector<double> late;
    const double lastTick = (ticks - 1) * static_cast<double>(tickLengthMs(kTempo));
    bool driftTaken = false;
    for (size_t i = 0; i < records.size(); ++i) {
        const double actual = Ms(records[i].time - records.front().time).count();
        const double lateness = actual - ideal[i];
        late.push_back(lateness);
        if (!driftTaken && ideal[i] == lastTick) {
            f.driftAtLastTick = lateness;
            driftTaken = true;
        }
    }
    std::sort(late.begin(), late.end());
    f.p50 = late[late.size() / 2];
    f.p99 = late[std::min(late.size() - 1, late.size() * 99 / 100)];
    f.max = late.back();
    f.sends = late.size();
    return f;
}

// The way the program used to wait: a sleep of one tick length after each tick's work.
class SleepPerTick final : public PerformanceSink, public PerformanceControl {
   public:
    SleepPerTick(RecordingBackend& device, int32_t end) : device_(device), end_(end) {}
    void message(int64_t, const ShortMessage& m) override { device_.send(m); }
    void tickDone(int64_t, int32_t len) override { std::this_thread::sleep_for(std::chrono::milliseconds(len)); }
    int32_t endCounter() override { return end_; }

   private:
    RecordingBackend& device_;
    int32_t end_;
};

void print(const char* name, const Figures& f) {
    std::printf("%-22s %12.3f ms %12.3f ms %12.3f ms %12.3f ms %8zu\n", name, f.driftAtLastTick, f.p50, f.p99, f.max,
                f.sends);
}

}  // namespace

int main(int argc, char** argv) {
    int ticks = 1000;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--ticks") == 0 && i + 1 < argc) ticks = std::max(2, std::atoi(argv[++i]));
    }
    const Settings s = benchSettings(ticks);
    const std::vector<double> ideal = idealTimes(s);
    SteadyClock& clock = SteadyClock::instance();

    // The live worker, through MidiOutput and the Player, as the program plays.
    auto device = std::make_unique<RecordingBackend>(clock, std::vector<std::string>{"Recorder"}, true);
    RecordingBackend* recorder = device.get();
    std::vector<std::unique_ptr<MidiBackend>> backends;
    backends.push_back(std::move(device));
    MidiOutput output(std::move(backends));
    output.countDevices();
    Figures deadlines;
    {
        Player player(output, clock);
        PlayRequest request;
        request.current = s;
        request.lock = true;
        if (!player.play(request).started()) return 1;
        player.waitForWorker();
        deadlines = measure(recorder->records(), ideal, ticks);
    }

    // The same stream with a sleep per tick, on a thread that asks for the same priority.
    RecordingBackend plain(clock);
    plain.open("Recorder", {});
    bool realtime = false;
    std::thread loop([&] {
        realtime = requestRealtimeScheduling();
        SleepPerTick run(plain, s.global.endCounter);
        performCurrent(PerformanceMode::Live, s, run, run);
    });
    loop.join();
    const Figures sleeping = measure(plain.records(), ideal, ticks);

    std::printf("Live worker at tempo %d (%d ms ticks), %d ticks, 16 voices; real-time scheduling %s\n", kTempo,
                tickLengthMs(kTempo), ticks, realtime ? "granted" : "not permitted (normal scheduling)");
    std::printf("%-22s %15s %15s %15s %15s %8s\n", "", "drift last tick", "p50 lateness", "p99 lateness", "max", "sends");
    print("absolute deadlines", deadlines);
    print("sleep per tick", sleeping);
    std::printf("target drift < 1 ms and p99 < 1 ms: %s\n",
                deadlines.driftAtLastTick < 1.0 && deadlines.p99 < 1.0 ? "met" : "NOT met");
    return 0;
}
