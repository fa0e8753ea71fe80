#include "playback/rtmidi_backend.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "playback/audio_system.h"

namespace tarrowin {
namespace {

// RtMidi's JACK client crashes when it opens a port without a server, and its ALSA client
// throws without a sequencer: a missing system must list nothing and open with a message.
TEST(RtMidiBackend, WithoutAJackServerListsNothingAndOpensWithAMessage) {
    const std::string server = "tarrowin-absent-" + std::to_string(getpid());
    setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
    ASSERT_FALSE(jackServerRunning());
    RtMidiBackend jack(RtMidiBackend::System::Jack);
    EXPECT_TRUE(jack.listPorts().empty());
    const OpenResult r = jack.open(jack.virtualPortListing(), {});
    EXPECT_EQ(r.status, OpenStatus::Failed);
    EXPECT_NE(r.message.find("No JACK server is running"), std::string::npos) << r.message;
    jack.send(ShortMessage::noteOn(0, 60, 100));  // nothing open: ignored
    unsetenv("JACK_DEFAULT_SERVER");
}

TEST(RtMidiBackend, WithoutTheAlsaSequencerListsNothing) {
    if (alsaSequencerPresent()) GTEST_SKIP() << "this machine has an ALSA sequencer";
    RtMidiBackend alsa(RtMidiBackend::System::Alsa);
    EXPECT_TRUE(alsa.listPorts().empty());
    EXPECT_EQ(alsa.open("ALSA: Midi Through:Midi Through Port-0 14:0", {}).status, OpenStatus::Failed);
}

}  // namespace
}  // namespace tarrowin
