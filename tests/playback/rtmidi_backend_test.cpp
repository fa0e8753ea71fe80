#include "playback/rtmidi_backend.h"

#include <gtest/gtest.h>

#include "playback/audio_system.h"

namespace tarrowin {
namespace {

// RtMidi's ALSA client throws without a sequencer: a missing system must list nothing and
// open with a message.
TEST(RtMidiBackend, WithoutTheAlsaSequencerListsNothing) {
    if (alsaSequencerPresent()) GTEST_SKIP() << "this machine has an ALSA sequencer";
    RtMidiBackend alsa;
    EXPECT_TRUE(alsa.listPorts().empty());
    EXPECT_EQ(alsa.open("ALSA: Midi Through:Midi Through Port-0 14:0", {}).status, OpenStatus::Failed);
    EXPECT_EQ(alsa.open(RtMidiBackend::virtualPortListing(), {}).status, OpenStatus::Failed);
}

}  // namespace
}  // namespace tarrowin
