#pragma once
// The Randomizer's uniform random numbers: two multiplicative congruential generators
// combined through a 32-entry shuffle table, giving single-precision values in (0, 1).
// One seed always gives the same sequence; the window keeps one instance for the process
// and seeds it from the time, the command line from --seed.

#include <array>
#include <cstdint>

namespace tarrowin {

class UniformRandom {
   public:
    static constexpr int32_t kInitialSecond = 123456789;
    // Seeds at or above the second modulus would start a generator at zero, where it stays.
    static constexpr int64_t kMaxSeed = 2147483398;

    // Unseeded: the first call initialises from seed 1.
    UniformRandom() = default;
    explicit UniformRandom(int64_t seed) { setSeed(seed); }

    // Stores -S (S in 1..kMaxSeed; values below 1 count as 1, larger ones as kMaxSeed), so
    // the first call runs the initialisation and fills the shuffle table from S: every seed
    // gives its own draws.
    void setSeed(int64_t seed);
    // A seed from the current time in seconds.
    static int64_t timeSeed();

    // The next value U, 0 < U <= 0.99999988.
    float operator()();
    float next() { return (*this)(); }

    // The raw state, for tests and for keeping a sequence going.
    int32_t seed() const { return seed_; }
    int32_t second() const { return second_; }
    int32_t lastOutput() const { return y_; }
    const std::array<int32_t, 32>& table() const { return table_; }

    bool operator==(const UniformRandom&) const = default;

   private:
    int32_t seed_ = 0;
    int32_t second_ = kInitialSecond;
    int32_t y_ = 0;
    std::array<int32_t, 32> table_{};
};

}  // namespace tarrowin
