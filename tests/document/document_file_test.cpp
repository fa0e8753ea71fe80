#include "document/document_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <tuple>

#include "file_builders.h"

namespace tarrowin {
namespace {

using testing::distinctiveSettings;
using testing::documentWithEvents;
using testing::encodeVersion10;
using testing::encodeVersion2;

namespace fs = std::filesystem;

CTarrowinDoc newDocument() {
    CTarrowinDoc doc;
    doc.OnNewDocument();
    return doc;
}

std::vector<Settings> eventsOf(const CTarrowinDoc& doc) { return doc.composition().events(); }

int32_t i32At(const std::vector<uint8_t>& b, size_t offset) {
    uint32_t u = 0;
    for (int i = 0; i < 4; ++i) u |= static_cast<uint32_t>(b.at(offset + static_cast<size_t>(i))) << (8 * i);
    return static_cast<int32_t>(u);
}

size_t listBytes(const Settings& s) {
    size_t n = 0;
    for (const auto& v : s.voices) n += 4u * static_cast<size_t>(v.scale.count + v.userScale.count);
    return n;
}

void expectSameDocument(const CTarrowinDoc& a, const CTarrowinDoc& b) {
    EXPECT_EQ(a.current(), b.current());
    EXPECT_EQ(a.reserved(), b.reserved());
    EXPECT_EQ(a.composition(), b.composition());
}

// ---- writing -------------------------------------------------------------------------------

TEST(DocumentWriter, NewDocumentIs3068BytesStartingWithVersion25) {
    const auto bytes = serializeDocument(newDocument());
    ASSERT_EQ(bytes.size(), 3068u);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4), (std::vector<uint8_t>{0x00, 0x00, 0x20, 0x40}));
    EXPECT_EQ(i32At(bytes, 4), 96);   // tempo
    EXPECT_EQ(i32At(bytes, 8), 1);    // reserved
    EXPECT_EQ(i32At(bytes, 56), 1);   // voice 1 enabled
    EXPECT_EQ(i32At(bytes, 60), 0);   // voice 2 not
    EXPECT_EQ(i32At(bytes, 440), 60); // startNote
    EXPECT_EQ(i32At(bytes, 824 + 4 * 15), 15);  // channel of voice 16
    EXPECT_EQ(i32At(bytes, 2040), 7);  // scale count of voice 1
    EXPECT_EQ(i32At(bytes, 3064), -1);  // last index
}

TEST(DocumentWriter, WritesEveryFieldInItsPlace) {
    // The reference encoder follows the layout tables field by field; distinct values in
    // every field catch any field written in another's place.
    const CTarrowinDoc doc = documentWithEvents(3);
    const auto bytes = serializeDocument(doc);
    EXPECT_EQ(bytes, encodeVersion2(doc.current(), doc.reserved(), eventsOf(doc), true));
}

TEST(DocumentWriter, EachEventAddsItsHeaderRecordsCountsAndLists) {
    CTarrowinDoc doc = newDocument();
    const size_t base = serializeDocument(doc).size();
    Composition c;
    c.append(distinctiveSettings(4));
    doc.replaceContents(doc.current(), 1, c);
    EXPECT_EQ(serializeDocument(doc).size(), base + 16 + 2016 + 64 + 64 + listBytes(c.event(0)));
    c.append(distinctiveSettings(9));
    doc.replaceContents(doc.current(), 1, c);
    EXPECT_EQ(serializeDocument(doc).size(),
              base + 2 * (16 + 2016 + 64 + 64) + listBytes(c.event(0)) + listBytes(c.event(1)));
}

TEST(DocumentWriter, EventRecordPutsLorenzThirdAmongTheFloats) {
    CTarrowinDoc doc = newDocument();
    Settings e = Settings::defaults();
    e.voices[0].lorenzCoefficient = 0.125f;
    e.voices[0].logisticMu = 2.5f;
    Composition c;
    c.append(e);
    doc.replaceContents(doc.current(), 1, c);
    const auto bytes = serializeDocument(doc);
    // The first record starts after the 3068-byte document and the 16-byte header; its
    // floats start after the int16 algorithm, nine int32, noteValue and ten int32.
    const size_t floats = 3068 + 16 + 2 + 36 + 4 + 40;
    float mu = 0, lorenz = 0;
    std::memcpy(&mu, &bytes.at(floats), 4);
    std::memcpy(&lorenz, &bytes.at(floats + 8), 4);
    EXPECT_EQ(mu, 2.5f);
    EXPECT_EQ(lorenz, 0.125f);
}

// ---- reading version 2.5 -----------------------------------------------------------------

TEST(DocumentReader, RoundTripsEveryFieldAndList) {
    const CTarrowinDoc original = documentWithEvents(5);
    CTarrowinDoc read = newDocument();
    read.SetModifiedFlag(true);
    const FileResult r = parseDocument(serializeDocument(original), read);
    ASSERT_TRUE(r.ok) << r.message;
    expectSameDocument(read, original);
    EXPECT_FALSE(read.isModified());
    EXPECT_EQ(lastReadFileVersion(), 2.5f);
}

TEST(DocumentReader, RoundTripsAThousandEvents) {
    CTarrowinDoc doc = newDocument();
    Composition c;
    for (int i = 0; i < kMaxEvents; ++i) ASSERT_TRUE(c.append(distinctiveSettings(i % 37)));
    doc.replaceContents(distinctiveSettings(3), -42, c);
    const auto bytes = serializeDocument(doc);
    EXPECT_EQ(i32At(bytes, kFixedPartSize + 64 + listBytes(doc.current())), 999);
    CTarrowinDoc read = newDocument();
    const FileResult r = parseDocument(bytes, read);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(read.composition().count(), kMaxEvents);
    expectSameDocument(read, doc);
    EXPECT_EQ(serializeDocument(read), bytes);
}

TEST(DocumentReader, KeepsValuesTheProgramItselfCanLeaveOutsideTheFormsRanges) {
    CTarrowinDoc doc = newDocument();
    Settings s = doc.current();
    s.global.endCounter = kMaxStoredCounter;  // 50000 rounded up to the longest note value
    s.global.startCounter = 50001;
    s.global.timeSigDenominator = 7;
    s.voices[3].henonA = -1e30f;
    s.voices[3].gingerY0 = 1e30f;
    s.voices[3].logisticMu = 0.0f;
    doc.replaceContents(s, std::numeric_limits<int32_t>::min(), Composition{});
    CTarrowinDoc read = newDocument();
    const FileResult r = parseDocument(serializeDocument(doc), read);
    ASSERT_TRUE(r.ok) << r.message;
    expectSameDocument(read, doc);
}

TEST(DocumentReader, AcceptsEveryRuleBound) {
    for (const auto& rule : kVoiceIntRules) {
        for (int32_t value : {rule.min, rule.max}) {
            CTarrowinDoc doc = newDocument();
            Settings s = doc.current();
            rule.set(s.voices[6], value);
            doc.replaceContents(s, 1, Composition{});
            CTarrowinDoc read = newDocument();
            const FileResult r = parseDocument(serializeDocument(doc), read);
            EXPECT_TRUE(r.ok) << rule.name << " " << value << ": " << r.message;
            EXPECT_EQ(rule.get(read.voice(6)), value);
        }
    }
}

// ---- refused files -----------------------------------------------------------------------

// Reads `bytes` into a document that already holds something, expects the read to fail
// with a message containing `expected`, and the document to be exactly as it was.
void expectRefused(const std::vector<uint8_t>& bytes, const std::string& expected) {
    CTarrowinDoc open = documentWithEvents(2);
    open.SetModifiedFlag(true);
    const auto before = serializeDocument(open);
    const Settings beforeCurrent = open.current();
    const FileResult r = parseDocument(bytes, open);
    EXPECT_FALSE(r.ok) << "accepted, expected: " << expected;
    EXPECT_NE(r.message.find(expected), std::string::npos) << "message: " << r.message << "\nexpected: " << expected;
    EXPECT_EQ(serializeDocument(open), before);
    EXPECT_EQ(open.current(), beforeCurrent);
    EXPECT_TRUE(open.isModified());
}

// The ranges every integer field must lie in when a document is opened.
TEST(DocumentRules, IntegerRangesAreTheSettingsRanges) {
    const std::map<std::string, std::pair<int32_t, int32_t>> expected = {
        {"enabled", {0, 1}},        {"algorithm", {0, 7}},         {"param1", {2, 1000000}},
        {"param2", {1, 1000000000}}, {"offset", {-20000, 20000}},  {"modulate", {0, 1}},
        {"modulateMode", {0, 1}},   {"modulateEvery", {1, 50}},    {"scaleIndex", {0, 15}},
        {"octaves", {1, 4}},        {"octavesIndex", {0, 3}},      {"startNote", {0, 96}},
        {"noteValueIndex", {0, 11}}, {"instrument", {0, 127}},     {"channel", {0, 15}},
        {"tied", {0, 1}},           {"inverted", {0, 1}},          {"matchScale", {0, 1}},
        {"dynamicIndex", {0, 5}},   {"velocity", {0, 127}},        {"pan", {-64, 63}},
        {"percussionKey", {0, 46}},
    };
    ASSERT_EQ(kVoiceIntRules.size(), expected.size());
    for (const auto& rule : kVoiceIntRules) {
        ASSERT_TRUE(expected.count(std::string(rule.name))) << rule.name;
        EXPECT_EQ(std::make_pair(rule.min, rule.max), expected.at(std::string(rule.name))) << rule.name;
    }
    const std::map<std::string, std::pair<int32_t, int32_t>> global = {
        {"tempo", {20, 340}},
        {"startCounter", {0, 50959}},
        {"endCounter", {0, 50959}},
        {"timeSigNumerator", {1, 32}},
        {"timeSigDenominator", {1, 32767}},
    };
    for (const auto& rule : kGlobalRules) {
        EXPECT_EQ(std::make_pair(rule.min, rule.max), global.at(std::string(rule.name))) << rule.name;
    }
}

TEST(DocumentReader, RefusesEveryIntegerOutsideItsRangeNamingFieldVoiceAndEvent) {
    for (const auto& rule : kVoiceIntRules) {
        for (int64_t bad : {static_cast<int64_t>(rule.min) - 1, static_cast<int64_t>(rule.max) + 1}) {
            SCOPED_TRACE(std::string(rule.name) + " = " + std::to_string(bad));
            const std::string text = std::string(rule.name) + " is " + std::to_string(bad) + ", outside " +
                                     std::to_string(rule.min) + ".." + std::to_string(rule.max);
            CTarrowinDoc doc = documentWithEvents(3);
            Settings cur = doc.current();
            rule.set(cur.voices[4], static_cast<int32_t>(bad));
            doc.replaceContents(cur, 1, doc.composition());
            expectRefused(serializeDocument(doc), "Current settings, voice 5: " + text);

            doc = documentWithEvents(3);
            Composition c = doc.composition();
            rule.set(c.event(2).voices[15], static_cast<int32_t>(bad));
            doc.replaceContents(doc.current(), 1, c);
            expectRefused(serializeDocument(doc), "Event 2, voice 16: " + text);
        }
    }
}

TEST(DocumentReader, RefusesGlobalValuesOutsideTheirRanges) {
    struct Case {
        const char* text;
        std::function<void(GlobalSettings&)> set;
    };
    const std::vector<Case> cases = {
        {"tempo is 0, outside 20..340", [](GlobalSettings& g) { g.tempo = 0; }},
        {"tempo is 341, outside 20..340", [](GlobalSettings& g) { g.tempo = 341; }},
        {"startCounter is -1, outside 0..50959", [](GlobalSettings& g) { g.startCounter = -1; }},
        {"endCounter is -5, outside 0..50959", [](GlobalSettings& g) { g.endCounter = -5; }},
        // Counters no window can store would make an export or an image run for hours.
        {"startCounter is 50960, outside 0..50959", [](GlobalSettings& g) { g.startCounter = 50960; }},
        {"endCounter is 2147483647, outside 0..50959", [](GlobalSettings& g) { g.endCounter = 2147483647; }},
        {"timeSigNumerator is 33, outside 1..32", [](GlobalSettings& g) { g.timeSigNumerator = 33; }},
        {"timeSigDenominator is 0, outside 1..32767", [](GlobalSettings& g) { g.timeSigDenominator = 0; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        CTarrowinDoc doc = documentWithEvents(2);
        Settings cur = doc.current();
        c.set(cur.global);
        doc.replaceContents(cur, 1, doc.composition());
        expectRefused(serializeDocument(doc), std::string("Current settings: ") + c.text);
        doc = documentWithEvents(2);
        Composition comp = doc.composition();
        c.set(comp.event(1).global);
        doc.replaceContents(doc.current(), 1, comp);
        expectRefused(serializeDocument(doc), std::string("Event 1: ") + c.text);
    }
}

TEST(DocumentReader, RefusesBadFloats) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        const char* text;
        std::function<void(VoiceSettings&)> set;
    };
    const std::vector<Case> cases = {
        {"noteValue is 0.5, outside 1..960", [](VoiceSettings& v) { v.noteValue = 0.5f; }},
        {"noteValue is 961, outside 1..960", [](VoiceSettings& v) { v.noteValue = 961.0f; }},
        {"noteValue is nan, not a finite number", [nan](VoiceSettings& v) { v.noteValue = nan; }},
        {"logisticMu is inf, not a finite number", [inf](VoiceSettings& v) { v.logisticMu = inf; }},
        {"henonB is -inf, not a finite number", [inf](VoiceSettings& v) { v.henonB = -inf; }},
        {"lorenzCoefficient is nan, not a finite number", [nan](VoiceSettings& v) { v.lorenzCoefficient = nan; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        CTarrowinDoc doc = documentWithEvents(1);
        Composition comp = doc.composition();
        c.set(comp.event(0).voices[2]);
        doc.replaceContents(doc.current(), 1, comp);
        expectRefused(serializeDocument(doc), std::string("Event 0, voice 3: ") + c.text);
    }
}

TEST(DocumentReader, RefusesBadListCountsAndValues) {
    const CTarrowinDoc fresh = newDocument();
    const auto good = serializeDocument(fresh);
    auto patched = [&](size_t offset, int32_t value) {
        auto b = good;
        for (int i = 0; i < 4; ++i) b[offset + static_cast<size_t>(i)] = static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * i));
        return b;
    };
    expectRefused(patched(2040, 0), "Current settings, voice 1: scale has 0 values, outside 1..12");
    expectRefused(patched(2040 + 4 * 9, 13), "Current settings, voice 10: scale has 13 values, outside 1..12");
    expectRefused(patched(2040 + 4 * 2, -1), "Current settings, voice 3: scale has -1 values, outside 1..12");
    const size_t userCounts = kFixedPartSize + 16 * 7 * 4;
    expectRefused(patched(userCounts + 4, 0), "Current settings, voice 2: userScale has 0 values");
    expectRefused(patched(kFixedPartSize + 4 * 3, 12), "Current settings, voice 1: scale holds 12, outside 0..11");
    expectRefused(patched(userCounts + 64, -1), "Current settings, voice 1: userScale holds -1, outside 0..11");

    CTarrowinDoc doc = documentWithEvents(2);
    Composition c = doc.composition();
    c.event(1).voices[7].userScale.values[0] = 40;
    doc.replaceContents(doc.current(), 1, c);
    expectRefused(serializeDocument(doc), "Event 1, voice 8: userScale holds 40, outside 0..11");
}

TEST(DocumentReader, RefusesALastIndexOfAThousand) {
    auto bytes = serializeDocument(newDocument());
    bytes.resize(bytes.size() - 4);
    testing::ByteBuilder b;
    b.i32(1000);
    bytes.insert(bytes.end(), b.bytes.begin(), b.bytes.end());
    expectRefused(bytes, "last index is 1000");
}

TEST(DocumentReader, RefusesAnUnknownVersionNamingIt) {
    auto bytes = serializeDocument(newDocument());
    bytes[2] = 0x80;  // 4.0
    expectRefused(bytes, "Unknown document version 4 (first bytes 00 00 80 40)");
    bytes = serializeDocument(newDocument());
    bytes[0] = 0x01;  // one bit away from 2.5
    expectRefused(bytes, "Unknown document version 2.5000002");
    expectRefused({}, "The file is empty");
}

TEST(DocumentReader, RefusesEveryTruncationOfAFile) {
    const CTarrowinDoc source = documentWithEvents(2);
    const std::vector<Settings> entries = {distinctiveSettings(5), distinctiveSettings(6), distinctiveSettings(7)};
    for (const auto& file : {serializeDocument(source), encodeVersion2(source.current(), 1, eventsOf(source), false),
                             encodeVersion10(distinctiveSettings(1), 1, entries)}) {
        for (size_t n = 1; n < file.size(); ++n) {
            CTarrowinDoc open = newDocument();
            const FileResult r = parseDocument(std::span(file.data(), n), open);
            ASSERT_FALSE(r.ok) << n;
            ASSERT_NE(r.message.find("The file ends early"), std::string::npos) << n << ": " << r.message;
            ASSERT_EQ(open.current(), Settings::defaults());
            ASSERT_TRUE(open.composition().isEmpty());
        }
    }
    const auto bytes = serializeDocument(source);
    CTarrowinDoc open = newDocument();
    EXPECT_EQ(parseDocument(std::span(bytes.data(), 2110), open).message,
              "The file ends early: it stops at byte 2110, in the scale lists");
    EXPECT_EQ(parseDocument(std::span(bytes.data(), bytes.size() - 1), open).message,
              "The file ends early: it stops at byte " + std::to_string(bytes.size() - 1) + ", in the events' user scales");
}

TEST(DocumentReader, RefusesAnnouncedEventsThatCannotFitBeforeReadingThem) {
    auto bytes = serializeDocument(newDocument());
    bytes.resize(bytes.size() - 4);
    testing::ByteBuilder b;
    b.i32(999);
    b.bytes.resize(b.bytes.size() + 5000);
    bytes.insert(bytes.end(), b.bytes.begin(), b.bytes.end());
    expectRefused(bytes, "too soon for the 1000 events it announces");
}

// ---- version 2.0 -----------------------------------------------------------------------------

TEST(DocumentReader, ReadsVersion20WithPercussionKeysZero) {
    const CTarrowinDoc source = documentWithEvents(3);
    const auto bytes = encodeVersion2(source.current(), source.reserved(), eventsOf(source), false);
    // 2.0 lacks the 64-byte percussion array and 4 bytes per event voice record.
    EXPECT_EQ(bytes.size(), serializeDocument(source).size() - 64 - 3 * 16 * 4);
    CTarrowinDoc read = newDocument();
    const FileResult r = parseDocument(bytes, read);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(lastReadFileVersion(), 2.0f);

    Settings expected = source.current();
    for (auto& v : expected.voices) v.percussionKey = 0;
    EXPECT_EQ(read.current(), expected);
    ASSERT_EQ(read.composition().count(), 3);
    for (int i = 0; i < 3; ++i) {
        Settings e = source.composition().event(i);
        for (auto& v : e.voices) v.percussionKey = 0;
        EXPECT_EQ(read.composition().event(i), e) << i;
    }
    // Saving it again writes version 2.5.
    const auto again = serializeDocument(read);
    EXPECT_EQ(again, encodeVersion2(read.current(), read.reserved(), eventsOf(read), true));
}

// ---- version 1.0 -----------------------------------------------------------------------------

// The fields a version 1.0 file holds for voices 0..7, from `from` into `to`.
void copyVersion10Fields(const VoiceSettings& from, VoiceSettings& to) {
    to.algorithm = from.algorithm;
    to.enabled = from.enabled;
    to.param1 = from.param1;
    to.param2 = from.param2;
    to.offset = from.offset;
    to.modulate = from.modulate;
    to.modulateMode = from.modulateMode;
    to.modulateEvery = from.modulateEvery;
    to.scaleIndex = from.scaleIndex;
    to.scale = from.scale;
    to.startNote = from.startNote;
    to.noteValueIndex = from.noteValueIndex;
    to.noteValue = from.noteValue;
    to.octavesIndex = from.octavesIndex;
    to.octaves = from.octaves;
    to.instrument = from.instrument;
    to.channel = from.channel;
    to.tied = from.tied;
    to.inverted = from.inverted;
    to.velocity = from.velocity;
    to.dynamicIndex = from.dynamicIndex;
    to.logisticMu = from.logisticMu;
    to.noiseCoefficient = from.noiseCoefficient;
}

// What a voice that version 1.0 does not hold, or a field it does not hold, becomes: the
// new-document values, except the Henon coefficients and the start note.
VoiceSettings convertedDefault(int v, int32_t startNote) {
    VoiceSettings x = VoiceSettings::defaults(v);
    x.henonA = 1.4f;
    x.henonB = 0.3f;
    x.startNote = startNote;
    return x;
}

Settings expectedFromVersion10(const Settings& written, int32_t startNoteOfMissingVoices) {
    Settings s;
    for (int v = 0; v < kVoices; ++v) {
        s.voices[static_cast<size_t>(v)] = convertedDefault(v, startNoteOfMissingVoices);
        if (v < 8) copyVersion10Fields(written.voices[static_cast<size_t>(v)], s.voices[static_cast<size_t>(v)]);
    }
    s.global.tempo = written.global.tempo;
    s.global.endCounter = written.global.endCounter;
    s.global.startCounter = 0;
    s.global.timeSigNumerator = 4;
    s.global.timeSigDenominator = 4;
    return s;
}

TEST(DocumentReader, ReadsVersion10AsNMinusOneEventsWithTheConversionDefaults) {
    const Settings current = distinctiveSettings(2);
    const std::vector<Settings> entries = {distinctiveSettings(5), distinctiveSettings(6), distinctiveSettings(7)};
    CTarrowinDoc read = newDocument();
    const FileResult r = parseDocument(encodeVersion10(current, 31, entries), read);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(lastReadFileVersion(), 1.0f);
    EXPECT_EQ(read.reserved(), 31);
    EXPECT_EQ(read.current(), expectedFromVersion10(current, 60));

    ASSERT_EQ(read.composition().count(), 2);
    Settings e0 = expectedFromVersion10(entries[0], 48);
    e0.global.startCounter = 0;
    Settings e1 = expectedFromVersion10(entries[1], 48);
    e1.global.startCounter = entries[0].global.endCounter;
    EXPECT_EQ(read.composition().event(0), e0);
    EXPECT_EQ(read.composition().event(1), e1);
    EXPECT_EQ(read.composition().event(1).global.endCounter, entries[1].global.endCounter);
    // The fields version 1.0 lacks, spelled out once for a voice it holds.
    const VoiceSettings& v2 = read.composition().event(1).voices[2];
    EXPECT_EQ(std::make_tuple(v2.matchScale, v2.pan, v2.percussionKey), std::make_tuple(1, 0, 0));
    EXPECT_EQ(std::make_tuple(v2.henonA, v2.henonB, v2.hopalongAngle, v2.martinAngle, v2.gingerX0, v2.gingerY0,
                              v2.lorenzCoefficient),
              std::make_tuple(1.4f, 0.3f, 3.1415927f, 3.1415927f, -0.1f, 0.0f, 0.8f));
    EXPECT_EQ(v2.userScale, (ScaleList{0, 2, 4, 5, 7, 9, 11}));
    // Voices 8..15: start note 60 in the current settings and 48 in the events.
    EXPECT_EQ(read.voice(8).startNote, 60);
    EXPECT_EQ(read.composition().event(0).voices[15].startNote, 48);
    EXPECT_FALSE(read.isModified());
}

TEST(DocumentReader, Version10WithAtMostOneEntryHasNoEvents) {
    for (int n : {0, 1}) {
        const std::vector<Settings> entries(static_cast<size_t>(n), distinctiveSettings(1));
        CTarrowinDoc read = documentWithEvents(2);
        const FileResult r = parseDocument(encodeVersion10(distinctiveSettings(4), 1, entries), read);
        ASSERT_TRUE(r.ok) << r.message;
        EXPECT_TRUE(read.composition().isEmpty());
    }
}

TEST(DocumentReader, Version10DroppedEntryNeedsOnlyBeReadable) {
    std::vector<Settings> entries = {distinctiveSettings(5), distinctiveSettings(6)};
    entries[1].voices[3].scale = ScaleList{};  // an unused slot without a list
    entries[1].voices[3].velocity = 500;
    CTarrowinDoc read = newDocument();
    const FileResult r = parseDocument(encodeVersion10(distinctiveSettings(1), 1, entries), read);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(read.composition().count(), 1);
}

TEST(DocumentReader, Version10RefusesTooManyEntriesAndBadEvents) {
    const std::vector<Settings> entries = {distinctiveSettings(5)};
    auto bytes = encodeVersion10(distinctiveSettings(1), 1, entries);
    bytes.resize(bytes.size() - 4);
    testing::ByteBuilder b;
    b.i32(1002);
    bytes.insert(bytes.end(), b.bytes.begin(), b.bytes.end());
    expectRefused(bytes, "1002 composition entries; a version 1.0 file holds at most 1001");

    std::vector<Settings> bad = {distinctiveSettings(5), distinctiveSettings(6), distinctiveSettings(7)};
    bad[1].voices[7].channel = 16;
    expectRefused(encodeVersion10(distinctiveSettings(1), 1, bad), "Event 1, voice 8: channel is 16, outside 0..15");
    bad = {distinctiveSettings(5), distinctiveSettings(6)};
    bad[0].voices[0].scale = ScaleList{};
    expectRefused(encodeVersion10(distinctiveSettings(1), 1, bad), "Event 0, voice 1: scale has 0 values");
}

// ---- files -----------------------------------------------------------------------------------

class DocumentFiles : public ::testing::Test {
   protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tarrowin-doc-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir_);
    }
    static std::vector<uint8_t> contents(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    size_t entries() const { return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator())); }
    fs::path dir_;
};

TEST_F(DocumentFiles, SaveThenOpenRoundTripsAndClearsModified) {
    CTarrowinDoc doc = documentWithEvents(4);
    doc.SetModifiedFlag(true);
    const fs::path file = dir_ / "song.trw";
    const FileResult saved = saveDocumentFile(file.string(), doc);
    ASSERT_TRUE(saved.ok) << saved.message;
    EXPECT_FALSE(doc.isModified());
    EXPECT_EQ(contents(file), serializeDocument(doc));
    EXPECT_EQ(entries(), 1u);  // no temporary file left behind

    CTarrowinDoc read = newDocument();
    read.SetModifiedFlag(true);
    const FileResult opened = openDocumentFile(file.string(), read);
    ASSERT_TRUE(opened.ok) << opened.message;
    expectSameDocument(read, doc);
    EXPECT_FALSE(read.isModified());
}

TEST_F(DocumentFiles, SaveKeepsTheFilesPermissionsAndSymbolicLink) {
    const fs::path real = dir_ / "real.trw";
    const fs::path link = dir_ / "link.trw";
    CTarrowinDoc doc = newDocument();
    ASSERT_TRUE(saveDocumentFile(real.string(), doc).ok);
    fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink(real.filename(), link);
    CTarrowinDoc other = documentWithEvents(1);
    const FileResult r = saveDocumentFile(link.string(), other);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(contents(real), serializeDocument(other));
    EXPECT_EQ(fs::status(real).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(DocumentFiles, FailedWriteLeavesTheOldFileIntact) {
    // A file size limit makes the write itself fail, even for root.
    const fs::path file = dir_ / "song.trw";
    CTarrowinDoc small = newDocument();
    ASSERT_TRUE(saveDocumentFile(file.string(), small).ok);
    const auto old = contents(file);

    CTarrowinDoc big = documentWithEvents(3);
    big.SetModifiedFlag(true);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved;
    limit.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    const FileResult r = saveDocumentFile(file.string(), big);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.message.find("Cannot save \"" + file.string() + "\""), std::string::npos) << r.message;
    EXPECT_EQ(contents(file), old);
    EXPECT_EQ(entries(), 1u);
    EXPECT_TRUE(big.isModified());
}

TEST_F(DocumentFiles, SaveIntoAReadOnlyDirectoryFailsWithTheOldFileIntact) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not stop root";
    const fs::path file = dir_ / "song.trw";
    CTarrowinDoc doc = newDocument();
    ASSERT_TRUE(saveDocumentFile(file.string(), doc).ok);
    const auto old = contents(file);
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
    CTarrowinDoc other = documentWithEvents(1);
    const FileResult r = saveDocumentFile(file.string(), other);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.message.find("Permission denied"), std::string::npos) << r.message;
    EXPECT_EQ(contents(file), old);
}

TEST_F(DocumentFiles, SaveBelowAFileFails) {
    const fs::path notADir = dir_ / "plain";
    std::ofstream(notADir) << "x";
    CTarrowinDoc doc = newDocument();
    const FileResult r = saveDocumentFile((notADir / "song.trw").string(), doc);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.message.find("Not a directory"), std::string::npos) << r.message;
    EXPECT_EQ(contents(notADir), (std::vector<uint8_t>{'x'}));
}

TEST_F(DocumentFiles, SaveRefusesADocumentThatWouldNotReadBack) {
    const fs::path file = dir_ / "song.trw";
    CTarrowinDoc doc = newDocument();
    doc.editVoice(2, [](VoiceSettings& v) { v.velocity = 300; });
    const FileResult r = saveDocumentFile(file.string(), doc);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.message.find("Current settings, voice 3: velocity is 300"), std::string::npos) << r.message;
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(doc.isModified());
}

TEST_F(DocumentFiles, OpenReportsMissingAndUnreadableFilesAndLeavesTheDocument) {
    CTarrowinDoc doc = documentWithEvents(2);
    const auto before = serializeDocument(doc);
    FileResult r = openDocumentFile((dir_ / "absent.trw").string(), doc);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.message.find("absent.trw\": No such file or directory"), std::string::npos) << r.message;
    r = openDocumentFile(dir_.string(), doc);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.message.find("not a regular file"), std::string::npos) << r.message;
    const fs::path text = dir_ / "notes.trw";
    std::ofstream(text) << "hello, this is text";
    r = openDocumentFile(text.string(), doc);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.message.find("Unknown document version"), std::string::npos) << r.message;
    EXPECT_EQ(serializeDocument(doc), before);
}

}  // namespace
}  // namespace tarrowin
