#include "uniform_random.h"

#include <algorithm>
#include <ctime>
#include <limits>

namespace tarrowin {

namespace {

constexpr int32_t kM1 = 2147483563, kA1 = 40014, kQ1 = 53668, kR1 = 12211;
constexpr int32_t kM2 = 2147483399, kA2 = 40692, kQ2 = 52774, kR2 = 3791;
constexpr int32_t kTableDivisor = 67108862;  // 1 + (kM1 - 1) / 32

// a * x mod m without leaving 32 bits (Schrage: m = a * q + r with r < q).
int32_t multiplyMod(int32_t x, int32_t a, int32_t m, int32_t q, int32_t r) {
    const int32_t k = x / q;
    int32_t result = a * (x - k * q) - k * r;
    if (result < 0) result += m;
    return result;
}

}  // namespace

void UniformRandom::setSeed(int64_t seed) {
    const int64_t s = std::clamp<int64_t>(seed, 1, kMaxSeed);
    seed_ = static_cast<int32_t>(-s);
}

int64_t UniformRandom::timeSeed() { return static_cast<int64_t>(std::time(nullptr)); }

float UniformRandom::operator()() {
    if (seed_ <= 0) {
        seed_ = seed_ < -kMaxSeed ? static_cast<int32_t>(kMaxSeed) : std::max(-seed_, 1);
        second_ = seed_;
        for (int j = 39; j >= 0; --j) {
            seed_ = multiplyMod(seed_, kA1, kM1, kQ1, kR1);
            if (j < 32) table_[static_cast<size_t>(j)] = seed_;
        }
        y_ = table_[0];
    }
    seed_ = multiplyMod(seed_, kA1, kM1, kQ1, kR1);
    second_ = multiplyMod(second_, kA2, kM2, kQ2, kR2);
    const auto j = static_cast<size_t>(y_ / kTableDivisor);
    y_ = table_[j] - second_;
    table_[j] = seed_;
    if (y_ < 1) y_ += kM1 - 1;
    // The product is formed in double and rounded once to the single-precision result.
    const auto u = static_cast<float>(static_cast<double>(y_) * 4.656613e-10);
    return std::min(u, 0.99999988f);
}

}  // namespace tarrowin
