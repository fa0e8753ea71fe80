#pragma once
// A queue between exactly one writing and one reading thread, one of them real-time (a JACK
// process callback): fixed room made beforehand, no locks, no allocation, and no waiting on
// either side. The two positions are atomics (release on the side that hands a slot over,
// acquire on the side that takes it), so the order of the slots' contents is the C++
// memory model's, which ThreadSanitizer checks, unlike JACK's own ring buffer.

#include <atomic>
#include <cstddef>
#include <memory>
#include <type_traits>

namespace tarrowin {

template <typename T>
class SpscQueue {
    static_assert(std::is_trivially_copyable_v<T>);

   public:
    // Room for at least `capacity` items (rounded up to a power of two).
    explicit SpscQueue(size_t capacity) {
        size_t size = 1;
        while (size < capacity) size <<= 1;
        mask_ = size - 1;
        slots_ = std::make_unique<T[]>(size);
    }

    // The writer's side.
    size_t room() const { return mask_ + 1 - (write_.load(std::memory_order_relaxed) - read_.load(std::memory_order_acquire)); }
    bool push(const T& item) {
        const size_t w = write_.load(std::memory_order_relaxed);
        if (w - read_.load(std::memory_order_acquire) > mask_) return false;
        slots_[w & mask_] = item;
        write_.store(w + 1, std::memory_order_release);
        return true;
    }

    // The reader's side: peek, then drop what was looked at; or pop.
    bool peek(T& item) const {
        const size_t r = read_.load(std::memory_order_relaxed);
        if (r == write_.load(std::memory_order_acquire)) return false;
        item = slots_[r & mask_];
        return true;
    }
    void drop() { read_.store(read_.load(std::memory_order_relaxed) + 1, std::memory_order_release); }
    bool pop(T& item) {
        if (!peek(item)) return false;
        drop();
        return true;
    }

   private:
    std::unique_ptr<T[]> slots_;
    size_t mask_ = 0;
    std::atomic<size_t> write_{0};
    std::atomic<size_t> read_{0};
};

}  // namespace tarrowin
