#include "jack_sync.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/transport.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "jack_client.h"
#include "midi_clock.h"
#include "snapshot_cell.h"
#include "spsc_queue.h"

namespace tarrowin {

// ---- TransportFollower -------------------------------------------------------------

int64_t transportJump(bool lastRolling, uint32_t lastFrame, uint32_t lastCycleFrame, uint32_t frame, uint32_t cycleFrame) {
    const uint32_t expected = lastFrame + (lastRolling ? cycleFrame - lastCycleFrame : 0);
    return static_cast<int32_t>(frame - expected);
}

void TransportFollower::anchor(const TransportState& s) {
    rate_ = s.rate;
    frameShift_ = 0;
    onBeats_ = !leading_ && s.bbt && s.position.beatsPerMinute > 0;
    if (!onBeats_) return;
    anchorFrame_ = s.frame;
    anchorTick_ = tickOfBarBeat(s.position);
    bpm_ = s.position.beatsPerMinute;
    ticksPerFrame_ = bpm_ * kTicksPerBeat / (60.0 * rate_);
}

bool TransportFollower::follow(const TransportState& s) {
    if (leading_) return false;
    const double here = tickAtFrame(s.frame);
    if (onBeats_ && !s.bbt) {
        // The master has gone: on at the own tempo map, from where the play is.
        onBeats_ = false;
        frameShift_ = s.frame - map_.frameOfTick(here, rate_, true);
        return true;
    }
    const bool beats = s.bbt && s.position.beatsPerMinute > 0;
    if (beats && (!onBeats_ || s.position.beatsPerMinute != bpm_)) {
        // A change of tempo, or a master that came: on at its tempo from where the play is.
        onBeats_ = true;
        anchorFrame_ = s.frame;
        anchorTick_ = here;
        bpm_ = s.position.beatsPerMinute;
        ticksPerFrame_ = bpm_ * kTicksPerBeat / (60.0 * rate_);
    }
    return false;
}

double TransportFollower::tickAtFrame(double frame) const {
    if (onBeats_) return anchorTick_ + (frame - anchorFrame_) * ticksPerFrame_;
    return map_.tickAtFrame(frame - frameShift_, rate_, !leading_);
}

double TransportFollower::frameOfTick(double tick) const {
    if (onBeats_) return anchorFrame_ + (tick - anchorTick_) / ticksPerFrame_;
    return map_.frameOfTick(tick, rate_, !leading_) + frameShift_;
}

double TransportFollower::timeOfTick(const TransportState& s, double tick) const {
    return double(s.cycleStartUs) + (frameOfTick(tick) - s.frame) * s.usPerFrame;
}

namespace {

constexpr const char* kTransportClientName = "Tarrowin Transport";
constexpr const char* kNoServer = "No JACK server is running";
constexpr std::chrono::milliseconds kPoll{2};
constexpr double kMaxPeriodFrames = 8192;

enum : int { kStopped, kRolling, kStarting };

// What the process callback publishes: the transport as TransportState says, and its
// state: stopped, rolling, or starting (a start or a relocation waiting for slow clients).
struct Cycle {
    TransportState transport;
    int state = kStopped;
};

// A clock message as the process callback queues it: JACK time, then the bytes.
struct ClockRecord {
    int64_t jackUs = 0;
    std::array<uint8_t, 3> bytes{};
};
constexpr size_t kClockQueueMessages = 4096;
// The process callback takes the edits of the tempo every cycle: a few are ever waiting.
constexpr size_t kTempoChanges = 64;

bool isClockMessage(const jack_midi_event_t& e) {
    if (e.size < 1) return false;
    const uint8_t status = e.buffer[0];
    return status == kMidiClock || status == kMidiStart || status == kMidiContinue || status == kMidiStop ||
           (status == kMidiSongPosition && e.size >= 3);
}

}  // namespace

// One JACK client for a play's sync: it reads the transport each cycle, leads it when asked
// (the timebase callback answers from the tempo map, as the worker edits it), and takes the
// clock that comes in through its port.
class JackSync {
   public:
    struct Closer {
        void operator()(JackSync* s) const {
            if (s->shutDown()) delete s;
        }
    };
    using Ptr = std::unique_ptr<JackSync, Closer>;

    // `lead`: become the timebase master with this map. `clockIn`: make the clock-in port.
    static Ptr open(const std::string& clientName, const TempoMap* lead, bool clockIn, std::string& problem) {
        Ptr sync(new JackSync(lead != nullptr ? *lead : TempoMap({})));
        const JackOpen opened = openJackClient(clientName, kJackOpenLimit);
        sync->client_ = opened.client;
        if (!opened.answered) {
            problem = kJackNotAnswering;
            return nullptr;
        }
        if (sync->client_ == nullptr) {
            problem = kNoServer;
            return nullptr;
        }
        sync->jackMinusSteadyUs_ = jackMinusSteadyMicroseconds();
        if (clockIn) {
            sync->queue_ = std::make_unique<SpscQueue<ClockRecord>>(kClockQueueMessages);
            sync->port_ = jack_port_register(sync->client_, kClockInPortName, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
            if (sync->port_ == nullptr) {
                problem = "JACK refused to make the port " + std::string(kClockInClientName);
                return nullptr;
            }
            setPrettyName(sync->client_, sync->port_, kClockInClientName);
        }
        jack_set_process_callback(sync->client_, &JackSync::process, sync.get());
        jack_on_shutdown(sync->client_, &JackSync::serverGone, sync.get());
        if (lead != nullptr && jack_set_timebase_callback(sync->client_, 0, &JackSync::timebase, sync.get()) != 0) {
            problem = "JACK did not let Tarrowin become the timebase master";
            return nullptr;
        }
        sync->leading_ = lead != nullptr;
        if (sync->leading_) sync->changes_ = std::make_unique<SpscQueue<TempoChange>>(kTempoChanges);
        if (jack_activate(sync->client_) != 0) {
            problem = "JACK did not start processing for Tarrowin's sync";
            return nullptr;
        }
        return sync;
    }

    Cycle cycle() const {
        Cycle c = cycle_.read();
        c.transport.serverGone = gone_.load();
        return c;
    }
    int64_t jackMinusSteadyUs() const { return jackMinusSteadyUs_; }
    bool alive() const { return !gone_.load(); }

    void startTransport() {
        jack_transport_locate(client_, 0);
        jack_transport_start(client_);
    }
    // The worker's side: the tempo map the timebase callback answers from was edited. False
    // when the queue is full (the change is to be handed over again).
    bool lead(const TempoChange& change) { return changes_->push(change); }

    void stopTransport() {
        if (!alive()) return;
        jack_transport_stop(client_);
    }

    // Connects the JACK MIDI output port named `source` (exactly, or the one port whose
    // name holds it) to the clock-in port.
    bool connectClock(const std::string& source, std::string& problem) {
        std::vector<std::string> outputs;
        if (const char** ports = jack_get_ports(client_, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput)) {
            for (const char** p = ports; *p != nullptr; ++p) outputs.emplace_back(*p);
            jack_free(ports);
        }
        std::vector<std::string> matches;
        for (const std::string& name : outputs) {
            if (name == source) {
                matches = {name};
                break;
            }
            if (name.find(source) != std::string::npos) matches.push_back(name);
        }
        if (matches.size() != 1) {
            std::string list;
            for (const std::string& name : outputs) list += "\n  " + name;
            problem = (matches.empty() ? "No JACK MIDI output port is named \"" + source + "\""
                                       : "\"" + source + "\" names more than one JACK MIDI output port") +
                      (outputs.empty() ? std::string(" (JACK has no MIDI output ports)") : ":" + list);
            return false;
        }
        if (jack_connect(client_, matches.front().c_str(), jack_port_name(port_)) != 0) {
            problem = "JACK could not connect " + matches.front() + " to " + portName();
            return false;
        }
        return true;
    }
    std::string portName() const { return port_ != nullptr ? jack_port_name(port_) : std::string(); }

    bool popClock(ClockEvent& event) {
        const ClockRecord* r = queue_->front();
        if (r == nullptr) return false;
        event.timeUs = r->jackUs - jackMinusSteadyUs_;
        event.status = r->bytes[0];
        event.data1 = r->bytes[1];
        event.data2 = r->bytes[2];
        queue_->pop();
        return true;
    }

   private:
    explicit JackSync(TempoMap lead) : lead_(std::move(lead)) {}

    bool shutDown() {
        if (client_ == nullptr) return true;
        if (leading_ && alive()) jack_release_timebase(client_);
        if (port_ != nullptr && alive()) removePrettyName(client_, port_);
        return closeJackClient(client_);
    }

    // JACK's real-time thread: no locks, no allocation, no waiting.
    static int process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<JackSync*>(arg);
        jack_position_t pos{};
        const jack_transport_state_t state = jack_transport_query(self->client_, &pos);
        jack_nframes_t firstFrame = 0;
        jack_time_t start = 0;
        jack_time_t next = 0;
        float periodUs = 0;
        if (jack_get_cycle_times(self->client_, &firstFrame, &start, &next, &periodUs) != 0 || next <= start) {
            firstFrame = jack_last_frame_time(self->client_);
            start = jack_get_time();
            next = start + jack_time_t{frames} * 1'000'000 / std::max<jack_nframes_t>(1, jack_get_sample_rate(self->client_));
        }
        Cycle c;
        c.state = state == JackTransportRolling ? kRolling : state == JackTransportStarting ? kStarting : kStopped;
        TransportState& t = c.transport;
        t.frame = pos.frame;
        t.cycleStartUs = static_cast<int64_t>(start);
        t.usPerFrame = double(next - start) / std::max<jack_nframes_t>(1, frames);
        t.rate = pos.frame_rate > 0 ? pos.frame_rate : jack_get_sample_rate(self->client_);
        t.bbt = (pos.valid & JackPositionBBT) != 0;
        if (t.bbt) {
            t.position.bar = pos.bar;
            t.position.beat = pos.beat;
            t.position.tick = pos.tick;
            t.position.barStartTick = pos.bar_start_tick;
            t.position.ticksPerBeat = pos.ticks_per_beat;
            t.position.beatsPerMinute = pos.beats_per_minute;
            t.position.beatsPerBar = static_cast<int32_t>(std::lround(pos.beats_per_bar));
            t.position.beatType = static_cast<int32_t>(std::lround(pos.beat_type));
        }
        // A transport that goes on from elsewhere than where the last cycle left it jumped.
        if (c.state != kStopped && self->lastState_ != kStopped) {
            const int64_t jump =
                transportJump(self->lastState_ == kRolling, self->lastFrame_, self->lastCycleFrame_, pos.frame, firstFrame);
            if (jump != 0) {
                ++self->relocations_;
                self->jump_ = double(jump);
            }
        }
        self->lastState_ = c.state;
        self->lastFrame_ = pos.frame;
        self->lastCycleFrame_ = firstFrame;
        t.relocations = self->relocations_;
        t.jumpFrames = self->jump_;
        self->cycle_.publish(c);
        if (self->changes_) {
            // Taken here, before this cycle's timebase callback (on the same thread) answers.
            while (const TempoChange* change = self->changes_->front()) {
                self->lead_.take(*change);
                self->changes_->pop();
            }
        }

        if (self->port_ != nullptr) {
            void* buffer = jack_port_get_buffer(self->port_, frames);
            const uint32_t count = jack_midi_get_event_count(buffer);
            for (uint32_t i = 0; i < count; ++i) {
                jack_midi_event_t e;
                if (jack_midi_event_get(&e, buffer, i) != 0 || !isClockMessage(e)) continue;
                ClockRecord r;
                r.jackUs = static_cast<int64_t>(double(start) + e.time * t.usPerFrame);
                for (size_t b = 0; b < r.bytes.size() && b < e.size; ++b) r.bytes[b] = e.buffer[b];
                self->queue_->push(r);  // a reader four thousand messages behind has stopped reading
            }
        }
        return 0;
    }

    // The timebase master's answer, on JACK's real-time thread: the bar/beat/tick of the
    // frame on the play's tempo map, with the tempo as last edited.
    static void timebase(jack_transport_state_t, jack_nframes_t, jack_position_t* pos, int, void* arg) {
        const auto* self = static_cast<JackSync*>(arg);
        const BarBeat b = self->lead_.barBeatAt(pos->frame, pos->frame_rate > 0 ? pos->frame_rate : 48000);
        pos->valid = static_cast<jack_position_bits_t>(pos->valid | JackPositionBBT);
        pos->bar = b.bar;
        pos->beat = b.beat;
        pos->tick = b.tick;
        pos->bar_start_tick = b.barStartTick;
        pos->beats_per_bar = static_cast<float>(b.beatsPerBar);
        pos->beat_type = static_cast<float>(b.beatType);
        pos->ticks_per_beat = b.ticksPerBeat;
        pos->beats_per_minute = b.beatsPerMinute;
    }

    static void serverGone(void* arg) { static_cast<JackSync*>(arg)->gone_.store(true); }

    TempoMap lead_;  // the process callback's (and the timebase callback's) own
    std::unique_ptr<SpscQueue<TempoChange>> changes_;
    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    std::unique_ptr<SpscQueue<ClockRecord>> queue_;
    bool leading_ = false;
    int64_t jackMinusSteadyUs_ = 0;
    SnapshotCell<Cycle> cycle_;
    std::atomic<bool> gone_{false};
    // The process callback's own.
    int lastState_ = kStopped;
    jack_nframes_t lastFrame_ = 0;
    jack_nframes_t lastCycleFrame_ = 0;
    uint64_t relocations_ = 0;
    double jump_ = 0;
};

namespace {

// Follows (or leads) the transport.
class JackTransportSource final : public TickSource {
   public:
    JackTransportSource(JackSync::Ptr sync, const TempoMap& map, bool leading, Clock& clock)
        : sync_(std::move(sync)), follower_(map, leading), leading_(leading), clock_(clock) {
        if (!leading) notice_ = "Waiting for the JACK transport to roll";
    }

    TickTime start(const std::atomic<int32_t>& playing, Clock::Duration lead) override {
        if (leading_) sync_->startTransport();
        for (;;) {
            if (playing.load() == 0) return TickTime::end();
            const Cycle c = sync_->cycle();
            if (c.transport.serverGone) return TickTime::end("The JACK server stopped");
            if (c.state == kRolling) {
                seen_ = c.transport.relocations;
                follower_.anchor(c.transport);
                return fromHere(c.transport, lead);
            }
            clock_.sleepUntil(clock_.now() + kPoll);
        }
    }

    TickTime next(int64_t tick, int32_t, const std::atomic<int32_t>& playing, Clock::Duration lead) override {
        handOver();
        for (;;) {
            if (playing.load() == 0) return TickTime::end();
            const Cycle c = sync_->cycle();
            const TransportState& s = c.transport;
            if (s.serverGone) return TickTime::end("The JACK server stopped");
            if (c.state == kStopped) return TickTime::end("The JACK transport stopped");
            if (c.state == kRolling) {
                const bool moved = s.relocations != seen_;
                seen_ = s.relocations;
                const bool masterGone = follower_.follow(s);
                if (masterGone) notice_ = "The JACK timebase master has gone: playing on at the document's tempo";
                // JACK moves the transport back a cycle when its master lets go: the play
                // goes on from where it is. Any other jump moves the play with it.
                const bool smallJump = std::abs(s.jumpFrames) <= 2 * kMaxPeriodFrames;
                if (moved && !(masterGone && smallJump)) {
                    follower_.anchor(s);
                    return fromHere(s, lead);
                }
                const Clock::Duration at = steady(follower_.timeOfTick(s, double(tick))) - lead;
                const Clock::Duration now = clock_.now();
                usPerFrame_ = s.usPerFrame;
                if (at - lead <= now) {
                    spacing_ = steady(follower_.timeOfTick(s, double(tick + 1))) - lead - at;
                    return TickTime::due(at);
                }
                clock_.sleepUntil(std::min(at - lead, now + kPoll));
            } else {
                clock_.sleepUntil(clock_.now() + kPoll);  // a relocation waits for slow clients
            }
        }
    }

    void tempoChanges(int64_t tick, int32_t tempo) override {
        const TempoChange change = follower_.changeTempo(double(tick), tempo);
        // The tick playing now already lasts as long as the edited tempo makes it.
        const double frames = follower_.frameOfTick(double(tick + 1)) - follower_.frameOfTick(double(tick));
        spacing_ = std::chrono::microseconds(std::llround(frames * usPerFrame_));
        if (leading_) {
            unsent_ = change;
            handOver();
        }
    }

    Clock::Duration spacing(int32_t lengthMs) const override {
        return spacing_.count() > 0 ? spacing_ : Clock::Duration(std::chrono::milliseconds(lengthMs));
    }
    void sleepUntil(Clock::Duration time) override { clock_.sleepUntil(time); }
    std::string takeNotice() override { return std::exchange(notice_, {}); }
    void finish() override {
        if (leading_) sync_->stopTransport();
    }

   private:
    Clock::Duration steady(double jackUs) const {
        return std::chrono::microseconds(static_cast<int64_t>(std::llround(jackUs)) - sync_->jackMinusSteadyUs());
    }

    // The timebase callback gets the newest edit of the tempo; while its queue is full (it has
    // not run for many cycles) the edit waits for the next tick.
    void handOver() {
        if (unsent_ && sync_->lead(*unsent_)) unsent_.reset();
    }

    // The play goes on from the tick playing now: the one whose time has just passed, unless
    // more than half of it has, then the next.
    TickTime fromHere(const TransportState& s, Clock::Duration lead) {
        usPerFrame_ = s.usPerFrame;
        const double nowUs = double(std::chrono::duration_cast<std::chrono::microseconds>(clock_.now()).count() +
                                    sync_->jackMinusSteadyUs());
        const double frame = s.frame + (nowUs - double(s.cycleStartUs)) / std::max(1e-9, s.usPerFrame);
        const auto tick = std::max<int64_t>(0, std::llround(follower_.tickAtFrame(frame)));
        const Clock::Duration at = steady(follower_.timeOfTick(s, double(tick))) - lead;
        spacing_ = steady(follower_.timeOfTick(s, double(tick + 1))) - lead - at;
        return TickTime::move(tick, at);
    }

    JackSync::Ptr sync_;
    TransportFollower follower_;
    const bool leading_;
    Clock& clock_;
    uint64_t seen_ = 0;
    Clock::Duration spacing_{0};
    double usPerFrame_ = 0;
    std::optional<TempoChange> unsent_;  // an edit the timebase callback has yet to get
    std::string notice_;
};

// The clock that comes in through the JACK port.
class JackClockInput final : public ClockInput {
   public:
    explicit JackClockInput(JackSync::Ptr sync) : sync_(std::move(sync)) {}
    bool pop(ClockEvent& event) override { return sync_->popClock(event); }
    std::string failure() const override { return sync_->alive() ? std::string() : "The JACK server stopped"; }
    std::string name() const override { return sync_->portName(); }

   private:
    JackSync::Ptr sync_;
};

}  // namespace

TickSourceMade makeJackTransportSource(const SyncOptions& options, Clock& clock, const TempoMap& map) {
    const bool leading = options.mode == SyncMode::JackMaster;
    std::string problem;
    JackSync::Ptr sync = JackSync::open(kTransportClientName, leading ? &map : nullptr, false, problem);
    if (!sync) {
        return {nullptr, problem + (leading ? ": Tarrowin cannot lead the JACK transport" : ": the JACK transport cannot be followed")};
    }
    return {std::make_unique<JackTransportSource>(std::move(sync), map, leading, clock), {}};
}

std::unique_ptr<ClockInput> openJackClockInput(const std::string& source, std::string& problem) {
    JackSync::Ptr sync = JackSync::open(kClockInClientName, nullptr, true, problem);
    if (!sync) return nullptr;
    if (!source.empty() && !sync->connectClock(source, problem)) return nullptr;
    return std::make_unique<JackClockInput>(std::move(sync));
}

}  // namespace tarrowin
