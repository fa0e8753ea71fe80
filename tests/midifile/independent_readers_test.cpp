// The files the export writes, read back by two readers we did not write: python3-mido
// (which rejects malformed files) and midicsv.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "export_test_support.h"
#include "support/tuning_files.h"

namespace tarrowin {
namespace {

struct CommandOutput {
    int status = -1;
    std::string out;
};

CommandOutput run(const std::string& command) {
    CommandOutput r;
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (p == nullptr) return r;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) r.out.append(buffer, n);
    r.status = ::pclose(p);
    return r;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// The file as mido reads it, one "tick type fields" line a message.
std::vector<std::string> readWithMido(const std::filesystem::path& file) {
    const CommandOutput r = run("/usr/bin/python3 " TARROWIN_MIDO_DUMP " '" + file.string() + "'");
    EXPECT_EQ(r.status, 0) << r.out;
    return lines(r.out);
}

// The file as midicsv reads it: "track, tick, type, fields".
std::vector<std::string> readWithMidicsv(const std::filesystem::path& file) {
    const CommandOutput r = run("midicsv '" + file.string() + "'");
    EXPECT_EQ(r.status, 0) << r.out;
    return lines(r.out);
}

std::filesystem::path exportTo(const testing::TempDir& dir, const std::string& name, const CTarrowinDoc& doc,
                               ExportMode mode) {
    const auto path = dir / name;
    const ExportResult r = exportMidi(doc, mode, path.string());
    EXPECT_TRUE(r.ok) << r.message << " " << r.detail;
    return path;
}

std::vector<std::string> startingWith(const std::vector<std::string>& all, const std::string& word) {
    std::vector<std::string> out;
    for (const std::string& l : all) {
        if (l.find(word) != std::string::npos) out.push_back(l);
    }
    return out;
}

TEST(IndependentReaders, MidoReadsTheQuarterNoteExampleAsWritten) {
    testing::TempDir dir;
    const auto file = exportTo(dir, "quarters.mid", testing::quarterNoteDocument(), ExportMode::CurrentSettings);
    const std::vector<std::string> got = readWithMido(file);

    std::vector<std::string> want = {"header 0 8 1", "0 tempo 625000", "0 time_signature 4 4 8 8",
                                     "0 program_change 0 0", "0 control_change 0 10 64"};
    // Keys as the engine plays them; mido must see them where the export put them.
    std::vector<int> keys;
    for (const std::string& l : got) {
        int tick, channel, key, velocity;
        if (std::sscanf(l.c_str(), "%d note_on %d %d %d", &tick, &channel, &key, &velocity) == 4) keys.push_back(key);
    }
    ASSERT_EQ(keys.size(), 8u);
    for (int i = 0; i < 8; ++i) {
        if (i > 0) want.push_back(std::to_string(8 * i) + " note_off 0 " + std::to_string(keys[static_cast<size_t>(i - 1)]) + " 0");
        want.push_back(std::to_string(8 * i) + " note_on 0 " + std::to_string(keys[static_cast<size_t>(i)]) + " 88");
    }
    for (int key = 0; key < 128; ++key) want.push_back("64 note_off 0 " + std::to_string(key) + " 0");
    want.push_back("64 end_of_track");
    EXPECT_EQ(got, want);
}

TEST(IndependentReaders, MidicsvReadsTheSameFile) {
    testing::TempDir dir;
    const auto file = exportTo(dir, "quarters.mid", testing::quarterNoteDocument(), ExportMode::CurrentSettings);
    const std::vector<std::string> csv = readWithMidicsv(file);
    ASSERT_GE(csv.size(), 8u);
    EXPECT_EQ(csv[0], "0, 0, Header, 0, 1, 8");
    EXPECT_EQ(csv[1], "1, 0, Start_track");
    EXPECT_EQ(csv[2], "1, 0, Tempo, 625000");
    EXPECT_EQ(csv[3], "1, 0, Time_signature, 4, 2, 8, 8");
    EXPECT_EQ(csv[4], "1, 0, Program_c, 0, 0");
    EXPECT_EQ(csv[5], "1, 0, Control_c, 0, 10, 64");
    EXPECT_EQ(startingWith(csv, "Note_on_c").size(), 8u);
    EXPECT_EQ(startingWith(csv, "Note_off_c").size(), 7u + 128);
    EXPECT_EQ(csv[csv.size() - 2], "1, 64, End_track");
    EXPECT_EQ(csv.back(), "0, 0, End_of_file");
}

TEST(IndependentReaders, TimeSignatureTempoAndPercussionKeys) {
    testing::TempDir dir;
    CTarrowinDoc doc = testing::quarterNoteDocument();
    doc.setTempo(120);
    doc.setTimeSigNumerator(3);
    doc.setTimeSigDenominator(4);
    doc.setEnabled(9, true);
    doc.editVoice(9, [](VoiceSettings& v) { v.percussionKey = 3; });
    const auto file = exportTo(dir, "three-four.mid", doc, ExportMode::CurrentSettings);

    const auto csv = readWithMidicsv(file);
    EXPECT_EQ(startingWith(csv, "Tempo"), std::vector<std::string>{"1, 0, Tempo, 500000"});
    EXPECT_EQ(startingWith(csv, "Time_signature"), std::vector<std::string>{"1, 0, Time_signature, 3, 2, 8, 8"});

    const auto mido = readWithMido(file);
    EXPECT_EQ(startingWith(mido, "time_signature"), std::vector<std::string>{"0 time_signature 3 4 8 8"});
    int drums = 0;
    for (const std::string& l : startingWith(mido, "note_on 9 ")) {
        EXPECT_NE(l.find("note_on 9 38 "), std::string::npos) << l;
        ++drums;
    }
    EXPECT_GT(drums, 0);
}

TEST(IndependentReaders, AVoiceOnOnlyInEventTwoOfAComposition) {
    testing::TempDir dir;
    CTarrowinDoc doc = testing::quarterNoteDocument();
    doc.setEndCounter(32);
    doc.setNoteValue(2, 2, 0.0f);
    doc.editVoice(2, [](VoiceSettings& v) {
        v.tied = 0;
        v.instrument = 40;
        v.pan = -20;
    });
    for (int i = 0; i < 3; ++i) {
        doc.setEnabled(2, i == 2);
        doc.setTempo(90 + 10 * i);
        CompositionEvent e;
        doc.CopyCurrentSettingsIntoEvent(e);
        ASSERT_TRUE(doc.mutableComposition().append(e));
    }
    const auto file = exportTo(dir, "composition.mid", doc, ExportMode::Composition);
    const auto mido = readWithMido(file);
    EXPECT_EQ(startingWith(mido, "program_change 2 "),
              (std::vector<std::string>{"0 program_change 2 40", "32 program_change 2 40", "64 program_change 2 40"}));
    EXPECT_EQ(startingWith(mido, "control_change 2 "),
              (std::vector<std::string>{"0 control_change 2 10 44", "32 control_change 2 10 44", "64 control_change 2 10 44"}));
    // Each event's tempo where it begins: 90, 100 and 110 quarter notes a minute.
    EXPECT_EQ(startingWith(mido, "tempo"), (std::vector<std::string>{"0 tempo 666666", "32 tempo 600000", "64 tempo 545454"}));
    const auto strikes = startingWith(mido, "note_on 2 ");
    ASSERT_EQ(strikes.size(), 12u);
    for (size_t i = 0; i < strikes.size(); ++i) {
        int tick, channel, key, velocity;
        ASSERT_EQ(std::sscanf(strikes[i].c_str(), "%d note_on %d %d %d", &tick, &channel, &key, &velocity), 4);
        EXPECT_EQ(tick, static_cast<int>(8 * i));
        EXPECT_EQ(velocity, i < 8 ? 0 : 88) << strikes[i];
    }
    EXPECT_EQ(mido.back(), "96 end_of_track");
    EXPECT_EQ(startingWith(readWithMidicsv(file), "Tempo").size(), 3u);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(exportMidiToMemory(doc, ExportMode::Composition, bytes).ok);
    EXPECT_TRUE(testing::hangingNotes(testing::readSmf(bytes)).empty());
}

TEST(IndependentReaders, ALongDenseCompositionIsWellFormed) {
    testing::TempDir dir;
    CTarrowinDoc doc;
    doc.OnNewDocument();
    for (int v = 0; v < kVoices; ++v) {
        doc.setEnabled(v, true);
        doc.setAlgorithm(v, static_cast<Algorithm>(v % kAlgorithms));
        doc.setNoteValue(v, 5, 0.0f);
        doc.editVoice(v, [](VoiceSettings& s) { s.tied = 0; });
    }
    doc.setEndCounter(300);
    for (int i = 0; i < 10; ++i) {
        CompositionEvent e;
        doc.CopyCurrentSettingsIntoEvent(e);
        e.global.startCounter = 1000 * i;
        e.global.endCounter = 1000 * i + 300;
        ASSERT_TRUE(doc.mutableComposition().append(e));
    }
    const auto file = exportTo(dir, "dense.mid", doc, ExportMode::Composition);
    const auto mido = readWithMido(file);
    EXPECT_EQ(startingWith(mido, "note_on").size(), 10u * 300 * 16);
    EXPECT_EQ(mido.back(), "3000 end_of_track");
    const auto csv = readWithMidicsv(file);
    EXPECT_EQ(startingWith(csv, "Note_on_c").size(), 10u * 300 * 16);
}

// Mido reads a tuned file's tuning before its first note, and each note sounds at the
// tuning's pitch of the key the untuned file strikes in its place.
TEST(IndependentReaders, TunedFilesCarryTheirTuningBeforeTheFirstNote) {
    testing::TempDir dir;
    CTarrowinDoc doc = testing::quarterNoteDocument();
    doc.setEnabled(1, true);
    doc.editVoice(1, [](VoiceSettings& v) { v.startNote = 50; });
    const auto plain = readWithMido(exportTo(dir, "plain.mid", doc, ExportMode::CurrentSettings));
    std::vector<std::pair<int, int>> plainNotes;  // channel, key of every sounding note on
    for (const std::string& l : plain) {
        int tick, channel, key, velocity;
        if (std::sscanf(l.c_str(), "%d note_on %d %d %d", &tick, &channel, &key, &velocity) == 4 && velocity > 0) {
            plainNotes.emplace_back(channel, key);
        }
    }
    for (const TuningMethod method : {TuningMethod::Mts, TuningMethod::PitchBend}) {
        SCOPED_TRACE(std::string(tuningMethodName(method)));
        TuningSettings t;
        t.tuning = *Tuning::fromText(testing::tuningFile("31edo.scl")).value;
        t.method = method;
        doc.setTuning(t);
        const auto got = readWithMido(exportTo(dir, "tuned.mid", doc, ExportMode::CurrentSettings));

        std::array<double, 128> pitch{};  // as the SysEx tunes the keys
        std::array<int, 16> bend{};
        std::array<std::array<int, 2>, 16> rpn{};  // the parameter 101 and 100 select, per channel
        std::array<bool, 16> tuned{};  // MTS: tuning program 0 selected; pitch bend: the range set
        size_t sysexKeys = 0, notes = 0;
        for (const std::string& l : got) {
            std::istringstream in(l);
            int tick;
            std::string type;
            in >> tick >> type;
            if (type == "sysex") {
                EXPECT_EQ(notes, 0u) << "a SysEx after a note: " << l;
                std::vector<int> b{std::istream_iterator<int>(in), std::istream_iterator<int>()};
                ASSERT_GE(b.size(), 6u);
                EXPECT_EQ(std::vector<int>(b.begin(), b.begin() + 5), (std::vector<int>{127, 127, 8, 2, 0}));
                ASSERT_EQ(b.size(), 6u + 4 * static_cast<size_t>(b[5]));
                for (size_t i = 6; i < b.size(); i += 4, ++sysexKeys) {
                    pitch[static_cast<size_t>(b[i])] = b[i + 1] + (b[i + 2] * 128 + b[i + 3]) / 16384.0;
                }
            } else if (type == "control_change") {
                int channel, control, value;
                in >> channel >> control >> value;
                auto& r = rpn[static_cast<size_t>(channel)];
                if (control == 101 || control == 100) r[control == 101 ? 0 : 1] = value;
                if (control != 6 || r[0] != 0) continue;
                EXPECT_EQ(notes, 0u) << l;
                const int parameter = method == TuningMethod::Mts ? 3 : 0;
                const int wanted = method == TuningMethod::Mts ? 0 : 2;  // program 0, or 2 semitones
                if (r[1] == parameter) {
                    EXPECT_EQ(value, wanted) << l;
                    tuned[static_cast<size_t>(channel)] = true;
                }
            } else if (type == "pitchwheel") {
                int channel, value;
                in >> channel >> value;
                bend[static_cast<size_t>(channel)] = value;
            } else if (type == "note_on") {
                int channel, key, velocity;
                in >> channel >> key >> velocity;
                if (velocity == 0) continue;
                ASSERT_LT(notes, plainNotes.size());
                const auto [plainChannel, plainKey] = plainNotes[notes++];
                EXPECT_EQ(channel, plainChannel);
                EXPECT_TRUE(tuned[static_cast<size_t>(channel)]) << "no tuning set up before " << l;
                const double want = t.tuning.key(plainKey).pitch;
                const double sounds = method == TuningMethod::Mts ? pitch[static_cast<size_t>(key)]
                                                                  : key + bend[static_cast<size_t>(channel)] / 4096.0;
                EXPECT_NEAR(sounds, want, 0.0005) << l;  // 0.05 cents
            }
        }
        EXPECT_EQ(notes, plainNotes.size());
        EXPECT_EQ(sysexKeys, method == TuningMethod::Mts ? 128u : 0u);
    }
}

}  // namespace
}  // namespace tarrowin
