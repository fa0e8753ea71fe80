#include "counters.h"

namespace tarrowin {

Counters resetCounters(Counters c, bool locked) { return {0, locked ? c.end : 0}; }

namespace {

int32_t roundValue(int32_t value, int32_t n, bool up) {
    const int32_t rest = value % n;
    if (rest == 0) return value;
    // Counters are never negative; a negative value still moves toward the next multiple.
    const int32_t below = rest > 0 ? value - rest : value - rest - n;
    return up ? below + n : below;
}

}  // namespace

Counters roundCounters(Counters c, int32_t noteTicks, bool up) {
    const int32_t n = noteTicks < 1 ? 1 : noteTicks;
    return {roundValue(c.start, n, up), roundValue(c.end, n, up)};
}

}  // namespace tarrowin
