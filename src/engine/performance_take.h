#pragma once
// A performance kept as it was played: the messages a play sent while it was recorded (a
// tuning's SysEx among them), with their dates (ticks from the take's beginning), where it
// began with its time signature and where the length of its ticks changed. Written as a
// MIDI file, it replays the play.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "performance.h"

namespace tarrowin {

struct TakeEntry {
    enum class Kind : uint8_t {
        Begin,    // the take, or an event of a composition, begins: its time signature and tempo
        Message,  // a message sent to the device
        // A SysEx message sent to the device, over this entry and the SysexMore entries
        // that follow it, kSysexPartBytes bytes each; this one holds its length.
        Sysex,
        SysexMore,
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
    std::array<uint8_t, 8> sysexPart{};  // Sysex, SysexMore: the next bytes of the message

    static constexpr size_t kSysexPartBytes = 8;

    // Entry `part` of the ones a SysEx message takes.
    static size_t sysexParts(const SysexMessage& m) { return (m.size + kSysexPartBytes - 1) / kSysexPartBytes; }
    static TakeEntry sysex(int64_t date, const SysexMessage& m, size_t part) {
        TakeEntry e{part == 0 ? Kind::Sysex : Kind::SysexMore, {}, 4, 4, part == 0 ? m.size : 0u, date};
        const size_t from = part * kSysexPartBytes;
        std::copy_n(m.bytes.begin() + from, std::min(kSysexPartBytes, size_t{m.size} - from), e.sysexPart.begin());
        return e;
    }
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
