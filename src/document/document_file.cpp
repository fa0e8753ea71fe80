#include "document_file.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

#include "replacing_file.h"

namespace tarrowin {

namespace {

constexpr uint32_t kVersion10 = 0x3F800000;  // 1.0f
constexpr uint32_t kVersion20 = 0x40000000;  // 2.0f
constexpr uint32_t kVersion25 = 0x40200000;  // 2.5f
constexpr uint32_t kVersion30 = 0x40400000;  // 3.0f: 2.5 and a tuning
constexpr int kVersion10Voices = 8;
constexpr int32_t kMaxVersion10Entries = kMaxEvents + 1;  // the last entry is dropped

std::atomic<float> g_lastReadVersion{0.0f};

// What a file version holds. Version 1.0 has 8 voices and none of the fields that 2.0
// added; 2.0 lacks only the percussion keys.
struct Layout {
    int voices;
    bool version2;
    bool percussion;
};
constexpr Layout kLayout25{kVoices, true, true};
constexpr Layout kLayout20{kVoices, true, false};
constexpr Layout kLayout10{kVersion10Voices, false, false};

using V = VoiceSettings;

// ---- the two archives: the layout functions below drive either one ----------------------

class Writer {
   public:
    void section(std::string_view) {}
    void i32(int32_t v) { u32(static_cast<uint32_t>(v)); }
    void i16(int16_t v) {
        const auto u = static_cast<uint16_t>(v);
        bytes.push_back(static_cast<uint8_t>(u & 0xFF));
        bytes.push_back(static_cast<uint8_t>(u >> 8));
    }
    void f32(float v) { u32(std::bit_cast<uint32_t>(v)); }
    void algorithm(Algorithm a) { i16(static_cast<int16_t>(a)); }
    void listCount(const ScaleList& list, std::string_view, const ValueLocation&) { i32(storedCount(list)); }
    void listValues(const ScaleList& list) {
        for (int i = 0; i < storedCount(list); ++i) i32(list[i]);
    }
    void text(const std::string& t) {
        i32(static_cast<int32_t>(t.size()));
        bytes.insert(bytes.end(), t.begin(), t.end());
    }

    std::vector<uint8_t> bytes;

   private:
    static int32_t storedCount(const ScaleList& list) { return std::clamp(list.count, 0, kMaxScaleNotes); }
    void u32(uint32_t u) {
        for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<uint8_t>(u >> shift));
    }
};

struct ReadFailure {
    std::string message;
};

class Reader {
   public:
    explicit Reader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    void section(std::string name) { section_ = std::move(name); }
    uint32_t u32() {
        need(4);
        uint32_t u = 0;
        for (int i = 0; i < 4; ++i) u |= static_cast<uint32_t>(bytes_[pos_ + static_cast<size_t>(i)]) << (8 * i);
        pos_ += 4;
        return u;
    }
    void i32(int32_t& v) { v = static_cast<int32_t>(u32()); }
    void i16(int16_t& v) {
        need(2);
        v = static_cast<int16_t>(static_cast<uint16_t>(bytes_[pos_] | (bytes_[pos_ + 1] << 8)));
        pos_ += 2;
    }
    void f32(float& v) { v = std::bit_cast<float>(u32()); }
    void algorithm(Algorithm& a) {
        int16_t raw = 0;
        i16(raw);
        a = static_cast<Algorithm>(raw);
    }
    // The count decides how many values follow, so it is checked at once.
    void listCount(ScaleList& list, std::string_view name, const ValueLocation& where) {
        int32_t n = 0;
        i32(n);
        if (auto m = checkListCount(name, n, where); !m.empty()) throw ReadFailure{m};
        list.count = n;
    }
    void listValues(ScaleList& list) {
        for (int i = 0; i < list.count; ++i) i32(list.values[static_cast<size_t>(i)]);
    }
    void skip(size_t n) {
        need(n);
        pos_ += n;
    }
    std::string text(size_t n) {
        need(n);
        std::string t(reinterpret_cast<const char*>(bytes_.data() + pos_), n);
        pos_ += n;
        return t;
    }
    size_t remaining() const { return bytes_.size() - pos_; }
    [[noreturn]] void endsEarly() const { endsEarly("in " + section_); }
    [[noreturn]] void endsEarly(const std::string& where) const {
        throw ReadFailure{"The file ends early: it stops at byte " + std::to_string(bytes_.size()) + ", " + where};
    }

   private:
    void need(size_t n) const {
        if (remaining() < n) endsEarly();
    }
    std::span<const uint8_t> bytes_;
    size_t pos_ = 0;
    std::string section_ = "the version number";
};

// ---- the layout, shared by writing and reading -------------------------------------------

// The per-voice arrays of the fixed part, in file order, around noteValue (a float).
constexpr std::array<int32_t V::*, 8> kFixedBeforeNoteValue = {
    &V::enabled, &V::param1, &V::param2, &V::offset, &V::modulate, &V::scaleIndex, &V::startNote, &V::noteValueIndex,
};
constexpr std::array<int32_t V::*, 7> kFixedAfterNoteValue = {
    &V::octavesIndex, &V::octaves, &V::instrument, &V::channel, &V::tied, &V::modulateEvery, &V::modulateMode,
};
// The coefficients beyond the first two: in the fixed part in the order of the settings,
// with lorenzCoefficient last; in an event record lorenzCoefficient comes first.
constexpr std::array<float V::*, 7> kFixedLaterCoefficients = {
    &V::henonA, &V::henonB, &V::hopalongAngle, &V::martinAngle, &V::gingerX0, &V::gingerY0, &V::lorenzCoefficient,
};
constexpr std::array<float V::*, 7> kEventLaterCoefficients = {
    &V::lorenzCoefficient, &V::henonA, &V::henonB, &V::hopalongAngle, &V::martinAngle, &V::gingerX0, &V::gingerY0,
};
// The integers of an event voice record, around noteValue.
constexpr std::array<int32_t V::*, 9> kRecordBeforeNoteValue = {
    &V::enabled, &V::param1, &V::param2, &V::offset, &V::octaves, &V::modulate, &V::modulateMode, &V::modulateEvery,
    &V::startNote,
};
constexpr std::array<int32_t V::*, 7> kRecordAfterNoteValue = {
    &V::instrument, &V::channel, &V::tied, &V::scaleIndex, &V::octavesIndex, &V::noteValueIndex, &V::inverted,
};

// Voices is VoiceArray or const VoiceArray, as the archive reads or writes.
template <class Ar, class Voices>
void listSection(Ar& ar, Voices& voices, ScaleList V::*list, std::string_view name, const Layout& layout,
                 int event) {
    for (int v = 0; v < layout.voices; ++v) {
        ar.listCount(voices[static_cast<size_t>(v)].*list, name, ValueLocation{event, v});
    }
    for (int v = 0; v < layout.voices; ++v) ar.listValues(voices[static_cast<size_t>(v)].*list);
}

// The current settings: from the tempo up to the user scales (version 1.0 stops after the
// scale values).
template <class Ar, class S, class R>
void currentSettings(Ar& ar, S& settings, R& reserved, const Layout& layout) {
    auto& g = settings.global;
    auto& voices = settings.voices;
    const auto at = [](int v) { return static_cast<size_t>(v); };
    ar.section("the global settings");
    ar.i32(g.tempo);
    ar.i32(reserved);
    ar.i32(g.endCounter);
    if (layout.version2) {
        ar.i32(g.startCounter);
        ar.i16(g.timeSigNumerator);
        ar.i16(g.timeSigDenominator);
    }
    ar.section("the voice settings");
    for (int v = 0; v < layout.voices; ++v) ar.algorithm(voices[at(v)].algorithm);
    for (auto field : kFixedBeforeNoteValue) {
        for (int v = 0; v < layout.voices; ++v) ar.i32(voices[at(v)].*field);
    }
    for (int v = 0; v < layout.voices; ++v) ar.f32(voices[at(v)].noteValue);
    for (auto field : kFixedAfterNoteValue) {
        for (int v = 0; v < layout.voices; ++v) ar.i32(voices[at(v)].*field);
    }
    for (int v = 0; v < layout.voices; ++v) {
        ar.i32(voices[at(v)].inverted);
        if (layout.version2) ar.i32(voices[at(v)].matchScale);
        ar.i32(voices[at(v)].velocity);
        ar.i32(voices[at(v)].dynamicIndex);
    }
    for (int v = 0; v < layout.voices; ++v) {
        ar.f32(voices[at(v)].logisticMu);
        ar.f32(voices[at(v)].noiseCoefficient);
        if (layout.version2) {
            for (auto field : kFixedLaterCoefficients) ar.f32(voices[at(v)].*field);
        }
    }
    if (layout.version2) {
        for (int v = 0; v < layout.voices; ++v) ar.i32(voices[at(v)].pan);
    }
    if (layout.percussion) {
        for (int v = 0; v < layout.voices; ++v) ar.i32(voices[at(v)].percussionKey);
    }
    ar.section("the scale lists");
    listSection(ar, voices, &V::scale, "scale", layout, -1);
    if (layout.version2) {
        ar.section("the user scales");
        listSection(ar, voices, &V::userScale, "userScale", layout, -1);
    }
}

template <class Ar, class Voice>
void eventVoiceRecord(Ar& ar, Voice& voice, const Layout& layout) {
    ar.algorithm(voice.algorithm);
    for (auto field : kRecordBeforeNoteValue) ar.i32(voice.*field);
    ar.f32(voice.noteValue);
    for (auto field : kRecordAfterNoteValue) ar.i32(voice.*field);
    if (layout.version2) ar.i32(voice.matchScale);
    ar.i32(voice.velocity);
    ar.i32(voice.dynamicIndex);
    ar.f32(voice.logisticMu);
    ar.f32(voice.noiseCoefficient);
    if (layout.version2) {
        for (auto field : kEventLaterCoefficients) ar.f32(voice.*field);
        ar.i32(voice.pan);
    }
    if (layout.percussion) ar.i32(voice.percussionKey);
}

// The events of a version 2.x file, section by section. Events is a vector of Settings,
// const when writing.
template <class Ar, class Events>
void eventSections(Ar& ar, Events& events, const Layout& layout) {
    ar.section("the event headers");
    for (auto& e : events) {
        ar.i32(e.global.startCounter);
        ar.i32(e.global.tempo);
        ar.i32(e.global.endCounter);
        ar.i16(e.global.timeSigNumerator);
        ar.i16(e.global.timeSigDenominator);
    }
    ar.section("the events' voice settings");
    for (auto& e : events) {
        for (int v = 0; v < layout.voices; ++v) eventVoiceRecord(ar, e.voices[static_cast<size_t>(v)], layout);
    }
    struct ListPart {
        ScaleList V::*list;
        std::string_view name;
        const char* section;
    };
    constexpr std::array<ListPart, 2> parts = {{
        {&V::scale, "scale", "the events' scale lists"},
        {&V::userScale, "userScale", "the events' user scales"},
    }};
    for (const auto& [list, name, section] : parts) {
        ar.section(section);
        for (size_t i = 0; i < events.size(); ++i) {
            for (int v = 0; v < layout.voices; ++v) {
                ar.listCount(events[i].voices[static_cast<size_t>(v)].*list, name,
                             ValueLocation{static_cast<int>(i), v});
            }
        }
        for (auto& e : events) {
            for (int v = 0; v < layout.voices; ++v) ar.listValues(e.voices[static_cast<size_t>(v)].*list);
        }
    }
}

size_t eventVoiceRecordSize(const Layout& layout) {
    Writer probe;
    const VoiceSettings voice;
    eventVoiceRecord(probe, voice, layout);
    return probe.bytes.size();
}

// ---- reading -------------------------------------------------------------------------------

struct Contents {
    Settings current;
    int32_t reserved = 1;
    std::vector<Settings> events;
    std::shared_ptr<const TuningSettings> tuning;
};

// Version 3.0's tuning, after the composition: the method (0 MTS, 1 pitch bend), 16 Tuned
// switches (1 or 0), then the scale's and the keyboard map's text, each its byte count and
// its bytes (UTF-8). No scale: equal temperament; no map: the standard one.
void writeTuning(Writer& w, const TuningSettings& t) {
    w.i32(static_cast<int32_t>(t.method));
    for (const bool tuned : t.tuned) w.i32(tuned ? 1 : 0);
    w.text(t.tuning.scaleText());
    w.text(t.tuning.mapText());
}

std::string readTuningText(Reader& r, const char* what) {
    int32_t size = 0;
    r.i32(size);
    if (size < 0 || static_cast<size_t>(size) > kMaxTuningTextBytes) {
        throw ReadFailure{std::string("The tuning's ") + what + " is " + std::to_string(size) +
                          " bytes long; it holds 0 to " + std::to_string(kMaxTuningTextBytes)};
    }
    std::string text = r.text(static_cast<size_t>(size));
    if (!isUtf8(text)) throw ReadFailure{std::string("The tuning's ") + what + " is not UTF-8 text"};
    return text;
}

void readTuning(Reader& r, Contents& c) {
    TuningSettings t;
    r.section("the tuning");
    int32_t method = 0;
    r.i32(method);
    if (method != static_cast<int32_t>(TuningMethod::Mts) && method != static_cast<int32_t>(TuningMethod::PitchBend)) {
        throw ReadFailure{"The tuning's method is " + std::to_string(method) + "; it is 0 (MIDI Tuning Standard) or 1 (pitch bend)"};
    }
    t.method = static_cast<TuningMethod>(method);
    for (int v = 0; v < kVoices; ++v) {
        int32_t tuned = 0;
        r.i32(tuned);
        if (tuned != 0 && tuned != 1) {
            throw ReadFailure{"Voice " + std::to_string(v + 1) + "'s Tuned switch is " + std::to_string(tuned) + "; it is 1 or 0"};
        }
        t.tuned[static_cast<size_t>(v)] = tuned == 1;
    }
    std::string scale = readTuningText(r, "scale");
    std::string map = readTuningText(r, "keyboard map");
    if (scale.empty() && !map.empty()) throw ReadFailure{"The tuning has a keyboard map but no scale"};
    if (!scale.empty()) {
        TuningRead<Tuning> tuning = Tuning::fromText(std::move(scale), std::move(map));
        if (!tuning.ok()) throw ReadFailure{"The tuning's " + tuning.error};
        t.tuning = std::move(*tuning.value);
    }
    // A file without a tuning is written as version 2.5: a 3.0 file holds one.
    if (t.isDefault()) throw ReadFailure{"The file is version 3.0 but holds the default tuning, which version 2.5 holds"};
    if (r.remaining() != 0) {
        throw ReadFailure{"The file goes on for " + std::to_string(r.remaining()) + " bytes after the tuning"};
    }
    c.tuning = std::make_shared<const TuningSettings>(std::move(t));
}

void readVersion2(Reader& r, Contents& c, const Layout& layout) {
    c.current = Settings::defaults();
    currentSettings(r, c.current, c.reserved, layout);
    r.section("the composition's last index");
    int32_t lastIndex = 0;
    r.i32(lastIndex);
    if (lastIndex >= kMaxEvents) {
        throw ReadFailure{"The composition's last index is " + std::to_string(lastIndex) + "; a composition holds at most " +
                          std::to_string(kMaxEvents) + " events (last index " + std::to_string(kMaxEvents - 1) + ")"};
    }
    if (lastIndex < 0) return;
    const size_t count = static_cast<size_t>(lastIndex) + 1;
    // Every event needs at least its header, its voice records and its list counts.
    const size_t leastPerEvent = kEventHeaderSize + kVoices * (eventVoiceRecordSize(layout) + 2 * 4);
    if (r.remaining() / leastPerEvent < count) {
        r.endsEarly("too soon for the " + std::to_string(count) + " events it announces");
    }
    c.events.assign(count, Settings::defaults());
    eventSections(r, c.events, layout);
}

// Version 1.0 leaves out voices 8..15 and every field added later; those take these values.
VoiceSettings version10Voice(int v, int32_t startNote) {
    VoiceSettings s = VoiceSettings::defaults(v);
    s.henonA = 1.4f;
    s.henonB = 0.3f;
    s.startNote = startNote;
    return s;
}

Settings version10Settings(int32_t startNote) {
    Settings s;
    s.global.startCounter = 0;
    s.global.timeSigNumerator = 4;
    s.global.timeSigDenominator = 4;
    for (int v = 0; v < kVoices; ++v) s.voices[static_cast<size_t>(v)] = version10Voice(v, startNote);
    return s;
}

void readVersion10(Reader& r, Contents& c) {
    c.current = version10Settings(60);
    currentSettings(r, c.current, c.reserved, kLayout10);
    r.section("the composition's entry count");
    int32_t entries = 0;
    r.i32(entries);
    if (entries > kMaxVersion10Entries) {
        throw ReadFailure{"The file holds " + std::to_string(entries) + " composition entries; a version 1.0 file holds at most " +
                          std::to_string(kMaxVersion10Entries)};
    }
    if (entries < 2) return;  // the last entry is always dropped
    const size_t n = static_cast<size_t>(entries);
    const size_t recordSize = eventVoiceRecordSize(kLayout10);
    const size_t leastPerEntry = 4 + 12 + kVersion10Voices * (recordSize + 4);
    if (r.remaining() / leastPerEntry < n) {
        r.endsEarly("too soon for the " + std::to_string(n) + " composition entries it announces");
    }
    r.section("the composition entries");
    r.skip(4 * n);
    std::vector<Settings> entryList(n, version10Settings(48));
    for (auto& e : entryList) {
        int32_t ignored = 0;
        r.i32(ignored);
        r.i32(e.global.tempo);
        r.i32(e.global.endCounter);
    }
    for (auto& e : entryList) {
        for (int v = 0; v < kVersion10Voices; ++v) eventVoiceRecord(r, e.voices[static_cast<size_t>(v)], kLayout10);
    }
    r.section("the entries' scale lists");
    // The dropped last entry is never used; its lists need only be skippable.
    std::array<int32_t, kVersion10Voices> droppedCounts{};
    for (size_t i = 0; i < n; ++i) {
        for (int v = 0; v < kVersion10Voices; ++v) {
            if (i + 1 < n) {
                r.listCount(entryList[i].voices[static_cast<size_t>(v)].scale, "scale",
                            ValueLocation{static_cast<int>(i), v});
                continue;
            }
            int32_t& count = droppedCounts[static_cast<size_t>(v)];
            r.i32(count);
            if (count < 0) {
                throw ReadFailure{"The last composition entry, voice " + std::to_string(v + 1) + ": scale has " +
                                  std::to_string(count) + " values"};
            }
        }
    }
    for (size_t i = 0; i + 1 < n; ++i) {
        for (int v = 0; v < kVersion10Voices; ++v) r.listValues(entryList[i].voices[static_cast<size_t>(v)].scale);
    }
    for (int32_t count : droppedCounts) r.skip(4 * static_cast<size_t>(count));

    entryList.pop_back();
    int32_t start = 0;
    for (auto& e : entryList) {
        e.global.startCounter = start;
        start = e.global.endCounter;
    }
    c.events = std::move(entryList);
}

std::string hexBytes(uint32_t bits) {
    char text[16];
    std::snprintf(text, sizeof text, "%02X %02X %02X %02X", bits & 0xFF, (bits >> 8) & 0xFF, (bits >> 16) & 0xFF,
                  bits >> 24);
    return text;
}

// ---- files -----------------------------------------------------------------------------------

std::string quoted(const std::string& path) { return "\"" + path + "\""; }

}  // namespace

std::vector<uint8_t> serializeDocument(const CTarrowinDoc& doc) {
    Writer w;
    w.bytes.reserve(kFixedPartSize + 1024 + doc.composition().events().size() * 3000);
    const bool tuned = !doc.tuning().isDefault();
    w.f32(tuned ? kTunedFileVersion : kWrittenFileVersion);
    const int32_t reserved = doc.reserved();
    currentSettings(w, doc.current(), reserved, kLayout25);
    w.i32(doc.composition().lastIndex());
    eventSections(w, doc.composition().events(), kLayout25);
    if (tuned) writeTuning(w, doc.tuning());
    return std::move(w.bytes);
}

FileResult parseDocument(std::span<const uint8_t> bytes, CTarrowinDoc& doc) {
    if (bytes.empty()) return FileResult::failure("The file is empty");
    Contents contents;
    float version = 0.0f;
    try {
        Reader r(bytes);
        const uint32_t bits = r.u32();
        switch (bits) {
            case kVersion30:
                readVersion2(r, contents, kLayout25);
                readTuning(r, contents);
                break;
            case kVersion25:
                readVersion2(r, contents, kLayout25);
                break;
            case kVersion20:
                readVersion2(r, contents, kLayout20);
                break;
            case kVersion10:
                readVersion10(r, contents);
                break;
            default:
                return FileResult::failure("Unknown document version " + formatFloat(std::bit_cast<float>(bits)) +
                                           " (first bytes " + hexBytes(bits) +
                                           "): Tarrowin reads versions 1.0, 2.0, 2.5 and 3.0");
        }
        version = std::bit_cast<float>(bits);
    } catch (const ReadFailure& failure) {
        return FileResult::failure(failure.message);
    }
    if (auto check = validateDocument(contents.current, contents.events); !check.ok) return check;

    Composition composition;
    for (const auto& e : contents.events) composition.append(e);
    doc.replaceContents(contents.current, contents.reserved, composition, contents.tuning);
    g_lastReadVersion = version;
    return {};
}

FileResult openDocumentFile(const std::string& path, CTarrowinDoc& doc) {
    const auto fail = [&](const std::string& why) { return FileResult::failure("Cannot open " + quoted(path) + ": " + why); };
    std::vector<uint8_t> bytes;
    if (const std::string why = readRegularFile(path, kMaxDocumentFileSize, bytes); !why.empty()) return fail(why);
    auto result = parseDocument(bytes, doc);
    if (!result.ok) return fail(result.message);
    return result;
}

FileResult saveDocument(ReplacingFile& file, const std::string& name, CTarrowinDoc& doc) {
    const auto fail = [&](const std::string& why) { return FileResult::failure("Cannot save " + quoted(name) + ": " + why); };
    if (auto check = validateDocument(doc); !check.ok) {
        file.abandon();
        return fail(check.message);
    }
    const std::vector<uint8_t> bytes = serializeDocument(doc);
    if (!file.write(bytes.data(), bytes.size()) || !file.commit()) {
        const std::string why = file.error();
        file.abandon();
        return fail(why);
    }
    doc.SetModifiedFlag(false);
    return {};
}

FileResult saveDocumentFile(const std::string& path, CTarrowinDoc& doc) {
    // A document that would not read back is refused before the target is touched.
    if (auto check = validateDocument(doc); !check.ok) return FileResult::failure("Cannot save " + quoted(path) + ": " + check.message);
    ReplacingFile file;
    if (!file.open(path)) return FileResult::failure("Cannot save " + quoted(path) + ": " + file.error());
    return saveDocument(file, path, doc);
}

float lastReadFileVersion() { return g_lastReadVersion; }

}  // namespace tarrowin
