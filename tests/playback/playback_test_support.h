#pragma once
// What the playback tests share: the reference stream that a player must reproduce, and a
// listener that keeps what the workers report.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "engine/performance.h"
#include "playback/player.h"
#include "playback/recording_backend.h"

namespace tarrowin::testing {

// A message at the time the stream gives it: the sum of the tick lengths before its tick.
struct Timed {
    std::chrono::milliseconds time;
    ShortMessage message;
    bool operator==(const Timed&) const = default;
};

// Runs the engine's performance directly, with the words a player would read, and keeps
// each message with its time.
class ReferenceRun final : public PerformanceSink, public PerformanceControl {
   public:
    bool lock = true;
    int32_t end = 0;
    int64_t stopAtDate = -1;                             // playing() turns false at this date
    std::function<bool(int v, int64_t date, bool)> on;  // the voice switches, by date
    const Retuning* retuning = nullptr;                  // the tuning of the run (SysEx are left out)

    std::vector<Timed> messages;
    std::vector<int> events;

    void eventBegins(int index, const GlobalSettings&, int64_t) override { events.push_back(index); }
    void message(int64_t, const ShortMessage& m) override { messages.push_back({ms_, m}); }
    bool playing() override { return stopAtDate < 0 || date_ < stopAtDate; }
    void tickDone(int64_t date, int32_t tickLengthMs) override {
        date_ = date;
        ms_ += std::chrono::milliseconds(tickLengthMs);
    }
    bool voiceOn(int v, bool snapshot) override { return on ? on(v, date_, snapshot) : snapshot; }
    bool locked() override { return lock; }
    int32_t endCounter() override { return end; }
    void setEndCounter(int32_t e) override { end = e; }

    PerformanceEnd run(PerformanceMode mode, const Settings& current, const std::vector<Settings>& evs, int first = 0,
                       int32_t percussion = kDefaultPercussionChannel) {
        PerformanceOptions o;
        o.mode = mode;
        o.firstEvent = first;
        o.percussionChannel = percussion;
        o.retuning = retuning;
        return perform(o, current, evs, *this, *this);
    }

   private:
    int64_t date_ = 0;
    std::chrono::milliseconds ms_{0};
};

// The recorded messages with their times counted from `start`.
inline std::vector<Timed> timedSince(const std::vector<RecordingBackend::Record>& records, Clock::Duration start) {
    std::vector<Timed> out;
    for (const auto& r : records) {
        out.push_back({std::chrono::duration_cast<std::chrono::milliseconds>(r.time - start), r.message});
    }
    return out;
}

class RecordingListener final : public PlaybackListener {
   public:
    void playbackStarted(PerformanceMode) override { note([&] { ++started; }); }
    void eventBegins(int index) override { note([&] { events.push_back(index); }); }
    void playbackFinished(const PlaybackFinish& f) override {
        note([&] {
            finish = f;
            ++finished;
        });
    }
    void playAvailable() override { note([&] { ++available; }); }
    void takeRecorded(PerformanceTake take) override { note([&] { takes.push_back(std::move(take)); }); }

    // Waits (a few seconds at most) until `pred` holds; the caller reads under lock().
    bool waitFor(const std::function<bool()>& pred) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), pred);
    }
    std::unique_lock<std::mutex> lock() { return std::unique_lock(mutex_); }

    int started = 0;
    std::vector<int> events;
    PlaybackFinish finish;
    int finished = 0;
    int available = 0;
    std::vector<PerformanceTake> takes;

   private:
    void note(const std::function<void()>& change) {
        std::lock_guard lock(mutex_);
        change();
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
};

}  // namespace tarrowin::testing
