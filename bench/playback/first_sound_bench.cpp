// Play to first sound on the built-in synthesizer through a PulseAudio server: the bench
// records the default sink's monitor itself, then plays a one-voice passage (Lock on) on
// "Midi Mapper" several times, as the window's Play does, and times from the moment Play is
// asked for until the sound arrives at the sink. It also prints how long Play itself took
// (Play to the playing state). Run it where a sound server plays (the PulseAudio test stage
// gives it a null sink); the first play, which may wait for the stream, is not counted.
//
//   playback_first_sound_bench [--plays N] [--limit-ms MS] [--monitor SOURCE]
//
// The target is 80 ms for the median; the exit code is non-zero when the median passes
// --limit-ms (default: the target), so that a test stage can give a loaded machine more room.

#include <pulse/error.h>
#include <pulse/simple.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "playback/midi_output.h"
#include "playback/player.h"
#include "playback/system_backends.h"

using namespace tarrowin;
using Clock_ = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

namespace {

constexpr double kTargetMs = 80;
constexpr int kRate = 44100;
// Reads of 128 frames (3 ms): the time of a sound is known to about that.
constexpr int kChunkFrames = 128;
// A sample above this (-40 dBFS) is sound.
constexpr float kThreshold = 0.01f;

int64_t nanos(Clock_::time_point t) { return t.time_since_epoch().count(); }

// Records a source and notes when sound arrives: the time of the first loud sample after
// the moment it is armed, and the time of the last loud sample. A sample's time is the
// stream's own: frame n sounds at origin + n / rate, the origin being the earliest that any
// read, less the frames before its last one, returned. The sink hands its monitor each block
// as it mixes it, at most one block (a few ms with these short reads) before it would leave
// a real device, so the times are early by at most that.
class Recorder {
   public:
    explicit Recorder(const std::string& source) {
        pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, kRate, 2};
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.fragsize = kChunkFrames * 2 * sizeof(float);
        int err = 0;
        stream_ = pa_simple_new(nullptr, "tarrowin-first-sound-bench", PA_STREAM_RECORD, source.c_str(),
                                "first sound", &spec, nullptr, &attr, &err);
        if (stream_ == nullptr) {
            std::fprintf(stderr, "cannot record %s: %s\n", source.c_str(), pa_strerror(err));
            std::exit(2);
        }
        thread_ = std::thread([this] { run(); });
    }
    ~Recorder() {
        stop_.store(true);
        thread_.join();
        pa_simple_free(stream_);
    }

    void arm(Clock_::time_point at) {
        heard_.store(0);
        armed_.store(nanos(at));
    }
    int64_t heard() const { return heard_.load(); }
    Clock_::duration sinceLastSound() const {
        return Clock_::now().time_since_epoch() - Clock_::duration(lastLoud_.load());
    }

   private:
    void run() {
        std::vector<float> chunk(kChunkFrames * 2);
        int64_t frames = 0;
        int64_t origin = std::numeric_limits<int64_t>::max();
        const auto frameNanos = [](int64_t n) { return static_cast<int64_t>(n * 1e9 / kRate); };
        while (!stop_.load()) {
            int err = 0;
            if (pa_simple_read(stream_, chunk.data(), chunk.size() * sizeof(float), &err) < 0) {
                std::fprintf(stderr, "recording failed: %s\n", pa_strerror(err));
                std::exit(2);
            }
            frames += kChunkFrames;
            origin = std::min(origin, nanos(Clock_::now()) - frameNanos(frames - 1));
            for (int i = 0; i < kChunkFrames; ++i) {
                if (std::fabs(chunk[2 * i]) < kThreshold && std::fabs(chunk[2 * i + 1]) < kThreshold) continue;
                const int64_t at = origin + frameNanos(frames - kChunkFrames + i);
                lastLoud_.store(at);
                if (heard_.load() == 0 && at >= armed_.load()) heard_.store(at);
            }
        }
    }

    pa_simple* stream_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int64_t> armed_{std::numeric_limits<int64_t>::max()};
    std::atomic<int64_t> heard_{0};
    std::atomic<int64_t> lastLoud_{0};
};

struct Done final : PlaybackListener {
    std::atomic<bool> finished{false};
    void playbackFinished(const PlaybackFinish&) override { finished.store(true); }
};

// One piano voice, loud, from Start 0 to End 4 at tempo 240.
PlayRequest passage() {
    PlayRequest r;
    r.mode = PerformanceMode::Live;
    r.current = Settings::defaults();
    r.current.global.startCounter = 0;
    r.current.global.endCounter = 4;
    r.current.global.tempo = 240;
    r.current.voices[0].tied = 0;
    r.current.voices[0].velocity = 127;
    r.lock = true;
    return r;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int plays = 10;
    double limitMs = kTargetMs;
    std::string monitor = "@DEFAULT_MONITOR@";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--plays") == 0) plays = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--limit-ms") == 0) limitMs = std::atof(argv[i + 1]);
        else if (std::strcmp(argv[i], "--monitor") == 0) monitor = argv[i + 1];
    }

    Recorder recorder(monitor);
    std::this_thread::sleep_for(std::chrono::seconds(1));  // the recording's clock settles
    MidiOutput output(systemBackends());
    output.countDevices();
    output.chooseDevice(MidiOutput::kMidiMapper);
    output.prepare();  // as the window does once the device is chosen
    Done done;
    Player player(output);
    player.setListener(&done);

    std::vector<double> toSound, toPlaying;
    for (int i = 0; i <= plays; ++i) {
        // Quiet first: the last play's release does not count as this one's sound.
        while (recorder.sinceLastSound() < std::chrono::milliseconds(300)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        done.finished.store(false);
        const Clock_::time_point asked = Clock_::now();
        recorder.arm(asked);
        const PlayResult r = player.play(passage());
        const Clock_::time_point playing = Clock_::now();
        if (!r.started()) {
            std::fprintf(stderr, "Play failed: %s\n", r.message.c_str());
            return 2;
        }
        while (recorder.heard() == 0 && Clock_::now() - asked < std::chrono::seconds(3)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        while (!done.finished.load() || !player.canPlay()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (recorder.heard() == 0) {
            std::fprintf(stderr, "play %d: no sound arrived at the sink\n", i);
            return 2;
        }
        if (i == 0) continue;  // it may still wait for the SoundFont and the stream
        toSound.push_back((recorder.heard() - nanos(asked)) / 1e6);
        toPlaying.push_back(Ms(playing - asked).count());
        std::printf("  play %d: %.1f ms to the playing state, %.1f ms to sound\n", i, toPlaying.back(), toSound.back());
    }
    player.waitForWorker();

    const double sound = median(toSound);
    std::printf("Play to the playing state: median %.1f ms, max %.1f ms\n", median(toPlaying),
                *std::max_element(toPlaying.begin(), toPlaying.end()));
    std::printf("Play to first sound at the sink: median %.1f ms, min %.1f ms, max %.1f ms over %d plays "
                "(target %.0f ms)\n",
                sound, *std::min_element(toSound.begin(), toSound.end()),
                *std::max_element(toSound.begin(), toSound.end()), plays, kTargetMs);
    if (sound > limitMs) {
        std::printf("the median passes the limit of %.0f ms\n", limitMs);
        return 1;
    }
    return 0;
}
