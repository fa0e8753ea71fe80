// What a JACK client receives from a play: on JACK dummy servers of the bench's own at
// periods 64, 256, 1024 and 2048 (real-time where permitted), `tarrowin-cli play` of one
// voice striking every tick at tempo 340 (22 ms ticks) to a client of the bench, which
// notes the frame of every message. Prints the p99 spread of the note-on intervals around
// the tick length, the spread of MIDI clock out around a third of it, and the CPU the play
// with clock out takes. Targets: spreads < 1 ms, CPU < 5 % of a core.
//
//   jack_timing_bench [--ticks N] [--cli PATH]   (PATH: another tarrowin-cli to measure)

#include <jack/jack.h>
#include <jack/midiport.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "document/document.h"
#include "document/document_file.h"
#include "playback/audio_system.h"
#include "playback/jack_test_client.h"

extern char** environ;

namespace {

constexpr int kTempo = 340;
constexpr double kRate = 48000;

pid_t spawn(const std::vector<std::string>& args, bool quiet) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    if (quiet) {
        posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    }
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &files, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&files);
    return pid;
}

// A client that notes the frame of every message its port receives, from its process
// callback into room made beforehand.
class Receiver {
   public:
    struct Message {
        uint64_t frame;
        uint8_t status;
        uint8_t velocity;
    };

    Receiver() : messages_(200000), client_(tarrowin::testing::openTestClient("bench-receiver", 200)) {
        if (!client_) return;  // the server may still be starting: asked for 10 s
        port_ = jack_port_register(client_.get(), "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(client_.get(), &Receiver::process, this);
        jack_activate(client_.get());
    }
    bool ok() const { return client_ != nullptr; }
    std::vector<Message> take() {
        const size_t n = count_.load(std::memory_order_acquire);
        std::vector<Message> out(messages_.begin(), messages_.begin() + static_cast<long>(n));
        count_.store(0, std::memory_order_release);
        return out;
    }

   private:
    static int process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<Receiver*>(arg);
        void* buffer = jack_port_get_buffer(self->port_, frames);
        // The frame clock of the cycle, not a count of cycles seen: a cycle this client
        // misses does not shift what follows.
        const jack_nframes_t first = jack_last_frame_time(self->client_.get());
        size_t n = self->count_.load(std::memory_order_relaxed);
        for (uint32_t i = 0; i < jack_midi_get_event_count(buffer) && n < self->messages_.size(); ++i) {
            jack_midi_event_t e;
            if (jack_midi_event_get(&e, buffer, i) != 0 || e.size == 0) continue;
            self->messages_[n++] = {uint64_t{first} + e.time, e.buffer[0], e.size > 2 ? e.buffer[2] : uint8_t{0}};
        }
        self->count_.store(n, std::memory_order_release);
        return 0;
    }

    std::vector<Message> messages_;
    std::atomic<size_t> count_{0};
    jack_port_t* port_ = nullptr;
    tarrowin::testing::JackClient client_;
};

// The p99 of how far successive frames lie from `spacingMs` apart.
double p99Spread(const std::vector<uint64_t>& frames, double spacingMs) {
    std::vector<double> off;
    for (size_t i = 1; i < frames.size(); ++i) {
        off.push_back(std::abs(double(frames[i] - frames[i - 1]) / kRate * 1000 - spacingMs));
    }
    if (off.empty()) return -1;
    std::sort(off.begin(), off.end());
    return off[std::min(off.size() - 1, off.size() * 99 / 100)];
}

struct Play {
    double noteSpread = -1;
    double clockSpread = -1;
    double cpuPercent = -1;
    size_t notes = 0;
};

Play measure(const std::string& cli, const std::string& song, bool clock) {
    Receiver receiver;
    Play result;
    if (!receiver.ok()) return result;
    std::vector<std::string> args = {cli, "play", song, "--lock", "--device", "JACK: bench-receiver:in"};
    if (clock) args.push_back("--midi-clock");
    rusage before{};
    getrusage(RUSAGE_CHILDREN, &before);
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = spawn(args, true);
    int status = 0;
    if (pid > 0) waitpid(pid, &status, 0);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    rusage after{};
    getrusage(RUSAGE_CHILDREN, &after);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    const double cpu = seconds(after.ru_utime) - seconds(before.ru_utime) + seconds(after.ru_stime) - seconds(before.ru_stime);
    result.cpuPercent = 100 * cpu / wall;

    std::vector<uint64_t> notes;
    std::vector<uint64_t> clocks;
    for (const auto& m : receiver.take()) {
        if (m.status == 0x90 && m.velocity > 0) notes.push_back(m.frame);
        if (m.status == 0xF8) clocks.push_back(m.frame);
    }
    const double tickMs = 60000 / (kTempo * 8);
    result.notes = notes.size();
    result.noteSpread = p99Spread(notes, tickMs);
    if (clock) result.clockSpread = p99Spread(clocks, tickMs / 3);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    int ticks = 400;
    std::string self = argv[0];
    std::string cli = self.substr(0, self.rfind('/') + 1) + "tarrowin-cli";
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--ticks") == 0) ticks = std::max(20, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--cli") == 0) cli = argv[++i];
    }
    char folder[] = "/tmp/tarrowin-jack-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) return 1;
    const std::string song = std::string(folder) + "/every-tick.trw";
    {
        tarrowin::CTarrowinDoc doc;
        doc.OnNewDocument();
        doc.setTempo(kTempo);
        doc.setStartCounter(0);
        doc.setEndCounter(ticks);
        doc.editVoice(0, [](tarrowin::VoiceSettings& v) { v.tied = 0; });  // "All Notes"
        doc.setNoteValue(0, 5, 1.0f);                                      // every tick
        tarrowin::saveDocumentFile(song, doc);
    }
    setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
    // The receiver asks for each new server until it answers: not a word from libjack meanwhile.
    tarrowin::quietAudioLibraries();
    const bool realtime = std::system("chrt -f 10 true >/dev/null 2>&1") == 0;

    std::printf("One voice every tick at tempo %d (%.0f ms ticks), %d ticks; %s; JACK %s\n", kTempo,
                60000.0 / (kTempo * 8), ticks, cli.c_str(), realtime ? "real-time" : "without real-time scheduling");
    std::printf("%8s %22s %22s %14s\n", "period", "note-on spread p99", "clock spread p99", "CPU, clock out");
    bool met = true;
    for (const int period : {64, 256, 1024, 2048}) {
        const std::string server = "tarrowin-bench-" + std::to_string(getpid()) + "-" + std::to_string(period);
        setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
        const pid_t jackd = spawn({"jackd", "-n", server, realtime ? "-R" : "-r", "-d", "dummy", "-r", "48000", "-p",
                                   std::to_string(period)},
                                  true);
        const Play notes = measure(cli, song, false);
        const Play clocked = measure(cli, song, true);
        kill(jackd, SIGTERM);
        waitpid(jackd, nullptr, 0);
        std::printf("%8d %19.3f ms %19.3f ms %12.2f %%   (%zu notes)\n", period, notes.noteSpread, clocked.clockSpread,
                    clocked.cpuPercent, notes.notes);
        met = met && notes.noteSpread >= 0 && notes.noteSpread < 1 && clocked.clockSpread >= 0 &&
              clocked.clockSpread < 1 && clocked.cpuPercent < 5;
    }
    std::string remove = std::string("rm -rf ") + folder;
    (void)std::system(remove.c_str());
    std::printf("targets (spreads < 1 ms, CPU < 5 %%): %s\n", met ? "met" : "NOT met");
    return met ? 0 : 1;
}
