#pragma once
// The image from a composition: every note of every event reduced to two numbers, and the
// 500 x 500 pattern with eight-fold symmetry that those two numbers colour. Plain pixels;
// the window and the CLI put them on screen or into a file.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "document/document.h"

namespace tarrowin {

inline constexpr std::string_view kImageWindowTitle = "Image from composition";

// S (the sum) and K (the count) of the notes of a composition, 32-bit and wrapping.
struct ImageSums {
    int32_t sum = 0;
    int32_t count = 0;
    bool operator==(const ImageSums&) const = default;
};

struct Rgb {
    uint8_t red = 0, green = 0, blue = 0;
    bool operator==(const Rgb&) const = default;
};

// A colour given as 0x00BBGGRR: red in the low byte, green in the next, blue in the third.
// The high byte has no meaning as a colour and is ignored.
Rgb colourOf(uint32_t bbggrr);

// Runs every event through the note engine without playing it. Voices whose algorithm is
// Morse-Thue get neither reset nor warm-up before an event. Runs of "Random" modulation
// draw from a fixed seed, so the same composition always gives the same picture.
ImageSums computeImageSums(const Composition& composition);
// The same for a caller on another thread: the run ends with no result once `cancel` turns
// true, and `progress` hears, now and then on the calling thread, the part done (0..1).
std::optional<ImageSums> computeImageSums(const Composition& composition, const std::atomic<bool>* cancel,
                                          const std::function<void(double)>& progress);

class CompositionImage {
   public:
    static constexpr int kSize = 500;

    // Fills the bitmap with the colour S and draws the pattern of S and K over it.
    explicit CompositionImage(ImageSums sums);

    Rgb pixel(int x, int y) const;
    // Rows top to bottom, three bytes (red, green, blue) per pixel.
    const std::vector<uint8_t>& rgb() const { return pixels_; }

    // The colour of the pattern at (i, j) of the first octant.
    static Rgb patternColour(ImageSums sums, int i, int j);

   private:
    void set(int x, int y, Rgb colour);

    std::vector<uint8_t> pixels_;
};

}  // namespace tarrowin
