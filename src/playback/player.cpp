#include "player.h"

#include <algorithm>
#include <system_error>

#include "document/document.h"
#include "engine/retuning.h"

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

// The worker's side of the stream: it sends each message at once and waits after each tick
// for the next tick's deadline, start + the sum of the tick lengths so far.
class Player::Worker final : public PerformanceSink, public PerformanceControl {
   public:
    explicit Worker(Player& player) : p_(player) {}

    int lastEvent() const { return lastEvent_; }

    void eventBegins(int index, const GlobalSettings& global, int64_t) override {
        if (!started_) {
            deadline_ = p_.clock_.now();
            started_ = true;
        }
        lastEvent_ = index;
        p_.tickLength_.store(tickLengthMs(global.tempo));
        p_.event_.store(index);
        p_.position_.store(global.startCounter);
        p_.listener_->eventBegins(index);
    }
    void message(int64_t, const ShortMessage& m) override { p_.output_.send(m); }
    void sysex(int64_t, const SysexMessage& m) override { p_.output_.sendSysex(m); }

    bool playing() override { return p_.output_.playingFlag().load() != 0; }
    void tickDone(int64_t, int32_t tickLengthMs) override {
        p_.position_.fetch_add(1);
        deadline_ += std::chrono::milliseconds(tickLengthMs);
        p_.clock_.sleepUntil(deadline_);
    }
    bool voiceOn(int v, bool) override { return p_.voiceOn_[static_cast<size_t>(v)].load() != 0; }
    bool locked() override { return p_.lock_.load() != 0; }
    int32_t endCounter() override { return p_.end_.load(); }
    void setEndCounter(int32_t end) override { p_.end_.store(end); }

   private:
    Player& p_;
    bool started_ = false;
    Clock::Duration deadline_{0};
    int lastEvent_ = -1;
};

Player::Player(MidiOutput& output, Clock& clock, PlayerOptions options)
    : output_(output), clock_(clock), options_(options), listener_(&silent_) {}

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

    output_.playingFlag().store(1);
    try {
        worker_ = std::thread(&Player::run, this, std::move(request), options, std::move(retuning));
    } catch (const std::system_error& e) {  // no memory (or no thread left) for the worker
        output_.playingFlag().store(0);
        output_.close();
        return {PlayStatus::DeviceError, std::string("Not enough memory to start playing: ") + e.what()};
    }
    return {};
}

void Player::run(PlayRequest request, PerformanceOptions options, std::shared_ptr<const Retuning> retuning) {
    if (options_.realtime) requestRealtimeScheduling();
    listener_->playbackStarted(request.mode);

    Worker worker(*this);
    options.retuning = retuning.get();
    const PerformanceEnd end = perform(options, request.current, request.events, worker, worker);

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
}

}  // namespace tarrowin
