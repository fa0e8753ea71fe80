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
#include "clock.h"
#include "frame_schedule.h"
#include "jack_client.h"
#include "spsc_queue.h"

namespace tarrowin {

namespace {

constexpr const char* kSystem = "JACK: ";

std::mutex clientNameMutex;
std::string clientNameInUse = kVirtualPortName;

// The clients that list and connect ports leave the plain name to the virtual port's.
std::string listingClientName() { return JackBackend::clientName() + " Ports"; }
std::string connectingClientName() { return JackBackend::clientName() + " Output"; }
// How patchbays that read JACK's metadata show our output ports.
constexpr const char* kPrettyPortName = "Tarrowin MIDI out";

// A message in the queue: the steady-clock time it is meant for (microseconds), its size,
// then up to three bytes.
struct Record {
    int64_t timeUs = 0;
    uint8_t size = 0;
    std::array<uint8_t, 3> bytes{};
    std::array<uint8_t, 4> padding{};
};
// Room for 16384 queued messages: an audition's note-off sweep of 2048 fits many times.
constexpr size_t kQueueMessages = 16384;
// A SysEx goes into a queue of its own, and a record of size 0 into the one above: a run
// sends its SysEx (a tuning's eight) before its first note; more wait for room.
constexpr size_t kQueueSysex = 16;

// How long a sender or a close waits for a process cycle before it decides that the
// server has stopped running them. Cycles come every few milliseconds; on a loaded
// machine without real-time scheduling they can come late, but not this late.
constexpr std::chrono::milliseconds kStallTimeout{1000};

std::string noServer(const std::string& name) { return "No JACK server is running, so " + name + " cannot be opened"; }

}  // namespace

// One JACK client with one MIDI output port and the queue that its process callback
// empties into the port's buffer. The callback counts its cycles and the messages it has
// moved; the sending side waits on those counts.
class JackBackend::Port {
   public:
    struct Created {
        PortPtr port;
        OpenResult result;
    };

    static Created create(const std::string& clientName, const std::string& listing) {
        PortPtr p(new Port);
        p->name_ = clientName;
        const JackOpen opened = openJackClient(clientName, kJackOpenLimit);
        p->client_ = opened.client;
        if (!opened.answered) return {nullptr, OpenResult::failure(OpenStatus::Failed, kJackNotAnswering)};
        if (p->client_ == nullptr) return {nullptr, OpenResult::failure(OpenStatus::Failed, noServer(listing))};
        p->port_ = jack_port_register(p->client_, kVirtualPortName, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        if (p->port_ == nullptr) {
            return {nullptr, OpenResult::failure(OpenStatus::Failed, "JACK refused to make the MIDI port for " + listing)};
        }
        p->schedule_ = FrameSchedule(jack_get_sample_rate(p->client_));
        p->jackMinusSteadyUs_ = jackMinusSteadyMicroseconds();
        jack_set_process_callback(p->client_, &Port::process, p.get());
        jack_set_latency_callback(p->client_, &Port::latency, p.get());
        jack_on_shutdown(p->client_, &Port::serverGone, p.get());
        setPrettyName(p->client_, p->port_, kPrettyPortName);
        if (jack_activate(p->client_) != 0) {
            return {nullptr, OpenResult::failure(OpenStatus::Failed, "JACK did not start processing for " + listing)};
        }
        p->active_ = true;
        return {std::move(p), OpenResult::success()};
    }

    // Sends what is queued and closes the client; false when the client did not close in time.
    bool shutDown() {
        if (client_ == nullptr) return true;
        if (active_) drain();
        if (port_ != nullptr && alive()) removePrettyName(client_, port_);
        return closeJackClient(client_);
    }

    // One period of the server: how long after its time a message reaches the port.
    Clock::Duration latency() const {
        const jack_nframes_t rate = jack_get_sample_rate(client_);
        if (rate == 0) return {};
        return std::chrono::microseconds(int64_t{jack_get_buffer_size(client_)} * 1'000'000 / rate);
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

    // Queues `message` for the frame of steady-clock time `time` plus one period; a time
    // before the last message's is taken as the last message's, so the order stays.
    void send(const ShortMessage& message, Clock::Duration time) {
        Record record;
        record.timeUs = std::max(lastTimeUs_, std::chrono::duration_cast<std::chrono::microseconds>(time).count());
        lastTimeUs_ = record.timeUs;
        record.size = static_cast<uint8_t>(message.size());
        record.bytes = {message.status, message.data1, message.data2};
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
        Record record;  // size 0: the SysEx; in order with the messages sent before it
        record.timeUs = std::max(lastTimeUs_, std::chrono::duration_cast<std::chrono::microseconds>(
                                                  SteadyClock::instance().now()).count());
        lastTimeUs_ = record.timeUs;
        sysex_.push(sysex);
        queue_.push(record);
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

    // JACK's real-time thread: no locks, no allocation, no waiting. Each message goes out
    // at the frame of its time plus one period, as FrameSchedule places it; the messages
    // due in a later cycle, or that no longer fit into the port's buffer, stay queued.
    static int process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<Port*>(arg);
        void* buffer = jack_port_get_buffer(self->port_, frames);
        jack_midi_clear_buffer(buffer);
        FrameSchedule::Cycle cycle;
        jack_nframes_t firstFrame = 0;
        jack_time_t start = 0;
        jack_time_t next = 0;
        float periodUs = 0;
        cycle.nowUs = static_cast<int64_t>(jack_get_time());
        if (jack_get_cycle_times(self->client_, &firstFrame, &start, &next, &periodUs) == 0 && next > start) {
            cycle.startUs = static_cast<int64_t>(start);
            cycle.nextUs = static_cast<int64_t>(next);
        } else {
            firstFrame = jack_last_frame_time(self->client_);
            cycle.startUs = cycle.nowUs;
            cycle.nextUs = cycle.nowUs + int64_t{frames} * 1'000'000 / std::max<jack_nframes_t>(1, jack_get_sample_rate(self->client_));
        }
        cycle.frames = frames;
        // Frames between the end of the last cycle and this one: cycles the server lost.
        if (self->cycles_.load(std::memory_order_relaxed) > 0) {
            cycle.skippedFrames = firstFrame - (self->lastFirstFrame_ + self->lastFrames_);
            if (cycle.skippedFrames > 10 * frames) cycle.skippedFrames = 0;  // a jump of the frame clock
        }
        self->lastFirstFrame_ = firstFrame;
        self->lastFrames_ = frames;
        self->schedule_.beginCycle(cycle);
        const int64_t latencyUs = cycle.nextUs - cycle.startUs;

        uint64_t moved = 0;
        for (const Record* record = self->queue_.front(); record != nullptr; record = self->queue_.front()) {
            // A record of size 0 stands for the next SysEx, which went into its queue first.
            const SysexMessage* sysex = record->size == 0 ? self->sysex_.front() : nullptr;
            const uint8_t* bytes = sysex != nullptr ? sysex->bytes.data() : record->bytes.data();
            const size_t size = sysex != nullptr ? sysex->size : record->size;
            if (size == 0 || jack_midi_max_event_size(buffer) < size) break;
            const int64_t offset = self->schedule_.place(record->timeUs + self->jackMinusSteadyUs_ + latencyUs);
            if (offset < 0) break;
            if (jack_midi_event_write(buffer, static_cast<jack_nframes_t>(offset), bytes, size) != 0) break;
            if (sysex != nullptr) self->sysex_.pop();
            self->queue_.pop();
            ++moved;
        }
        if (moved > 0) self->moved_.fetch_add(moved, std::memory_order_release);
        self->cycles_.fetch_add(1, std::memory_order_release);
        return 0;
    }

    // The port's data is meant one period before it appears: its capture latency, for the
    // hosts that record it to compensate.
    static void latency(jack_latency_callback_mode_t mode, void* arg) {
        if (mode != JackCaptureLatency) return;
        auto* self = static_cast<Port*>(arg);
        jack_latency_range_t range;
        range.min = range.max = jack_get_buffer_size(self->client_);
        jack_port_set_latency_range(self->port_, JackCaptureLatency, &range);
    }

    static void serverGone(void* arg) { static_cast<Port*>(arg)->serverGone_.store(true); }

    std::string name_;
    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    SpscQueue<Record> queue_{kQueueMessages};
    SpscQueue<SysexMessage> sysex_{kQueueSysex};
    bool active_ = false;
    uint64_t queued_ = 0;   // the sending side's count
    uint64_t drained_ = 0;  // queued_ at the end of the last drain
    bool stalled_ = false;  // a wait gave up at cycle stalledAt_
    uint64_t stalledAt_ = 0;
    int64_t lastTimeUs_ = 0;  // the sending side's: the time of the last message queued
    int64_t jackMinusSteadyUs_ = 0;
    // The process callback's own.
    FrameSchedule schedule_{48000};
    jack_nframes_t lastFirstFrame_ = 0;
    jack_nframes_t lastFrames_ = 0;
    std::atomic<uint64_t> moved_{0};
    std::atomic<uint64_t> cycles_{0};
    std::atomic<bool> serverGone_{false};
};

void JackBackend::PortCloser::operator()(Port* p) const {
    if (p->shutDown()) delete p;
}

JackBackend::JackBackend(std::chrono::milliseconds listLimit) : listLimit_(listLimit) {}

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
    // Bounded: a server that does not answer lists only the virtual port rather than hold
    // the caller; opening it then says what is wrong.
    const JackOpen opened = openJackClient(listingClientName(), listLimit_);
    if (!opened.answered) return {virtualPortListing()};
    if (opened.client == nullptr) return names;
    if (const char** ports = jack_get_ports(opened.client, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput)) {
        for (const char** p = ports; *p != nullptr; ++p) names.push_back(kSystem + std::string(*p));
        jack_free(ports);
    }
    closeJackClient(opened.client, listLimit_);
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

void JackBackend::send(const ShortMessage& message) { sendAt(message, SteadyClock::instance().now()); }

void JackBackend::sendAt(const ShortMessage& message, Clock::Duration time) {
    if (active_ != nullptr) active_->send(message, time);
}

Clock::Duration JackBackend::latency() const { return active_ != nullptr ? active_->latency() : Clock::Duration{}; }

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
