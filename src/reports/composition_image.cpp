#include "composition_image.h"

#include <algorithm>
#include <random>

#include "engine/note_engine.h"

namespace tarrowin {

namespace {
// Any fixed seed will do; it only has to be the same for every image.
constexpr std::mt19937::result_type kImageRandomSeed = 5489u;
constexpr int kCentre = 250;
// A mask: the run looks at its cancel flag and reports progress every 1024 ticks.
constexpr int64_t kTicksBetweenReports = 1023;
}  // namespace

Rgb colourOf(uint32_t bbggrr) {
    return Rgb{static_cast<uint8_t>(bbggrr & 0xFFu), static_cast<uint8_t>((bbggrr >> 8) & 0xFFu),
               static_cast<uint8_t>((bbggrr >> 16) & 0xFFu)};
}

ImageSums computeImageSums(const Composition& composition) { return *computeImageSums(composition, nullptr, {}); }

std::optional<ImageSums> computeImageSums(const Composition& composition, const std::atomic<bool>* cancel,
                                          const std::function<void(double)>& progress) {
    // Ticks are what takes the time: progress is told in ticks done of all the events' ticks.
    int64_t total = 0, done = 0;
    for (int e = 0; e < composition.count(); ++e) {
        const GlobalSettings& g = composition.event(e).global;
        total += std::max<int64_t>(0, int64_t{g.endCounter} - g.startCounter);
    }
    NoteEngine engine;
    std::mt19937 random(kImageRandomSeed);
    engine.state().randomRunLength = [&random] { return static_cast<int32_t>(random() % 50) + 1; };
    uint32_t S = 0, K = 0;  // unsigned, so that overflow wraps without undefined behaviour
    for (int e = 0; e < composition.count(); ++e) {
        const CompositionEvent& event = composition.event(e);
        const int64_t start = event.global.startCounter;
        const int64_t end = event.global.endCounter;
        engine.setVoices(event.voices);
        clearCountdowns(engine.state());
        for (int v = 0; v < kVoices; ++v) {
            if (engine.voice(v).algorithm == Algorithm::MorseThue) continue;
            engine.resetVoice(v);
            engine.warmUpVoice(v, start);
        }
        for (int64_t t = start; t < end; ++t, ++done) {
            if ((done & kTicksBetweenReports) == 0) {
                if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) return std::nullopt;
                if (progress) progress(static_cast<double>(done) / static_cast<double>(total));
            }
            for (int v = 0; v < kVoices; ++v) {
                if (event.voices[static_cast<size_t>(v)].enabled == 0) continue;
                if (auto note = engine.evaluate(v, t)) {
                    S += static_cast<uint32_t>(*note);
                    K += 1;
                }
            }
            S += 1;
        }
        S += static_cast<uint32_t>(e) + 1;
        K += static_cast<uint32_t>(e) + 1;
    }
    return ImageSums{static_cast<int32_t>(S), static_cast<int32_t>(K)};
}

CompositionImage::CompositionImage(ImageSums sums) : pixels_(static_cast<size_t>(kSize) * kSize * 3) {
    const Rgb background = colourOf(static_cast<uint32_t>(sums.sum));
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) set(x, y, background);

    for (int i = 0; i <= kCentre; ++i) {
        for (int j = i; j <= kCentre; ++j) {
            const Rgb c = patternColour(sums, i, j);
            set(kCentre + i, kCentre + j, c);
            set(kCentre + j, kCentre + i, c);
            set(kCentre + j, kCentre - i, c);
            set(kCentre + i, kCentre - j, c);
            set(kCentre - i, kCentre - j, c);
            set(kCentre - j, kCentre - i, c);
            set(kCentre - j, kCentre + i, c);
            set(kCentre - i, kCentre + j, c);
        }
    }
}

Rgb CompositionImage::patternColour(ImageSums sums, int i, int j) {
    const auto S = static_cast<uint32_t>(sums.sum);
    const auto K = static_cast<uint32_t>(sums.count);
    const uint32_t a = S + static_cast<uint32_t>(i) * K;
    const uint32_t b = S + static_cast<uint32_t>(j) * K;
    const uint32_t D = b * b + a * a;
    return Rgb{static_cast<uint8_t>((D >> 5) % 255), static_cast<uint8_t>((D >> 7) % 255),
               static_cast<uint8_t>((D >> 11) % 255)};
}

void CompositionImage::set(int x, int y, Rgb colour) {
    // The pattern reaches coordinate 500 on the right and bottom edges; those fall outside.
    if (x < 0 || y < 0 || x >= kSize || y >= kSize) return;
    const size_t at = (static_cast<size_t>(y) * kSize + static_cast<size_t>(x)) * 3;
    pixels_[at] = colour.red;
    pixels_[at + 1] = colour.green;
    pixels_[at + 2] = colour.blue;
}

Rgb CompositionImage::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= kSize || y >= kSize) return {};
    const size_t at = (static_cast<size_t>(y) * kSize + static_cast<size_t>(x)) * 3;
    return Rgb{pixels_[at], pixels_[at + 1], pixels_[at + 2]};
}

}  // namespace tarrowin
