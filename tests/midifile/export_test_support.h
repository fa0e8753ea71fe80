#pragma once
// Documents, recorded performances and file checks that the export tests share.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "document/document.h"
#include "engine/performance.h"
#include "midifile/midi_export.h"
#include "smf_reader.h"

namespace tarrowin::testing {

struct Recorded {
    int64_t date = 0;
    ShortMessage m;
    bool operator==(const Recorded&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Recorded& r) {
    return os << "@" << r.date << " " << std::hex << int{r.m.status} << " " << std::dec << int{r.m.data1} << " "
              << int{r.m.data2};
}

// A run kept as a take, as a player's recorder keeps what it sends.
class TakeSink : public PerformanceSink {
   public:
    void eventBegins(int, const GlobalSettings& g, int64_t date) override {
        take.entries.push_back(TakeEntry::begin(date, g, tempoMicroseconds(g.tempo)));
    }
    void message(int64_t date, const ShortMessage& m) override { take.entries.push_back(TakeEntry::sent(date, m)); }
    void sysex(int64_t date, const SysexMessage& m) override {
        for (size_t part = 0; part < TakeEntry::sysexParts(m); ++part) take.entries.push_back(TakeEntry::sysex(date, m, part));
    }
    void tempoChanges(int64_t date, int32_t tempo) override {
        take.entries.push_back(TakeEntry::tempo(date, tempoMicroseconds(tempo)));
    }
    void end(int64_t date) override { take.entries.push_back(TakeEntry::end(date)); }
    PerformanceTake take;
};

class RecordingSink : public PerformanceSink {
   public:
    void message(int64_t date, const ShortMessage& m) override { messages.push_back({date, m}); }
    std::vector<Recorded> messages;
};

// A player with Lock on: it plays to the End counter it is given.
class LockedPlayer : public PerformanceControl {
   public:
    explicit LockedPlayer(int32_t end) : end_(end) {}
    bool locked() override { return true; }
    int32_t endCounter() override { return end_; }

   private:
    int32_t end_;
};

// The channel messages of a file, as the recorded stream holds them.
inline std::vector<Recorded> channelMessages(const SmfFile& f) {
    std::vector<Recorded> out;
    for (const SmfEvent& e : f.events) {
        if (e.status == 0xFF) continue;
        out.push_back({static_cast<int64_t>(e.date),
                       ShortMessage{e.status, e.data[0], e.data.size() > 1 ? e.data[1] : uint8_t{0}}});
    }
    return out;
}

// Keys that are struck (note on with a velocity) and not ended on the same channel by the
// end of the track. A note off, or a note on with velocity 0, ends a key.
inline std::vector<std::pair<int, int>> hangingNotes(const SmfFile& f) {
    std::map<std::pair<int, int>, int> sounding;
    for (const SmfEvent& e : f.events) {
        if (e.status == 0xFF) continue;
        const std::pair<int, int> key{e.channel(), e.data[0]};
        if (e.kind() == 0x90 && e.data[1] > 0) ++sounding[key];
        if (e.kind() == 0x80 || (e.kind() == 0x90 && e.data[1] == 0)) sounding[key] = 0;
    }
    std::vector<std::pair<int, int>> hanging;
    for (const auto& [key, n] : sounding) {
        if (n > 0) hanging.push_back(key);
    }
    return hanging;
}

inline SmfFile exportToSmf(const CTarrowinDoc& doc, ExportMode mode, int32_t percussion = kDefaultPercussionChannel) {
    std::vector<uint8_t> bytes;
    const ExportResult r = exportMidiToMemory(doc, mode, bytes, percussion);
    EXPECT_TRUE(r.ok) << r.message;
    return readSmf(bytes);
}

// A new document whose voice 1 alone plays quarter notes, "All Notes", from 0 to 64.
inline CTarrowinDoc quarterNoteDocument() {
    CTarrowinDoc doc;
    doc.OnNewDocument();
    doc.setStartCounter(0);
    doc.setEndCounter(64);
    doc.setNoteValue(0, 2, 0.0f);  // row 2: a quarter note, 8 ticks
    doc.editVoice(0, [](VoiceSettings& v) { v.tied = 0; });
    return doc;
}

// A fresh directory under the system's temporary directory, removed at the end.
class TempDir {
   public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tarrowin-export-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    const std::filesystem::path& path() const { return path_; }
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(path_)) names.push_back(e.path().filename().string());
        return names;
    }

   private:
    std::filesystem::path path_;
};

}  // namespace tarrowin::testing
