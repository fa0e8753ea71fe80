#include "document/counters.h"

#include <gtest/gtest.h>

namespace tarrowin {
namespace {

TEST(Counters, RoundMovesEachCounterToAMultipleOfTheNoteLength) {
    struct Case {
        Counters in;
        int32_t ticks;
        bool up;
        Counters out;
    };
    const Case cases[] = {
        {{5, 30}, 8, true, {8, 32}},
        {{5, 30}, 8, false, {0, 24}},
        {{16, 32}, 8, true, {16, 32}},           // multiples stay
        {{0, 50000}, 960, true, {0, 50880}},     // End is not clamped
        {{7, 9}, 0, true, {7, 9}},               // a length below one tick counts as one
    };
    for (const Case& c : cases) {
        EXPECT_EQ(roundCounters(c.in, c.ticks, c.up), c.out) << c.in.start << " " << c.in.end << " " << c.ticks;
    }
}

TEST(Counters, ResetKeepsALockedEnd) {
    EXPECT_EQ(resetCounters({40, 90}, false), (Counters{0, 0}));
    EXPECT_EQ(resetCounters({40, 90}, true), (Counters{0, 90}));
}

}  // namespace
}  // namespace tarrowin
