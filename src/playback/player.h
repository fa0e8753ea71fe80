#pragma once
// The players: the live worker (the current settings), the composition worker (the events
// from a chosen one) and the audition worker (one event, for the Composition Maker). Each
// plays the engine's performance stream on its own thread through MidiOutput, waiting for
// each tick's absolute deadline on the clock.
//
// The worker and the user-interface thread share only atomic words: the playing flag
// (MidiOutput's), the cooldown flag, the tick length, the Lock flag, the End counter and
// the 16 voice on/off flags. The worker never touches the document: Play hands it
// snapshots, and it reports through PlaybackListener, on its own thread, for the window
// to marshal to its own.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "clock.h"
#include "engine/performance.h"
#include "engine/performance_take.h"
#include "engine/settings.h"
#include "engine/tuning.h"
#include "midi_output.h"
#include "performance_recorder.h"
#include "settings_mailbox.h"
#include "tick_source.h"

namespace tarrowin {

class CTarrowinDoc;

// What Play plays: snapshots taken on the user-interface thread.
struct PlayRequest {
    PerformanceMode mode = PerformanceMode::Live;  // Live, Composition or Audition
    Settings current;                              // Live: the current settings
    std::vector<Settings> events;                  // Composition, Audition: the composition
    int firstEvent = 0;                            // Composition: "Play from Event"; Audition: the event
    bool lock = false;                             // Live: the Lock button
    SyncOptions sync;                              // Live, Composition: where the ticks come from
    std::shared_ptr<const TuningSettings> tuning;  // the document's; none: equal temperament

    static PlayRequest live(const CTarrowinDoc& doc, bool lock);
    static PlayRequest composition(const CTarrowinDoc& doc, int firstEvent);
    static PlayRequest audition(const CTarrowinDoc& doc, int event);

    // The ticks of the request laid out in time.
    TempoMap tempoMap() const;
    // The same play begun `tick` ticks in (a master's position): the current settings
    // from Start + tick, or the event and counter that far into the composition; none
    // when the composition has ended by then.
    std::optional<PlayRequest> at(int64_t tick) const;
    // The counter the play begins with.
    int32_t firstCounter() const;
};

enum class PlayStatus {
    Started,
    Busy,         // a worker plays, or the cooldown after Stop still runs
    NoEvent,      // an audition without an event to play
    DeviceError,  // the device did not open; `message` is for a box with the stop icon
    SyncError,    // the sync chosen cannot be had (no JACK server, no such clock port)
    TuningConflict,  // tuned voices share a channel their tuning cannot serve; `message` names them
};

struct PlayResult {
    PlayStatus status = PlayStatus::Started;
    std::string message;
    bool started() const { return status == PlayStatus::Started; }
};

struct PlaybackFinish {
    PerformanceMode mode = PerformanceMode::Live;
    PerformanceEnd end = PerformanceEnd::Completed;
    bool stoppedItself = false;  // it ran Stop itself: locked End reached, last event played
    int32_t endCounter = 0;      // Live: the End counter for the window to store and show
    int lastEvent = -1;          // the event that played last (-1: none began)
    std::string why;             // the master ended the play: what happened (for the status bar)
    // Ticks the worker reached more than kLateTick after their time (a machine too busy to
    // let it run), and the latest of them: their messages reached the device that late.
    int32_t lateTicks = 0;
    double worstLateMs = 0;
};
inline constexpr std::chrono::milliseconds kLateTick{1};
// What the program says of a play's late ticks: "3 ticks went out more than 1 ms after their
// time (the latest 5.0 ms after)", or nothing when none was late.
std::string lateTicksReport(const PlaybackFinish& finish);

// Called on the worker's and the cooldown's threads. A listener must not call the Player
// back from these calls; the window queues them to its own thread.
class PlaybackListener {
   public:
    virtual ~PlaybackListener() = default;
    virtual void playbackStarted(PerformanceMode mode) { (void)mode; }
    // An event (0 for the current settings) begins: with "Update Settings playing
    // composition" the window loads it, and "Play from Event" selects it.
    virtual void eventBegins(int index) { (void)index; }
    // The final messages are sent and the device is closed.
    virtual void playbackFinished(const PlaybackFinish& finish) { (void)finish; }
    // The cooldown after Stop is over: Play may be enabled again.
    virtual void playAvailable() {}
    // A remark about the sync for the status bar: waiting for the master, the master gone.
    virtual void syncNotice(const std::string& text) { (void)text; }
    // A recording ended (the play ended, or recording was turned off during it): what
    // reached the device meanwhile. Called on the recorder's own thread.
    virtual void takeRecorded(PerformanceTake take) { (void)take; }
};

using TickSourceFactory = std::function<TickSourceMade(const SyncOptions&, Clock&, const TempoMap&)>;

struct PlayerOptions {
    bool realtime = true;  // ask for real-time scheduling of the worker (silently refused without privilege)
    TickSourceFactory tickSources = makeTickSource;  // tests give sources of their own
};

class Player {
   public:
    explicit Player(MidiOutput& output, Clock& clock = SteadyClock::instance(), PlayerOptions options = {});
    // Stops a running worker and waits for it and for the cooldown.
    ~Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    // Set before the first Play.
    void setListener(PlaybackListener* listener) { listener_ = listener; }

    // Opens the device, sets the playing flag and starts the worker of the request's mode.
    // Refused while playing or cooling down; the previous worker is joined first.
    PlayResult play(PlayRequest request);
    // Clears the playing flag and starts the cooldown of one tick. The worker leaves at its
    // next tick, sends its final messages and closes the device itself.
    void stop();
    // Waits until the worker has ended (on its own or after Stop), and its recording has
    // been handed to the listener.
    void waitForWorker();

    bool canPlay() const { return !isPlaying() && !coolingDown(); }
    bool isPlaying() const { return output_.playingFlag().load() != 0; }
    bool coolingDown() const { return cooldown_.load() != 0; }
    int32_t tickLength() const { return tickLength_.load(); }

    // The live run's words the window writes while it plays.
    void setLock(bool on) { lock_.store(on ? 1 : 0); }
    bool lock() const { return lock_.load() != 0; }
    void setVoiceOn(int v, bool on) { voiceOn_[static_cast<size_t>(v)].store(on ? 1 : 0); }
    bool voiceOn(int v) const { return voiceOn_[static_cast<size_t>(v)].load() != 0; }
    // The current settings edited while a live play runs: the worker takes the newest at the
    // top of its next tick (the voices and the tempo; the counters stay the play's own).
    // Call from one thread, the one that starts the plays.
    void publishSettings(const Settings& settings) { edits_.publish(settings); }

    // Record Performance: while on, what a play (not an audition) sends to the device is
    // kept, and each take goes to the listener when it ends. Turned on during a play, the
    // take begins at the next tick with the programs and pans in force; turned off, it ends
    // there with All Notes Off.
    void setRecording(bool on) { recording_.store(on ? 1 : 0); }
    bool recording() const { return recording_.load() != 0; }
    // Blocks of a recording the worker had to make itself (0 unless the recorder's helper
    // was starved of time).
    int64_t recordingBlocksMadeByWorker() const { return recorder_.blocksMadeByWorker(); }
    int32_t endCounter() const { return end_.load(); }

    // For position displays: the event playing and its counter (the next tick to play).
    int currentEvent() const { return event_.load(); }
    int32_t position() const { return position_.load(); }

   private:
    class Worker;
    void run(PlayRequest request, PerformanceOptions options, std::shared_ptr<const Retuning> retuning,
             std::shared_ptr<const Retuning> takeTuning,
             std::unique_ptr<TickSource> source);
    void startCooldown();
    void cooldownLoop();
    void joinWorker();

    MidiOutput& output_;
    Clock& clock_;
    const PlayerOptions options_;
    PlaybackListener* listener_ = nullptr;
    PlaybackListener silent_;

    std::atomic<int32_t> cooldown_{0};
    std::atomic<int32_t> tickLength_{0};
    std::atomic<int32_t> lock_{0};
    std::atomic<int32_t> end_{0};
    std::array<std::atomic<int32_t>, kVoices> voiceOn_{};
    std::atomic<int32_t> event_{-1};
    std::atomic<int32_t> position_{0};
    std::atomic<int32_t> recording_{0};
    SettingsMailbox edits_;
    PerformanceRecorder recorder_;

    std::thread worker_;  // started and joined on the user-interface thread only
    std::mutex cooldownMutex_;  // the cooldown thread and its deadline
    std::thread cooldownThread_;
    bool cooldownRunning_ = false;
    Clock::Duration cooldownUntil_{0};
};

}  // namespace tarrowin
