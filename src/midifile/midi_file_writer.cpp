#include "midi_file_writer.h"

#include <algorithm>
#include <array>
#include <bit>

namespace tarrowin {

namespace {

constexpr uint64_t kMaxChunkLength = 0xFFFFFFFF;
// The longest event: a delta of four bytes and a time signature (FF 58 04 and four bytes).
constexpr size_t kMaxDeltaBytes = 4;
constexpr size_t kMaxEventBytes = kMaxDeltaBytes + 7;

void putBigEndian(uint8_t* p, uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
        *p++ = static_cast<uint8_t>(value >> (8 * i));
    }
}

uint8_t byteOf(int value, int low, int high) { return static_cast<uint8_t>(std::clamp(value, low, high)); }

}  // namespace

bool MemoryOutput::write(const uint8_t* data, size_t size) {
    bytes.insert(bytes.end(), data, data + size);
    return true;
}

bool MemoryOutput::writeAt(uint64_t offset, const uint8_t* data, size_t size) {
    if (offset > bytes.size() || size > bytes.size() - offset) return false;
    std::copy(data, data + size, bytes.begin() + static_cast<std::ptrdiff_t>(offset));
    return true;
}

MidiFileWriter::MidiFileWriter(ByteOutput& out, uint16_t division) : out_(out), buffer_(kBufferSize) {
    std::array<uint8_t, 22> head{'M', 'T', 'h', 'd', 0, 0, 0, 6,
                                 0, 0,     // format 0
                                 0, 1,     // one track
                                 0, 0,     // division, below
                                 'M', 'T', 'r', 'k', 0, 0, 0, 0};  // length patched by finish()
    putBigEndian(&head[12], division & 0x7FFF, 2);
    std::copy(head.begin(), head.end(), buffer_.begin());
    used_ = head.size();
}

uint8_t* MidiFileWriter::begin(uint64_t date, size_t eventBytes) {
    if (failed()) return nullptr;
    if (ended_) {
        fail(Error::AfterEndOfTrack);
        return nullptr;
    }
    if (date < lastDate_) {
        fail(Error::DateBackwards);
        return nullptr;
    }
    const uint64_t delta = date - lastDate_;
    if (delta > kMaxDelta) {
        fail(Error::DeltaTooLarge);
        return nullptr;
    }
    const size_t room = kMaxDeltaBytes + eventBytes;
    if (trackSize_ + std::max(room, kMaxEventBytes) > kMaxChunkLength) {
        fail(Error::TrackTooLarge);
        return nullptr;
    }
    if (used_ + room > buffer_.size()) {
        flush();
        if (failed()) return nullptr;
    }
    lastDate_ = date;

    uint8_t* p = buffer_.data() + used_;
    if (delta < 0x80) {
        *p++ = static_cast<uint8_t>(delta);
    } else {
        // Seven bits a byte, most significant first, every byte but the last with bit 7 set.
        const int groups = (std::bit_width(delta) + 6) / 7;
        for (int g = groups - 1; g > 0; --g) *p++ = static_cast<uint8_t>(0x80 | ((delta >> (7 * g)) & 0x7F));
        *p++ = static_cast<uint8_t>(delta & 0x7F);
    }
    return p;
}

void MidiFileWriter::sysex(uint64_t date, const uint8_t* message, size_t size) {
    if (size < 2 || size - 1 > 0x7F || message[0] != 0xF0) return;  // a run makes no other
    uint8_t* p = begin(date, size + 1);
    if (p == nullptr) return;
    p[0] = 0xF0;
    p[1] = static_cast<uint8_t>(size - 1);
    std::copy(message + 1, message + size, p + 2);
    commit(p + size + 1);
}

void MidiFileWriter::tempo(uint64_t date, uint32_t microsecondsPerQuarter) {
    uint8_t* p = begin(date);
    if (p == nullptr) return;
    const uint32_t t = std::clamp<uint32_t>(microsecondsPerQuarter, 1, kMaxTempo);
    p[0] = 0xFF;
    p[1] = 0x51;
    p[2] = 0x03;
    putBigEndian(p + 3, t, 3);
    commit(p + 6);
}

void MidiFileWriter::timeSignature(uint64_t date, int numerator, int denominatorPower, int clocksPerClick,
                                   int thirtySecondsPerQuarter) {
    uint8_t* p = begin(date);
    if (p == nullptr) return;
    p[0] = 0xFF;
    p[1] = 0x58;
    p[2] = 0x04;
    p[3] = byteOf(numerator, 1, 255);
    p[4] = byteOf(denominatorPower, 0, 255);
    p[5] = byteOf(clocksPerClick, 0, 255);
    p[6] = byteOf(thirtySecondsPerQuarter, 0, 255);
    commit(p + 7);
}

void MidiFileWriter::endOfTrack(uint64_t date) {
    uint8_t* p = begin(date);
    if (p == nullptr) return;
    p[0] = 0xFF;
    p[1] = 0x2F;
    p[2] = 0x00;
    commit(p + 3);
    ended_ = true;
}

void MidiFileWriter::flush() {
    if (used_ == 0) return;
    if (!out_.write(buffer_.data(), used_)) fail(Error::Output);
    used_ = 0;
}

bool MidiFileWriter::finish() {
    if (finished_) return !failed();
    finished_ = true;
    if (!ended_) endOfTrack(lastDate_);
    if (failed()) return false;
    flush();
    if (failed()) return false;
    std::array<uint8_t, 4> length{};
    putBigEndian(length.data(), trackSize_, 4);
    if (!out_.writeAt(kTrackLengthOffset, length.data(), length.size())) fail(Error::Output);
    return !failed();
}

int denominatorPower(int denominator) {
    if (denominator <= 1) return 0;
    return std::bit_width(static_cast<unsigned>(denominator)) - 1;
}

uint32_t tempoMicroseconds(int32_t tempo) {
    const uint32_t t = 60000000u / static_cast<uint32_t>(std::max(tempo, 1));
    return std::min(t, MidiFileWriter::kMaxTempo);
}

}  // namespace tarrowin
