#pragma once
// A bounded queue between one producer thread and one consumer thread, without locks and
// without allocation after construction: the audio thread can read it. The two sides may
// each be a different thread over time, as long as the calls of one side never overlap
// (a lock the callers hold, or a thread that hands over to the next one).

#include <atomic>
#include <cstddef>
#include <memory>

namespace tarrowin {

template <class T>
class SpscQueue {
   public:
    // Room for `capacity` items, rounded up to a power of two.
    explicit SpscQueue(size_t capacity) {
        while (size_ < capacity) size_ *= 2;
        items_ = std::make_unique<T[]>(size_);
    }
    SpscQueue(const SpscQueue&) = delete;
    SpscQueue& operator=(const SpscQueue&) = delete;

    size_t capacity() const { return size_; }

    // Producer: false when the queue is full (nothing is stored then).
    bool push(const T& item) {
        const size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail - head_.load(std::memory_order_acquire) == size_) return false;
        items_[tail & (size_ - 1)] = item;
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

    // Producer: whether push() would fail now. Only the consumer takes items, so room that
    // the producer sees stays until it pushes.
    bool full() const { return tail_.load(std::memory_order_relaxed) - head_.load(std::memory_order_acquire) == size_; }

    // Consumer: the oldest item, or nullptr when the queue is empty. It stays valid until pop().
    const T* front() const {
        const size_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire)) return nullptr;
        return &items_[head & (size_ - 1)];
    }
    // Consumer: drops the item front() returned.
    void pop() { head_.store(head_.load(std::memory_order_relaxed) + 1, std::memory_order_release); }

    // Either side, while the other one does not run: empties the queue.
    void clear() { head_.store(tail_.load(std::memory_order_acquire), std::memory_order_release); }

   private:
    size_t size_ = 1;
    std::unique_ptr<T[]> items_;
    // Apart, so that the two sides do not write the same cache line.
    alignas(64) std::atomic<size_t> head_{0};  // the consumer's: the next item to read
    alignas(64) std::atomic<size_t> tail_{0};  // the producer's: the next slot to fill
};

}  // namespace tarrowin
