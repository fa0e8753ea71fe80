#pragma once
// A clock the test moves by hand. Threads that sleep on it wait until the test advances
// time past their deadline; after runFree() every sleep jumps time to its deadline at once.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "playback/clock.h"

namespace tarrowin::testing {

class FakeClock final : public Clock {
   public:
    explicit FakeClock(Duration start = std::chrono::seconds(1)) : now_(start) {}

    Duration now() override {
        std::lock_guard lock(mutex_);
        return now_;
    }

    void sleepUntil(Duration deadline) override {
        std::unique_lock lock(mutex_);
        if (free_) {
            now_ = std::max(now_, deadline);
            return;
        }
        sleepers_.push_back(deadline);
        changed_.notify_all();
        changed_.wait(lock, [&] { return now_ >= deadline || free_; });
        now_ = std::max(now_, deadline);
        sleepers_.erase(std::find(sleepers_.begin(), sleepers_.end(), deadline));
        changed_.notify_all();
    }

    // From now on time runs by itself; sleeping threads wake.
    void runFree() {
        std::lock_guard lock(mutex_);
        free_ = true;
        changed_.notify_all();
    }

    // Time stands still again: from now on the test moves it.
    void hold() {
        std::lock_guard lock(mutex_);
        free_ = false;
    }

    // Waits until `count` threads sleep towards a deadline still ahead; returns the earliest.
    Duration waitForSleepers(size_t count = 1) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return pending() >= count; });
        Duration earliest = Duration::max();
        for (Duration d : sleepers_) {
            if (d > now_) earliest = std::min(earliest, d);
        }
        return earliest;
    }

    // Like waitForSleepers, but gives up after a few seconds: false when they never came.
    bool sleepersArrive(size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(5), [&] { return pending() >= count; });
    }

    void advanceTo(Duration t) {
        std::lock_guard lock(mutex_);
        now_ = std::max(now_, t);
        changed_.notify_all();
    }
    void advanceBy(Duration d) { advanceTo(now() + d); }

    // Moves time to the earliest pending deadline, waking whoever sleeps towards it.
    void releaseNext() { advanceTo(waitForSleepers()); }
    // Lets the one sleeping thread (a worker) play n more ticks; returns when it waits again.
    void stepTicks(int n) {
        for (int i = 0; i < n; ++i) releaseNext();
        waitForSleepers();
    }

   private:
    size_t pending() const {
        return static_cast<size_t>(std::count_if(sleepers_.begin(), sleepers_.end(), [&](Duration d) { return d > now_; }));
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    Duration now_;
    std::vector<Duration> sleepers_;
    bool free_ = false;
};

}  // namespace tarrowin::testing
