#include "frame_schedule.h"

#include <algorithm>
#include <cmath>

namespace tarrowin {

FrameSchedule::FrameSchedule(double sampleRate) : tokensPerFrame_(kMessagesPerSecond / std::max(1.0, sampleRate)) {}

void FrameSchedule::beginCycle(const Cycle& cycle) {
    if (started_) {
        // The rate refills over the rest of the last cycle and any frames lost since.
        const double frames = double(cycle_.frames - tokensAt_) + double(cycle.skippedFrames);
        frameTokens_ = std::min(kBurst, frameTokens_ + frames * tokensPerFrame_);
        const double wallUs = double(std::max<int64_t>(0, cycle.nowUs - cycle_.nowUs));
        wallTokens_ = std::min(kBurst, wallTokens_ + wallUs * kMessagesPerSecond / 1e6);
    }
    started_ = true;
    cycle_ = cycle;
    last_ = 0;
    tokensAt_ = 0;
}

int64_t FrameSchedule::place(int64_t dueUs) {
    if (cycle_.frames == 0 || dueUs >= cycle_.nextUs) return -1;
    if (wallTokens_ < 1) return -1;
    const int64_t span = std::max<int64_t>(1, cycle_.nextUs - cycle_.startUs);
    // A message already late goes at the cycle's first frame.
    int64_t offset = dueUs <= cycle_.startUs ? 0 : (dueUs - cycle_.startUs) * int64_t{cycle_.frames} / span;
    offset = std::clamp<int64_t>(offset, last_, cycle_.frames - 1);
    double level = std::min(kBurst, frameTokens_ + double(offset - tokensAt_) * tokensPerFrame_);
    if (level < 1) {
        offset += static_cast<int64_t>(std::ceil((1 - level) / tokensPerFrame_ - 1e-9));
        if (offset >= cycle_.frames) return -1;
        level = std::min(kBurst, frameTokens_ + double(offset - tokensAt_) * tokensPerFrame_);
    }
    frameTokens_ = level - 1;
    tokensAt_ = static_cast<uint32_t>(offset);
    last_ = static_cast<uint32_t>(offset);
    wallTokens_ -= 1;
    return offset;
}

}  // namespace tarrowin
