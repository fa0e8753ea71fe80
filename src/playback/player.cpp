#include "player.h"

#include <algorithm>
#include <iomanip>
#include <limits>
#include <sstream>
#include <system_error>

#include "document/document.h"
#include "engine/retuning.h"
#include "midi_clock.h"

namespace tarrowin {

PlayRequest PlayRequest::live(const CTarrowinDoc& doc, bool lock) {
    PlayRequest r;
    r.mode = PerformanceMode::Live;
    r.current = doc.current();
    r.lock = lock;
    r.tuning = doc.sharedTuning();
    return r;
}

namespace {
PlayRequest eventsRequest(PerformanceMode mode, const CTarrowinDoc& doc, int event) {
    PlayRequest r;
    r.mode = mode;
    r.events = doc.composition().events();
    r.firstEvent = event;
    r.tuning = doc.sharedTuning();
    return r;
}
}  // namespace

PlayRequest PlayRequest::composition(const CTarrowinDoc& doc, int firstEvent) {
    return eventsRequest(PerformanceMode::Composition, doc, firstEvent);
}

PlayRequest PlayRequest::audition(const CTarrowinDoc& doc, int event) {
    return eventsRequest(PerformanceMode::Audition, doc, event);
}

TempoMap PlayRequest::tempoMap() const {
    if (mode == PerformanceMode::Live) return TempoMap::ofCurrent(current.global, lock);
    return TempoMap::ofEvents(events, mode == PerformanceMode::Audition ? firstEvent : std::max(firstEvent, 0));
}

std::optional<PlayRequest> PlayRequest::at(int64_t tick) const {
    if (tick <= 0) return *this;
    PlayRequest r = *this;
    if (mode == PerformanceMode::Live) {
        const int64_t start = int64_t{current.global.startCounter} + tick;
        r.current.global.startCounter = static_cast<int32_t>(std::min<int64_t>(start, std::numeric_limits<int32_t>::max()));
        return r;
    }
    for (size_t i = static_cast<size_t>(std::max(firstEvent, 0)); i < events.size(); ++i) {
        GlobalSettings& g = r.events[i].global;
        const int64_t length = std::max<int64_t>(0, int64_t{g.endCounter} - g.startCounter);
        if (tick < length) {
            r.firstEvent = static_cast<int>(i);
            g.startCounter += static_cast<int32_t>(tick);
            return r;
        }
        tick -= length;
        if (mode == PerformanceMode::Audition) break;
    }
    return std::nullopt;
}

int32_t PlayRequest::firstCounter() const {
    if (mode == PerformanceMode::Live) return current.global.startCounter;
    const bool exists = firstEvent >= 0 && static_cast<size_t>(firstEvent) < events.size();
    return exists ? events[static_cast<size_t>(firstEvent)].global.startCounter : 0;
}

namespace {

// MIDI clock out: kClocksPerTick clocks a tick; Start, or Song Position Pointer (in
// 16th notes, two ticks each) and Continue, before the first; Stop after the last.
constexpr ShortMessage kClock{kMidiClock, 0, 0};
constexpr ShortMessage kStart{kMidiStart, 0, 0};
constexpr ShortMessage kContinue{kMidiContinue, 0, 0};
constexpr ShortMessage kStop{kMidiStop, 0, 0};

ShortMessage songPosition(int32_t counter) {
    const int32_t sixteenths = std::clamp(counter / 2, 0, 0x3FFF);
    return {kMidiSongPosition, static_cast<uint8_t>(sixteenths & 0x7F), static_cast<uint8_t>(sixteenths >> 7)};
}

}  // namespace

// The worker's side of the stream: it asks the tick source when each tick happens, and
// sends each message with its tick's time. A source that moves the play elsewhere or ends
// it interrupts the run at its next tick.
class Player::Worker final : public PerformanceSink, public PerformanceControl {
   public:
    Worker(Player& player, TickSource& source, bool clockOut, Settings& current, bool records,
           const Retuning* retuning, const Retuning* takeTuning)
        : p_(player),
          source_(source),
          clockOut_(clockOut),
          lead_(player.output_.latency()),
          current_(current),
          records_(records),
          retuning_(retuning),
          takeTuning_(takeTuning) {
        program_.fill(-1);
        pan_.fill(-1);
        bend_.fill(-1);
    }

    int lastEvent() const { return lastEvent_; }
    int32_t lateTicks() const { return lateTicks_; }
    double worstLateMs() const { return std::chrono::duration<double, std::milli>(worstLate_).count(); }
    Clock::Duration lead() const { return lead_; }

    // A run from tick `first` of the play, at `at`, whose counter is `counter`.
    void beginRun(int64_t first, Clock::Duration at, int32_t counter) {
        // A recording goes on through a relocation: the new run's dates follow the old's.
        runBase_ += runDate_;
        runDate_ = 0;
        first_ = first;
        tickTime_ = at;
        interruption_.reset();
        if (!clockOut_) return;
        if (counter == 0) {
            send(kStart);
        } else {
            send(songPosition(counter));
            send(kContinue);
        }
        send(kClock);
    }
    void endRun() {
        if (clockOut_) send(kStop);
    }
    // What ended the last run besides its own end and the user's Stop: a move or an end.
    std::optional<TickTime> interruption() const { return interruption_; }
    void passNotice() {
        if (std::string notice = source_.takeNotice(); !notice.empty()) p_.listener_->syncNotice(notice);
    }

    void eventBegins(int index, const GlobalSettings& global, int64_t date) override {
        lastEvent_ = index;
        global_ = global;
        p_.tickLength_.store(tickLengthMs(global.tempo));
        p_.event_.store(index);
        p_.position_.store(global.startCounter);
        p_.listener_->eventBegins(index);
        runDate_ = date;
        if (taking()) {
            quarter_ = quarterMicroseconds(tickLengthMs(global.tempo));
            p_.recorder_.add(TakeEntry::begin(takeDate(date), global, quarter_));
        } else {
            followRecording(date);
        }
    }
    void message(int64_t date, const ShortMessage& m) override {
        send(m);
        runDate_ = date;
        const int channel = m.status & 0x0F;
        if ((m.status & 0xF0) == 0xC0) program_[static_cast<size_t>(channel)] = m.data1;
        if ((m.status & 0xF0) == 0xB0 && m.data1 == 10) pan_[static_cast<size_t>(channel)] = m.data2;
        if ((m.status & 0xF0) == 0xE0) bend_[static_cast<size_t>(channel)] = static_cast<int16_t>(m.data1 | m.data2 << 7);
        if (taking()) p_.recorder_.add(TakeEntry::sent(takeDate(date), m));
    }
    void tempoChanges(int64_t date, int32_t tempo) override {
        global_.tempo = tempo;
        p_.tickLength_.store(tickLengthMs(tempo));
        source_.tempoChanges(first_ + date, tempo);
    }
    const Settings* editedSettings() override {
        const Settings* edited = p_.edits_.take();
        if (edited != nullptr) {
            // A relocation starts the next run from the settings as edited.
            current_.voices = edited->voices;
            current_.global.tempo = edited->global.tempo;
        }
        return edited;
    }

    // The play has sent its final messages: a take still running ends with them.
    void endPlay() {
        if (taking()) p_.recorder_.endTake(takeDate(runDate_));
        p_.recorder_.playEnded();
        p_.edits_.release();
    }
    void sysex(int64_t date, const SysexMessage& m) override {
        p_.output_.sendSysex(m);
        runDate_ = date;
        if (taking()) addSysex(takeDate(date), m);
    }

    bool playing() override { return !interruption_ && p_.output_.playingFlag().load() != 0; }
    void tickDone(int64_t date, int32_t tickLengthMs) override {
        p_.position_.fetch_add(1);
        runDate_ = date;
        ticked_ = true;
        if (taking()) {
            // The tick just played lasted longer or shorter than those before it (an edit of
            // the tempo, a master's new tempo): the take's tempo follows from its tick on.
            const uint32_t quarter = quarterMicroseconds(tickLengthMs);
            if (quarter != quarter_) p_.recorder_.add(TakeEntry::tempo(takeDate(date - 1), quarter));
            quarter_ = quarter;
        }
        const std::atomic<int32_t>& flag = p_.output_.playingFlag();
        if (clockOut_) {
            const Clock::Duration spacing = source_.spacing(tickLengthMs);
            for (int j = 1; j < kClocksPerTick; ++j) {
                const Clock::Duration at = tickTime_ + spacing * j / kClocksPerTick;
                source_.sleepUntil(at - lead_);
                if (flag.load() == 0) return;
                send(kClock, at);
            }
        }
        const TickTime t = source_.next(first_ + date, tickLengthMs, flag, lead_);
        passNotice();
        if (t.kind != TickTime::Kind::Due) {
            interruption_ = t;
            return;
        }
        tickTime_ = t.at;
        if (const Clock::Duration late = p_.clock_.now() - t.at; late > kLateTick) {
            ++lateTicks_;
            worstLate_ = std::max(worstLate_, late);
        }
        if (clockOut_ && flag.load() != 0) send(kClock);
        followRecording(date);
    }
    bool voiceOn(int v, bool) override { return p_.voiceOn_[static_cast<size_t>(v)].load() != 0; }
    bool locked() override { return p_.lock_.load() != 0; }
    int32_t endCounter() override { return p_.end_.load(); }
    void setEndCounter(int32_t end) override { p_.end_.store(end); }

   private:
    bool taking() const { return p_.recorder_.taking(); }
    // A take's tempo: the ticks as they are played, the program's whole milliseconds or a
    // master's beat, so that the file replays in the play's time.
    uint32_t quarterMicroseconds(int32_t lengthMs) const {
        const auto tick = std::chrono::duration_cast<std::chrono::microseconds>(source_.spacing(lengthMs));
        return static_cast<uint32_t>(std::clamp<int64_t>(tick.count() * 8, 1, 0xFFFFFF));
    }
    int64_t takeDate(int64_t date) const { return runBase_ + date - takeStart_; }

    // Record Performance, looked at at the top of each tick: a take begins or ends at `date`.
    void followRecording(int64_t date) {
        const bool wanted = records_ && p_.recording_.load() != 0;
        if (wanted == taking()) return;
        if (!wanted) {
            // Cut during the play: it ends as a play ends, with no key left sounding.
            for (int ch = 0; ch < 16; ++ch) p_.recorder_.add(TakeEntry::sent(takeDate(date), ShortMessage::allNotesOff(ch)));
            p_.recorder_.endTake(takeDate(date));
            return;
        }
        takeStart_ = runBase_ + date;
        quarter_ = quarterMicroseconds(tickLengthMs(global_.tempo));
        // Begun during the play: the tuning, programs, pans and bends sent so far hold for
        // what follows. (A play's first tick comes after its tuning's messages: a take that
        // begins before it gets them as they are sent.)
        p_.recorder_.add(TakeEntry::begin(0, global_, quarter_));
        if (const Retuning* tuning = takeTuning_ != nullptr ? takeTuning_ : ticked_ ? retuning_ : nullptr) {
            for (const SysexMessage& m : tuning->startSysex()) addSysex(0, m);
            for (const ShortMessage& m : tuning->startMessages()) p_.recorder_.add(TakeEntry::sent(0, m));
        }
        for (int ch = 0; ch < 16; ++ch) {
            const int16_t program = program_[static_cast<size_t>(ch)];
            if (program >= 0) p_.recorder_.add(TakeEntry::sent(0, ShortMessage::programChange(ch, program)));
        }
        for (int ch = 0; ch < 16; ++ch) {
            const int16_t pan = pan_[static_cast<size_t>(ch)];
            if (pan >= 0) p_.recorder_.add(TakeEntry::sent(0, ShortMessage{static_cast<uint8_t>(0xB0 | ch), 10, static_cast<uint8_t>(pan)}));
        }
        for (int ch = 0; ch < 16; ++ch) {
            const int16_t bend = bend_[static_cast<size_t>(ch)];
            if (bend >= 0) p_.recorder_.add(TakeEntry::sent(0, ShortMessage::pitchBend(ch, bend)));
        }
    }
    void addSysex(int64_t date, const SysexMessage& m) {
        for (size_t part = 0; part < TakeEntry::sysexParts(m); ++part) p_.recorder_.add(TakeEntry::sysex(date, m, part));
    }

    void send(const ShortMessage& m) { send(m, tickTime_); }
    void send(const ShortMessage& m, Clock::Duration at) { p_.output_.sendAt(m, at); }

    Player& p_;
    TickSource& source_;
    const bool clockOut_;
    // A device that places messages in time plays them its latency later, so the worker
    // may send them that much early: its own waking late then moves nothing.
    const Clock::Duration lead_;
    int64_t first_ = 0;
    Clock::Duration tickTime_{0};
    std::optional<TickTime> interruption_;
    int lastEvent_ = -1;
    int32_t lateTicks_ = 0;
    Clock::Duration worstLate_{0};
    Settings& current_;  // the play's current settings, edits included
    // The recording: whether this play may record, the dates of the play so far and where
    // the take began, the tempo and time signature, the last program and pan of each channel.
    const bool records_;
    int64_t runBase_ = 0;
    int64_t runDate_ = 0;
    int64_t takeStart_ = 0;
    uint32_t quarter_ = 0;  // the take's tempo, in microseconds per quarter note
    GlobalSettings global_;
    std::array<int16_t, 16> program_{};
    std::array<int16_t, 16> pan_{};
    std::array<int16_t, 16> bend_{};
    // The play's tuning, and whether a tick has been played (its messages are sent then).
    const Retuning* retuning_;
    // A device that tunes its keys itself receives no tuning messages: a take begins with
    // those of the tuning by MIDI Tuning Standard, so that the file replays tuned elsewhere.
    const Retuning* takeTuning_;
    bool ticked_ = false;
};

Player::Player(MidiOutput& output, Clock& clock, PlayerOptions options)
    : output_(output),
      clock_(clock),
      options_(options),
      listener_(&silent_),
      recorder_([this](PerformanceTake take) { listener_->takeRecorded(std::move(take)); }) {}

Player::~Player() {
    if (isPlaying()) stop();
    joinWorker();
    std::thread cooldown;
    {
        std::lock_guard lock(cooldownMutex_);
        cooldown = std::move(cooldownThread_);
    }
    if (cooldown.joinable()) cooldown.join();
}

PlayResult Player::play(PlayRequest request) {
    if (!canPlay()) return {PlayStatus::Busy, "Playback is still running"};
    // The cooldown has outlived the old worker's last tick; joining makes sure that it has
    // also sent its final messages and let go of the device.
    joinWorker();

    const bool oneEvent = request.mode == PerformanceMode::Audition;
    const bool eventExists =
        request.firstEvent >= 0 && static_cast<size_t>(request.firstEvent) < request.events.size();
    if (oneEvent && !eventExists) return {PlayStatus::NoEvent, "No event is selected"};
    if (request.mode != PerformanceMode::Live && request.mode != PerformanceMode::Composition && !oneEvent) {
        return {PlayStatus::NoEvent, "Only live, composition and audition runs play on a device"};
    }

    PerformanceOptions options;
    options.mode = request.mode;
    options.percussionChannel = output_.percussionChannel();
    options.firstEvent = request.firstEvent;
    // A device that retunes keys itself gets the tuning as it opens; any other gets the
    // tuning's messages in the stream, as the export writes them.
    std::shared_ptr<const Retuning> retuning;
    const bool deviceTunes = output_.selectedRetunesKeys();
    if (request.tuning) {
        const TuningOutput out = deviceTunes ? TuningOutput::Device : outputFor(request.tuning->method);
        Retuning::Planned planned = Retuning::plan(*request.tuning, out, options, request.current, request.events);
        if (!planned.ok()) return {PlayStatus::TuningConflict, planned.refusal};
        retuning = std::move(planned.retuning);
    }
    std::shared_ptr<const Retuning> takeTuning;
    if (request.tuning && deviceTunes) {
        Retuning::Planned planned = Retuning::plan(*request.tuning, TuningOutput::Mts, options, request.current, request.events);
        if (planned.ok()) takeTuning = std::move(planned.retuning);
    }

    // The audition of the Composition Maker always keeps its own time.
    SyncOptions sync = oneEvent ? SyncOptions{} : request.sync;
    sync.clockOut = request.sync.clockOut && !oneEvent;
    request.sync = sync;
    TickSourceMade made = options_.tickSources(sync, clock_, request.tempoMap());
    if (!made.source) return {PlayStatus::SyncError, made.message};

    const OpenResult opened = output_.open(deviceTunes ? retuning : nullptr);
    if (!opened.ok()) return {PlayStatus::DeviceError, opened.message};

    lock_.store(request.lock ? 1 : 0);
    end_.store(request.current.global.endCounter);
    for (int v = 0; v < kVoices; ++v) {
        voiceOn_[static_cast<size_t>(v)].store(request.current.voices[static_cast<size_t>(v)].enabled != 0 ? 1 : 0);
    }
    const GlobalSettings& first =
        request.mode == PerformanceMode::Live || !eventExists
            ? request.current.global
            : request.events[static_cast<size_t>(request.firstEvent)].global;
    tickLength_.store(tickLengthMs(first.tempo));
    // The position reads the first event at once, not only once the worker reaches it.
    event_.store(request.mode == PerformanceMode::Live || !eventExists ? 0 : request.firstEvent);
    position_.store(first.startCounter);

    edits_.clear();
    output_.playingFlag().store(1);
    try {
        recorder_.startPlay();
        worker_ = std::thread(&Player::run, this, std::move(request), options, std::move(retuning), std::move(takeTuning),
                              std::move(made.source));
    } catch (const std::system_error& e) {  // no memory (or no thread left) for the worker
        recorder_.playEnded();
        recorder_.finishPlay();
        output_.playingFlag().store(0);
        output_.close();
        return {PlayStatus::DeviceError, std::string("Not enough memory to start playing: ") + e.what()};
    }
    return {};
}

void Player::run(PlayRequest request, PerformanceOptions options, std::shared_ptr<const Retuning> retuning,
                 std::shared_ptr<const Retuning> takeTuning, std::unique_ptr<TickSource> source) {
    if (options_.realtime) requestRealtimeScheduling();
    listener_->playbackStarted(request.mode);

    Worker worker(*this, *source, request.sync.clockOut, request.current, request.mode != PerformanceMode::Audition,
                  retuning.get(), takeTuning.get());
    PerformanceEnd end = PerformanceEnd::Stopped;
    worker.passNotice();  // waiting for a master to start, say so
    TickTime t = source->start(output_.playingFlag(), worker.lead());
    worker.passNotice();
    // Each run plays from a position until it ends; a master that moves the play starts a
    // new run from there (the sounding notes ended first).
    while (t.kind == TickTime::Kind::Move) {
        const std::optional<PlayRequest> at = request.at(t.tick);
        if (!at) {
            end = PerformanceEnd::Completed;
            break;
        }
        worker.beginRun(t.tick, t.at, at->firstCounter());
        PerformanceOptions run = options;
        run.mode = at->mode;
        run.firstEvent = at->firstEvent;
        run.retuning = retuning.get();
        end = perform(run, at->current, at->events, worker, worker);
        worker.endRun();
        const std::optional<TickTime> interruption = worker.interruption();
        if (!interruption) break;
        t = *interruption;
    }
    source->finish();
    worker.endPlay();

    // The final messages are out: only now is the device let go.
    output_.close();
    const bool itself = isPlaying();
    if (itself) stop();

    PlaybackFinish finish;
    finish.mode = request.mode;
    finish.end = end;
    finish.stoppedItself = itself;
    finish.endCounter = end_.load();
    finish.lastEvent = worker.lastEvent();
    finish.lateTicks = worker.lateTicks();
    finish.worstLateMs = worker.worstLateMs();
    if (t.kind == TickTime::Kind::End) finish.why = t.why;
    listener_->playbackFinished(finish);
}

void Player::stop() {
    // Cooldown first: Play must never find both flags clear while a worker may still run.
    cooldown_.store(1);
    output_.playingFlag().store(0);
    startCooldown();
}

void Player::startCooldown() {
    std::lock_guard lock(cooldownMutex_);
    cooldownUntil_ = std::max(cooldownUntil_, clock_.now() + std::chrono::milliseconds(tickLength_.load()));
    cooldown_.store(1);
    if (cooldownRunning_) return;  // the running cooldown waits for the later deadline
    if (cooldownThread_.joinable()) cooldownThread_.join();
    try {
        cooldownThread_ = std::thread(&Player::cooldownLoop, this);
        cooldownRunning_ = true;
    } catch (const std::system_error&) {
        // Without a thread for it (no memory left) the cooldown ends at once: the next play
        // joins the worker before it starts anyway. Stop runs in the destructor too, which
        // must not throw.
        cooldown_.store(0);
        tickLength_.store(0);
        listener_->playAvailable();
    }
}

void Player::cooldownLoop() {
    for (;;) {
        Clock::Duration until;
        {
            std::lock_guard lock(cooldownMutex_);
            if (clock_.now() >= cooldownUntil_) {
                cooldown_.store(0);
                tickLength_.store(0);
                cooldownRunning_ = false;
                break;
            }
            until = cooldownUntil_;
        }
        clock_.sleepUntil(until);
    }
    listener_->playAvailable();
}

void Player::waitForWorker() { joinWorker(); }

void Player::joinWorker() {
    if (worker_.joinable()) worker_.join();
    recorder_.finishPlay();
}

std::string lateTicksReport(const PlaybackFinish& finish) {
    if (finish.lateTicks <= 0) return {};
    std::ostringstream text;
    text << finish.lateTicks << (finish.lateTicks == 1 ? " tick went" : " ticks went") << " out more than "
         << kLateTick.count() << " ms after " << (finish.lateTicks == 1 ? "its" : "their") << " time (the latest "
         << std::fixed << std::setprecision(1) << finish.worstLateMs << " ms after)";
    return text.str();
}

}  // namespace tarrowin
