#pragma once
// A strict reader of the Standard MIDI Files the export writes, for tests: one track, a
// full status byte before every event (running status is an error here), every chunk
// length right. Throws std::runtime_error on anything else.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarrowin::testing {

struct SmfEvent {
    uint64_t date = 0;
    uint8_t status = 0;         // 0xFF for a meta event, 0xF0 for a SysEx
    uint8_t metaType = 0;       // meta events only
    std::vector<uint8_t> data;  // the data bytes (a meta event's payload; a SysEx's bytes after F0)

    int kind() const { return status & 0xF0; }
    int channel() const { return status & 0x0F; }
    bool isMeta(uint8_t type) const { return status == 0xFF && metaType == type; }
};

struct SmfFile {
    int format = -1;
    int tracks = 0;
    int division = 0;
    std::vector<SmfEvent> events;
};

inline SmfFile readSmf(const std::vector<uint8_t>& b) {
    size_t p = 0;
    auto need = [&](size_t n) {
        if (b.size() - p < n) throw std::runtime_error("file ends early at byte " + std::to_string(p));
    };
    auto u8 = [&] { need(1); return b[p++]; };
    auto be = [&](int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) v = v << 8 | u8();
        return v;
    };
    auto vlq = [&] {
        uint64_t v = 0;
        for (int i = 0; i < 4; ++i) {
            const uint8_t c = u8();
            v = v << 7 | (c & 0x7F);
            if ((c & 0x80) == 0) return v;
        }
        throw std::runtime_error("variable-length quantity longer than four bytes");
    };
    auto tag = [&](const char* t) {
        need(4);
        if (std::string(b.begin() + static_cast<long>(p), b.begin() + static_cast<long>(p) + 4) != t) {
            throw std::runtime_error(std::string("expected ") + t);
        }
        p += 4;
    };

    SmfFile f;
    tag("MThd");
    if (be(4) != 6) throw std::runtime_error("header length is not 6");
    f.format = static_cast<int>(be(2));
    f.tracks = static_cast<int>(be(2));
    f.division = static_cast<int>(be(2));
    tag("MTrk");
    const uint32_t length = be(4);
    need(length);
    const size_t end = p + length;
    uint64_t date = 0;
    bool ended = false;
    while (p < end) {
        if (ended) throw std::runtime_error("events after the end of track");
        date += vlq();
        SmfEvent e;
        e.date = date;
        e.status = u8();
        if (e.status < 0x80) throw std::runtime_error("data byte where a status byte belongs (running status)");
        if (e.status == 0xFF) {
            e.metaType = u8();
            const uint64_t n = vlq();
            for (uint64_t i = 0; i < n; ++i) e.data.push_back(u8());
            ended = e.metaType == 0x2F;
        } else if (e.status == 0xF0) {
            const uint64_t n = vlq();
            for (uint64_t i = 0; i < n; ++i) e.data.push_back(u8());
            if (e.data.empty() || e.data.back() != 0xF7) throw std::runtime_error("SysEx without its F7");
        } else {
            const int size = e.kind() == 0xC0 || e.kind() == 0xD0 ? 1 : 2;
            for (int i = 0; i < size; ++i) {
                const uint8_t d = u8();
                if (d > 127) throw std::runtime_error("data byte above 127");
                e.data.push_back(d);
            }
        }
        f.events.push_back(e);
    }
    if (p != end) throw std::runtime_error("track length does not match its events");
    if (!ended) throw std::runtime_error("no end of track");
    if (p != b.size()) throw std::runtime_error("bytes after the track");
    return f;
}

}  // namespace tarrowin::testing
