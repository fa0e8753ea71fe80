#pragma once
// A value that one real-time thread publishes and others read, without locks or waiting on
// the writer's side: a sequence lock over atomic words. The writer (a JACK process callback)
// never waits; a reader that catches a write in progress reads again.

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace tarrowin {

template <typename T>
class SnapshotCell {
    static_assert(std::is_trivially_copyable_v<T>);
    static constexpr size_t kWords = (sizeof(T) + sizeof(uint64_t) - 1) / sizeof(uint64_t);

   public:
    SnapshotCell() { publish(T{}); }

    // The writer's side: one thread only.
    void publish(const T& value) {
        std::array<uint64_t, kWords> words{};
        std::memcpy(words.data(), &value, sizeof(T));
        const uint64_t s = sequence_.load(std::memory_order_relaxed);
        sequence_.store(s + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        for (size_t i = 0; i < kWords; ++i) words_[i].store(words[i], std::memory_order_relaxed);
        sequence_.store(s + 2, std::memory_order_release);
    }

    T read() const {
        std::array<uint64_t, kWords> words{};
        for (;;) {
            const uint64_t before = sequence_.load(std::memory_order_acquire);
            if (before & 1) continue;
            for (size_t i = 0; i < kWords; ++i) words[i] = words_[i].load(std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_acquire);
            if (sequence_.load(std::memory_order_relaxed) == before) break;
        }
        T value;
        std::memcpy(static_cast<void*>(&value), words.data(), sizeof(T));
        return value;
    }

   private:
    std::atomic<uint64_t> sequence_{0};
    std::array<std::atomic<uint64_t>, kWords> words_{};
};

}  // namespace tarrowin
