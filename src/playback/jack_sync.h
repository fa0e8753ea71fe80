#pragma once
// Playing in step with JACK: following its transport, leading it as timebase master, and
// the JACK port "Tarrowin clock in" that a MIDI clock comes in through.
//
// A JACK client of its own reads the transport in its process callback and publishes what
// it saw each cycle (lock-free, never waiting); as master it also answers the timebase
// callback with the bar/beat/tick of the play's tempo map, and takes the tempo edited during
// the play from a queue the worker fills. The play's worker reads the latest cycle and works
// out from it when each tick happens.

#include <cstdint>
#include <memory>
#include <string>

#include "tempo_map.h"
#include "tick_source.h"

namespace tarrowin {

// What one process cycle saw of the rolling transport.
struct TransportState {
    bool serverGone = false;
    double frame = 0;          // the transport's frame at the cycle's first frame
    int64_t cycleStartUs = 0;  // when that frame plays (microseconds of jack_get_time)
    double usPerFrame = 0;
    double rate = 48000;
    bool bbt = false;          // a timebase master publishes the bar/beat/tick below
    BarBeat position;
    uint64_t relocations = 0;  // how often the rolling transport jumped
    double jumpFrames = 0;     // by how much it jumped the last time
};

// How far the transport jumped between two cycles this client saw (0: it went on). The
// server moves a rolling transport on by every cycle's frames, also those of cycles in which
// a busy client was not called: the frames it should have gone on by are those of the frame
// clock between the two cycles (`cycleFrame`, the first frame of each), not one period.
// `lastRolling`: the transport rolled in the earlier cycle (starting, it stands still).
// Frames are JACK's 32-bit counters, which wrap.
int64_t transportJump(bool lastRolling, uint32_t lastFrame, uint32_t lastCycleFrame, uint32_t frame, uint32_t cycleFrame);

// Where a play that follows the transport is, tick by tick. Counted on a master's beats when
// one publishes them (a tick an eighth of its beat, anchored at its bar/beat/tick when the
// play starts or the transport jumps, on at its tempo), else on the play's own tempo map
// from Start at frame 0, in whole milliseconds. A master that goes away mid-play hands over
// to the own tempo map without a jump. Leading the transport, the play counts on its own
// tempo map in exact eighths of a beat, as it publishes them.
class TransportFollower {
   public:
    TransportFollower(TempoMap map, bool leading) : map_(std::move(map)), leading_(leading) {}

    // The play starts, or the transport jumped: the position is taken afresh.
    void anchor(const TransportState& s);
    // A later cycle: follows a change of tempo, or of master. Returns true when the master
    // that published the beats has gone (the play goes on at its own tempo).
    bool follow(const TransportState& s);

    // The tick (fractional) at the transport's frame `frame`, and the inverse.
    double tickAtFrame(double frame) const;
    double frameOfTick(double tick) const;
    // The JACK time of tick `tick`, as seen from cycle `s`.
    double timeOfTick(const TransportState& s, double tick) const;
    // The play's tempo is edited at tick `tick`: the own tempo map goes on at `tempo` from
    // there, without a jump (a master's beats, while it publishes them, still set the pace).
    // Returns the change, for the timebase callback of a play that leads.
    TempoChange changeTempo(double tick, int32_t tempo) { return map_.changeTempo(tick, tempo, rate_, !leading_); }

   private:
    TempoMap map_;
    const bool leading_;
    bool onBeats_ = false;
    // On a master's beats: tick = anchorTick_ + (frame - anchorFrame_) * ticksPerFrame_.
    double anchorFrame_ = 0;
    double anchorTick_ = 0;
    double ticksPerFrame_ = 0;
    double bpm_ = 0;
    double rate_ = 48000;
    // On the own tempo map: tick = map(frame - frameShift_).
    double frameShift_ = 0;
};

// The tick source of a play that follows (or leads) the JACK transport. Fails with a
// message when no JACK server runs.
TickSourceMade makeJackTransportSource(const SyncOptions& options, Clock& clock, const TempoMap& map);

class ClockInput;
// The JACK port "Tarrowin clock in:in" that a MIDI clock comes in through, connected from
// the JACK MIDI output `source` when one is named.
std::unique_ptr<ClockInput> openJackClockInput(const std::string& source, std::string& problem);

// The JACK client name under which the clock-in port appears, and the port's name.
inline constexpr const char* kClockInClientName = "Tarrowin clock in";
inline constexpr const char* kClockInPortName = "in";

}  // namespace tarrowin
