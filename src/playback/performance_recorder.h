#pragma once
// Keeps what a play sends while recording is on, for the MIDI file made when the take ends.
// The worker writes each take into blocks without allocating or waiting: a helper thread
// keeps a stock of empty blocks ready, takes every finished take away, hands it to its
// listener and frees the blocks. Nothing the worker adds is dropped: should the helper fall
// so far behind that the stock runs out, the worker makes a block itself.

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "engine/performance_take.h"
#include "spsc_queue.h"

namespace tarrowin {

class PerformanceRecorder {
   public:
    // Called on the helper's thread with each finished take.
    using Delivery = std::function<void(PerformanceTake take)>;

    explicit PerformanceRecorder(Delivery deliver);
    // Ends the helper; a take not yet delivered is dropped.
    ~PerformanceRecorder();
    PerformanceRecorder(const PerformanceRecorder&) = delete;
    PerformanceRecorder& operator=(const PerformanceRecorder&) = delete;

    // The controlling thread, while no worker writes: before a play that may record, the
    // stock and the helper; after the worker has ended, waits until the helper has
    // delivered every take of the play and has ended.
    void startPlay();
    void finishPlay();

    // The worker's side. A take is entries (dates counted from its beginning) until its end.
    bool taking() const { return first_ != nullptr; }
    void add(const TakeEntry& entry);
    // Adds the end and hands the take over.
    void endTake(int64_t date);
    // The play has ended: no take follows.
    void playEnded();

    // Blocks the worker had to make itself, the stock being empty (0 while the helper keeps up).
    int64_t blocksMadeByWorker() const { return madeByWorker_.load(std::memory_order_relaxed); }

    static constexpr size_t kBlockEntries = 2048;
    static constexpr size_t kStock = 8;

   private:
    struct Block {
        std::array<TakeEntry, kBlockEntries> entries;
        size_t count = 0;
        Block* next = nullptr;      // the take's next block
        Block* nextTake = nullptr;  // the next finished take still waiting to be handed over
    };

    Block* freshBlock();
    void handOver();
    void helperLoop();
    void restock();
    void deliver(Block* first);
    void dropStock();
    static void freeTake(Block* first);

    Delivery deliver_;
    SpscQueue<Block*> stock_{kStock};     // helper -> worker
    SpscQueue<Block*> finished_{256};     // worker -> helper: the first block of each take
    // The worker's: the take being written, and finished takes the queue had no room for.
    Block* first_ = nullptr;
    Block* last_ = nullptr;
    Block* waiting_ = nullptr;
    Block* spare_ = nullptr;  // the helper's: made, waiting for room in the stock
    std::atomic<int64_t> madeByWorker_{0};
    std::atomic<bool> playEnded_{false};

    std::mutex mutex_;  // the helper's wait
    std::condition_variable wake_;
    bool quit_ = false;
    std::thread helper_;
};

}  // namespace tarrowin
