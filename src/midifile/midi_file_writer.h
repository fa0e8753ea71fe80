#pragma once
// A Standard MIDI File writer: format 0, one track, a division in ticks per quarter note,
// events appended in order of non-decreasing date with their delta times as variable-length
// quantities and a full status byte each (no running status). It streams the track to a
// ByteOutput and patches the track length in when the file is finished, so a long
// composition never has to fit in memory twice.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarrowin {

// Where the bytes of a file go. Writes come in order; writeAt rewrites bytes that were
// already written (the track length).
class ByteOutput {
   public:
    virtual ~ByteOutput() = default;
    virtual bool write(const uint8_t* data, size_t size) = 0;
    virtual bool writeAt(uint64_t offset, const uint8_t* data, size_t size) = 0;
};

// A file held in memory.
class MemoryOutput : public ByteOutput {
   public:
    bool write(const uint8_t* data, size_t size) override;
    bool writeAt(uint64_t offset, const uint8_t* data, size_t size) override;
    std::vector<uint8_t> bytes;
};

// Counts the bytes and drops them (benchmarks, and sizing a file before writing it).
class CountingOutput : public ByteOutput {
   public:
    bool write(const uint8_t*, size_t size) override {
        size_ += size;
        return true;
    }
    bool writeAt(uint64_t, const uint8_t*, size_t) override { return true; }
    uint64_t size() const { return size_; }

   private:
    uint64_t size_ = 0;
};

class MidiFileWriter {
   public:
    // The largest delta time a variable-length quantity holds (four bytes).
    static constexpr uint64_t kMaxDelta = 0x0FFFFFFF;
    // The largest tempo a tempo event holds (three bytes of microseconds).
    static constexpr uint32_t kMaxTempo = 0xFFFFFF;

    enum class Error {
        None,
        Output,          // the ByteOutput refused bytes
        DateBackwards,   // an event dated before the previous one
        DeltaTooLarge,   // two events further apart than kMaxDelta ticks
        TrackTooLarge,   // the track would exceed the 4 GiB a chunk length can say
        AfterEndOfTrack  // an event after the end of the track
    };

    // Writes the header chunk and opens the one track.
    explicit MidiFileWriter(ByteOutput& out, uint16_t division = 8);

    // Channel events. Channels are taken modulo 16; data bytes are clamped to 0..127.
    void keyOn(uint64_t date, int channel, int key, int velocity) { channelEvent(date, 0x90, channel, key, velocity, 3); }
    void keyOff(uint64_t date, int channel, int key, int velocity) { channelEvent(date, 0x80, channel, key, velocity, 3); }
    void controlChange(uint64_t date, int channel, int controller, int value) {
        channelEvent(date, 0xB0, channel, controller, value, 3);
    }
    void programChange(uint64_t date, int channel, int program) { channelEvent(date, 0xC0, channel, program, 0, 2); }
    // value 0..16383 (8192: no bend), as the least and the most significant seven bits.
    void pitchBend(uint64_t date, int channel, int value) {
        channelEvent(date, 0xE0, channel, value & 0x7F, (value >> 7) & 0x7F, 3);
    }
    // A System Exclusive message from its F0 to its F7, at most 127 bytes after the F0:
    // written as F0, the length of the rest, the rest.
    void sysex(uint64_t date, const uint8_t* message, size_t size);

    // Meta events. The tempo is clamped to 1..kMaxTempo microseconds per quarter note; the
    // time signature's four values are bytes (the numerator is clamped to 1..255).
    void tempo(uint64_t date, uint32_t microsecondsPerQuarter);
    void timeSignature(uint64_t date, int numerator, int denominatorPower, int clocksPerClick,
                       int thirtySecondsPerQuarter);
    void endOfTrack(uint64_t date);

    // Ends the track (adding the end of track at the last date when it was not written),
    // writes what is buffered and the track length. False when anything failed.
    bool finish();

    Error error() const { return error_; }
    bool failed() const { return error_ != Error::None; }
    // Bytes of the track chunk's data so far.
    uint64_t trackSize() const { return trackSize_; }

   private:
    static constexpr size_t kBufferSize = 1 << 16;
    static constexpr uint64_t kTrackLengthOffset = 18;  // after MThd (14 bytes), "MTrk"
    static constexpr size_t kLargestShortEvent = 7;     // a time signature

    void channelEvent(uint64_t date, int kind, int channel, int data1, int data2, int size) {
        uint8_t* p = begin(date);
        if (p == nullptr) return;
        p[0] = static_cast<uint8_t>(kind | (channel & 0x0F));
        p[1] = dataByte(data1);
        if (size == 3) p[2] = dataByte(data2);
        commit(p + size);
    }
    static uint8_t dataByte(int value) { return static_cast<uint8_t>(value < 0 ? 0 : value > 127 ? 127 : value); }

    // Room for the delta time and one event, with the delta written; null when the event
    // cannot be written. commit() takes the end of the event's bytes.
    uint8_t* begin(uint64_t date, size_t eventBytes = kLargestShortEvent);
    void commit(uint8_t* end) {
        trackSize_ += static_cast<uint64_t>(end - (buffer_.data() + used_));
        used_ = static_cast<size_t>(end - buffer_.data());
    }
    void flush();
    void fail(Error e) {
        if (error_ == Error::None) error_ = e;
    }

    ByteOutput& out_;
    std::vector<uint8_t> buffer_;
    size_t used_ = 0;
    uint64_t lastDate_ = 0;
    uint64_t trackSize_ = 0;
    bool ended_ = false;
    bool finished_ = false;
    Error error_ = Error::None;
};

// The power of two that a time signature event stores for a denominator: log2 of the
// denominator, or of the power of two below it when it is not one (1 and less give 0).
int denominatorPower(int denominator);

// Microseconds per quarter note at a tempo in quarter notes per minute (60000000 / tempo;
// tempos below 1 count as 1), limited to what a tempo event holds.
uint32_t tempoMicroseconds(int32_t tempo);

}  // namespace tarrowin
