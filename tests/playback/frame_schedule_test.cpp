#include "playback/frame_schedule.h"

#include <gtest/gtest.h>

#include <vector>

namespace tarrowin {
namespace {

// 48 kHz and 256-frame cycles of 5333 us (48 frames a millisecond); at 6000 messages a
// second a message "costs" 8 frames.
constexpr double kRate = 48000;
constexpr uint32_t kFrames = 256;
constexpr int64_t kCycleUs = 5333;

FrameSchedule::Cycle cycle(int n, int64_t nowLateUs = 0) {
    const int64_t start = 1'000'000 + n * kCycleUs;
    return {start, start + kCycleUs, kFrames, 0, start + nowLateUs};
}

TEST(FrameSchedule, AMessageGoesAtTheFrameOfItsTimeNeverBeforeTheOneBeforeIt) {
    struct Case {
        const char* what;
        std::vector<int64_t> dueAfterStartUs;  // the queue, from the cycle's start
        std::vector<int64_t> offsets;
    };
    const std::vector<Case> cases = {
        {"at its frame", {0, 1000, 2667, 5332}, {0, 48, 128, 255}},
        {"late: the cycle's first frame", {-20000, -1}, {0, 0}},
        {"due in a later cycle: waits, and so does the rest", {100, kCycleUs, 200}, {4, -1}},
        {"earlier than the one before: at that one's frame", {2667, 1000}, {128, 128}},
    };
    for (const Case& c : cases) {
        FrameSchedule s(kRate);
        s.beginCycle(cycle(0));
        std::vector<int64_t> got;
        for (int64_t due : c.dueAfterStartUs) {
            const int64_t offset = s.place(cycle(0).startUs + due);
            got.push_back(offset);
            if (offset < 0) break;
        }
        EXPECT_EQ(got, c.offsets) << c.what;
    }
}

// A burst of 64 keeps its frame; the rest of a sweep goes out over the next cycles as the
// wall clock and the frames allow (31 in 5333 us here), in order, at least 8 frames apart
// once the burst is spent, none lost. A server that runs its cycles back to back (no wall
// time between them) gets nothing more until time has passed.
TEST(FrameSchedule, BeyondABurstASweepSpreadsOverTheCyclesAtTheRate) {
    FrameSchedule s(kRate);
    s.beginCycle(cycle(0));
    const int64_t due = cycle(0).startUs + 1000;  // frame 48
    for (int i = 0; i < 64; ++i) ASSERT_EQ(s.place(due), 48) << i;
    EXPECT_EQ(s.place(due), -1) << "a 65th message at once";

    s.beginCycle(cycle(1));
    std::vector<int64_t> next;
    for (int64_t offset; (offset = s.place(due)) >= 0;) next.push_back(offset);
    ASSERT_EQ(next.size(), 31u);
    // The frames refilled 26 messages since frame 48 of the last cycle; then 8 frames apart.
    EXPECT_EQ(next[25], 0);
    for (size_t i = 26; i < next.size(); ++i) EXPECT_EQ(next[i], next[i - 1] + 8) << i;

    FrameSchedule::Cycle rushed = cycle(2);
    rushed.nowUs = cycle(1).nowUs;
    s.beginCycle(rushed);
    EXPECT_EQ(s.place(due), -1);
}

}  // namespace
}  // namespace tarrowin
