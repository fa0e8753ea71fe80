#pragma once
// A performance kept as it was played: the messages a play sent while it was recorded, with
// their dates (ticks from the take's beginning), where it began with its time signature and
// where the length of its ticks changed. Written as a MIDI file, it replays the play.

#include <cstdint>
#include <vector>

#include "performance.h"

namespace tarrowin {

struct TakeEntry {
    enum class Kind : uint8_t {
        Begin,    // the take, or an event of a composition, begins: its time signature and tempo
        Message,  // a message sent to the device
        Tempo,    // the ticks' length changed
        End,      // the take is complete
    };
    Kind kind = Kind::Message;
    ShortMessage message;
    int16_t timeSigNumerator = 4;
    int16_t timeSigDenominator = 4;
    // Begin, Tempo: microseconds per quarter note, eight times the length of a tick as it
    // was played (whole milliseconds on the program's own clock, a master's beat otherwise).
    uint32_t quarterMicroseconds = 0;
    int64_t date = 0;

    static TakeEntry begin(int64_t date, const GlobalSettings& g, uint32_t quarterMicroseconds) {
        return {Kind::Begin, {}, g.timeSigNumerator, g.timeSigDenominator, quarterMicroseconds, date};
    }
    static TakeEntry sent(int64_t date, const ShortMessage& m) { return {Kind::Message, m, 4, 4, 0, date}; }
    static TakeEntry tempo(int64_t date, uint32_t quarterMicroseconds) {
        return {Kind::Tempo, {}, 4, 4, quarterMicroseconds, date};
    }
    static TakeEntry end(int64_t date) { return {Kind::End, {}, 4, 4, 0, date}; }
    bool operator==(const TakeEntry&) const = default;
};

struct PerformanceTake {
    std::vector<TakeEntry> entries;
};

}  // namespace tarrowin
