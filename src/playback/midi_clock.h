#pragma once
// Following a MIDI clock that comes in: 24 clocks a quarter note, so a tick every third
// clock; Start, Continue (from the last Song Position Pointer), Stop.
//
// ClockFollower is the arithmetic: the clock's period smoothed by a delay-locked loop, so
// that a steady clock that jitters gives a steady tempo, while a change of tempo is
// followed within a beat (a jump of more than half a period is taken at once). The source
// predicts when the clock of each tick comes, so that the tick can be sent ahead by the
// output's latency and sound on the clock.

#include <cstdint>
#include <memory>
#include <string>

#include "clock.h"
#include "tick_source.h"

namespace tarrowin {

// MIDI clock, in and out: 24 clocks a quarter note, so 3 a tick (a 32nd note), and the
// status bytes of its messages.
inline constexpr int kClocksPerQuarter = 24;
inline constexpr int kClocksPerTick = 3;
inline constexpr uint8_t kMidiClock = 0xF8;
inline constexpr uint8_t kMidiStart = 0xFA;
inline constexpr uint8_t kMidiContinue = 0xFB;
inline constexpr uint8_t kMidiStop = 0xFC;
inline constexpr uint8_t kMidiSongPosition = 0xF2;

// One message of the clock, with the steady-clock time it arrived (microseconds).
struct ClockEvent {
    int64_t timeUs = 0;
    uint8_t status = 0;
    uint8_t data1 = 0;
    uint8_t data2 = 0;
};

// Where the clock's messages come from (JACK's port or the ALSA sequencer's).
class ClockInput {
   public:
    virtual ~ClockInput() = default;
    virtual bool pop(ClockEvent& event) = 0;
    // Why no more will come (the JACK server stopped), or empty.
    virtual std::string failure() const { return {}; }
    // The port's name for the messages: "Tarrowin clock in:in".
    virtual std::string name() const = 0;
};

class ClockFollower {
   public:
    // The next clock to come is number `next` (0 after Start, 6 per 16th after Continue).
    void restart(int64_t next);
    // A clock arrived at `timeUs`.
    void clock(int64_t timeUs);

    // The number of the last clock that arrived (-1: none since the restart).
    int64_t last() const { return count_ - 1; }
    bool hasTempo() const { return periods_ > 0; }
    double periodUs() const { return period_; }
    // When clock number `k` comes (or came), on the smoothed line.
    double timeOfClock(int64_t k) const;
    int64_t lastTimeUs() const { return lastUs_; }

   private:
    bool started_ = false; // a clock arrived since the restart
    int64_t count_ = 0;    // clocks numbered up to count_ - 1 have arrived
    int periods_ = 0;      // periods measured since the loop began
    int64_t lastUs_ = 0;   // when the last clock arrived
    double predicted_ = 0; // the line's time of clock count_ - 1
    double period_ = 0;
};

// The tick source that follows the clock of `input`: tick n at clock 3n (counted from Start,
// or from the Song Position Pointer at Continue). It ends the play at Stop, and when the
// clock stops arriving for two beats.
std::unique_ptr<TickSource> makeClockTickSource(std::unique_ptr<ClockInput> input, Clock& clock);

// The source for MIDI clock in: through JACK where a server runs (the port "Tarrowin clock
// in:in", or connected from `options.clockIn`), else through the ALSA sequencer.
TickSourceMade makeMidiClockSource(const SyncOptions& options, Clock& clock);

}  // namespace tarrowin
