// The JACK backend without a server, and with one (the JACK end-to-end stage runs these
// under its own server, the machine kept busy): a client of the test's own receives what
// the backend sends, and must have all of it as soon as close returns.

#include "playback/jack_backend.h"

#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "jack_test_server.h"
#include "playback/audio_system.h"
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

// A JACK client that keeps every message its input port receives, in order.
class Receiver {
   public:
    Receiver() : client_(testing::openTestClient("tarrowin-test-receiver")) {
        if (!client_) return;
        port_ = jack_port_register(client_.get(), "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(client_.get(), &Receiver::process, this);
        jack_activate(client_.get());
    }

    std::string listing() const { return std::string("JACK: ") + jack_port_name(port_); }
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

    jack_port_t* port_ = nullptr;
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

// Where `got` first differs from `sent`, for a readable failure.
std::string firstDifference(const std::vector<ShortMessage>& got, const std::vector<ShortMessage>& sent) {
    const auto [g, s] = std::mismatch(got.begin(), got.end(), sent.begin(), sent.end());
    if (g == got.end() && s == sent.end()) return "none";
    return "received " + std::to_string(got.size()) + " of " + std::to_string(sent.size()) + ", first difference at " +
           std::to_string(g - got.begin());
}

class JackBackendOnAServer : public testing::OnAJackServer {};

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

}  // namespace
}  // namespace tarrowin
