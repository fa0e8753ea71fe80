#include "playback/midi_output.h"

#include <gtest/gtest.h>

#include "fake_clock.h"
#include "playback/recording_backend.h"

namespace tarrowin {
namespace {

using testing::FakeClock;

struct TwoBackends {
    FakeClock clock;
    RecordingBackend* ports = nullptr;  // two ordinary ports
    RecordingBackend* synth = nullptr;  // the default route
    std::unique_ptr<MidiOutput> output;

    TwoBackends() {
        auto a = std::make_unique<RecordingBackend>(clock, std::vector<std::string>{"ALSA: Port A", "ALSA: Port B"});
        auto b = std::make_unique<RecordingBackend>(clock, std::vector<std::string>{"Built-in"}, true);
        ports = a.get();
        synth = b.get();
        std::vector<std::unique_ptr<MidiBackend>> list;
        list.push_back(std::move(a));
        list.push_back(std::move(b));
        output = std::make_unique<MidiOutput>(std::move(list));
    }
};

TEST(MidiOutput, SetupRowsNumberTheMapperFirstAndRowsMapToDeviceIds) {
    TwoBackends t;
    EXPECT_EQ(t.output->countDevices(), 3u);
    EXPECT_EQ(t.output->setupRows(), (std::vector<std::string>{"Midi Mapper", "ALSA: Port A", "ALSA: Port B", "Built-in"}));
    EXPECT_EQ(MidiOutput::deviceForRow(0), MidiOutput::kMidiMapper);
    EXPECT_EQ(MidiOutput::deviceForRow(2), 1);
    EXPECT_EQ(t.output->deviceName(-1), "Midi Mapper");
    EXPECT_EQ(t.output->deviceName(1), "ALSA: Port B");
    EXPECT_EQ(t.output->deviceName(3), "");
    EXPECT_EQ(t.output->selectedDevice(), -1);
}

TEST(MidiOutput, MidiMapperRoutesToTheDefaultBackendAndADeviceToItsPort) {
    TwoBackends t;
    t.output->countDevices();
    ASSERT_TRUE(t.output->open().ok());
    EXPECT_TRUE(t.synth->isOpen());
    EXPECT_FALSE(t.ports->isOpen());
    t.output->close();
    EXPECT_FALSE(t.synth->isOpen());

    t.output->chooseDevice(MidiOutput::deviceForRow(2));
    ASSERT_TRUE(t.output->open().ok());
    EXPECT_EQ(t.ports->openPort(), "ALSA: Port B");
    t.output->close();
}

TEST(MidiOutput, OpenFailuresCarryTheirMessagesAndAnOpenDeviceIsInUse) {
    TwoBackends t;
    t.output->countDevices();
    ASSERT_TRUE(t.output->open().ok());
    const OpenResult again = t.output->open();
    EXPECT_EQ(again.status, OpenStatus::Allocated);
    EXPECT_EQ(again.message, "The device is already in use, free it and try again");
    t.output->close();

    t.synth->refuseOpens(OpenStatus::NoMemory);
    EXPECT_EQ(t.output->open().message, "Could not allocate memory for the device");
    t.synth->refuseOpens(OpenStatus::InvalidParam);
    EXPECT_EQ(t.output->open().message, "Invalid pointer!");
    t.synth->refuseOpens(OpenStatus::Failed, "No SoundFont found");
    EXPECT_EQ(t.output->open().message, "No SoundFont found");
    EXPECT_FALSE(t.output->isOpen());

    t.output->chooseDevice(7);
    const OpenResult gone = t.output->open();
    EXPECT_EQ(gone.status, OpenStatus::Failed);
    EXPECT_NE(gone.message.find("7"), std::string::npos);
}

TEST(MidiOutput, WithoutAnyDeviceCountIsZeroAndOpenSaysSo) {
    MidiOutput none({});
    EXPECT_EQ(none.countDevices(), 0u);
    EXPECT_EQ(none.setupRows(), (std::vector<std::string>{"Midi Mapper"}));
    const OpenResult r = none.open();
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.message, "No devices were found for midi output");
}

TEST(MidiOutput, SendShortPacksLowBytesAndNothingGoesThroughAClosedDevice) {
    TwoBackends t;
    t.output->countDevices();
    t.output->sendShort(0x90, 60, 100);  // not open yet: dropped here, never reaches the device
    ASSERT_TRUE(t.output->open().ok());
    t.output->sendShort(0x190, 0x13C, 0x7F);
    t.output->sendShort(0xC3, 41);
    t.output->close();
    t.output->sendShort(0x80, 60, 0);

    const auto got = t.synth->messages();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], (ShortMessage{0x90, 0x3C, 0x7F}));
    EXPECT_EQ(got[0].packed(), 0x007F3C90u);
    EXPECT_EQ(got[1], (ShortMessage{0xC3, 41, 0}));
    EXPECT_EQ(got[1].size(), 2);
    EXPECT_EQ(t.synth->sentWhileClosed(), 0);
}

TEST(MidiOutput, PercussionChannelDefaultsToNineAndReachesTheDevice) {
    TwoBackends t;
    t.output->countDevices();
    EXPECT_EQ(t.output->percussionChannel(), 9);
    t.output->setPercussionChannel(4);
    ASSERT_TRUE(t.output->open().ok());
    EXPECT_EQ(t.synth->lastSetup().percussionChannel, 4);
}

}  // namespace
}  // namespace tarrowin
