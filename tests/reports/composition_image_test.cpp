#include "reports/composition_image.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include <gtest/gtest.h>

#include "engine/note_engine.h"
#include "support/literal_warmup.h"

namespace tarrowin {
namespace {

CompositionEvent silentEvent(int32_t start, int32_t end) {
    CompositionEvent e = Settings::defaults();
    e.voices[0].enabled = 0;
    e.global.startCounter = start;
    e.global.endCounter = end;
    return e;
}

// One event in which only voice 1 plays 32nd notes, Start 5 to End 6: exactly one note.
CompositionEvent oneNoteEvent(Algorithm algorithm) {
    CompositionEvent e = silentEvent(5, 6);
    VoiceSettings& v = e.voices[0];
    v.enabled = 1;
    v.algorithm = algorithm;
    v.setNoteValue(5, 0.0f);
    return e;
}

TEST(ImageSums, EmptyEventCountsTicksAndItsIndex) {
    Composition c;
    c.append(silentEvent(0, 10));
    EXPECT_EQ(computeImageSums(c), (ImageSums{11, 1}));
    // Event 1 adds its 3 ticks and 2; an event whose End is not above Start adds no ticks.
    c.append(silentEvent(7, 10));
    c.append(silentEvent(10, 4));
    EXPECT_EQ(computeImageSums(c), (ImageSums{11 + 3 + 2 + 3, 1 + 2 + 3}));
}

TEST(ImageSums, EnabledVoicesAddTheirNotes) {
    Composition c;
    CompositionEvent e = silentEvent(0, 16);
    e.voices[0].enabled = 1;  // Morse-Thue base 2, quarter notes: counters 0 and 1
    e.voices[3].enabled = 1;  // offset 1: counters 1 and 2
    e.voices[3].offset = 1;
    e.voices[3].startNote = 48;
    c.append(e);
    EXPECT_EQ(computeImageSums(c), (ImageSums{(60 + 62) + (50 + 50) + 16 + 1, 4 + 1}));
}

TEST(ImageSums, MorseThueVoicesAreNotWarmedUp) {
    // Every-4 modulation: warmed up over counters 0..4, the voice would carry the
    // transposition of counter 4 (digit sum 1) into counter 5 and play 65, not 64.
    Composition c;
    CompositionEvent e = oneNoteEvent(Algorithm::MorseThue);
    e.voices[0].modulate = 1;
    e.voices[0].modulateEvery = 4;
    c.append(e);
    EXPECT_EQ(computeImageSums(c), (ImageSums{64 + 1 + 1, 1 + 1}));
}

TEST(ImageSums, OtherVoicesAreResetAndWarmedUpForEveryEvent) {
    const CompositionEvent e = oneNoteEvent(Algorithm::LogisticMap);
    GeneratorState reference;
    testing::literalPrepareRun(reference, e.voices, 5);
    const int32_t note = nextNote(reference, 0, 5, e.voices[0]);

    Composition c;
    c.append(e);
    EXPECT_EQ(computeImageSums(c), (ImageSums{note + 2, 2}));
    c.append(e);  // the same note again: the map restarts from its reset state
    EXPECT_EQ(computeImageSums(c), (ImageSums{(note + 1 + 1) + (note + 1 + 2), 2 + (1 + 2)}));
}

TEST(ImageSums, RandomModulationGivesTheSamePictureEveryTime) {
    Composition c;
    CompositionEvent e = silentEvent(0, 4000);
    for (int v = 0; v < kVoices; ++v) {
        VoiceSettings& s = e.voices[static_cast<size_t>(v)];
        s.enabled = 1;
        s.algorithm = static_cast<Algorithm>(v % kAlgorithms);
        s.modulate = 1;
        s.modulateMode = 1;
        s.setNoteValue(5, 0.0f);
    }
    c.append(e);
    const ImageSums first = computeImageSums(c);
    EXPECT_EQ(computeImageSums(c), first);
}

TEST(ImageSums, ProgressRisesOverAllEventsAndCancelLeavesNoResult) {
    Composition c;
    c.append(silentEvent(0, 5000));
    c.append(silentEvent(100, 3100));
    std::vector<double> seen;
    std::atomic<bool> cancel{false};
    EXPECT_EQ(computeImageSums(c, &cancel, [&seen](double f) { seen.push_back(f); }), computeImageSums(c));
    // One report every 1024 of the 8000 ticks, the second event's counted after the first's.
    ASSERT_EQ(seen.size(), 8u);
    EXPECT_EQ(seen.front(), 0.0);
    EXPECT_DOUBLE_EQ(seen.back(), 7168.0 / 8000.0);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));

    seen.clear();
    const auto halfway = [&](double f) {
        seen.push_back(f);
        if (f > 0.5) cancel.store(true);
    };
    EXPECT_EQ(computeImageSums(c, &cancel, halfway), std::nullopt);
    EXPECT_EQ(seen.size(), 5u);  // stopped at the first look after the request
}

TEST(CompositionImage, CentrePixelHasTheColourOfTwiceSSquared) {
    const CompositionImage image(ImageSums{11, 1});
    // D = 2 * 11 * 11 = 242: red 242 >> 5 = 7, green 242 >> 7 = 1, blue 0.
    EXPECT_EQ(image.pixel(250, 250), (Rgb{7, 1, 0}));
    // (251, 250) is i = 0, j = 1: D = 12 * 12 + 11 * 11 = 265, red 8, green 2, blue 0.
    EXPECT_EQ(image.pixel(251, 250), (Rgb{8, 2, 0}));
}

TEST(CompositionImage, SquaresWrapAtThirtyTwoBits) {
    // K = 0 paints one colour: a = b = 65539, a * a wraps to 393225, D = 786450.
    const CompositionImage image(ImageSums{65539, 0});
    const Rgb expected{786450 / 32 % 255, 786450 / 128 % 255, 786450 / 2048 % 255};
    EXPECT_EQ(expected, (Rgb{96, 24, 129}));
    for (int y = 0; y < CompositionImage::kSize; y += 7)
        for (int x = 0; x < CompositionImage::kSize; x += 7) ASSERT_EQ(image.pixel(x, y), expected);
    // S + i * K beyond the signed range wraps too: 0x7FFFFFFF + 1 = 0x80000000, squared 0.
    EXPECT_EQ(CompositionImage::patternColour(ImageSums{0x7FFFFFFF, 1}, 1, 1), (Rgb{0, 0, 0}));
}

TEST(CompositionImage, PatternHasEightfoldSymmetryAndCoversTheBitmap) {
    const ImageSums sums{-123456789, 987654};
    const CompositionImage image(sums);
    constexpr int n = CompositionImage::kSize;
    for (int y = 1; y < n; ++y) {
        for (int x = 1; x < n; ++x) {
            const Rgb c = image.pixel(x, y);
            ASSERT_EQ(image.pixel(y, x), c) << x << "," << y;
            ASSERT_EQ(image.pixel(n - x, y), c) << x << "," << y;
            ASSERT_EQ(image.pixel(x, n - y), c) << x << "," << y;
        }
    }
    // The outer row and column hold the pattern's i or j = 250, not the background.
    for (int k = 0; k < n; ++k) {
        const int d = k < 250 ? 250 - k : k - 250;
        ASSERT_EQ(image.pixel(0, k), CompositionImage::patternColour(sums, std::min(d, 250), 250));
        ASSERT_EQ(image.pixel(k, 0), CompositionImage::patternColour(sums, std::min(d, 250), 250));
    }
    EXPECT_EQ(image.rgb().size(), static_cast<size_t>(n) * n * 3);
}

TEST(CompositionImage, BackgroundColourUsesTheLowThreeBytes) {
    EXPECT_EQ(colourOf(0x00332211u), (Rgb{0x11, 0x22, 0x33}));
    EXPECT_EQ(colourOf(0xFF332211u), (Rgb{0x11, 0x22, 0x33}));
}

}  // namespace
}  // namespace tarrowin
