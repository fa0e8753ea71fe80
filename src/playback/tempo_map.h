#pragma once
// The ticks of a play laid out in time: the tempo and time signature of each part of it (the
// current settings, or the events of a composition from the one played first) and the tempo
// edits made while it plays, and the arithmetic between ticks, frames of a JACK transport and
// bar/beat/tick positions.
//
// A tick is an eighth of a beat (a 32nd note when the beat is a quarter). Counted from the
// internal clock, a tick lasts the program's whole milliseconds (60000 / (tempo * 8));
// counted on a transport, it is exactly an eighth of the beat at the tempo in beats per
// minute, so that the positions published for other programs add up without drifting.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/settings.h"

namespace tarrowin {

inline constexpr int kTicksPerBeat = 8;
// The resolution of the bar/beat/tick positions Tarrowin publishes on the JACK transport.
inline constexpr double kBbtTicksPerBeat = 1920;

// A position as JACK's timebase publishes it: bar and beat count from 1.
struct BarBeat {
    int32_t bar = 1;
    int32_t beat = 1;
    int32_t tick = 0;           // of ticksPerBeat
    double barStartTick = 0;    // ticks from the start to the first beat of this bar
    double ticksPerBeat = kBbtTicksPerBeat;
    double beatsPerMinute = 0;
    int32_t beatsPerBar = 4;
    int32_t beatType = 4;
};

// A tempo edited during a play: from tick `tick`, at frame `frame` of the map (as the map
// counted it up to there), the ticks go on at `tempo`. Plain data, so that it can be handed
// to another copy of the map without allocating.
struct TempoChange {
    double tick = 0;
    double frame = 0;
    int32_t tempo = 0;
};

class TempoMap {
   public:
    struct Part {
        int64_t ticks;  // the length; INT64_MAX for a play without an end
        int32_t tempo;
        int32_t numerator;
        int32_t denominator;
    };

    explicit TempoMap(std::vector<Part> parts) : parts_(std::move(parts)) {}
    // One part without an end (the current settings unlocked), or of End - Start ticks.
    static TempoMap ofCurrent(const GlobalSettings& g, bool toEnd);
    // The events from `first` on, each as long as its counters span.
    static TempoMap ofEvents(const std::vector<Settings>& events, int first);

    // Ticks in all; INT64_MAX when the play has no end.
    int64_t length() const;

    // Frames from the start to tick `tick` (at `rate` frames a second), with whole
    // milliseconds per tick or exact eighths of a beat.
    double frameOfTick(double tick, double rate, bool wholeMilliseconds) const;
    // The tick playing at `frame` (fractional), the inverse of frameOfTick.
    double tickAtFrame(double frame, double rate, bool wholeMilliseconds) const;
    // The bar/beat/tick position at `frame`, each part beginning a bar of its own.
    BarBeat barBeatAt(double frame, double rate) const;

    // The tempo is edited at tick `tick`: the frames and positions up to there stay as they
    // were, and from there on the ticks follow at `tempo`, the bars going on without a jump.
    // An edit at or before an earlier one's tick replaces it. The newest kChanges edits are
    // kept; the frames before the oldest of them count as if it were the first.
    TempoChange changeTempo(double tick, int32_t tempo, double rate, bool wholeMilliseconds);
    // Takes a change that another copy of the same map made, as it made it (no allocation).
    void take(const TempoChange& change);
    static constexpr size_t kChanges = 32;

   private:
    double framesPerTick(int32_t tempo, double rate, bool wholeMilliseconds) const;
    // The edit in force at a tick or frame, or null.
    const TempoChange* changeAtTick(double tick) const;
    const TempoChange* changeAtFrame(double frame) const;
    std::vector<Part> parts_;
    std::array<TempoChange, kChanges> changes_{};  // by tick (and frame)
    size_t changeCount_ = 0;
};

// The tick (fractional, of ours: eighths of a beat) of a bar/beat/tick position on a
// transport, counted from bar 1 beat 1. A master that says where its bar starts is
// followed through changes of metre; for the others every bar has the present metre.
double tickOfBarBeat(const BarBeat& position);

}  // namespace tarrowin
