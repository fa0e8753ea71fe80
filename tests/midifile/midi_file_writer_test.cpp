#include "midifile/midi_file_writer.h"

#include <gtest/gtest.h>

#include <vector>

#include "smf_reader.h"

namespace tarrowin {
namespace {

using Bytes = std::vector<uint8_t>;

// The track's bytes after the 22 bytes of header and track tag/length.
Bytes trackOf(const Bytes& file) { return Bytes(file.begin() + 22, file.end()); }

TEST(MidiFileWriter, WritesFormatZeroWithOneTrackAndTheDivision) {
    MemoryOutput out;
    MidiFileWriter w(out);
    w.keyOn(0, 0, 60, 88);
    ASSERT_TRUE(w.finish());
    const Bytes head(out.bytes.begin(), out.bytes.begin() + 22);
    EXPECT_EQ(head, (Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 8, 'M', 'T', 'r', 'k', 0, 0, 0, 8}));
    // finish() closed the track with an end of track at the last date.
    EXPECT_EQ(trackOf(out.bytes), (Bytes{0x00, 0x90, 60, 88, 0x00, 0xFF, 0x2F, 0x00}));
}

TEST(MidiFileWriter, DeltaTimesAreVariableLengthQuantities) {
    // Boundaries of one to four bytes, as the file format defines them.
    const std::vector<std::pair<uint64_t, Bytes>> cases = {
        {0, {0x00}},
        {0x40, {0x40}},
        {0x7F, {0x7F}},
        {0x80, {0x81, 0x00}},
        {0x2000, {0xC0, 0x00}},
        {0x3FFF, {0xFF, 0x7F}},
        {0x4000, {0x81, 0x80, 0x00}},
        {0x1FFFFF, {0xFF, 0xFF, 0x7F}},
        {0x200000, {0x81, 0x80, 0x80, 0x00}},
        {0x0FFFFFFF, {0xFF, 0xFF, 0xFF, 0x7F}},
    };
    for (const auto& [delta, expected] : cases) {
        MemoryOutput out;
        MidiFileWriter w(out);
        w.endOfTrack(delta);
        ASSERT_TRUE(w.finish()) << delta;
        Bytes want = expected;
        want.insert(want.end(), {0xFF, 0x2F, 0x00});
        EXPECT_EQ(trackOf(out.bytes), want) << delta;
    }
}

TEST(MidiFileWriter, EveryEventHasItsStatusByteAndDataStaysBelow128) {
    MemoryOutput out;
    MidiFileWriter w(out);
    w.keyOn(0, 3, 60, 100);
    w.keyOn(0, 3, 62, 100);  // same status: written again, no running status
    w.keyOff(2, 19, 200, -5);  // channel 19 is channel 3; data clamped
    w.controlChange(2, 0, 10, 64);
    w.programChange(5, 15, 130);
    w.endOfTrack(8);
    ASSERT_TRUE(w.finish());
    EXPECT_EQ(trackOf(out.bytes), (Bytes{0x00, 0x93, 60, 100, 0x00, 0x93, 62, 100, 0x02, 0x83, 127, 0, 0x00, 0xB0, 10,
                                         64, 0x03, 0xCF, 127, 0x03, 0xFF, 0x2F, 0x00}));
    EXPECT_NO_THROW(testing::readSmf(out.bytes));
}

TEST(MidiFileWriter, TempoAndTimeSignatureMetaEvents) {
    EXPECT_EQ(tempoMicroseconds(96), 625000u);
    EXPECT_EQ(tempoMicroseconds(120), 500000u);
    EXPECT_EQ(tempoMicroseconds(340), 176470u);
    // Below 4 quarter notes a minute the value would not fit in three bytes.
    EXPECT_EQ(tempoMicroseconds(3), 0xFFFFFFu);
    EXPECT_EQ(tempoMicroseconds(0), 0xFFFFFFu);

    EXPECT_EQ(denominatorPower(1), 0);
    EXPECT_EQ(denominatorPower(4), 2);
    EXPECT_EQ(denominatorPower(32), 5);
    EXPECT_EQ(denominatorPower(6), 2);   // not a power of two: the power of two below it
    EXPECT_EQ(denominatorPower(48), 5);
    EXPECT_EQ(denominatorPower(0), 0);
    EXPECT_EQ(denominatorPower(-8), 0);

    MemoryOutput out;
    MidiFileWriter w(out);
    w.tempo(0, tempoMicroseconds(96));
    w.timeSignature(0, 3, denominatorPower(4), 8, 8);
    w.timeSignature(1, 0, 2, 8, 8);  // a numerator of 0 is no time signature: written as 1
    ASSERT_TRUE(w.finish());
    EXPECT_EQ(trackOf(out.bytes), (Bytes{0x00, 0xFF, 0x51, 0x03, 0x09, 0x89, 0x68, 0x00, 0xFF, 0x58, 0x04, 3, 2, 8, 8,
                                         0x01, 0xFF, 0x58, 0x04, 1, 2, 8, 8, 0x00, 0xFF, 0x2F, 0x00}));
}

TEST(MidiFileWriter, LongTracksStreamThroughAndTheLengthIsPatchedIn) {
    MemoryOutput out;
    MidiFileWriter w(out);
    const int notes = 100000;  // far beyond one buffer
    for (int i = 0; i < notes; ++i) {
        w.keyOn(static_cast<uint64_t>(i) * 200, i % 16, i % 128, 1 + i % 127);
    }
    ASSERT_TRUE(w.finish());
    const testing::SmfFile f = testing::readSmf(out.bytes);
    ASSERT_EQ(f.events.size(), static_cast<size_t>(notes) + 1);
    EXPECT_EQ(f.events[99999].date, 99999u * 200);
    EXPECT_EQ(f.events[99999].data, (Bytes{99999 % 128, 1 + 99999 % 127}));
    EXPECT_EQ(w.trackSize(), out.bytes.size() - 22);
}

class FailingOutput : public ByteOutput {
   public:
    bool write(const uint8_t*, size_t) override { return false; }
    bool writeAt(uint64_t, const uint8_t*, size_t) override { return false; }
};

TEST(MidiFileWriter, FailuresAreReportedNotWrittenOver) {
    {
        MemoryOutput out;
        MidiFileWriter w(out);
        w.keyOn(10, 0, 60, 1);
        w.keyOn(9, 0, 61, 1);
        EXPECT_FALSE(w.finish());
        EXPECT_EQ(w.error(), MidiFileWriter::Error::DateBackwards);
    }
    {
        MemoryOutput out;
        MidiFileWriter w(out);
        w.endOfTrack(0);
        w.keyOn(1, 0, 60, 1);
        EXPECT_FALSE(w.finish());
        EXPECT_EQ(w.error(), MidiFileWriter::Error::AfterEndOfTrack);
    }
    {
        MemoryOutput out;
        MidiFileWriter w(out);
        w.keyOn(MidiFileWriter::kMaxDelta + 1, 0, 60, 1);
        EXPECT_FALSE(w.finish());
        EXPECT_EQ(w.error(), MidiFileWriter::Error::DeltaTooLarge);
    }
    {
        FailingOutput out;
        MidiFileWriter w(out);
        w.keyOn(0, 0, 60, 1);
        EXPECT_FALSE(w.finish());
        EXPECT_EQ(w.error(), MidiFileWriter::Error::Output);
    }
}

}  // namespace
}  // namespace tarrowin
