// Edits while the current settings play, on the real clock at tempo 340 (22 ms ticks):
//  - how long an edit takes to reach the device: 200 edits of voice 1's Param1 and program
//    at random moments of a play from counter 20000 (each brings the voice's generator there
//    again), timed from the publishing to the arrival of the new program (target: the next
//    tick, so at most one tick length and the 1 ms a send may be late);
//  - the lateness of every send (arrival against its tick's time) over 1000 ticks while
//    another thread publishes 10,000 edits a second (a controller's fader on voice 2's
//    Param1), beside the same play without them (target: p99 under 1 ms, the timing
//    bench's own).
//
//   playback_live_edit_bench [--ticks N]

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "bench_settings.h"
#include "playback/clock.h"
#include "playback/midi_output.h"
#include "playback/player.h"
#include "playback/recording_backend.h"

using namespace tarrowin;
using Ms = std::chrono::duration<double, std::milli>;

namespace {

using bench::kTempo;

struct Rig {
    SteadyClock& clock = SteadyClock::instance();
    RecordingBackend* device = nullptr;
    std::unique_ptr<MidiOutput> output;
    Rig() {
        auto d = std::make_unique<RecordingBackend>(clock, std::vector<std::string>{"Recorder"}, true);
        device = d.get();
        std::vector<std::unique_ptr<MidiBackend>> backends;
        backends.push_back(std::move(d));
        output = std::make_unique<MidiOutput>(std::move(backends));
        output->countDevices();
    }
};

double percentile(std::vector<double> v, int p) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, v.size() * static_cast<size_t>(p) / 100)];
}

// From each publishing to the arrival of the program it carries.
std::vector<double> reachTimes() {
    Rig rig;
    Player player(*rig.output, rig.clock);
    PlayRequest request;
    request.current = bench::denseSettings(20000, 0);
    if (!player.play(request).started()) std::exit(1);
    std::mt19937 rng(7);
    std::vector<double> reach;
    Settings edited = request.current;
    for (int i = 0; i < 200; ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(5000, 30000)(rng)));
        edited.voices[0].instrument = 1 + i % 120;
        edited.voices[0].param1 = 3 + i;
        const Clock::Duration sent = rig.clock.now();
        player.publishSettings(edited);
        const ShortMessage program = ShortMessage::programChange(0, edited.voices[0].instrument);
        for (;;) {
            const auto records = rig.device->records();
            const auto it = std::find_if(records.rbegin(), records.rend(),
                                         [&](const RecordingBackend::Record& r) { return r.message == program && r.time >= sent; });
            if (it != records.rend()) {
                reach.push_back(Ms(it->time - sent).count());
                break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
    player.stop();
    player.waitForWorker();
    return reach;
}

// The lateness of every send of a locked play, with or without a storm of edits.
std::vector<double> lateness(int ticks, bool storm, int64_t& published) {
    Rig rig;
    Player player(*rig.output, rig.clock);
    PlayRequest request;
    request.current = bench::denseSettings(20000, ticks);
    request.lock = true;
    std::atomic<bool> done{false};
    published = 0;
    if (!player.play(request).started()) std::exit(1);
    std::thread fader;
    if (storm) {
        fader = std::thread([&] {
            Settings edited = request.current;
            auto next = std::chrono::steady_clock::now();
            for (int i = 0; !done.load(); ++i) {
                edited.voices[1].param1 = 2 + i % 1000;
                player.publishSettings(edited);
                ++published;
                next += std::chrono::microseconds(100);  // 10,000 a second
                std::this_thread::sleep_until(next);
            }
        });
    }
    player.waitForWorker();
    done.store(true);
    if (fader.joinable()) fader.join();
    std::vector<double> late;
    for (const auto& r : rig.device->records()) late.push_back(Ms(r.time - r.stamp).count());
    return late;
}

}  // namespace

int main(int argc, char** argv) {
    int ticks = 1000;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--ticks") == 0 && i + 1 < argc) ticks = std::max(2, std::atoi(argv[++i]));
    }
    const double tick = tickLengthMs(kTempo);
    const std::vector<double> reach = reachTimes();
    int64_t none = 0, published = 0;
    const std::vector<double> quiet = lateness(ticks, false, none);
    const std::vector<double> stormy = lateness(ticks, true, published);

    std::printf("Edits while playing at tempo %d (%.0f ms ticks), from counter 20000\n", kTempo, tick);
    std::printf("an edit reaching the device (%zu edits): p50 %.3f ms, p99 %.3f ms, max %.3f ms\n", reach.size(),
                percentile(reach, 50), percentile(reach, 99), *std::max_element(reach.begin(), reach.end()));
    std::printf("lateness of %zu sends without edits:   p50 %.3f ms, p99 %.3f ms\n", quiet.size(), percentile(quiet, 50),
                percentile(quiet, 99));
    std::printf("lateness of %zu sends, %lld edits (%.0f a second): p50 %.3f ms, p99 %.3f ms\n", stormy.size(),
                static_cast<long long>(published), published / (ticks * tick / 1000), percentile(stormy, 50),
                percentile(stormy, 99));
    const bool met = *std::max_element(reach.begin(), reach.end()) <= tick + 1.0 && percentile(stormy, 99) < 1.0;
    std::printf("target: every edit at the next tick (within %.0f ms + 1 ms), p99 lateness under the storm < 1 ms: %s\n",
                tick, met ? "met" : "NOT met");
    return met ? 0 : 1;
}
