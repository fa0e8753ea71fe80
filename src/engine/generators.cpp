#include "generators.h"

#include <algorithm>
#include <atomic>
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

std::atomic<bool> g_hasDefaultSeed{false};
std::atomic<uint64_t> g_defaultSeed{0};

std::mt19937 engineFromSeed(uint64_t seed) {
    std::seed_seq sequence{static_cast<uint32_t>(seed), static_cast<uint32_t>(seed >> 32)};
    return std::mt19937(sequence);
}

std::mt19937 seededEngine() {
    if (g_hasDefaultSeed.load()) return engineFromSeed(g_defaultSeed.load());
    static std::random_device device;
    static const uint32_t processSeed = device();
    // Counted across threads: the player's worker and the notes view's computation make
    // engines at the same time, and each must get a seed of its own.
    static std::atomic<uint32_t> instances{0};
    return std::mt19937(processSeed + 0x9E3779B9u * instances.fetch_add(1));
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

// The Morse-Thue value of counter k: the digit sum of k * Param2 in base Param1.
int32_t morseThueValue(int32_t k, const VoiceSettings& s) {
    return digitSum(static_cast<int32_t>(static_cast<uint32_t>(k) * static_cast<uint32_t>(s.param2)), s.param1);
}

// The value whose remainder mod 12 becomes the transposition at counter k.
int32_t modulationValue(Algorithm a, int32_t k, const VoiceSettings& s) {
    return a == Algorithm::MorseThue ? morseThueValue(k, s) : k;
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

// The countdown and transposition after `count` (>= 1) modulate() calls with the counters
// first, first + 1, ...: only the last steps decide them, so "Every" and "off" are worked
// out at once, and "Random" steps from one draw to the next.
void skipModulation(GeneratorState& st, Algorithm algorithm, int v, int32_t first, int64_t count,
                    const VoiceSettings& s) {
    const size_t a = static_cast<size_t>(algorithm);
    int32_t& countdown = st.countdown[a][at(v)];
    int32_t& T = st.transposition[a][at(v)];
    const int64_t last = int64_t{first} + count - 1;
    const int32_t every = std::max(s.modulateEvery, 1);
    if (s.modulate == 1 && s.modulateMode == 0) {
        if (last < every) {
            T = 0;
            countdown = 0;
            return;
        }
        // Counters below `every` zero both; from `every` on, each multiple of it sets T.
        const int64_t lastMultiple = last / every * every;
        if (lastMultiple >= first) {
            T = modulationValue(algorithm, static_cast<int32_t>(lastMultiple), s) % 12;
        }
        const auto r = static_cast<int32_t>(last % every);
        countdown = r == 0 ? every : r;
    } else if (s.modulate == 1 && s.modulateMode == 1) {
        int64_t k = first;
        int64_t remaining = count;
        while (remaining > 0) {
            if (countdown <= 0) {
                T = modulationValue(algorithm, static_cast<int32_t>(k), s) % 12;
                countdown = st.drawRunLength();
            }
            // This step and the following ones until the countdown runs out draw nothing.
            const int64_t quiet = std::min<int64_t>(std::max<int64_t>(int64_t{countdown}, 1), remaining);
            countdown = static_cast<int32_t>(countdown - quiet);
            k += quiet;
            remaining -= quiet;
        }
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

void GeneratorState::seedRunLengths(uint64_t seed) { rng_ = engineFromSeed(seed); }

void setDefaultRunLengthSeed(std::optional<uint64_t> seed) {
    g_defaultSeed.store(seed.value_or(0));
    g_hasDefaultSeed.store(seed.has_value());
}

std::optional<uint64_t> defaultRunLengthSeed() {
    if (!g_hasDefaultSeed.load()) return std::nullopt;
    return g_defaultSeed.load();
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

void clearCountdowns(GeneratorState& st, int v) {
    for (auto& perVoice : st.countdown) perVoice[at(v)] = 0;
    for (auto& perVoice : st.transposition) perVoice[at(v)] = 0;
}

namespace {

// One step of each map. nextNote and skipSteps share them, so both advance a map alike to
// the last bit.

// What a map step needs besides its state, worked out once for a whole warm-up.
struct MapConstants {
    double logisticMu = 0, noiseP = 0, noiseRoot = 0, henonA = 0, henonB = 0;
    double hopAngle = 0, hopSin = 0, hopCos = 0, martinAngle = 0, lorenz = 0;

    MapConstants() = default;
    MapConstants(Algorithm a, const VoiceSettings& s) {
        switch (a) {
            case Algorithm::LogisticMap: logisticMu = s.logisticMu; break;
            case Algorithm::OneOverFNoise:
                noiseP = s.noiseCoefficient;
                noiseRoot = std::sqrt(1.0 - noiseP * noiseP);
                break;
            case Algorithm::Henon:
                henonA = s.henonA;
                henonB = s.henonB;
                break;
            case Algorithm::Hopalong:
                hopAngle = s.hopalongAngle;
                hopSin = std::sin(hopAngle);
                hopCos = std::cos(hopAngle);
                break;
            case Algorithm::Martin: martinAngle = s.martinAngle; break;
            case Algorithm::Lorenz: lorenz = s.lorenzCoefficient; break;
            case Algorithm::MorseThue:
            case Algorithm::Gingerbreadman: break;
        }
    }
};

[[gnu::always_inline]] inline void stepLogistic(float& x, double mu) {
    const double d = x;
    x = toFloat((1.0 - d) * d * mu);
}
// root is sqrt(1 - p * p).
[[gnu::always_inline]] inline void stepNoise(float& x, float& y, double root, double p) {
    const double d = x;
    x = toFloat((1.0 - d) * d * static_cast<double>(3.999f));
    y = toFloat(root * x + p * y);
}
[[gnu::always_inline]] inline void stepHenon(float& x, float& y, double A, double B) {
    const double dx = x, dy = y;
    x = toFloat(dy - dx * dx * A + 1.0);
    y = toFloat(static_cast<double>(x) * B);
}
[[gnu::always_inline]] inline void stepHopalong(float& x, float& y, double angle, double sine, double cosine) {
    const double dx = x, dy = y;
    const double sign = dx >= 0.0 ? 1.0 : -1.0;  // -0.0 >= 0.0 holds
    x = toFloat(dy - sign * std::sqrt(std::fabs(dx * sine - cosine)));
    y = toFloat(angle - dx);
}
[[gnu::always_inline]] inline void stepMartin(float& x, float& y, double angle) {
    const double dx = x, dy = y;
    x = toFloat(dy - std::sin(dx));
    y = toFloat(angle - dx);
}
[[gnu::always_inline]] inline void stepGingerbreadman(float& x, float& y) {
    const double dx = x, dy = y;
    x = toFloat(1.0 - dy + std::fabs(dx));
    y = toFloat(dx);
}
[[gnu::always_inline]] inline void stepLorenz(float& x, double coefficient) {
    const double d = x;
    x = toFloat(std::fabs((3.0 * d - 4.0 * d * d * d) * coefficient));
}

int32_t step(GeneratorState& st, int v, int32_t k, const VoiceSettings& s) {
    const size_t i = at(v);
    const Algorithm algorithm = s.algorithm;
    const auto a = static_cast<size_t>(algorithm);
    const int32_t n = s.scale.count;
    const int32_t octaves = s.octaves;
    const int32_t K = octaves * n;

    // Morse-Thue modulates by its digit sum, every other generator by the counter.
    const int32_t D = algorithm == Algorithm::MorseThue ? morseThueValue(k, s) : 0;
    modulate(st, a, v, k, algorithm == Algorithm::MorseThue ? D : k, s);

    int32_t position = 0;
    switch (algorithm) {
        case Algorithm::MorseThue:
            position = foldPosition(D >= 0 && D < K ? D : D % K, K, n);
            break;
        case Algorithm::LogisticMap: {
            stepLogistic(st.logX[i], s.logisticMu);
            position = foldPosition(static_cast<double>(st.logX[i]) * K, K, n, false);
            break;
        }
        case Algorithm::OneOverFNoise: {
            const double p = s.noiseCoefficient;
            stepNoise(st.noiseX[i], st.noiseY[i], std::sqrt(1.0 - p * p), p);
            position = foldPosition(static_cast<double>(st.noiseY[i]) * K, K, n, true);
            break;
        }
        case Algorithm::Henon: {
            stepHenon(st.henonX[i], st.henonY[i], s.henonA, s.henonB);
            position = foldPosition(radius(st.henonX[i], st.henonY[i]) * K, K, n, true);
            break;
        }
        case Algorithm::Hopalong: {
            double sine, cosine;
            st.hopalongTrig(v, s.hopalongAngle, sine, cosine);
            stepHopalong(st.hopX[i], st.hopY[i], s.hopalongAngle, sine, cosine);
            position = foldPosition(radius(st.hopX[i], st.hopY[i]) * K, K, n, true);
            break;
        }
        case Algorithm::Martin: {
            stepMartin(st.martinX[i], st.martinY[i], s.martinAngle);
            position = foldPosition(radius(st.martinX[i], st.martinY[i]) * K, K, n, true);
            break;
        }
        case Algorithm::Gingerbreadman: {
            stepGingerbreadman(st.gingerX[i], st.gingerY[i]);
            position = foldPosition(radius(st.gingerX[i], st.gingerY[i]) * K, K, n, true);
            break;
        }
        case Algorithm::Lorenz: {
            stepLorenz(st.lorenzX[i], s.lorenzCoefficient);
            position = foldPosition(static_cast<double>(st.lorenzX[i]) * K, K, n, true);
            break;
        }
    }

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

int32_t nextNote(GeneratorState& st, int v, int32_t k, const VoiceSettings& s) { return step(st, v, k, s); }

VoiceSettings playableVoice(const VoiceSettings& voice) {
    VoiceSettings s = voice;
    s.algorithm = static_cast<Algorithm>(std::clamp<int>(static_cast<int>(s.algorithm), 0, kAlgorithms - 1));
    if (s.scale.count < 1 || s.scale.count > kMaxScaleNotes) s.scale = ScaleList{0};
    s.octaves = std::clamp(s.octaves, 1, 4);
    s.param1 = std::max(s.param1, 2);
    s.modulateEvery = std::max(s.modulateEvery, 1);
    return s;
}

namespace {

// Where voice i keeps the state of an algorithm's map (y is null for the one-value maps,
// both for Morse-Thue, which has none).
struct MapCells {
    float* x = nullptr;
    float* y = nullptr;
};

MapCells mapCells(GeneratorState& st, Algorithm a, size_t i) {
    switch (a) {
        case Algorithm::MorseThue: return {};
        case Algorithm::LogisticMap: return {&st.logX[i], nullptr};
        case Algorithm::OneOverFNoise: return {&st.noiseX[i], &st.noiseY[i]};
        case Algorithm::Henon: return {&st.henonX[i], &st.henonY[i]};
        case Algorithm::Hopalong: return {&st.hopX[i], &st.hopY[i]};
        case Algorithm::Martin: return {&st.martinX[i], &st.martinY[i]};
        case Algorithm::Gingerbreadman: return {&st.gingerX[i], &st.gingerY[i]};
        case Algorithm::Lorenz: return {&st.lorenzX[i], nullptr};
    }
    return {};
}

[[gnu::always_inline]] inline void stepMap(Algorithm a, float& x, float& y, const MapConstants& c) {
    switch (a) {
        case Algorithm::MorseThue: break;
        case Algorithm::LogisticMap: stepLogistic(x, c.logisticMu); break;
        case Algorithm::OneOverFNoise: stepNoise(x, y, c.noiseRoot, c.noiseP); break;
        case Algorithm::Henon: stepHenon(x, y, c.henonA, c.henonB); break;
        case Algorithm::Hopalong: stepHopalong(x, y, c.hopAngle, c.hopSin, c.hopCos); break;
        case Algorithm::Martin: stepMartin(x, y, c.martinAngle); break;
        case Algorithm::Gingerbreadman: stepGingerbreadman(x, y); break;
        case Algorithm::Lorenz: stepLorenz(x, c.lorenz); break;
    }
}

// One voice's map on its way through the warm-up.
struct MapRun {
    Algorithm algorithm = Algorithm::MorseThue;
    int64_t remaining = 0;  // steps still to take
    MapConstants constants;
    MapCells cells;
    float x = 0, y = 0;
    // Brent's cycle search. In float precision most maps fall into a cycle after a few
    // thousand steps; once a state repeats, the steps left go modulo the period. `saved`
    // is the state `lag` steps ago and moves on whenever lag reaches `power`.
    bool searching = true;
    uint64_t saved = 0;
    int64_t lag = 0;
    int64_t power = 1;
};

uint64_t stateBits(float x, float y) {
    return uint64_t{std::bit_cast<uint32_t>(x)} << 32 | std::bit_cast<uint32_t>(y);
}

constexpr int kLockstep = 4;
using MapPool = std::array<MapRun*, kLockstep>;

// The first K maps of the pool advance side by side until one of them is done. Each map's
// steps depend on each other, the maps' do not, so the processor overlaps the K chains
// instead of waiting on one.
template <int K>
void lockstep(const MapPool& pool) {
    std::array<float, K> x, y;
    for (int k = 0; k < K; ++k) x[k] = pool[k]->x, y[k] = pool[k]->y;
    bool done = false;
    while (!done) {
        for (int k = 0; k < K; ++k) {
            MapRun& r = *pool[k];
            stepMap(r.algorithm, x[k], y[k], r.constants);
            if (--r.remaining == 0) {
                done = true;
            } else if (r.searching) {
                const uint64_t now = stateBits(x[k], y[k]);
                if (now == r.saved) {
                    r.searching = false;
                    r.remaining %= r.lag + 1;  // the period is lag + 1 steps
                    if (r.remaining == 0) done = true;
                } else if (++r.lag == r.power) {
                    r.saved = now;
                    r.power *= 2;
                    r.lag = 0;
                }
            }
        }
    }
    for (int k = 0; k < K; ++k) pool[k]->x = x[k], pool[k]->y = y[k];
}

// Keeps up to four maps running side by side, taking the next one in as one is done.
void advanceTogether(MapRun* runs, size_t n) {
    MapPool pool{};
    size_t active = 0, next = 0;
    while (true) {
        while (active < kLockstep && next < n) {
            MapRun& r = runs[next++];
            if (r.remaining <= 0) continue;
            r.saved = stateBits(r.x, r.y);
            pool[active++] = &r;
        }
        if (active == 0) return;
        switch (active) {
            case 4: lockstep<4>(pool); break;
            case 3: lockstep<3>(pool); break;
            case 2: lockstep<2>(pool); break;
            default: lockstep<1>(pool); break;
        }
        size_t kept = 0;
        for (size_t k = 0; k < active; ++k) {
            if (pool[k]->remaining > 0) pool[kept++] = pool[k];
        }
        active = kept;
    }
}

void skipMapsTogether(GeneratorState& st, std::span<const SkipRequest> requests) {
    std::array<MapRun, kVoices> runs;
    size_t n = 0;
    for (const SkipRequest& r : requests) {
        if (r.count <= 0) continue;
        const Algorithm a = r.voice->algorithm;
        skipModulation(st, a, r.v, r.first, r.count, *r.voice);
        if (a == Algorithm::MorseThue) continue;  // no map: its notes depend on the counter alone
        MapRun& run = runs[n++];
        run.algorithm = a;
        run.remaining = r.count;
        run.constants = MapConstants(a, *r.voice);
        run.cells = mapCells(st, a, at(r.v));
        run.x = *run.cells.x;
        run.y = run.cells.y ? *run.cells.y : 0.0f;
    }
    advanceTogether(runs.data(), n);
    for (size_t r = 0; r < n; ++r) {
        *runs[r].cells.x = runs[r].x;
        if (runs[r].cells.y) *runs[r].cells.y = runs[r].y;
    }
}

}  // namespace

void skipStepsTogether(GeneratorState& st, std::span<const SkipRequest> requests) {
    while (!requests.empty()) {
        const size_t chunk = std::min<size_t>(requests.size(), kVoices);
        skipMapsTogether(st, requests.first(chunk));
        requests = requests.subspan(chunk);
    }
}

void skipSteps(GeneratorState& st, int v, int32_t first, int64_t count, const VoiceSettings& s) {
    const SkipRequest request{v, first, count, &s};
    skipStepsTogether(st, std::span<const SkipRequest>(&request, 1));
}

}  // namespace tarrowin
