#pragma once
// Document files built byte by byte, field after field as the file layout tables list
// them, independently of the program's own writer; and settings in which every field has a
// value of its own, so a field written to another field's place is caught.

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include "document/document.h"
#include "engine/tables.h"

namespace tarrowin::testing {

struct ByteBuilder {
    std::vector<uint8_t> bytes;

    void u32(uint32_t u) {
        for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<uint8_t>(u >> shift));
    }
    void i32(int32_t v) { u32(static_cast<uint32_t>(v)); }
    void i16(int32_t v) {
        const auto u = static_cast<uint16_t>(static_cast<int16_t>(v));
        bytes.push_back(static_cast<uint8_t>(u));
        bytes.push_back(static_cast<uint8_t>(u >> 8));
    }
    void f32(float f) { u32(std::bit_cast<uint32_t>(f)); }
    void alg(Algorithm a) { i16(static_cast<int16_t>(a)); }
};

inline ScaleList listOf(int count, int first) {
    ScaleList l;
    for (int i = 0; i < count; ++i) l.push((first + i) % 12);
    return l;
}

// Valid settings in which the fields of one voice, and the same field in different voices,
// hold different values. `seed` varies them between events.
inline Settings distinctiveSettings(int seed) {
    Settings s;
    s.global.tempo = 20 + (7 * seed + 3) % 320;
    s.global.startCounter = 1000 + seed;
    s.global.endCounter = 50100 + 3 * seed;  // beyond the form's 50000, as Round can leave it
    s.global.timeSigNumerator = static_cast<int16_t>(1 + (seed + 2) % 32);
    s.global.timeSigDenominator = static_cast<int16_t>(3 + seed % 5);  // not a power of two
    for (int v = 0; v < kVoices; ++v) {
        VoiceSettings& x = s.voices[static_cast<size_t>(v)];
        const int k = v + seed;
        x.enabled = k % 2;
        x.algorithm = static_cast<Algorithm>((k + 3) % 8);
        x.param1 = 1000 + 17 * k;
        x.param2 = 500000 + 31 * k;
        x.offset = -300 + 11 * k;
        x.modulate = (k + 1) % 2;
        x.modulateMode = (k / 2) % 2;
        x.modulateEvery = 1 + (k * 3) % 50;
        x.scaleIndex = (k + 5) % 16;
        x.scale = listOf(1 + k % 12, k);
        x.userScale = listOf(1 + (k + 7) % 12, k + 5);
        x.octaves = 1 + (k + 2) % 4;
        x.octavesIndex = (k + 3) % 4;
        x.startNote = (5 * k + 9) % 97;
        x.noteValue = 1.25f + static_cast<float>(k) * 3.5f;
        x.noteValueIndex = (k + 6) % 12;
        x.instrument = (7 * k + 40) % 128;
        x.channel = (k + 9) % 16;
        x.tied = (k / 3) % 2;
        x.inverted = (k / 4) % 2;
        x.matchScale = (k / 5 + 1) % 2;
        x.dynamicIndex = (k + 4) % 6;
        x.velocity = (3 * k + 60) % 128;
        x.pan = (5 * k + 70) % 128 - 64;
        x.percussionKey = (k + 20) % 47;
        const float f = static_cast<float>(k);
        x.logisticMu = 2.0f + f * 0.01f;
        x.noiseCoefficient = 0.1f + f * 0.02f;
        x.henonA = 1.0f + f * 0.03f;
        x.henonB = 0.05f + f * 0.04f;
        x.hopalongAngle = -6.0f + f * 0.05f;
        x.martinAngle = 6.0f - f * 0.06f;
        x.gingerX0 = -19.0f + f * 0.07f;
        x.gingerY0 = 19.0f - f * 0.08f;
        x.lorenzCoefficient = 0.9f - f * 0.009f;
    }
    return s;
}

// A version 2.5 file (percussion true) or 2.0 file (false), from the tables of the layout.
inline std::vector<uint8_t> encodeVersion2(const Settings& cur, int32_t reserved, const std::vector<Settings>& events,
                                           bool percussion) {
    ByteBuilder b;
    b.f32(percussion ? 2.5f : 2.0f);
    b.i32(cur.global.tempo);
    b.i32(reserved);
    b.i32(cur.global.endCounter);
    b.i32(cur.global.startCounter);
    b.i16(cur.global.timeSigNumerator);
    b.i16(cur.global.timeSigDenominator);
    const auto& vs = cur.voices;
    for (const auto& v : vs) b.alg(v.algorithm);
    for (const auto& v : vs) b.i32(v.enabled);
    for (const auto& v : vs) b.i32(v.param1);
    for (const auto& v : vs) b.i32(v.param2);
    for (const auto& v : vs) b.i32(v.offset);
    for (const auto& v : vs) b.i32(v.modulate);
    for (const auto& v : vs) b.i32(v.scaleIndex);
    for (const auto& v : vs) b.i32(v.startNote);
    for (const auto& v : vs) b.i32(v.noteValueIndex);
    for (const auto& v : vs) b.f32(v.noteValue);
    for (const auto& v : vs) b.i32(v.octavesIndex);
    for (const auto& v : vs) b.i32(v.octaves);
    for (const auto& v : vs) b.i32(v.instrument);
    for (const auto& v : vs) b.i32(v.channel);
    for (const auto& v : vs) b.i32(v.tied);
    for (const auto& v : vs) b.i32(v.modulateEvery);
    for (const auto& v : vs) b.i32(v.modulateMode);
    for (const auto& v : vs) {
        b.i32(v.inverted);
        b.i32(v.matchScale);
        b.i32(v.velocity);
        b.i32(v.dynamicIndex);
    }
    for (const auto& v : vs) {
        for (float f : {v.logisticMu, v.noiseCoefficient, v.henonA, v.henonB, v.hopalongAngle, v.martinAngle,
                        v.gingerX0, v.gingerY0, v.lorenzCoefficient}) {
            b.f32(f);
        }
    }
    for (const auto& v : vs) b.i32(v.pan);
    if (percussion) {
        for (const auto& v : vs) b.i32(v.percussionKey);
    }
    for (const auto& v : vs) b.i32(v.scale.count);
    for (const auto& v : vs) {
        for (int i = 0; i < v.scale.count; ++i) b.i32(v.scale[i]);
    }
    for (const auto& v : vs) b.i32(v.userScale.count);
    for (const auto& v : vs) {
        for (int i = 0; i < v.userScale.count; ++i) b.i32(v.userScale[i]);
    }
    b.i32(static_cast<int32_t>(events.size()) - 1);
    for (const auto& e : events) {
        b.i32(e.global.startCounter);
        b.i32(e.global.tempo);
        b.i32(e.global.endCounter);
        b.i16(e.global.timeSigNumerator);
        b.i16(e.global.timeSigDenominator);
    }
    for (const auto& e : events) {
        for (const auto& v : e.voices) {
            b.alg(v.algorithm);
            for (int32_t x : {v.enabled, v.param1, v.param2, v.offset, v.octaves, v.modulate, v.modulateMode,
                              v.modulateEvery, v.startNote}) {
                b.i32(x);
            }
            b.f32(v.noteValue);
            for (int32_t x : {v.instrument, v.channel, v.tied, v.scaleIndex, v.octavesIndex, v.noteValueIndex,
                              v.inverted, v.matchScale, v.velocity, v.dynamicIndex}) {
                b.i32(x);
            }
            for (float f : {v.logisticMu, v.noiseCoefficient, v.lorenzCoefficient, v.henonA, v.henonB,
                            v.hopalongAngle, v.martinAngle, v.gingerX0, v.gingerY0}) {
                b.f32(f);
            }
            b.i32(v.pan);
            if (percussion) b.i32(v.percussionKey);
        }
    }
    for (const auto& e : events) {
        for (const auto& v : e.voices) b.i32(v.scale.count);
    }
    for (const auto& e : events) {
        for (const auto& v : e.voices) {
            for (int i = 0; i < v.scale.count; ++i) b.i32(v.scale[i]);
        }
    }
    for (const auto& e : events) {
        for (const auto& v : e.voices) b.i32(v.userScale.count);
    }
    for (const auto& e : events) {
        for (const auto& v : e.voices) {
            for (int i = 0; i < v.userScale.count; ++i) b.i32(v.userScale[i]);
        }
    }
    return b.bytes;
}

// A version 1.0 file from the first 8 voices of `cur` and of each entry; the reader keeps
// all entries but the last as events.
inline std::vector<uint8_t> encodeVersion10(const Settings& cur, int32_t reserved, const std::vector<Settings>& entries) {
    ByteBuilder b;
    b.f32(1.0f);
    b.i32(cur.global.tempo);
    b.i32(reserved);
    b.i32(cur.global.endCounter);
    constexpr int n = 8;
    const auto& vs = cur.voices;
    for (int v = 0; v < n; ++v) b.alg(vs[v].algorithm);
    for (int v = 0; v < n; ++v) b.i32(vs[v].enabled);
    for (int v = 0; v < n; ++v) b.i32(vs[v].param1);
    for (int v = 0; v < n; ++v) b.i32(vs[v].param2);
    for (int v = 0; v < n; ++v) b.i32(vs[v].offset);
    for (int v = 0; v < n; ++v) b.i32(vs[v].modulate);
    for (int v = 0; v < n; ++v) b.i32(vs[v].scaleIndex);
    for (int v = 0; v < n; ++v) b.i32(vs[v].startNote);
    for (int v = 0; v < n; ++v) b.i32(vs[v].noteValueIndex);
    for (int v = 0; v < n; ++v) b.f32(vs[v].noteValue);
    for (int v = 0; v < n; ++v) b.i32(vs[v].octavesIndex);
    for (int v = 0; v < n; ++v) b.i32(vs[v].octaves);
    for (int v = 0; v < n; ++v) b.i32(vs[v].instrument);
    for (int v = 0; v < n; ++v) b.i32(vs[v].channel);
    for (int v = 0; v < n; ++v) b.i32(vs[v].tied);
    for (int v = 0; v < n; ++v) b.i32(vs[v].modulateEvery);
    for (int v = 0; v < n; ++v) b.i32(vs[v].modulateMode);
    for (int v = 0; v < n; ++v) {
        b.i32(vs[v].inverted);
        b.i32(vs[v].velocity);
        b.i32(vs[v].dynamicIndex);
    }
    for (int v = 0; v < n; ++v) {
        b.f32(vs[v].logisticMu);
        b.f32(vs[v].noiseCoefficient);
    }
    for (int v = 0; v < n; ++v) b.i32(vs[v].scale.count);
    for (int v = 0; v < n; ++v) {
        for (int i = 0; i < vs[v].scale.count; ++i) b.i32(vs[v].scale[i]);
    }
    b.i32(static_cast<int32_t>(entries.size()));
    if (entries.size() < 2) return b.bytes;
    for (size_t i = 0; i < entries.size(); ++i) b.i32(12345 + static_cast<int32_t>(i));  // ignored
    for (size_t i = 0; i < entries.size(); ++i) {
        b.i32(-777);  // ignored
        b.i32(entries[i].global.tempo);
        b.i32(entries[i].global.endCounter);
    }
    for (const auto& e : entries) {
        for (int v = 0; v < n; ++v) {
            const auto& x = e.voices[v];
            b.alg(x.algorithm);
            for (int32_t y : {x.enabled, x.param1, x.param2, x.offset, x.octaves, x.modulate, x.modulateMode,
                              x.modulateEvery, x.startNote}) {
                b.i32(y);
            }
            b.f32(x.noteValue);
            for (int32_t y : {x.instrument, x.channel, x.tied, x.scaleIndex, x.octavesIndex, x.noteValueIndex,
                              x.inverted, x.velocity, x.dynamicIndex}) {
                b.i32(y);
            }
            b.f32(x.logisticMu);
            b.f32(x.noiseCoefficient);
        }
    }
    for (const auto& e : entries) {
        for (int v = 0; v < n; ++v) b.i32(e.voices[v].scale.count);
    }
    for (const auto& e : entries) {
        for (int v = 0; v < n; ++v) {
            for (int i = 0; i < e.voices[v].scale.count; ++i) b.i32(e.voices[v].scale[i]);
        }
    }
    return b.bytes;
}

// A document whose current settings and `events` events all differ from each other.
inline CTarrowinDoc documentWithEvents(int events) {
    CTarrowinDoc doc;
    doc.OnNewDocument();
    Composition composition;
    for (int i = 0; i < events; ++i) composition.append(distinctiveSettings(i + 1));
    doc.replaceContents(distinctiveSettings(0), 77, composition);
    return doc;
}

}  // namespace tarrowin::testing
