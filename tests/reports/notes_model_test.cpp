#include "reports/notes_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>

#include "document/document.h"
#include "engine/tables.h"
#include "midifile/midi_export.h"
#include "midifile/smf_reader.h"
#include "support/random_coefficients.h"

namespace tarrowin {
namespace {

using testing::readSmf;
using testing::SmfFile;

VoiceSettings& voice(Settings& s, int v) { return s.voices[static_cast<size_t>(v)]; }

Settings passage(int32_t start, int32_t end) {
    Settings s = Settings::defaults();
    s.global.startCounter = start;
    s.global.endCounter = end;
    return s;
}

RollNotes rollOf(const Settings& s) { return *computeRollNotes(RollMode::CurrentSettings, s, {}); }

std::vector<std::tuple<int32_t, int32_t, int>> bars(const std::vector<RollNote>& notes) {
    std::vector<std::tuple<int32_t, int32_t, int>> out;
    for (const RollNote& n : notes) out.emplace_back(n.start, n.end, n.key);
    return out;
}

// A random document: voices that share channels, tie, rest between steps, switch on and off
// between events and play on the percussion channel.
CTarrowinDoc randomDocument(unsigned seed) {
    std::mt19937 rng(seed);
    auto below = [&rng](int n) { return static_cast<int32_t>(rng() % static_cast<unsigned>(n)); };
    CTarrowinDoc doc;
    doc.OnNewDocument();
    const auto randomize = [&](Settings& e) {
        e.global.startCounter = below(300);
        e.global.endCounter = e.global.startCounter + below(120);
        e.global.timeSigNumerator = static_cast<int16_t>(1 + below(7));
        for (VoiceSettings& v : e.voices) {
            v.enabled = below(2);
            v.channel = below(4) == 0 ? 9 : below(3);  // shared channels, some on the drums
            v.tied = below(2);
            v.offset = below(5) - 2;
            v.percussionKey = below(kPercussionKeys);
            v.setAlgorithm(static_cast<Algorithm>(below(kAlgorithms)));
            v.setNoteValue(below(11), 0.0f);
            v.setOctaves(below(4));
            testing::drawCoefficients(rng, v);
            v.velocity = 1 + below(127);
        }
    };
    randomize(doc.mutableCurrent());
    for (int i = below(5); i >= 0; --i) {
        CompositionEvent e = doc.current();
        randomize(e);
        EXPECT_TRUE(doc.mutableComposition().append(e));
    }
    return doc;
}

TEST(NotesModel, HoldsWhatTheExportedFileHoldsForRandomDocuments) {
    size_t compared = 0;
    for (unsigned seed = 1; seed <= 40; ++seed) {
        const CTarrowinDoc doc = randomDocument(seed);
        for (const RollMode mode : {RollMode::CurrentSettings, RollMode::Composition}) {
            const ExportMode exportMode =
                mode == RollMode::Composition ? ExportMode::Composition : ExportMode::CurrentSettings;
            if (!checkExport(doc, exportMode).ok) continue;
            std::vector<uint8_t> bytes;
            ASSERT_TRUE(exportMidiToMemory(doc, exportMode, bytes, 9).ok);
            const SmfFile file = readSmf(bytes);
            const auto roll = computeRollNotes(mode, doc.current(), doc.composition().events(), 9);
            ASSERT_TRUE(roll);

            // Every note on of the file is a note of the roll, and every note off before the
            // closing ones ends a note of the roll on its channel and key.
            using Strike = std::tuple<uint64_t, int, int, int>;  // date, channel, key, velocity
            using Release = std::tuple<uint64_t, int, int>;
            std::vector<Strike> fileOns, rollOns;
            std::vector<Release> fileOffs, rollOffs;
            for (const auto& e : file.events) {
                if (e.kind() == 0x90) fileOns.emplace_back(e.date, e.channel(), e.data[0], e.data[1]);
                if (e.kind() == 0x80 && e.date < static_cast<uint64_t>(roll->length))
                    fileOffs.emplace_back(e.date, e.channel(), e.data[0]);
            }
            for (int v = 0; v < kVoices; ++v) {
                int32_t previousEnd = 0;
                for (const RollNote& n : roll->voices[static_cast<size_t>(v)]) {
                    EXPECT_LT(n.start, n.end);
                    EXPECT_LE(previousEnd, n.start) << "voice " << v << " overlaps itself";
                    previousEnd = n.end;
                    if (mode == RollMode::CurrentSettings && n.off) continue;
                    rollOns.emplace_back(n.start, n.channel, n.key, n.velocity);
                    if (n.end < roll->length) rollOffs.emplace_back(n.end, n.channel, n.key);
                }
            }
            std::sort(fileOns.begin(), fileOns.end());
            std::sort(rollOns.begin(), rollOns.end());
            std::sort(fileOffs.begin(), fileOffs.end());
            std::sort(rollOffs.begin(), rollOffs.end());
            EXPECT_EQ(rollOns, fileOns) << "seed " << seed << " mode " << int(mode);
            // A voice whose channel changes between events ends its key on the old channel,
            // which the roll's note keeps.
            EXPECT_EQ(rollOffs, fileOffs) << "seed " << seed << " mode " << int(mode);
            compared += fileOns.size();
        }
    }
    EXPECT_GT(compared, 5000u);
}

// A live play with Lock off, which runs on past End; here it stops after `ticks` ticks and
// keeps each voice's note ons that sound (a voice that is off strikes at velocity 0).
class UnlockedLivePlay final : public PerformanceSink, public PerformanceControl {
   public:
    using Strike = std::tuple<int, int64_t, int, int, int>;  // voice, date, channel, key, velocity
    explicit UnlockedLivePlay(int64_t ticks) : ticks_(ticks) {}
    std::vector<Strike> strikes;

    void voiceStrikes(int v, int32_t) override { voice_ = v; }
    void message(int64_t date, const ShortMessage& m) override {
        if (voice_ < 0 || (m.status & 0xF0) != 0x90) return;
        if (m.data2 != 0) strikes.emplace_back(voice_, date, m.status & 0x0F, m.data1, m.data2);
        voice_ = -1;
    }
    bool playing() override { return date_ < ticks_; }
    void tickDone(int64_t date, int32_t) override { date_ = date; }
    bool locked() override { return false; }
    int32_t endCounter() override { return end_; }
    void setEndCounter(int32_t end) override { end_ = end; }

   private:
    const int64_t ticks_;
    int64_t date_ = 0;
    int32_t end_ = 0;
    int voice_ = -1;
};

// The strikes of the voices that are on, before `before`.
std::vector<UnlockedLivePlay::Strike> strikesOf(const RollNotes& roll, int32_t before) {
    std::vector<UnlockedLivePlay::Strike> out;
    for (int v = 0; v < kVoices; ++v) {
        for (const RollNote& n : roll.voices[static_cast<size_t>(v)]) {
            if (!n.off && n.start < before) out.emplace_back(v, n.start, n.channel, n.key, n.velocity);
        }
    }
    return out;
}

TEST(NotesModel, ALongerRollHoldsWhatAnUnlockedPlayStrikesPastEnd) {
    size_t compared = 0;
    for (unsigned seed = 1; seed <= 40; ++seed) {
        const CTarrowinDoc doc = randomDocument(seed);
        const Settings& s = doc.current();
        const int32_t ticks = s.global.endCounter - s.global.startCounter + 200;
        UnlockedLivePlay play(ticks);
        PerformanceOptions options;
        options.percussionChannel = 9;
        perform(options, s, {}, play, play);
        std::sort(play.strikes.begin(), play.strikes.end());

        Settings longer = s;
        longer.global.endCounter = s.global.startCounter + ticks;
        const RollNotes roll = rollOf(longer);
        EXPECT_EQ(strikesOf(roll, ticks), play.strikes) << "seed " << seed;
        // Up to the old End the longer roll strikes what the roll to End does.
        const int32_t end = s.global.endCounter - s.global.startCounter;
        EXPECT_EQ(strikesOf(roll, end), strikesOf(rollOf(s), end)) << "seed " << seed;
        compared += play.strikes.size();
    }
    EXPECT_GT(compared, 1000u);
}

TEST(NotesModel, TiedNotesAreOneBarAndVoicesSharingAChannelKeepTheirOwnNotes) {
    Settings s = passage(0, 64);
    // Morse-Thue over counters 0..7 gives C D D E D E E F (Major, C5 = 60).
    voice(s, 1) = voice(s, 0);
    voice(s, 1).tied = 0;
    voice(s, 1).offset = 1;  // one step ahead, on the same channel 0
    const RollNotes roll = rollOf(s);
    using Bars = std::vector<std::tuple<int32_t, int32_t, int>>;
    EXPECT_EQ(bars(roll.voices[0]), (Bars{{0, 8, 60}, {8, 24, 62}, {24, 32, 64}, {32, 40, 62}, {40, 56, 64},
                                          {56, 64, 65}}));
    EXPECT_EQ(bars(roll.voices[1]), (Bars{{0, 8, 62}, {8, 16, 62}, {16, 24, 64}, {24, 32, 62}, {32, 40, 64},
                                          {40, 48, 64}, {48, 56, 65}, {56, 64, 62}}));
    EXPECT_EQ(roll.voices[1][2].step, 3);

    // The overview knows the keys of each bucket of four ticks, and of wider ones above.
    const RollOverview& o = roll.overview;
    EXPECT_EQ(o.levelFor(3.9), -1);
    EXPECT_EQ(o.levelFor(4.0), 0);
    EXPECT_EQ(o.levelFor(20.0), 1);
    const auto keys = [&](int level, int64_t first, int64_t last) {
        std::vector<int> out;
        const KeyMask m = o.keys(0, level, false, first, last);
        for (int k = 0; k < 128; ++k)
            if (m.has(k)) out.push_back(k);
        return out;
    };
    EXPECT_EQ(keys(0, 0, 2), (std::vector<int>{60}));
    EXPECT_EQ(keys(0, 2, 6), (std::vector<int>{62}));
    EXPECT_EQ(keys(0, 5, 7), (std::vector<int>{62, 64}));
    EXPECT_EQ(keys(1, 0, 4), (std::vector<int>{60, 62, 64, 65}));
    EXPECT_TRUE(o.keys(0, 0, true, 0, 16).empty());
}

TEST(NotesModel, VoicesThatAreOffAreMarkedAndDrumsSitOnTheirKeys) {
    Settings s = passage(16, 48);
    voice(s, 3).enabled = 0;                    // off: shown with what it would play
    voice(s, 5).enabled = 1;
    voice(s, 5).channel = 9;
    voice(s, 5).percussionKey = 3;              // key 38
    RollNotes roll = rollOf(s);
    ASSERT_FALSE(roll.voices[3].empty());
    EXPECT_TRUE(std::all_of(roll.voices[3].begin(), roll.voices[3].end(), [](const RollNote& n) { return n.off; }));
    EXPECT_FALSE(roll.voices[0].front().off);
    EXPECT_TRUE(std::all_of(roll.voices[5].begin(), roll.voices[5].end(), [](const RollNote& n) { return n.key == 38; }));
    EXPECT_EQ(roll.describe(5, roll.voices[5].front(), 9), "Voice 6: Acoustic Snare (key 38), counter 16, step 2");
    EXPECT_EQ(roll.describe(3, roll.voices[3].back(), 9), "Voice 4: E5 (key 64), counter 40, step 5 (voice off)");
    EXPECT_FALSE(roll.randomModulation);
    voice(s, 3).modulate = 1;
    voice(s, 3).modulateMode = 1;  // "Random": each run draws its own
    EXPECT_TRUE(rollOf(s).randomModulation);

    // In a composition a voice that is off in an event strikes silently there.
    Settings on = passage(0, 16);
    Settings off = on;
    voice(off, 0).enabled = 0;
    const std::vector<Settings> events = {on, off};
    roll = *computeRollNotes(RollMode::Composition, on, events);
    ASSERT_EQ(roll.voices[0].size(), 4u);
    EXPECT_FALSE(roll.voices[0][1].off);
    EXPECT_TRUE(roll.voices[0][2].off);
    EXPECT_EQ(roll.voices[0][2].velocity, 0);
    EXPECT_EQ(roll.describe(0, roll.voices[0][3], 9), "Voice 1: D5 (key 62), counter 8, step 1, event 1 (voice off)");
}

TEST(NotesModel, ATunedVoicesKeysTellTheirDegreeAndCentsAndUnmappedKeysStrikeSilently) {
    std::string nineteen = "19 equal\n19\n";
    for (int k = 1; k < 19; ++k) nineteen += std::to_string(1200.0 * k / 19) + "\n";
    nineteen += "2/1\n";
    const auto tuned = [&](const std::string& map, bool voiceTuned) {
        auto t = std::make_shared<TuningSettings>();
        t->tuning = *Tuning::fromText(nineteen, map).value;
        t->tuned[0] = voiceTuned;
        return computeRollNotes(RollMode::CurrentSettings, passage(16, 48), {}, 9, nullptr, kMaxRollNotes, t);
    };
    const auto noteOn = [](const RollNotes& roll, int key) {
        const auto& notes = roll.voices[0];
        const auto found = std::find_if(notes.begin(), notes.end(), [key](const RollNote& n) { return n.key == key; });
        EXPECT_NE(found, notes.end()) << "no note on key " << key;
        return found == notes.end() ? RollNote{} : *found;
    };
    const RollNotes plain = rollOf(passage(16, 48));
    const RollNotes roll = *tuned("", true);
    EXPECT_EQ(bars(roll.voices[0]), bars(plain.voices[0]));
    EXPECT_EQ(roll.describe(0, noteOn(roll, 62), 9).substr(0, 47), "Voice 1: D5 (key 62, degree 2, -73.7 cents), co");
    // Only C and E of each octave mapped: D is struck silently, as the file strikes it.
    const RollNotes sparse = *tuned("12\n0\n127\n60\n60\n261.6255653\n19\n0\nx\nx\nx\n4\n", true);
    EXPECT_TRUE(noteOn(sparse, 62).off);
    EXPECT_FALSE(noteOn(sparse, 64).off);
    const std::string silent = sparse.describe(0, noteOn(sparse, 62), 9);
    EXPECT_EQ(silent.substr(0, 55), "Voice 1: D5 (key 62, not in the tuning's map: silent), ");
    EXPECT_EQ(silent.find("voice off"), std::string::npos);
    // A voice the tuning leaves alone is named as without one.
    const RollNotes untuned = *tuned("", false);
    EXPECT_EQ(untuned.describe(0, noteOn(untuned, 62), 9), plain.describe(0, noteOn(plain, 62), 9));
}

TEST(NotesModel, EventsLieEndToEndAndPositionsMapToDates) {
    Settings a = passage(100, 164);
    Settings empty = passage(5, 5);
    Settings b = passage(0, 32);
    const std::vector<Settings> events = {a, empty, b};
    const RollNotes roll = *computeRollNotes(RollMode::Composition, a, events);
    ASSERT_EQ(roll.events.size(), 3u);
    EXPECT_EQ(roll.length, 96);
    EXPECT_EQ(roll.events[2].date, 64);
    EXPECT_EQ(roll.events[1].length, 0);
    struct Case {
        int event;
        int32_t counter;
        std::optional<int32_t> date;
    };
    for (const Case& c : {Case{0, 100, 0}, Case{0, 130, 30}, Case{2, 0, 64}, Case{2, 32, 96}, Case{2, 40, std::nullopt},
                          Case{0, 99, std::nullopt}, Case{7, 0, std::nullopt}}) {
        EXPECT_EQ(roll.dateOf(c.event, c.counter), c.date) << c.event << "/" << c.counter;
        if (c.date && *c.date < roll.length) {
            EXPECT_EQ(roll.counterAt(*c.date), c.counter);
        }
    }
    // The bar lines restart with each event; notes are found where they sound.
    EXPECT_EQ(roll.eventAt(64)->index, 2);
    EXPECT_EQ(roll.voiceAt(70, 60, {true}), 0);
    EXPECT_EQ(roll.voiceAt(70, 61, {true}), -1);
    EXPECT_EQ(roll.notesIn(0, 20, 40).size(), 3u);  // G [20, 28), D [28, 36), E [36, 52)
}

TEST(NotesModel, GridLinesFollowTheTimeSignatureAndThinOutWhenDense) {
    Settings s = passage(10, 106);
    s.global.timeSigNumerator = 3;
    s.global.timeSigDenominator = 8;  // a beat of 4 ticks, a bar of 12
    const RollNotes roll = rollOf(s);
    const auto dates = [](const std::vector<GridLine>& lines, bool barsOnly) {
        std::vector<int32_t> out;
        for (const GridLine& l : lines)
            if (l.bar || !barsOnly) out.push_back(l.date);
        return out;
    };
    const auto fine = roll.gridLines(0, 30, 1.0);
    EXPECT_EQ(dates(fine, false), (std::vector<int32_t>{0, 4, 8, 12, 16, 20, 24, 28}));
    EXPECT_EQ(dates(fine, true), (std::vector<int32_t>{0, 12, 24}));
    EXPECT_EQ(fine[1].counter, 14);
    // Beats 4 ticks apart are dropped below 5 ticks of spacing; bars then every 1, 2, 4, ...
    EXPECT_EQ(dates(roll.gridLines(0, 96, 5.0), false), (std::vector<int32_t>{0, 12, 24, 36, 48, 60, 72, 84}));
    EXPECT_EQ(dates(roll.gridLines(0, 96, 20.0), false), (std::vector<int32_t>{0, 24, 48, 72}));
    EXPECT_EQ(dates(roll.gridLines(30, 96, 40.0), false), (std::vector<int32_t>{48}));
    EXPECT_EQ(beatTicks(4), 8);
    EXPECT_EQ(beatTicks(3), 8);
}

TEST(NotesModel, ACancelledComputationGivesNothingAndALimitStopsTheRoll) {
    std::atomic<bool> cancel{true};
    EXPECT_FALSE(computeRollNotes(RollMode::CurrentSettings, passage(0, 5000), {}, 9, &cancel));
    cancel = false;
    const auto roll = computeRollNotes(RollMode::CurrentSettings, passage(0, 5000), {}, 9, &cancel, 100);
    ASSERT_TRUE(roll);
    EXPECT_TRUE(roll->truncated);
    EXPECT_LT(roll->length, 5000);
    EXPECT_LE(roll->count(), 100u + kVoices);
}

}  // namespace
}  // namespace tarrowin
