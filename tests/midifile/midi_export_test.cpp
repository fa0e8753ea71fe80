#include "midifile/midi_export.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <set>

#include "engine/retuning.h"
#include "export_test_support.h"

namespace tarrowin {
namespace {

using testing::Recorded;
using testing::SmfEvent;
using testing::SmfFile;

std::vector<uint8_t> readBytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::filesystem::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

TEST(CurrentSettingsExport, StartsAtTheStartCounterWithDatesFromZero) {
    CTarrowinDoc doc = testing::quarterNoteDocument();
    doc.setStartCounter(100);
    doc.setEndCounter(164);
    const SmfFile from100 = testing::exportToSmf(doc, ExportMode::CurrentSettings);
    EXPECT_EQ(from100.events.back().date, 64u);
    // The notes are those a run from 0 plays from tick 100 on, not those from 0.
    doc.setStartCounter(0);
    doc.setEndCounter(164);
    const SmfFile from0 = testing::exportToSmf(doc, ExportMode::CurrentSettings);
    std::vector<int> keys100, keys0;
    for (const SmfEvent& e : from100.events) {
        if (e.kind() == 0x90) keys100.push_back(e.data[0]);
    }
    for (const SmfEvent& e : from0.events) {
        if (e.kind() == 0x90 && e.date >= 104) keys0.push_back(e.data[0]);  // 100 is not on the grid; 104 is
    }
    EXPECT_EQ(keys100, keys0);
}

TEST(CurrentSettingsExport, OnlyEnabledVoicesAreWritten) {
    CTarrowinDoc doc = testing::quarterNoteDocument();
    doc.setEnabled(0, false);
    doc.setEnabled(4, true);
    doc.setEnabled(7, true);
    const SmfFile f = testing::exportToSmf(doc, ExportMode::CurrentSettings);
    std::set<int> channels;
    for (const SmfEvent& e : f.events) {
        if (e.status != 0xFF) channels.insert(e.channel());
    }
    EXPECT_EQ(channels, (std::set<int>{4, 7}));
    EXPECT_EQ(std::count_if(f.events.begin(), f.events.end(), [](const SmfEvent& e) { return e.kind() == 0xC0; }), 2);
    EXPECT_TRUE(testing::hangingNotes(f).empty());
}

TEST(CurrentSettingsExport, PercussionChannelStrikesThePercussionKey) {
    CTarrowinDoc doc = testing::quarterNoteDocument();
    doc.setEnabled(9, true);  // voice 10 plays on channel 9, the default percussion channel
    doc.editVoice(9, [](VoiceSettings& v) {
        v.percussionKey = 3;
        v.tied = 0;
    });
    doc.setNoteValue(9, 2, 0.0f);
    SmfFile f = testing::exportToSmf(doc, ExportMode::CurrentSettings);
    int struck = 0;
    for (const SmfEvent& e : f.events) {
        if (e.kind() == 0x90 && e.channel() == 9) {
            EXPECT_EQ(e.data[0], 38);
            ++struck;
        }
    }
    EXPECT_EQ(struck, 8);

    // With the percussion channel moved to 0, voice 1 strikes its key instead, and voice 10
    // plays its computed notes.
    f = testing::exportToSmf(doc, ExportMode::CurrentSettings, 0);
    std::set<int> channel0, channel9;
    for (const SmfEvent& e : f.events) {
        if (e.kind() == 0x90) (e.channel() == 0 ? channel0 : channel9).insert(e.data[0]);
    }
    EXPECT_EQ(channel0, (std::set<int>{doc.voice(0).percussionKey + 35}));
    EXPECT_GT(channel9.size(), 1u);
}

TEST(ExportChecks, RefusesEndNotAboveStartAndAnEmptyComposition) {
    testing::TempDir dir;
    CTarrowinDoc doc = testing::quarterNoteDocument();
    for (int32_t end : {0, 64}) {
        doc.setStartCounter(64);
        doc.setEndCounter(end);
        const ExportResult r = exportMidi(doc, ExportMode::CurrentSettings, (dir / "a.mid").string());
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.message, "Start counter must be less then End Counter");
        EXPECT_EQ(r.caption, "Error");
        EXPECT_FALSE(checkExport(doc, ExportMode::CurrentSettings).ok);
    }
    // The counters of the current settings do not matter to a composition...
    ASSERT_TRUE(doc.mutableComposition().append(testing::quarterNoteDocument().current()));
    EXPECT_TRUE(checkExport(doc, ExportMode::Composition).ok);
    // ...but it needs an event.
    doc.mutableComposition().clear();
    const ExportResult r = exportMidi(doc, ExportMode::Composition, (dir / "a.mid").string());
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, "The composition has no events");
    EXPECT_TRUE(dir.entries().empty());
}

TEST(ExportFiles, MissingDirectoryCouldNotCreateFile) {
    testing::TempDir dir;
    const ExportResult r =
        exportMidi(testing::quarterNoteDocument(), ExportMode::CurrentSettings, (dir / "missing/out.mid").string());
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, "Could not create file");
    EXPECT_EQ(r.caption, "Tarrowin");
    EXPECT_FALSE(r.detail.empty());
    EXPECT_TRUE(dir.entries().empty());

    // A directory where the file should be is no file to replace.
    std::filesystem::create_directory(dir / "taken.mid");
    const ExportResult onDir =
        exportMidi(testing::quarterNoteDocument(), ExportMode::CurrentSettings, (dir / "taken.mid").string());
    EXPECT_EQ(onDir.message, "Could not create file");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"taken.mid"});
}

TEST(ExportFiles, ReplacesAnOlderFileKeepingItsPermissions) {
    testing::TempDir dir;
    const auto target = dir / "song.mid";
    writeBytes(target, "an older file");
    ::chmod(target.c_str(), 0640);
    const CTarrowinDoc doc = testing::quarterNoteDocument();
    ASSERT_TRUE(exportMidi(doc, ExportMode::CurrentSettings, target.string()).ok);
    std::vector<uint8_t> memory;
    ASSERT_TRUE(exportMidiToMemory(doc, ExportMode::CurrentSettings, memory).ok);
    EXPECT_EQ(readBytes(target), memory);
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"song.mid"});
}

TEST(ExportFiles, AFailedWriteLeavesTheOlderFileAndNoTemporary) {
    testing::TempDir dir;
    const auto target = dir / "song.mid";
    writeBytes(target, "an older file");
    CTarrowinDoc doc = testing::quarterNoteDocument();
    doc.setEndCounter(50000);
    doc.setNoteValue(0, 5, 0.0f);  // 32nd notes: about 400 kB of file

    // The file system refuses to let the file grow beyond 64 kB.
    struct sigaction ignore {}, old {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &old);
    rlimit limit{}, saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    limit = saved;
    limit.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    const ExportResult r = exportMidi(doc, ExportMode::CurrentSettings, target.string());
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::sigaction(SIGXFSZ, &old, nullptr);

    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, "Could not write file");
    EXPECT_EQ(r.caption, "Tarrowin");
    EXPECT_FALSE(r.detail.empty());
    EXPECT_EQ(readBytes(target), (std::vector<uint8_t>{'a', 'n', ' ', 'o', 'l', 'd', 'e', 'r', ' ', 'f', 'i', 'l', 'e'}));
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"song.mid"});
}

TEST(ExportFiles, ProgressRunsToTheEndAndACancelLeavesNothing) {
    testing::TempDir dir;
    CTarrowinDoc doc = testing::quarterNoteDocument();
    doc.setEndCounter(40000);
    std::vector<int64_t> done;
    ExportResult r = exportMidi(doc, ExportMode::CurrentSettings, (dir / "a.mid").string(), kDefaultPercussionChannel,
                                [&done](int64_t d, int64_t total) {
                                    EXPECT_EQ(total, 40000);
                                    done.push_back(d);
                                    return true;
                                });
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.ticks, 40000);
    ASSERT_GE(done.size(), 100u);
    EXPECT_EQ(done.front(), 0);
    EXPECT_EQ(done.back(), 40000);
    EXPECT_TRUE(std::is_sorted(done.begin(), done.end()));

    const auto before = readBytes(dir / "a.mid");
    doc.setNoteValue(0, 5, 0.0f);
    r = exportMidi(doc, ExportMode::CurrentSettings, (dir / "a.mid").string(), kDefaultPercussionChannel,
                   [](int64_t d, int64_t) { return d < 20000; });
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.cancelled);
    EXPECT_TRUE(r.message.empty());
    EXPECT_EQ(readBytes(dir / "a.mid"), before);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"a.mid"});
}

TEST(ExportFiles, WritesIntoADeviceInPlace) {
    const ExportResult r = exportMidi(testing::quarterNoteDocument(), ExportMode::CurrentSettings, "/dev/null");
    EXPECT_TRUE(r.ok) << r.message << " " << r.detail;
    EXPECT_EQ(r.notes, 8);
}

TEST(CompositionExport, AVoiceMovingFromChannelThreeToFiveLeavesNoNoteHanging) {
    CTarrowinDoc doc = testing::quarterNoteDocument();
    doc.setEndCounter(32);
    doc.editVoice(0, [](VoiceSettings& v) { v.channel = 3; v.tied = 1; });
    CompositionEvent e;
    doc.CopyCurrentSettingsIntoEvent(e);
    doc.mutableComposition().append(e);
    doc.editVoice(0, [](VoiceSettings& v) { v.channel = 5; });
    doc.CopyCurrentSettingsIntoEvent(e);
    doc.mutableComposition().append(e);

    const SmfFile f = testing::exportToSmf(doc, ExportMode::Composition);
    EXPECT_TRUE(testing::hangingNotes(f).empty());
    // The key sounding at the end of event 0 is ended on channel 3 at the first strike of
    // event 1, which is on channel 5.
    const SmfEvent* lastOnChannel3 = nullptr;
    const SmfEvent* firstOnChannel5 = nullptr;
    for (const SmfEvent& e : f.events) {
        if (e.kind() == 0x90 && e.channel() == 3) lastOnChannel3 = &e;
        if (e.kind() == 0x90 && e.channel() == 5 && !firstOnChannel5) firstOnChannel5 = &e;
    }
    ASSERT_TRUE(lastOnChannel3 && firstOnChannel5);
    const auto endsIt = std::find_if(f.events.begin(), f.events.end(), [&](const SmfEvent& e) {
        return e.kind() == 0x80 && e.channel() == 3 && e.data[0] == lastOnChannel3->data[0] &&
               e.date == firstOnChannel5->date;
    });
    EXPECT_NE(endsIt, f.events.end());
    // The closing note offs go to channel 5, where the last key sounds.
    const auto closing = std::count_if(f.events.begin(), f.events.end(),
                                       [](const SmfEvent& e) { return e.kind() == 0x80 && e.date == 64; });
    EXPECT_EQ(closing, 128);
    EXPECT_EQ(f.events[f.events.size() - 2].channel(), 5);
}

TEST(CompositionExport, EveryStruckKeyOfARandomCompositionIsEnded) {
    // Short events with voices that move channel, switch on and off, tie and rest between
    // their steps, so that keys are often still held when an event ends.
    for (unsigned seed = 1; seed <= 20; ++seed) {
        std::mt19937 rng(seed);
        auto below = [&rng](int n) { return static_cast<int32_t>(rng() % static_cast<unsigned>(n)); };
        CTarrowinDoc doc;
        doc.OnNewDocument();
        for (int i = 0; i < 4; ++i) {
            CompositionEvent e = doc.current();
            e.global.startCounter = below(200);
            e.global.endCounter = e.global.startCounter + 1 + below(40);
            for (VoiceSettings& v : e.voices) {
                v.enabled = below(2);
                v.channel = below(16);
                v.tied = below(2);
                v.offset = below(3) - 1;
                v.setAlgorithm(static_cast<Algorithm>(below(kAlgorithms)));
                v.setNoteValue(below(11), 0.0f);
            }
            ASSERT_TRUE(doc.mutableComposition().append(e));
        }
        EXPECT_EQ(testing::hangingNotes(testing::exportToSmf(doc, ExportMode::Composition)),
                  (std::vector<std::pair<int, int>>{}))
            << "seed " << seed;
    }
}

// A current setting that exercises the note grid: several algorithms, note values, offsets
// (one negative), ties, a percussion voice, a voice that is off, and a Start that is on no
// voice's grid.
CTarrowinDoc richDocument() {
    CTarrowinDoc doc;
    doc.OnNewDocument();
    const std::array<int, 7> on = {0, 2, 3, 5, 9, 11, 14};
    for (int v : on) doc.setEnabled(v, true);
    for (int v = 0; v < kVoices; ++v) {
        doc.setAlgorithm(v, static_cast<Algorithm>(v % kAlgorithms));
        doc.setNoteValue(v, v % 11, 0.0f);
        doc.setOffset(v, v % 3 - 1);
        doc.setOctaves(v, v % 4);
        doc.setModulate(v, v % 4 == 1);
        doc.editVoice(v, [v](VoiceSettings& s) {
            s.tied = v % 2;
            s.instrument = 5 * v;
            s.pan = 8 * v - 64;
            s.percussionKey = v;
            s.setDynamic(v % 6);
        });
    }
    doc.setStartCounter(37);
    doc.setEndCounter(400);
    return doc;
}

std::set<int> enabledChannels(const Settings& s) {
    std::set<int> channels;
    for (const VoiceSettings& v : s.voices) {
        if (v.enabled) channels.insert(v.channel);
    }
    return channels;
}

// The messages of a live or composition performance that the file holds in its own way:
// the note offs carry velocity 0 in the file, the voices left out of a file send only
// silent notes, and the final All Notes Off are the file's closing note offs.
std::vector<Recorded> asTheFileHoldsThem(const std::vector<Recorded>& played, const std::set<int>& writtenChannels,
                                         int64_t endDate) {
    std::vector<Recorded> out;
    for (Recorded r : played) {
        const int kind = r.m.status & 0xF0, channel = r.m.status & 0x0F;
        if (kind == 0xB0 && r.m.data1 == 123) {
            EXPECT_EQ(r.date, endDate);
            continue;
        }
        if (!writtenChannels.count(channel)) {
            if (kind == 0x90 || kind == 0x80) {
                EXPECT_EQ(r.m.data2, 0) << "a voice left out of the file is heard";
            }
            continue;
        }
        if (kind == 0x80) r.m.data2 = 0;
        out.push_back(r);
    }
    return out;
}

// The file's channel messages without its closing note offs, which it checks.
std::vector<Recorded> withoutClosingNoteOffs(const SmfFile& f, size_t voices, int64_t endDate) {
    std::vector<Recorded> messages = testing::channelMessages(f);
    EXPECT_GE(messages.size(), 128 * voices);
    for (size_t i = messages.size() - 128 * voices; i < messages.size(); ++i) {
        EXPECT_EQ(messages[i].date, endDate);
        EXPECT_EQ(messages[i].m.status & 0xF0, 0x80);
        EXPECT_EQ(messages[i].m.data1, (i - (messages.size() - 128 * voices)) % 128);
    }
    messages.resize(messages.size() - 128 * voices);
    return messages;
}

TEST(FileHoldsWhatPlaybackPlays, CurrentSettingsAgainstLivePlayback) {
    const CTarrowinDoc doc = richDocument();
    testing::RecordingSink live;
    testing::LockedPlayer player(doc.global().endCounter);
    ASSERT_EQ(performCurrent(PerformanceMode::Live, doc.current(), live, player), PerformanceEnd::Completed);

    const SmfFile f = testing::exportToSmf(doc, ExportMode::CurrentSettings);
    const int64_t length = doc.global().endCounter - doc.global().startCounter;
    const std::set<int> channels = enabledChannels(doc.current());
    const auto played = asTheFileHoldsThem(live.messages, channels, length);
    const auto written = withoutClosingNoteOffs(f, channels.size(), length);
    ASSERT_GT(written.size(), 100u);
    EXPECT_EQ(written, played);
}

TEST(FileHoldsWhatPlaybackPlays, CompositionAgainstCompositionPlayback) {
    CTarrowinDoc doc = richDocument();
    // Five events with their own counters, tempi and voices; voice 16 is never on.
    std::mt19937 rng(3);
    for (int i = 0; i < 5; ++i) {
        CompositionEvent e;
        doc.CopyCurrentSettingsIntoEvent(e);
        e.global.startCounter = std::uniform_int_distribution<int32_t>(0, 3000)(rng);
        e.global.endCounter = e.global.startCounter + std::uniform_int_distribution<int32_t>(50, 199)(rng);
        e.global.tempo = 60 + 20 * i;
        for (int v = 0; v < kVoices - 1; ++v) e.voices[static_cast<size_t>(v)].enabled = v % 5 == i || rng() % 2 != 0;
        e.voices[kVoices - 1].enabled = 0;
        ASSERT_TRUE(doc.mutableComposition().append(e));
    }
    const auto& events = doc.composition().events();
    testing::RecordingSink played;
    PerformanceControl player;
    ASSERT_EQ(performComposition(PerformanceMode::Composition, events, 0, played, player), PerformanceEnd::Completed);

    const SmfFile f = testing::exportToSmf(doc, ExportMode::Composition);
    std::set<int> used;
    for (const CompositionEvent& e : events) {
        for (int c : enabledChannels(e)) used.insert(c);
    }
    ASSERT_EQ(used.size(), 15u);
    const int64_t length = exportTicks(doc, ExportMode::Composition);
    const auto written = withoutClosingNoteOffs(f, used.size(), length);
    EXPECT_EQ(written, asTheFileHoldsThem(played.messages, used, length));
}

TEST(RecordedTakes, AreWrittenInTheExportsForm) {
    // A take of the very messages the export writes makes the export's file, byte for byte,
    // a tuning's SysEx and bends included.
    TuningSettings mts;
    mts.tuning = *Tuning::fromText("five\n5\n240.\n480.\n720.\n960.\n2/1\n").value;
    TuningSettings bend = mts;
    bend.method = TuningMethod::PitchBend;
    const std::vector<std::optional<TuningSettings>> tunings = {std::nullopt, mts, bend};
    std::string error;
    for (const std::optional<TuningSettings>& tuning : tunings) {
        CTarrowinDoc doc = richDocument();
        if (tuning) doc.setTuning(*tuning);
        testing::TakeSink kept;
        PerformanceControl control;
        PerformanceOptions options;
        options.mode = PerformanceMode::ExportCurrent;
        const Retuning::Planned plan =
            Retuning::plan(doc.tuning(), outputFor(doc.tuning().method), options, doc.current(), {});
        ASSERT_TRUE(plan.ok()) << plan.refusal;
        options.retuning = plan.retuning.get();
        perform(options, doc.current(), {}, kept, control);
        const std::vector<uint8_t> recorded = takeToMidi(kept.take, error);
        std::vector<uint8_t> exported;
        ASSERT_TRUE(exportMidiToMemory(doc, ExportMode::CurrentSettings, exported).ok);
        EXPECT_EQ(recorded, exported) << (tuning ? tuningMethodName(tuning->method) : "untuned");
        if (tuning && tuning->method == TuningMethod::Mts) {
            const SmfFile f = testing::readSmf(recorded);
            EXPECT_EQ(std::count_if(f.events.begin(), f.events.end(), [](const SmfEvent& e) { return e.status == 0xF0; }),
                      kMtsMessages);
        }
    }

    // A tempo change is a tempo event at its tick.
    PerformanceTake take;
    take.entries = {TakeEntry::begin(0, richDocument().global(), 625000), TakeEntry::sent(0, ShortMessage::noteOn(0, 60, 88)),
                    TakeEntry::tempo(16, 300000), TakeEntry::sent(16, ShortMessage::noteOff(0, 60, 88)),
                    TakeEntry::end(24)};
    const SmfFile f = testing::readSmf(takeToMidi(take, error));
    ASSERT_EQ(f.events.size(), 6u);  // tempo, time signature, note on, tempo, note off, end
    EXPECT_EQ(f.events[3].date, 16u);
    EXPECT_TRUE(f.events[3].isMeta(0x51));
    EXPECT_EQ(f.events[3].data, (std::vector<uint8_t>{0x04, 0x93, 0xE0}));  // 300000 us a quarter note
    EXPECT_EQ(f.events[5].date, 24u);
}

}  // namespace
}  // namespace tarrowin
