#include "generators.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace tarrowin {

namespace {

// Map arithmetic is done in double from the stored floats and rounded back to float, so a
// document sounds the same on every build. A value beyond the float range becomes an
// infinity explicitly rather than through an out-of-range conversion.
float toFloat(double d) {
    constexpr double kMax = std::numeric_limits<float>::max();
    if (d > kMax) return std::numeric_limits<float>::infinity();
    if (d < -kMax) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(d);
}

std::mt19937 seededEngine() {
    static std::random_device device;
    static const uint32_t processSeed = device();
    static uint32_t instances = 0;
    return std::mt19937(processSeed + 0x9E3779B9u * instances++);
}

size_t at(int v) { return static_cast<size_t>(v); }

// Keeps a scale position inside 0..4n-1 (0..K-1 when it was outside). `scaled` is the map
// value times K; `remainder` takes the value mod K first, as most generators do. A
// position that is still outside (negative, or a Logistic Map value beyond 4n) is brought
// back by ((i mod K) + K) mod K; a NaN or infinite value gives 0.
int32_t foldPosition(double scaled, int32_t K, int32_t n, bool remainder) {
    const int32_t limit = remainder ? K : 4 * n;
    if (std::fabs(scaled) < 2147483647.0) {
        // The cast truncates toward zero, as the position rule asks.
        auto t = static_cast<int32_t>(scaled);
        if (t >= 0 && t < limit) return t;
        if (t >= 0 && t < 8 * K) {  // a few subtractions are cheaper than a division
            do t -= K;
            while (t >= K);
            return t;
        }
        const int32_t r = t % K;
        return r < 0 ? r + K : r;
    }
    if (!std::isfinite(scaled)) return 0;
    const auto r = static_cast<int32_t>(std::fmod(std::trunc(scaled), static_cast<double>(K)));
    return r < 0 ? r + K : r;
}

int32_t foldPosition(int32_t i, int32_t K, int32_t n) {
    if (i >= 0 && i < 4 * n) return i;
    const int32_t r = i % K;
    return r < 0 ? r + K : r;
}

inline void modulate(GeneratorState& st, size_t a, int v, int32_t k, int32_t m, const VoiceSettings& s) {
    int32_t& countdown = st.countdown[a][at(v)];
    int32_t& T = st.transposition[a][at(v)];
    const int32_t every = s.modulateEvery;
    if (s.modulate == 1 && s.modulateMode == 0 && k >= every) {
        countdown = k % every;
        if (countdown == 0) {
            T = m % 12;
            countdown = every;
        }
    } else if (s.modulate == 1 && s.modulateMode == 1) {
        if (countdown <= 0) {
            T = m % 12;
            countdown = st.drawRunLength();
        }
        --countdown;
    } else {
        T = 0;
        countdown = 0;
    }
}

double radius(float x, float y) {
    const double dx = x, dy = y;
    return std::sqrt(dx * dx + dy * dy);
}

}  // namespace

GeneratorState::GeneratorState() : rng_(seededEngine()) {
    trigAngle_.fill(0.0f);
    trigCos_.fill(1.0);
    logX.fill(0.2f);
    noiseX.fill(0.2f);
    gingerX.fill(-0.1f);
    lorenzX.fill(1.0f);
}

void GeneratorState::hopalongTrig(int v, float angle, double& sine, double& cosine) {
    const size_t i = at(v);
    if (!(trigAngle_[i] == angle) || std::signbit(trigAngle_[i]) != std::signbit(angle)) {
        trigAngle_[i] = angle;
        trigSin_[i] = std::sin(static_cast<double>(angle));
        trigCos_[i] = std::cos(static_cast<double>(angle));
    }
    sine = trigSin_[i];
    cosine = trigCos_[i];
}

int32_t GeneratorState::drawRunLength() {
    if (randomRunLength) return randomRunLength();
    return static_cast<int32_t>(rng_() % 50u) + 1;
}

int32_t digitSum(int32_t a, int32_t base) {
    // Truncating division makes the digits of a negative value the negated digits of its
    // magnitude, so the sum is computed on the unsigned magnitude and given a's sign.
    const uint32_t b = static_cast<uint32_t>(std::max(base, 2));
    uint32_t magnitude = a < 0 ? 0u - static_cast<uint32_t>(a) : static_cast<uint32_t>(a);
    uint32_t sum = 0;
    if ((b & (b - 1)) == 0) {
        const int shift = std::countr_zero(b);
        if (shift == 1) {
            sum = static_cast<uint32_t>(std::popcount(magnitude));
        } else {
            for (; magnitude != 0; magnitude >>= shift) sum += magnitude & (b - 1);
        }
    } else {
        for (; magnitude != 0; magnitude /= b) sum += magnitude % b;
    }
    return a < 0 ? -static_cast<int32_t>(sum) : static_cast<int32_t>(sum);
}

void resetGeneratorState(GeneratorState& st, int v, Algorithm algorithm, const VoiceSettings& voice) {
    const size_t i = at(v);
    switch (algorithm) {
        case Algorithm::MorseThue: break;
        case Algorithm::LogisticMap: st.logX[i] = 0.2f; break;
        case Algorithm::OneOverFNoise:
            st.noiseX[i] = 0.2f;
            st.noiseY[i] = 0.0f;
            break;
        case Algorithm::Henon:
            st.henonX[i] = 0.0f;
            st.henonY[i] = 0.0f;
            break;
        case Algorithm::Hopalong:
            st.hopX[i] = 0.0f;
            st.hopY[i] = 0.0f;
            break;
        case Algorithm::Martin:
            st.martinX[i] = 0.0f;
            st.martinY[i] = 0.0f;
            break;
        case Algorithm::Gingerbreadman:
            st.gingerX[i] = voice.gingerX0;
            st.gingerY[i] = voice.gingerY0;
            break;
        case Algorithm::Lorenz: st.lorenzX[i] = 1.0f; break;
    }
}

void clearCountdowns(GeneratorState& st) {
    for (auto& perVoice : st.countdown) perVoice.fill(0);
    for (auto& perVoice : st.transposition) perVoice.fill(0);
}

namespace {

template <bool kPitch>
int32_t step(GeneratorState& st, int v, int32_t k, const VoiceSettings& s) {
    const size_t i = at(v);
    const Algorithm algorithm = s.algorithm;
    const auto a = static_cast<size_t>(algorithm);
    const int32_t n = s.scale.count;
    const int32_t octaves = s.octaves;
    const int32_t K = octaves * n;

    // Morse-Thue modulates by its digit sum, every other generator by the counter.
    int32_t D = 0;
    if (algorithm == Algorithm::MorseThue && (kPitch || s.modulate == 1)) {
        D = digitSum(static_cast<int32_t>(static_cast<uint32_t>(k) * static_cast<uint32_t>(s.param2)), s.param1);
    }
    modulate(st, a, v, k, algorithm == Algorithm::MorseThue ? D : k, s);

    int32_t position = 0;
    switch (algorithm) {
        case Algorithm::MorseThue:
            if constexpr (kPitch) position = foldPosition(D >= 0 && D < K ? D : D % K, K, n);
            break;
        case Algorithm::LogisticMap: {
            const double x = st.logX[i];
            st.logX[i] = toFloat((1.0 - x) * x * static_cast<double>(s.logisticMu));
            if constexpr (kPitch) position = foldPosition(static_cast<double>(st.logX[i]) * K, K, n, false);
            break;
        }
        case Algorithm::OneOverFNoise: {
            const double x = st.noiseX[i];
            st.noiseX[i] = toFloat((1.0 - x) * x * static_cast<double>(3.999f));
            const double p = s.noiseCoefficient;
            st.noiseY[i] = toFloat(std::sqrt(1.0 - p * p) * st.noiseX[i] + p * st.noiseY[i]);
            if constexpr (kPitch) position = foldPosition(static_cast<double>(st.noiseY[i]) * K, K, n, true);
            break;
        }
        case Algorithm::Henon: {
            const double x = st.henonX[i], y = st.henonY[i];
            st.henonX[i] = toFloat(y - x * x * static_cast<double>(s.henonA) + 1.0);
            st.henonY[i] = toFloat(static_cast<double>(st.henonX[i]) * static_cast<double>(s.henonB));
            if constexpr (kPitch) position = foldPosition(radius(st.henonX[i], st.henonY[i]) * K, K, n, true);
            break;
        }
        case Algorithm::Hopalong: {
            const double x = st.hopX[i], y = st.hopY[i], t = s.hopalongAngle;
            const double sign = x >= 0.0 ? 1.0 : -1.0;  // -0.0 >= 0.0 holds
            double sine, cosine;
            st.hopalongTrig(v, s.hopalongAngle, sine, cosine);
            st.hopX[i] = toFloat(y - sign * std::sqrt(std::fabs(x * sine - cosine)));
            st.hopY[i] = toFloat(t - x);
            if constexpr (kPitch) position = foldPosition(radius(st.hopX[i], st.hopY[i]) * K, K, n, true);
            break;
        }
        case Algorithm::Martin: {
            const double x = st.martinX[i], y = st.martinY[i], t = s.martinAngle;
            st.martinX[i] = toFloat(y - std::sin(x));
            st.martinY[i] = toFloat(t - x);
            if constexpr (kPitch) position = foldPosition(radius(st.martinX[i], st.martinY[i]) * K, K, n, true);
            break;
        }
        case Algorithm::Gingerbreadman: {
            const double x = st.gingerX[i], y = st.gingerY[i];
            st.gingerX[i] = toFloat(1.0 - y + std::fabs(x));
            st.gingerY[i] = toFloat(x);
            if constexpr (kPitch) position = foldPosition(radius(st.gingerX[i], st.gingerY[i]) * K, K, n, true);
            break;
        }
        case Algorithm::Lorenz: {
            const double x = st.lorenzX[i];
            st.lorenzX[i] = toFloat(std::fabs((3.0 * x - 4.0 * x * x * x) * static_cast<double>(s.lorenzCoefficient)));
            if constexpr (kPitch) position = foldPosition(static_cast<double>(st.lorenzX[i]) * K, K, n, true);
            break;
        }
    }

    if constexpr (!kPitch) return 0;
    // position < 4n: the octave is found by comparing with the four ranges in turn.
    int32_t octave = 0;
    while (octave < 3 && position >= (octave + 1) * n) ++octave;
    const int32_t degree = position - octave * n;
    const int32_t S = s.startNote;
    int32_t note = s.scale[degree] + 12 * octave + S + s.modulate * st.transposition[a][i];
    if (s.inverted) note = 12 * octaves + 2 * S - note;
    return note;
}

}  // namespace

int32_t nextNote(GeneratorState& st, int v, int32_t k, const VoiceSettings& s) { return step<true>(st, v, k, s); }

void advanceGenerator(GeneratorState& st, int v, int32_t k, const VoiceSettings& s) { step<false>(st, v, k, s); }

VoiceSettings playableVoice(const VoiceSettings& voice) {
    VoiceSettings s = voice;
    s.algorithm = static_cast<Algorithm>(std::clamp<int>(static_cast<int>(s.algorithm), 0, kAlgorithms - 1));
    if (s.scale.count < 1 || s.scale.count > kMaxScaleNotes) s.scale = ScaleList{0};
    s.octaves = std::clamp(s.octaves, 1, 4);
    s.param1 = std::max(s.param1, 2);
    s.modulateEvery = std::max(s.modulateEvery, 1);
    return s;
}

}  // namespace tarrowin
