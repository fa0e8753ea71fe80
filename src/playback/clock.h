#pragma once
// The time a player keeps: a steady clock that a worker reads and waits on. Players wait
// for absolute deadlines on it, so the work of a tick never adds up as drift. Tests give
// the players a clock of their own that they move by hand.

#include <chrono>

namespace tarrowin {

class Clock {
   public:
    using Duration = std::chrono::nanoseconds;
    virtual ~Clock() = default;
    // Time since an arbitrary, fixed origin; never goes backwards.
    virtual Duration now() = 0;
    // Returns once now() >= deadline (at once when it already is).
    virtual void sleepUntil(Duration deadline) = 0;
};

// CLOCK_MONOTONIC, with absolute-deadline sleeps.
class SteadyClock final : public Clock {
   public:
    Duration now() override;
    void sleepUntil(Duration deadline) override;

    // The process's steady clock.
    static SteadyClock& instance();
};

// Asks for real-time (SCHED_FIFO) scheduling of the calling thread, and without the
// privilege for SCHED_RR from the desktop's RealtimeKit service. Returns whether it was
// granted; otherwise the thread keeps its normal scheduling.
bool requestRealtimeScheduling();

}  // namespace tarrowin
