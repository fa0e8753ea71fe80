#include "midi_clock.h"

#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "audio_system.h"
#include "jack_client.h"
#include "jack_sync.h"
#include "spsc_queue.h"

namespace tarrowin {

namespace {
// The loop's gain per clock: a steady clock's jitter is averaged over a dozen clocks or
// so, and a change of tempo is taken up within a beat.
constexpr double kOmega = 0.2;
constexpr double kPhaseGain = 1.41421356 * kOmega;
constexpr double kPeriodGain = kOmega * kOmega;
}  // namespace

void ClockFollower::restart(int64_t next) {
    count_ = next;
    started_ = false;
}

void ClockFollower::clock(int64_t timeUs) {
    if (started_) {
        const double measured = double(timeUs - lastUs_);
        const double expected = predicted_ + period_;
        const double error = double(timeUs) - expected;
        if (periods_ == 0 || std::abs(error) > period_ / 2) {
            // The first period, or a jump of tempo: taken as it comes.
            period_ = measured;
            predicted_ = double(timeUs);
            periods_ = 1;
        } else {
            predicted_ = expected + kPhaseGain * error;
            period_ += kPeriodGain * error;
            ++periods_;
        }
    } else {
        predicted_ = double(timeUs);
        started_ = true;
    }
    lastUs_ = timeUs;
    ++count_;
}

double ClockFollower::timeOfClock(int64_t k) const { return predicted_ + double(k - (count_ - 1)) * period_; }

namespace {

constexpr std::chrono::milliseconds kPoll{1};
// Without a tempo yet, a clock that does not come for this long has stopped.
constexpr std::chrono::seconds kNoClockLimit{2};

class ClockTickSource final : public TickSource {
   public:
    ClockTickSource(std::unique_ptr<ClockInput> input, Clock& clock) : input_(std::move(input)), clock_(clock) {
        notice_ = "Waiting for a MIDI clock to start on " + input_->name();
    }

    TickTime start(const std::atomic<int32_t>& playing, Clock::Duration lead) override {
        for (;;) {
            if (playing.load() == 0) return TickTime::end();
            if (const std::string why = input_->failure(); !why.empty()) return TickTime::end(why);
            ClockEvent e;
            while (input_->pop(e)) take(e);
            if (running_ && firstTickArrived()) return TickTime::move(firstTick_, stamp(kClocksPerTick * firstTick_, lead));
            clock_.sleepUntil(clock_.now() + kPoll);
        }
    }

    TickTime next(int64_t tick, int32_t, const std::atomic<int32_t>& playing, Clock::Duration lead) override {
        for (;;) {
            if (playing.load() == 0) return TickTime::end();
            if (const std::string why = input_->failure(); !why.empty()) return TickTime::end(why);
            ClockEvent e;
            while (input_->pop(e)) {
                take(e);
                if (!running_) return TickTime::end("The MIDI clock sent Stop");
                if (restarted_) {
                    restarted_ = false;
                    return awaitFirstTick(playing, lead);
                }
            }
            const Clock::Duration now = clock_.now();
            const int64_t clockNumber = kClocksPerTick * tick;
            // A tick may go out ahead of its clock by the output's latency, but never more
            // than a tick ahead of the clock that came: a clock that stops is not played on.
            if (follower_.last() >= clockNumber || (follower_.hasTempo() && follower_.last() >= clockNumber - kClocksPerTick)) {
                const Clock::Duration at = stamp(clockNumber, lead);
                if (follower_.last() >= clockNumber || at - lead <= now) {
                    spacing_ = std::chrono::microseconds(std::llround(3 * follower_.periodUs()));
                    return TickTime::due(at);
                }
                if (silentTooLong(now)) return TickTime::end("The MIDI clock stopped arriving");
                clock_.sleepUntil(std::min(at - lead, now + kPoll));
                continue;
            }
            if (silentTooLong(now)) return TickTime::end("The MIDI clock stopped arriving");
            clock_.sleepUntil(now + kPoll);
        }
    }

    Clock::Duration spacing(int32_t lengthMs) const override {
        return spacing_.count() > 0 ? spacing_ : Clock::Duration(std::chrono::milliseconds(lengthMs));
    }
    void sleepUntil(Clock::Duration time) override { clock_.sleepUntil(time); }
    std::string takeNotice() override { return std::exchange(notice_, {}); }

   private:
    void take(const ClockEvent& e) {
        switch (e.status) {
            case kMidiSongPosition: songPosition_ = e.data1 | (e.data2 << 7); break;
            case kMidiStart: begin(0); break;
            case kMidiContinue:
                if (!running_) begin(int64_t{songPosition_} * kClocksPerQuarter / 4);
                break;
            case kMidiStop: running_ = false; break;
            case kMidiClock: follower_.clock(e.timeUs); break;
            default: break;
        }
    }
    // The clock restarts at clock number `clockNumber`; its first tick is the first whole one.
    void begin(int64_t clockNumber) {
        follower_.restart(clockNumber);
        restarted_ = running_;
        running_ = true;
        firstTick_ = (clockNumber + kClocksPerTick - 1) / kClocksPerTick;
    }
    bool firstTickArrived() const { return follower_.last() >= kClocksPerTick * firstTick_; }

    // A Start while playing: the play goes on from the clock's first tick once it comes.
    TickTime awaitFirstTick(const std::atomic<int32_t>& playing, Clock::Duration lead) {
        for (;;) {
            if (playing.load() == 0) return TickTime::end();
            ClockEvent e;
            while (input_->pop(e)) take(e);
            if (!running_) return TickTime::end("The MIDI clock sent Stop");
            if (firstTickArrived()) return TickTime::move(firstTick_, stamp(kClocksPerTick * firstTick_, lead));
            if (silentTooLong(clock_.now())) return TickTime::end("The MIDI clock stopped arriving");
            clock_.sleepUntil(clock_.now() + kPoll);
        }
    }

    // Two beats without a clock (or two seconds before its tempo is known).
    bool silentTooLong(Clock::Duration now) const {
        const Clock::Duration last = std::chrono::microseconds(follower_.lastTimeUs());
        const Clock::Duration limit =
            follower_.hasTempo() ? Clock::Duration(std::chrono::microseconds(std::llround(follower_.periodUs() * 2 * kClocksPerQuarter)))
                                 : Clock::Duration(kNoClockLimit);
        return follower_.last() >= 0 && now - last > limit;
    }

    Clock::Duration stamp(int64_t clockNumber, Clock::Duration lead) const {
        return std::chrono::microseconds(std::llround(follower_.timeOfClock(clockNumber))) - lead;
    }

    std::unique_ptr<ClockInput> input_;
    Clock& clock_;
    ClockFollower follower_;
    bool running_ = false;
    bool restarted_ = false;
    int32_t songPosition_ = 0;
    int64_t firstTick_ = 0;
    Clock::Duration spacing_{0};
    std::string notice_;
};

// The clock through the ALSA sequencer: a port "Tarrowin clock in" of our own, or one
// connected to the named port. RtMidi's thread queues the messages, lock-free.
class AlsaClockInput final : public ClockInput {
   public:
    static std::unique_ptr<AlsaClockInput> open(const std::string& source, std::string& problem) {
        quietAudioLibraries();
        std::unique_ptr<AlsaClockInput> in(new AlsaClockInput);
        try {
            in->midi_ = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, kClockInClientName);
            in->midi_->ignoreTypes(true, false, true);  // keep the timing messages
            if (source.empty()) {
                in->midi_->openVirtualPort(kClockInClientName);
                in->name_ = std::string("ALSA: ") + kClockInClientName;
            } else {
                const std::string wanted = source.rfind("ALSA: ", 0) == 0 ? source.substr(6) : source;
                std::vector<unsigned> matches;
                std::string list;
                for (unsigned i = 0; i < in->midi_->getPortCount(); ++i) {
                    const std::string name = in->midi_->getPortName(i);
                    list += "\n  ALSA: " + name;
                    if (name == wanted) {
                        matches = {i};
                        break;
                    }
                    if (name.find(wanted) != std::string::npos) matches.push_back(i);
                }
                if (matches.size() != 1) {
                    problem = "No ALSA MIDI port is named \"" + source + "\"" + (list.empty() ? "" : ":" + list);
                    return nullptr;
                }
                in->midi_->openPort(matches.front(), kClockInClientName);
                in->name_ = "ALSA: " + in->midi_->getPortName(matches.front());
            }
            in->midi_->setCallback(&AlsaClockInput::received, in.get());
        } catch (const RtMidiError& e) {
            problem = "The ALSA sequencer could not open a MIDI clock input: " + e.getMessage();
            return nullptr;
        }
        return in;
    }
    ~AlsaClockInput() override {
        if (midi_) midi_->closePort();
        midi_.reset();
    }
    bool pop(ClockEvent& event) override {
        const ClockEvent* e = queue_.front();
        if (e == nullptr) return false;
        event = *e;
        queue_.pop();
        return true;
    }
    std::string name() const override { return name_; }

   private:
    AlsaClockInput() = default;
    static void received(double, std::vector<unsigned char>* message, void* arg) {
        auto* self = static_cast<AlsaClockInput*>(arg);
        if (message == nullptr || message->empty() || message->front() < 0xF0) return;
        ClockEvent e;
        e.timeUs = std::chrono::duration_cast<std::chrono::microseconds>(SteadyClock::instance().now()).count();
        e.status = (*message)[0];
        if (message->size() > 2) {
            e.data1 = (*message)[1];
            e.data2 = (*message)[2];
        }
        self->queue_.push(e);
    }

    std::unique_ptr<RtMidiIn> midi_;
    SpscQueue<ClockEvent> queue_{4096};
    std::string name_;
};

}  // namespace

std::unique_ptr<TickSource> makeClockTickSource(std::unique_ptr<ClockInput> input, Clock& clock) {
    return std::make_unique<ClockTickSource>(std::move(input), clock);
}

TickSourceMade makeMidiClockSource(const SyncOptions& options, Clock& clock) {
    const std::string& source = options.clockIn;
    const bool alsaNamed = source.rfind("ALSA: ", 0) == 0;
    const bool jackNamed = source.rfind("JACK: ", 0) == 0;
    std::string problems;
    const auto note = [&problems](const std::string& p) { problems += (problems.empty() ? "" : "; ") + p; };
    if (!alsaNamed) {
        std::string problem;
        if (auto in = openJackClockInput(jackNamed ? source.substr(6) : source, problem)) {
            return {makeClockTickSource(std::move(in), clock), {}};
        }
        note(problem);
    }
    if (!jackNamed && alsaSequencerPresent()) {
        std::string problem;
        if (auto in = AlsaClockInput::open(source, problem)) return {makeClockTickSource(std::move(in), clock), {}};
        note(problem);
    } else if (alsaNamed) {
        note("The ALSA sequencer is not available");
    }
    return {nullptr, problems + ": no MIDI clock can come in"};
}

}  // namespace tarrowin
