#pragma once
// The coefficients of the eight generators drawn as the Composition Randomizer draws them,
// with Param1 and Param2 in their default ranges: the voices that tests and benchmarks run
// through every algorithm.

#include <random>

#include "engine/settings.h"

namespace tarrowin::testing {

inline void drawCoefficients(std::mt19937& rng, VoiceSettings& s) {
    auto U = [&rng] { return std::uniform_real_distribution<float>(0.0f, 1.0f)(rng); };
    s.param1 = std::uniform_int_distribution<int32_t>(2, 100)(rng);
    s.param2 = std::uniform_int_distribution<int32_t>(1, 100)(rng);
    s.logisticMu = 0.5f * U() + 3.5f;
    s.noiseCoefficient = U();
    s.henonA = U() + 1.0f;
    s.henonB = U();
    s.hopalongAngle = 12.566371f * U() - 6.2831855f;
    s.martinAngle = 12.566371f * U() - 6.2831855f;
    s.gingerX0 = 40.0f * U() - 20.0f;
    s.gingerY0 = 40.0f * U() - 20.0f;
    s.lorenzCoefficient = 0.3f * U() + 0.7f;
}

}  // namespace tarrowin::testing
