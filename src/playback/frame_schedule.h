#pragma once
// Where a JACK process cycle puts each message it takes from its queue: at the frame of the
// message's due time when that time falls in the cycle, never before the message sent
// before it, and no denser than the clients that receive it can take.
//
// Clients that move MIDI out of JACK's cycle into a queue of their own (bridges to ALSA and
// to hardware, monitors such as jack_midi_dump with room for about a hundred messages) lose
// what overflows it when thousands arrive at once, as an audition's sweep of 2048 note offs
// would. So messages go out at most at a steady rate, in bursts of a few dozen: along the
// frames (a message over the rate moves to the frame where the rate allows it, spreading a
// sweep over the frames that follow) and along the wall clock (a late server that runs its
// cycles back to back gets no more than the time between them allows). A tick of a play,
// a few dozen messages at most, always fits into one burst and keeps its frame.
//
// Plain arithmetic on the numbers JACK gives a cycle, so that tests can drive it.


#include <cstdint>

namespace tarrowin {

class FrameSchedule {
   public:
    static constexpr double kMessagesPerSecond = 6000;
    static constexpr double kBurst = 64;

    // One process cycle: JACK's estimate of when its first frame and the next cycle's first
    // frame play (microseconds of jack_get_time), its frame count, the frames skipped since
    // the previous cycle ended (0 unless cycles were lost), and when the callback runs.
    struct Cycle {
        int64_t startUs = 0;
        int64_t nextUs = 0;
        uint32_t frames = 0;
        uint32_t skippedFrames = 0;
        int64_t nowUs = 0;
    };

    explicit FrameSchedule(double sampleRate);

    void beginCycle(const Cycle& cycle);
    // The frame offset in the current cycle for the next message of the queue, due at
    // `dueUs`; -1 when it waits for a later cycle (and so do the messages after it).
    int64_t place(int64_t dueUs);

   private:
    double tokensPerFrame_;
    Cycle cycle_;
    bool started_ = false;
    uint32_t last_ = 0;        // the offset of the last message placed in this cycle
    double frameTokens_ = kBurst;  // messages the rate allows at offset tokensAt_
    uint32_t tokensAt_ = 0;
    double wallTokens_ = kBurst;   // messages the wall clock allows in this cycle
};

}  // namespace tarrowin
