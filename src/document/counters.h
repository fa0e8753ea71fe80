#pragma once
// The main form's rules for the Start and End counters: Reset and Round.

#include <cstdint>

namespace tarrowin {

struct Counters {
    int32_t start = 0;
    int32_t end = 0;
    bool operator==(const Counters&) const = default;
};

// Reset: Start returns to 0, and End too unless the counters are locked.
Counters resetCounters(Counters c, bool locked);

// Round: End and then Start move up (or down) one tick at a time until each is a multiple
// of `noteTicks` (at least 1); a multiple stays. End is not clamped to the counter range.
Counters roundCounters(Counters c, int32_t noteTicks, bool up);

}  // namespace tarrowin
