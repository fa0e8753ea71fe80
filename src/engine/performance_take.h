#pragma once
// A performance kept as it was played: the messages a play sent while it was recorded, with
// their dates (ticks from the take's beginning), where it began with its tempo and time
// signature, where the tempo changed, and where it ended. Given to any sink afterwards, it
// becomes a MIDI file that replays the play.

#include <cstdint>
#include <vector>

#include "performance.h"

namespace tarrowin {

struct TakeEntry {
    enum class Kind : uint8_t {
        Begin,    // the take, or an event of a composition, begins: tempo and time signature
        Message,  // a message sent to the device
        Tempo,    // the tempo changed
        End,      // the take is complete
    };
    Kind kind = Kind::Message;
    ShortMessage message;
    int16_t timeSigNumerator = 4;
    int16_t timeSigDenominator = 4;
    int32_t tempo = 0;
    int64_t date = 0;

    static TakeEntry begin(int64_t date, const GlobalSettings& g) {
        return {Kind::Begin, {}, g.timeSigNumerator, g.timeSigDenominator, g.tempo, date};
    }
    static TakeEntry sent(int64_t date, const ShortMessage& m) { return {Kind::Message, m, 4, 4, 0, date}; }
    static TakeEntry tempoChange(int64_t date, int32_t tempo) { return {Kind::Tempo, {}, 4, 4, tempo, date}; }
    static TakeEntry end(int64_t date) { return {Kind::End, {}, 4, 4, 0, date}; }
    bool operator==(const TakeEntry&) const = default;
};

struct PerformanceTake {
    std::vector<TakeEntry> entries;

    // Gives the take to `sink` in order: a beginning as eventBegins, a message, a tempo
    // change, the end.
    void replay(PerformanceSink& sink) const;
};

}  // namespace tarrowin
