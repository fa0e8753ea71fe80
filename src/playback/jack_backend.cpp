#include "jack_backend.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>

#include "audio_system.h"
#include "spsc_queue.h"

namespace tarrowin {

namespace {

constexpr const char* kSystem = "JACK: ";

std::mutex clientNameMutex;
std::string clientNameInUse = kVirtualPortName;

// The clients that list and connect ports leave the plain name to the virtual port's.
std::string listingClientName() { return JackBackend::clientName() + " Ports"; }
std::string connectingClientName() { return JackBackend::clientName() + " Output"; }

// Room for 16384 queued messages: an audition's note-off sweep of 2048 fits many times.
constexpr size_t kQueueRecords = 1 << 14;
// A message in the queue: its size, then up to three bytes. A record of size 0 stands for
// the next SysEx of the SysEx queue, which gets it first.
using Record = std::array<unsigned char, 4>;
// A run sends its SysEx (a tuning's eight) before its first note; more wait for room.
constexpr size_t kQueueSysex = 16;

// How fast messages go out: 6000 a second, in bursts of at most 32. Clients that take
// MIDI out of JACK's cycle into a queue of their own (bridges to ALSA and to hardware,
// monitors such as jack_midi_dump with room for about a hundred) lose what overflows it
// when thousands arrive at once, as an audition's sweep of 2048 note offs would, or when
// a late server runs several cycles back to back. The sweep takes a third of a second
// instead, whatever the period; a tick of a play, a few dozen messages at most, goes out
// within one or two cycles.
constexpr jack_time_t kMicrosecondsPerMessage = 1'000'000 / 6000;
constexpr jack_time_t kBurstMessages = 32;

// How long a sender or a close waits for a process cycle before it decides that the
// server has stopped running them. Cycles come every few milliseconds; on a loaded
// machine without real-time scheduling they can come late, but not this late.
constexpr std::chrono::milliseconds kStallTimeout{1000};

jack_client_t* openClient(const char* name) {
    quietAudioLibraries();
    jack_status_t status{};
    return jack_client_open(name, JackNoStartServer, &status);
}

std::string noServer(const std::string& name) { return "No JACK server is running, so " + name + " cannot be opened"; }

}  // namespace

// One JACK client with one MIDI output port and the queue that its process callback
// empties into the port's buffer. The callback counts its cycles and the messages it has
// moved; the sending side waits on those counts.
class JackBackend::Port {
   public:
    struct Created {
        std::unique_ptr<Port> port;
        OpenResult result;
    };

    static Created create(const std::string& clientName, const std::string& listing) {
        std::unique_ptr<Port> p(new Port);
        p->name_ = clientName;
        p->client_ = openClient(clientName.c_str());
        if (p->client_ == nullptr) return {nullptr, OpenResult::failure(OpenStatus::Failed, noServer(listing))};
        p->port_ = jack_port_register(p->client_, kVirtualPortName, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        if (p->port_ == nullptr) {
            return {nullptr, OpenResult::failure(OpenStatus::Failed, "JACK refused to make the MIDI port for " + listing)};
        }
        jack_set_process_callback(p->client_, &Port::process, p.get());
        jack_on_shutdown(p->client_, &Port::serverGone, p.get());
        if (jack_activate(p->client_) != 0) {
            return {nullptr, OpenResult::failure(OpenStatus::Failed, "JACK did not start processing for " + listing)};
        }
        p->active_ = true;
        return {std::move(p), OpenResult::success()};
    }

    ~Port() {
        if (client_ != nullptr) {
            if (active_) {
                drain();
                if (!serverGone_.load()) jack_deactivate(client_);
            }
            jack_client_close(client_);
        }
    }

    bool alive() const { return !serverGone_.load(); }
    const std::string& name() const { return name_; }

    // Connects our port to `destination` (a full JACK port name). The server takes a new
    // connection into its graph at the start of a cycle: returns once a whole cycle has
    // run with it, so that the first notes are not sent before it.
    OpenResult connect(const std::string& destination, const std::string& listing) {
        if (jack_port_by_name(client_, destination.c_str()) == nullptr) {
            return OpenResult::failure(OpenStatus::Failed, "The MIDI port " + listing + " is no longer available");
        }
        if (jack_connect(client_, jack_port_name(port_), destination.c_str()) != 0) {
            return OpenResult::failure(OpenStatus::Failed, "JACK could not connect to " + listing);
        }
        waitForNextCycle();
        return OpenResult::success();
    }

    void send(const ShortMessage& message) {
        const Record record{static_cast<unsigned char>(message.size()), message.status, message.data1, message.data2};
        // A full queue empties at the next cycles; only a server that stopped running
        // them makes the message go nowhere.
        if (!waitForCycles([&] { return queue_.push(record); })) return;
        ++queued_;
    }

    void sendSysex(std::span<const uint8_t> message) {
        if (message.empty() || message.size() > SysexMessage::kMaxBytes) return;  // a run sends no longer one
        SysexMessage sysex;
        std::copy(message.begin(), message.end(), sysex.bytes.begin());
        sysex.size = static_cast<uint8_t>(message.size());
        // Room in both queues first, so that a SysEx never goes in without its record. Only
        // the process callback takes from them: the room stays.
        if (!waitForCycles([&] { return !sysex_.full() && !queue_.full(); })) return;
        sysex_.push(sysex);
        queue_.push(Record{});
        ++queued_;
    }

    // Returns once every queued message was moved into the port's buffer and a cycle
    // that began after that has run: the clients connected to the port have read the
    // cycle that carried the last of them.
    void drain() {
        if (drained_ == queued_) return;
        if (!waitForCycles([&] { return moved_.load(std::memory_order_acquire) >= queued_; })) return;
        waitForNextCycle();
        drained_ = queued_;
    }

   private:
    Port() = default;

    // Returns once a cycle that began after the call has run to its end. The cycle
    // running now counts itself only at its end: two more counts are needed.
    void waitForNextCycle() {
        const uint64_t cycle = cycles_.load(std::memory_order_acquire);
        waitForCycles([&] { return cycles_.load(std::memory_order_acquire) >= cycle + 2; });
    }

    // Polls `done` while the server runs cycles; false when it has stopped running them.
    // After one wait has given up, the next ones give up at once until a cycle runs
    // again, so that a stalled server costs a play one timeout, not one per message.
    template <typename Done>
    bool waitForCycles(Done done) {
        auto lastProgress = std::chrono::steady_clock::now();
        uint64_t seen = cycles_.load(std::memory_order_acquire);
        while (!done()) {
            if (serverGone_.load() || (stalled_ && seen == stalledAt_)) return false;
            const uint64_t now = cycles_.load(std::memory_order_acquire);
            if (now != seen) {
                seen = now;
                lastProgress = std::chrono::steady_clock::now();
            } else if (std::chrono::steady_clock::now() - lastProgress > kStallTimeout) {
                stalled_ = true;
                stalledAt_ = seen;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    // JACK's real-time thread: no locks, no allocation. Messages go out at the start of
    // the cycle in the order they were sent; those beyond the rate's allowance, or that no
    // longer fit into the port's buffer, stay queued for the next cycle.
    static int process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<Port*>(arg);
        void* buffer = jack_port_get_buffer(self->port_, frames);
        jack_midi_clear_buffer(buffer);
        const jack_time_t now = jack_get_time();
        self->allowance_ = std::min(kBurstMessages * kMicrosecondsPerMessage, self->allowance_ + (now - self->lastCycle_));
        self->lastCycle_ = now;
        uint64_t moved = 0;
        for (const Record* record = self->queue_.front();
             record != nullptr && self->allowance_ >= kMicrosecondsPerMessage; record = self->queue_.front()) {
            if ((*record)[0] == 0) {
                // Its SysEx went into the SysEx queue before the record into this one.
                const SysexMessage& sysex = *self->sysex_.front();
                if (jack_midi_max_event_size(buffer) < sysex.size) break;
                if (jack_midi_event_write(buffer, 0, sysex.bytes.data(), sysex.size) != 0) break;
                self->sysex_.pop();
            } else {
                if (jack_midi_max_event_size(buffer) < (*record)[0]) break;
                if (jack_midi_event_write(buffer, 0, record->data() + 1, (*record)[0]) != 0) break;
            }
            self->queue_.pop();
            self->allowance_ -= kMicrosecondsPerMessage;
            ++moved;
        }
        if (moved > 0) self->moved_.fetch_add(moved, std::memory_order_release);
        self->cycles_.fetch_add(1, std::memory_order_release);
        return 0;
    }

    static void serverGone(void* arg) { static_cast<Port*>(arg)->serverGone_.store(true); }

    std::string name_;
    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    SpscQueue<Record> queue_{kQueueRecords};
    SpscQueue<SysexMessage> sysex_{kQueueSysex};
    bool active_ = false;
    uint64_t queued_ = 0;   // the sending side's count
    uint64_t drained_ = 0;  // queued_ at the end of the last drain
    bool stalled_ = false;  // a wait gave up at cycle stalledAt_
    uint64_t stalledAt_ = 0;
    jack_time_t allowance_ = 0;   // the process callback's: how much it may send, in microseconds
    jack_time_t lastCycle_ = 0;
    std::atomic<uint64_t> moved_{0};
    std::atomic<uint64_t> cycles_{0};
    std::atomic<bool> serverGone_{false};
};

JackBackend::JackBackend() = default;

JackBackend::~JackBackend() {
    close();
    virtualPort_.reset();
}

std::string JackBackend::virtualPortListing() { return tarrowin::virtualPortListing(kSystem); }

void JackBackend::setClientName(const std::string& name) {
    std::lock_guard lock(clientNameMutex);
    clientNameInUse = name.empty() ? std::string(kVirtualPortName) : name;
}

std::string JackBackend::clientName() {
    std::lock_guard lock(clientNameMutex);
    return clientNameInUse;
}

std::vector<std::string> JackBackend::listPorts() {
    std::vector<std::string> names;
    // A server that went away takes the virtual port with it, and a port made under an old
    // name goes; the next open makes a new one.
    if (active_ == nullptr && virtualPort_ && (!virtualPort_->alive() || virtualPort_->name() != clientName()))
        virtualPort_.reset();
    jack_client_t* client = openClient(listingClientName().c_str());
    if (client == nullptr) return names;
    if (const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput)) {
        for (const char** p = ports; *p != nullptr; ++p) names.push_back(kSystem + std::string(*p));
        jack_free(ports);
    }
    jack_client_close(client);
    names.push_back(virtualPortListing());
    return names;
}

OpenResult JackBackend::open(const std::string& name, const DeviceSetup&) {
    if (active_ != nullptr) return OpenResult::failure(OpenStatus::Allocated);
    if (name == virtualPortListing()) {
        if (virtualPort_ && (!virtualPort_->alive() || virtualPort_->name() != clientName())) virtualPort_.reset();
        if (!virtualPort_) {
            Port::Created made = Port::create(clientName(), name);
            if (!made.port) return made.result;
            virtualPort_ = std::move(made.port);
        }
        active_ = virtualPort_.get();
        return OpenResult::success();
    }
    if (name.rfind(kSystem, 0) != 0) return OpenResult::failure(OpenStatus::Failed, "No JACK port named " + name);
    Port::Created made = Port::create(connectingClientName(), name);
    if (!made.port) return made.result;
    if (const OpenResult connected = made.port->connect(name.substr(std::string(kSystem).size()), name);
        !connected.ok()) {
        return connected;
    }
    connection_ = std::move(made.port);
    active_ = connection_.get();
    return OpenResult::success();
}

void JackBackend::send(const ShortMessage& message) {
    if (active_ != nullptr) active_->send(message);
}

void JackBackend::sendSysex(std::span<const uint8_t> message) {
    if (active_ != nullptr) active_->sendSysex(message);
}

void JackBackend::close() {
    if (active_ == nullptr) return;
    active_->drain();
    connection_.reset();
    active_ = nullptr;
}

}  // namespace tarrowin
