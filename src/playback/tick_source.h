#pragma once
// Where the ticks of a play come from, and the options that choose it.
//
// A play asks its tick source when each tick happens. The internal clock (the default) adds
// up the program's whole-millisecond tick lengths from the moment Play starts; JACK
// transport and MIDI clock in take the ticks, the position and the tempo from a master
// outside, and may move the play (a relocation) or end it (the master stops). MIDI clock
// out is not a source: the player sends it from the same ticks.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "clock.h"
#include "tempo_map.h"

namespace tarrowin {

enum class SyncMode {
    Internal,    // the program's own clock
    FollowJack,  // follow the JACK transport: play while it rolls, from its position
    JackMaster,  // lead the JACK transport as its timebase master
    MidiClock,   // follow a MIDI clock that comes in
};

// The names of the modes on the command line and in the settings: internal, jack, master, clock.
const char* syncModeName(SyncMode mode);
std::optional<SyncMode> syncModeNamed(const std::string& name);

struct SyncOptions {
    SyncMode mode = SyncMode::Internal;
    bool clockOut = false;  // send MIDI clock on the output device
    std::string clockIn;    // MidiClock: the port whose clock to follow; empty: others connect to ours
};

// What a source says about a tick.
struct TickTime {
    enum class Kind {
        Due,     // the tick happens at `at`
        Move,    // the play goes on from tick `tick`, at `at` (its beginning, or a relocation)
        End,     // the play ends; `why` says so unless the user stopped it
    };
    Kind kind = Kind::Due;
    Clock::Duration at{0};
    int64_t tick = 0;
    std::string why;

    static TickTime due(Clock::Duration at) { return {Kind::Due, at, 0, {}}; }
    static TickTime move(int64_t tick, Clock::Duration at) { return {Kind::Move, at, tick, {}}; }
    static TickTime end(std::string why = {}) { return {Kind::End, {}, 0, std::move(why)}; }
};

// Called on the play's worker thread only. `lead` is how early before its time a tick may be
// sent (the output's latency); the source returns once that moment has come.
class TickSource {
   public:
    virtual ~TickSource() = default;
    // The play begins: waits for the master to start (a Move to the first tick) or for the
    // play to end. `playing` turns false when the user stops.
    virtual TickTime start(const std::atomic<int32_t>& playing, Clock::Duration lead) = 0;
    // Tick `tick` (counted from the beginning of the play) follows the one just played,
    // which lasted `lengthMs` by the program's own rule.
    virtual TickTime next(int64_t tick, int32_t lengthMs, const std::atomic<int32_t>& playing,
                          Clock::Duration lead) = 0;
    // The time from the tick just played to the next, as it stands now (clock out spreads
    // its three clocks over it).
    virtual Clock::Duration spacing(int32_t lengthMs) const = 0;
    // Waits until `time` (steady clock).
    virtual void sleepUntil(Clock::Duration time) = 0;
    // The tempo of a live play was edited: from tick `tick` (the one playing now) on, it is
    // `tempo`. A source that times the ticks itself goes on at it; the internal clock needs
    // nothing, the length of each tick comes with next().
    virtual void tempoChanges(int64_t tick, int32_t tempo) { (void)tick, (void)tempo; }
    // A remark for the status bar since the last call (the master has gone, the play is
    // waiting for it), or empty.
    virtual std::string takeNotice() { return {}; }
    // The play has ended (Stop or its end): a master lets go of what it leads.
    virtual void finish() {}
};

// The internal clock: tick n at the start plus the whole-millisecond lengths of the ticks
// before it, the work of a tick never adding up as drift.
class InternalTickSource final : public TickSource {
   public:
    explicit InternalTickSource(Clock& clock) : clock_(clock) {}
    TickTime start(const std::atomic<int32_t>& playing, Clock::Duration lead) override;
    TickTime next(int64_t tick, int32_t lengthMs, const std::atomic<int32_t>& playing, Clock::Duration lead) override;
    Clock::Duration spacing(int32_t lengthMs) const override { return std::chrono::milliseconds(lengthMs); }
    void sleepUntil(Clock::Duration time) override { clock_.sleepUntil(time); }

   private:
    Clock& clock_;
    Clock::Duration at_{0};
};

// Makes the source a play's options ask for; fails with a message for the user (no JACK
// server, no such clock port). `map` is the play's tempo map (a master publishes it).
struct TickSourceMade {
    std::unique_ptr<TickSource> source;
    std::string message;
};
TickSourceMade makeTickSource(const SyncOptions& options, Clock& clock, const TempoMap& map);

}  // namespace tarrowin
