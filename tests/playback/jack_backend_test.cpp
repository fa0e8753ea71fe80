// The JACK backend without a server, and with one (the JACK end-to-end stage runs these
// under its own server, the machine kept busy): a client of the test's own receives what
// the backend sends, and must have all of it as soon as close returns.

#include "playback/jack_backend.h"

#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "jack_test_server.h"
#include "playback/audio_system.h"
#include "playback/jack_client.h"
#include "playback/jack_sync.h"
#include "playback/player.h"
#include "playback/spsc_queue.h"

namespace tarrowin {
namespace {

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
   public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_) setenv(name_, old_->c_str(), 1);
        else unsetenv(name_);
    }

   private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(JackBackend, WithoutAServerListsNothingAndOpensWithAMessage) {
    const ScopedEnv server("JACK_DEFAULT_SERVER", "tarrowin-absent-" + std::to_string(getpid()));
    const ScopedEnv noStart("JACK_NO_START_SERVER", "1");
    ASSERT_FALSE(jackServerRunning());
    JackBackend jack;
    EXPECT_TRUE(jack.listPorts().empty());
    for (const std::string& name : {JackBackend::virtualPortListing(), std::string("JACK: synth:midi_in")}) {
        const OpenResult r = jack.open(name, {});
        EXPECT_EQ(r.status, OpenStatus::Failed);
        EXPECT_NE(r.message.find("No JACK server is running"), std::string::npos) << r.message;
    }
    jack.send(ShortMessage::noteOn(0, 60, 100));  // nothing open: ignored
    jack.close();
}

// The socket a jackd of the given name listens on: one that takes connections and never
// answers (a stopped or swamped server), or one nobody listens on (a killed server's).
class FakeServerSocket {
   public:
    FakeServerSocket(const std::string& server, bool listening)
        : path_("/dev/shm/jack_" + server + "_" + std::to_string(getuid()) + "_0") {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path_.c_str(), sizeof addr.sun_path - 1);
        ::unlink(path_.c_str());
        bound_ = ::bind(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
        if (listening) {
            ::listen(fd_, 8);
        } else {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~FakeServerSocket() {
        if (fd_ >= 0) ::close(fd_);  // a client still waiting on it gets its answer: none
        ::unlink(path_.c_str());
    }
    bool bound() const { return bound_; }

   private:
    std::string path_;
    int fd_ = -1;
    bool bound_ = false;
};

double secondsOf(const std::function<void()>& work) {
    const auto t0 = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Neither kind of broken server may hold the caller: the device list (the window's start)
// gives up within its limit, and an open says why it failed within its own.
TEST(JackBackend, AServerThatDoesNotAnswerOrWasKilledNeverHoldsTheCaller) {
    const std::string name = "tarrowin-broken-" + std::to_string(getpid());
    const ScopedEnv server("JACK_DEFAULT_SERVER", name);
    {
        const FakeServerSocket killed(name, false);
        ASSERT_TRUE(killed.bound());
        EXPECT_TRUE(jackServerSocketIsStale());
        JackBackend jack;
        std::vector<std::string> ports{"not listed yet"};
        EXPECT_LT(secondsOf([&] { ports = jack.listPorts(); }), 0.2);
        EXPECT_TRUE(ports.empty());
    }
    const FakeServerSocket silent(name, true);
    ASSERT_TRUE(silent.bound());
    EXPECT_FALSE(jackServerSocketIsStale());
    JackBackend jack;
    std::vector<std::string> ports;
    const double listing = secondsOf([&] { ports = jack.listPorts(); });
    EXPECT_LT(listing, 2.0) << "the list waited for the server";
    EXPECT_EQ(ports, std::vector<std::string>{JackBackend::virtualPortListing()});
    OpenResult opened;
    EXPECT_LT(secondsOf([&] { opened = jack.open(JackBackend::virtualPortListing(), {}); }),
              std::chrono::duration<double>(kJackOpenLimit).count() + 1);
    EXPECT_EQ(opened.message, kJackNotAnswering);
}

// A JACK client that keeps every message its input port receives, in order.
class Receiver {
   public:
    // `clockBpm` > 0: an output port too, that sends a MIDI clock at that many quarter
    // notes a minute while `clocking` is set (Start before the first clock, Stop when it
    // is cleared).
    explicit Receiver(double clockBpm = 0) : client_(testing::openTestClient("tarrowin-test-receiver")) {
        if (!client_) return;
        port_ = jack_port_register(client_.get(), "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        if (clockBpm > 0) {
            clockPort_ = jack_port_register(client_.get(), "clock", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
            framesPerClock_ = jack_get_sample_rate(client_.get()) * 60.0 / (clockBpm * 24);
        }
        jack_set_process_callback(client_.get(), &Receiver::process, this);
        jack_activate(client_.get());
    }

    std::string listing() const { return std::string("JACK: ") + jack_port_name(port_); }
    jack_client_t* client() const { return client_.get(); }
    std::string clockOut() const { return jack_port_name(clockPort_); }
    std::atomic<bool> clocking{false};
    // Connects `source` to our port and waits until the server's graph has it: a cycle
    // that began after the connection has run.
    bool connectFrom(const std::string& source) {
        if (jack_connect(client_.get(), source.c_str(), jack_port_name(port_)) != 0) return false;
        const int cycle = cycles_.load();
        while (cycles_.load() < cycle + 2) usleep(1000);
        return true;
    }
    bool portExists(const std::string& name) const { return jack_port_by_name(client_.get(), name.c_str()) != nullptr; }

    // What arrived since the last call.
    std::vector<ShortMessage> take() {
        std::vector<ShortMessage> out;
        for (const ShortMessage* m = queue_.front(); m != nullptr; m = queue_.front()) {
            out.push_back(*m);
            queue_.pop();
        }
        return out;
    }
    // The process cycles in which messages arrived.
    int busyCycles() const { return busyCycles_.load(); }

   private:
    static int process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<Receiver*>(arg);
        if (self->clockPort_ != nullptr) self->sendClock(frames);
        void* buffer = jack_port_get_buffer(self->port_, frames);
        const uint32_t count = jack_midi_get_event_count(buffer);
        for (uint32_t i = 0; i < count; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, buffer, i) == 0) self->queue_.push(messageOf(event));
        }
        if (count > 0) self->busyCycles_.fetch_add(1);
        self->cycles_.fetch_add(1);
        return 0;
    }

    // The sending client wrote the event into its port's buffer, and JACK's graph handed
    // it over to ours: an order that ThreadSanitizer does not see, since libjack is not
    // built with it, so these reads are left out of its checks.
    __attribute__((no_sanitize("thread"))) static ShortMessage messageOf(const jack_midi_event_t& event) {
        std::array<unsigned char, 3> m{};
        for (size_t b = 0; b < event.size && b < m.size(); ++b) m[b] = event.buffer[b];
        return {m[0], m[1], m[2]};
    }

    void sendClock(jack_nframes_t frames) {
        void* out = jack_port_get_buffer(clockPort_, frames);
        jack_midi_clear_buffer(out);
        const bool on = clocking.load();
        if (on != running_) {
            writeByte(out, 0, on ? 0xFA : 0xFC);
            running_ = on;
            nextClock_ = 0;
        }
        if (!on) return;
        for (; nextClock_ < frames; nextClock_ += framesPerClock_) writeByte(out, static_cast<jack_nframes_t>(nextClock_), 0xF8);
        nextClock_ -= frames;
    }
    // The program's client reads these bytes once JACK's graph has handed them over, an
    // order ThreadSanitizer does not see (as in messageOf): written outside its checks.
    __attribute__((no_sanitize("thread"))) static void writeByte(void* buffer, jack_nframes_t frame, unsigned char byte) {
        if (jack_midi_data_t* data = jack_midi_event_reserve(buffer, frame, 1)) *data = byte;
    }

    jack_port_t* port_ = nullptr;
    jack_port_t* clockPort_ = nullptr;
    double framesPerClock_ = 0;
    double nextClock_ = 0;
    bool running_ = false;
    SpscQueue<ShortMessage> queue_{1 << 18};
    std::atomic<int> busyCycles_{0};
    std::atomic<int> cycles_{0};
    testing::JackClient client_;
};

// `sweeps` note-off sweeps over the 16 channels and 128 keys, the velocity counting the
// sweeps, so that any lost, repeated or reordered message shows.
std::vector<ShortMessage> sweeps(int count) {
    std::vector<ShortMessage> out;
    for (int s = 0; s < count; ++s) {
        for (int ch = 0; ch < 16; ++ch) {
            for (int key = 0; key < 128; ++key) out.push_back(ShortMessage::noteOff(ch, key, s));
        }
    }
    return out;
}

// All Notes Off on the 16 channels, as a play ends.
std::vector<ShortMessage> sweepsOfAllNotesOff() {
    std::vector<ShortMessage> out;
    for (int ch = 0; ch < 16; ++ch) out.push_back(ShortMessage::allNotesOff(ch));
    return out;
}

// Where `got` first differs from `sent`, for a readable failure.
std::string firstDifference(const std::vector<ShortMessage>& got, const std::vector<ShortMessage>& sent) {
    const auto [g, s] = std::mismatch(got.begin(), got.end(), sent.begin(), sent.end());
    if (g == got.end() && s == sent.end()) return "none";
    return "received " + std::to_string(got.size()) + " of " + std::to_string(sent.size()) + ", first difference at " +
           std::to_string(g - got.begin());
}

class JackBackendOnAServer : public testing::OnAJackServer {};

// An output whose device is `receiver`'s port, and a play of one voice struck every tick.
std::unique_ptr<MidiOutput> outputTo(const Receiver& receiver) {
    std::vector<std::unique_ptr<MidiBackend>> backends;
    backends.push_back(std::make_unique<JackBackend>());
    auto output = std::make_unique<MidiOutput>(std::move(backends));
    output->countDevices();
    const std::vector<std::string> rows = output->setupRows();
    output->chooseDevice(static_cast<int32_t>(std::find(rows.begin(), rows.end(), receiver.listing()) - rows.begin()) - 1);
    return output;
}
PlayRequest everyTick(int32_t tempo, SyncMode mode) {
    PlayRequest request;
    request.current = Settings::defaults();
    request.current.global.tempo = tempo;
    request.current.voices[0].tied = 0;
    request.current.voices[0].setNoteValue(5, 1.0f);
    request.sync.mode = mode;
    return request;
}

// A sweep of 2048 note offs is more than one cycle carries: the rest must wait for the
// next cycles, not be dropped, and close must wait for them.
TEST_F(JackBackendOnAServer, CloseReturnsOnceEveryMessageHasReachedTheConnectedPort) {
    Receiver receiver;
    JackBackend jack;
    const std::vector<std::string> ports = jack.listPorts();
    ASSERT_NE(std::find(ports.begin(), ports.end(), receiver.listing()), ports.end());
    ASSERT_TRUE(jack.open(receiver.listing(), {}).ok());
    const std::vector<ShortMessage> sent = sweeps(1);
    for (const ShortMessage& m : sent) jack.send(m);
    jack.close();
    EXPECT_EQ(firstDifference(receiver.take(), sent), "none");
    EXPECT_GE(receiver.busyCycles(), 2);
}

TEST_F(JackBackendOnAServer, TheVirtualPortStaysOpenAndEachPlayEndsOnItsConnections) {
    Receiver receiver;
    JackBackend jack;
    const std::string virtualPort = std::string(kVirtualPortName) + ":" + kVirtualPortName;
    for (int play = 0; play < 2; ++play) {
        ASSERT_TRUE(jack.open(JackBackend::virtualPortListing(), {}).ok());
        if (play == 0) {
            ASSERT_TRUE(receiver.connectFrom(virtualPort));
        }
        const std::vector<ShortMessage> sent = sweeps(1);
        for (const ShortMessage& m : sent) jack.send(m);
        jack.close();
        EXPECT_EQ(firstDifference(receiver.take(), sent), "none") << "play " << play;
        EXPECT_TRUE(receiver.portExists(virtualPort));
    }
}

// Says when the worker has begun to wait for its master.
struct WaitingListener : PlaybackListener {
    std::atomic<bool> waiting{false};
    void syncNotice(const std::string& text) override {
        if (text.rfind("Waiting", 0) == 0) waiting.store(true);
    }
};

// A play following the transport (rolled and stopped by the test's own client) or a MIDI
// clock (sent by it), with clock out: on their process callbacks and the worker, every
// message arrives, framed as it should be. (The TSan stage plays the same with tarrowin-cli.)
TEST_F(JackBackendOnAServer, PlaysFollowingTheTransportOrAClockSendClockAndLoseNothing) {
    for (const SyncMode mode : {SyncMode::FollowJack, SyncMode::MidiClock}) {
        Receiver receiver(mode == SyncMode::MidiClock ? 200 : 0);
        const std::unique_ptr<MidiOutput> output = outputTo(receiver);
        jack_transport_stop(receiver.client());
        jack_transport_locate(receiver.client(), 0);

        WaitingListener listener;
        Player player(*output);
        player.setListener(&listener);
        // Following the transport, a play that notices the roll more than half a tick late
        // rightly joins at the next tick with Song Position: 74 ms ticks leave a worker held
        // up by a sanitizer or a busy machine 37 ms to notice it, and Start comes first.
        PlayRequest request = everyTick(mode == SyncMode::FollowJack ? 100 : 200, mode);
        request.sync.clockOut = true;
        if (mode == SyncMode::MidiClock) request.sync.clockIn = receiver.clockOut();
        ASSERT_TRUE(player.play(request).started()) << syncModeName(mode);
        for (int i = 0; i < 1000 && !listener.waiting.load(); ++i) usleep(10'000);
        ASSERT_TRUE(listener.waiting.load()) << syncModeName(mode) << ": the play does not wait for its master";
        usleep(100'000);
        if (mode == SyncMode::FollowJack) jack_transport_start(receiver.client());
        else receiver.clocking.store(true);
        usleep(mode == SyncMode::FollowJack ? 1'200'000 : 800'000);
        if (mode == SyncMode::FollowJack) jack_transport_stop(receiver.client());
        else receiver.clocking.store(false);
        player.waitForWorker();
        EXPECT_FALSE(player.isPlaying());

        const std::vector<ShortMessage> got = receiver.take();
        std::vector<uint8_t> system;
        int notes = 0;
        for (const ShortMessage& m : got) {
            if (m.status >= 0xF0) system.push_back(m.status);
            if (m.status == 0x90 && m.data2 > 0) ++notes;
        }
        ASSERT_FALSE(system.empty()) << syncModeName(mode);
        EXPECT_EQ(system.front(), 0xFA) << syncModeName(mode);
        EXPECT_EQ(system.back(), 0xFC) << syncModeName(mode);
        const auto clocks = std::count(system.begin(), system.end(), 0xF8);
        EXPECT_GE(notes, 10) << syncModeName(mode);
        EXPECT_EQ(clocks, 3 * notes) << syncModeName(mode) << ": 3 clocks a tick";
        EXPECT_TRUE(std::equal(got.end() - 17, got.end() - 1, sweepsOfAllNotesOff().begin())) << syncModeName(mode);
    }
}

// Leading the transport, the tempo edited mid-play: JACK publishes the new beats per minute,
// the bar/beat/tick goes on from where the edit found it, and the play's ticks follow.
TEST_F(JackBackendOnAServer, LeadingTheTransportAnEditedTempoIsPublishedAndPlayed) {
    Receiver receiver;
    const std::unique_ptr<MidiOutput> output = outputTo(receiver);
    Player player(*output);
    const PlayRequest request = everyTick(200, SyncMode::JackMaster);
    ASSERT_TRUE(player.play(request).started());
    struct Reading {
        jack_position_t pos{};
        int32_t played = 0;
        double beats() const { return (pos.bar - 1) * pos.beats_per_bar + (pos.beat - 1) + pos.tick / pos.ticks_per_beat; }
    };
    const auto read = [&] {
        Reading r;
        const bool rolling = jack_transport_query(receiver.client(), &r.pos) == JackTransportRolling;
        r.played = player.position();
        if (!rolling || (r.pos.valid & JackPositionBBT) == 0) r.pos.frame_rate = 0;
        return r;
    };
    for (int i = 0; i < 300 && read().pos.frame_rate == 0; ++i) usleep(10'000);
    usleep(300'000);
    const Reading before = read();
    ASSERT_GT(before.pos.frame_rate, 0u) << "the transport does not roll with a position";
    Settings edited = request.current;
    edited.global.tempo = 400;
    player.publishSettings(edited);
    usleep(300'000);
    const Reading a = read();
    usleep(500'000);
    const Reading b = read();
    player.stop();
    player.waitForWorker();

    EXPECT_DOUBLE_EQ(b.pos.beats_per_minute, 400);
    const double rate = b.pos.frame_rate;
    const double seconds = double(b.pos.frame - a.pos.frame) / rate;
    EXPECT_NEAR((b.beats() - a.beats()) / seconds * 60, 400, 8) << "the published positions' pace";
    EXPECT_NEAR((b.played - a.played) / double(kTicksPerBeat) / seconds * 60, 400, 80) << "the play's pace";
    // Where the edit took hold, had the position gone on from it without a jump: between the
    // moment it was made and the next reading.
    const double editFrame = (400 * double(b.pos.frame) - 60 * rate * (b.beats() - before.beats()) -
                              200 * double(before.pos.frame)) / 200;
    EXPECT_GE(editFrame, double(before.pos.frame) - 1);
    EXPECT_LE(editFrame, double(a.pos.frame));
}

}  // namespace
}  // namespace tarrowin
