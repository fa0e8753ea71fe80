#include "reports/composition_info.h"

#include "document/document_file.h"
#include "engine/tables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>
#include <string>
#include <vector>

namespace tarrowin {
namespace {

using Rows = std::vector<std::string>;

CompositionEvent makeEvent(int32_t start, int32_t end, int32_t tempo) {
    CompositionEvent e = Settings::defaults();
    e.global.startCounter = start;
    e.global.endCounter = end;
    e.global.tempo = tempo;
    return e;
}

VoiceSettings& voice(CompositionEvent& e, int v) { return e.voices[static_cast<size_t>(v)]; }

// Two events that use three algorithms and three scales on three voices; event 0
// modulates every N, event 1 modulates randomly on a voice that is off.
Composition mixedComposition() {
    Composition c;
    CompositionEvent first = makeEvent(0, 1536, 96);  // 120 s
    voice(first, 1).enabled = 1;
    voice(first, 1).algorithm = Algorithm::Henon;
    voice(first, 1).setScaleIndex(1);
    voice(first, 1).modulate = 1;
    voice(first, 2).enabled = 1;
    voice(first, 2).algorithm = Algorithm::Lorenz;
    voice(first, 2).setScaleIndex(kUserDefinedScale);
    c.append(first);
    CompositionEvent second = makeEvent(100, 292, 120);  // 12 s
    voice(second, 0).algorithm = Algorithm::Henon;
    voice(second, 5).modulate = 1;
    voice(second, 5).modulateMode = 1;
    c.append(second);
    return c;
}

TEST(GlobalReport, WholeReportOfAMixedComposition) {
    const Rows expected = {
        "GLOBAL INFORMATION:",
        "******************************",
        "",
        "File version: 2.50",
        "Number of total active voices: 3",
        "Number of events: 2",
        "Number of events left 998",
        "Approximate duration: 2 min. 12 sec.",
        "",
        "ALGORITHMS per event/voice:",
        "\tMorse-Thue:\t 1 (25.00%)",
        "\tHenon:\t\t 2 (50.00%)",
        "\tLorentz:\t\t 1 (25.00%)",
        "",
        "SCALES per event/voice:",
        "\tMajor:\t\t 2 (50.00%)",
        "\tMinor Natural:\t 1 (25.00%)",
        "\tUser defined:\t 1 (25.00%)",
        "",
        "MODULATIONS:\t\t[Event]",
        "\tEvery [...]:",
        "\t\t\t0",
        "\tRandomly: ",
        "\t\t\t1",
    };
    EXPECT_EQ(globalReport(mixedComposition(), 2.5f), expected);
}

TEST(GlobalReport, TwoMinuteExample) {
    Composition c;
    c.append(makeEvent(0, 1536, 96));
    const Rows rows = globalReport(c, 0.0f);
    EXPECT_EQ(rows[3], "File version: 0.00");
    EXPECT_EQ(rows[4], "Number of total active voices: 1");
    EXPECT_EQ(rows[6], "Number of events left 999");
    EXPECT_EQ(rows[7], "Approximate duration: 2 min. 0 sec.");
    EXPECT_EQ(rows[10], "\tMorse-Thue:\t 1 (100.00%)");
    EXPECT_EQ(rows[11], "");
}

TEST(GlobalReport, DurationMinutesAndSecondsOfTheSingleSum) {
    auto durationRow = [](const Composition& c) { return globalReport(c, 0.0f)[7]; };
    Composition hour;  // tempo 20: 160 ticks a minute
    hour.append(makeEvent(0, 9600, 20));
    EXPECT_EQ(durationRow(hour), "Approximate duration: 60 min. 0 sec.");

    Composition parts;  // 37.5 s + 0.154 s + 59.5 s = 97.15 s
    parts.append(makeEvent(0, 100, 20));
    parts.append(makeEvent(50000 - 7, 50000, 340));
    parts.append(makeEvent(10, 10 + 952, 120));
    EXPECT_EQ(durationRow(parts), "Approximate duration: 1 min. 37 sec.");
    EXPECT_NEAR(compositionSeconds(parts), 97.154f, 0.001f);
}

TEST(GlobalReport, DamagedTempoAndCountersGiveAFiniteDuration) {
    Composition c;
    c.append(makeEvent(0, 1536, 0));  // plays as tempo 1: 11520 s
    c.append(makeEvent(-2147483647 - 1, 2147483647, 340));
    const Rows rows = globalReport(c, 0.0f);
    EXPECT_TRUE(std::isfinite(compositionSeconds(c)));
    EXPECT_EQ(rows[7].rfind("Approximate duration: ", 0), 0u);
}

double percentOf(const std::string& row) {
    const auto open = row.rfind('(');
    return std::strtod(row.c_str() + open + 1, nullptr);
}

TEST(GlobalReport, ZeroCountsAreLeftOutAndPercentagesAddUp) {
    Composition c;
    CompositionEvent e = makeEvent(0, 8, 96);
    voice(e, 1).enabled = 1;
    voice(e, 1).algorithm = Algorithm::Martin;
    voice(e, 1).setScaleIndex(13);
    voice(e, 2).enabled = 1;
    voice(e, 2).algorithm = Algorithm::Gingerbreadman;
    voice(e, 2).setScaleIndex(14);
    voice(e, 3).algorithm = Algorithm::Lorenz;  // off: counted nowhere
    voice(e, 3).setScaleIndex(9);
    c.append(e);
    const Rows rows = globalReport(c, 0.0f);
    const Rows algorithms(rows.begin() + 10, rows.begin() + 13);
    EXPECT_EQ(algorithms, (Rows{"\tMorse-Thue:\t 1 (33.33%)", "\tMartin:\t\t 1 (33.33%)",
                                "\tGingerbreadman:\t 1 (33.33%)"}));
    EXPECT_EQ(rows[13], "");
    const Rows scales(rows.begin() + 15, rows.begin() + 18);
    EXPECT_EQ(scales, (Rows{"\tMajor:\t\t 1 (33.33%)", "\tPentatonic:\t 1 (33.33%)", "\tChromatic:\t 1 (33.33%)"}));
    for (const Rows& group : {algorithms, scales}) {
        double sum = 0;
        for (const auto& r : group) sum += percentOf(r);
        EXPECT_NEAR(sum, 100.0, 0.01 * static_cast<double>(group.size()));
    }
}

TEST(GlobalReport, NoModulationShowsNoneUnderBothKinds) {
    Composition c;
    CompositionEvent e = makeEvent(0, 8, 96);
    voice(e, 4).modulateMode = 1;  // a mode without modulate on does not count
    c.append(e);
    c.append(e);
    const Rows rows = globalReport(c, 0.0f);
    const Rows tail(rows.end() - 5, rows.end());
    EXPECT_EQ(tail, (Rows{"MODULATIONS:\t\t[Event]", "\tEvery [...]:", "\t\t\tNone.", "\tRandomly: ", "\t\t\tNone."}));
}

TEST(GlobalReport, AnEventIsListedOncePerModulationKind) {
    Composition c;
    CompositionEvent both = makeEvent(0, 8, 96);
    for (int v : {3, 7}) voice(both, v).modulate = 1;
    for (int v : {9, 12}) {
        voice(both, v).modulate = 1;
        voice(both, v).modulateMode = 1;
    }
    c.append(makeEvent(0, 8, 96));
    c.append(both);
    c.append(both);
    const Rows rows = globalReport(c, 0.0f);
    const Rows tail(rows.end() - 7, rows.end());
    EXPECT_EQ(tail, (Rows{"MODULATIONS:\t\t[Event]", "\tEvery [...]:", "\t\t\t1", "\t\t\t2", "\tRandomly: ",
                          "\t\t\t1", "\t\t\t2"}));
}

TEST(GlobalReport, FileVersionOfTheLastFileReadOutlivesNew) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("tarrowin-report-version-" + std::to_string(getpid()) + ".trw");
    CTarrowinDoc doc;
    doc.OnNewDocument();
    doc.mutableComposition().append(makeEvent(0, 8, 96));
    ASSERT_TRUE(saveDocumentFile(path.string(), doc).ok);
    CTarrowinDoc opened;
    ASSERT_TRUE(openDocumentFile(path.string(), opened).ok);
    std::filesystem::remove(path);
    opened.OnNewDocument();
    opened.mutableComposition().append(makeEvent(0, 8, 96));
    EXPECT_EQ(globalReport(opened.composition(), lastReadFileVersion())[3], "File version: 2.50");
}

TEST(EventReport, WholeReportOfOneEvent) {
    Composition c;
    c.append(makeEvent(0, 8, 96));
    CompositionEvent e = makeEvent(100, 292, 120);
    e.global.timeSigNumerator = 3;
    VoiceSettings& a = voice(e, 0);
    a.param1 = 3;
    a.param2 = 7;
    a.offset = -2;
    a.setOctaves(1);
    a.startNote = 61;
    a.pan = -10;
    VoiceSettings& b = voice(e, 1);
    b.enabled = 1;
    b.channel = 9;
    b.algorithm = Algorithm::LogisticMap;
    b.modulate = 1;
    b.setNoteValue(kOtherNoteValue, 5.0f);
    b.instrument = 44;  // stored with a trailing blank
    b.tied = 0;
    b.setInversion(true, true);
    b.setDynamic(5);
    VoiceSettings& d = voice(e, 2);
    d.enabled = 1;
    d.algorithm = Algorithm::Gingerbreadman;
    d.modulate = 1;
    d.modulateMode = 1;
    d.setUserScale(ScaleList{0, 1, 3, 6, 10});
    d.setScaleIndex(kUserDefinedScale);
    d.setInversion(true, false);
    d.setNoteValue(8, 0.0f);
    d.startNote = 0;
    d.setDynamic(0);
    c.append(e);

    Rows expected = {
        "Event Number 1",
        "******************",
        "",
        "Counters: Start 100, End 292",
        "Tempo: 120",
        "Time signature: 3/4",
        "VOICE 1:",
        "\tChannel: 0",
        "\tAlgorithm: Morse-Thue (3, 7)",
        "\tOffset value: -2",
        "\tModulates: No",
        "\tNumber of octaves: 2",
        "\tStarting note: C#5 (MIDI note # 61)",
        "\tScale: Major ",
        "\tNote Value: Quarter",
        "\tInstrument: Grand piano",
        "\tMode: Tied",
        "\tInverted: No",
        "\tPan value: -10",
        "\tDynamic: Mezzo-forte",
        "VOICE 2:",
        "\tChannel: 9",
        "\tAlgorithm: Log Map (3.900000)",
        "\tOffset value: 0",
        "\tModulates: Yes (Every 5)",
        "\tNumber of octaves: 1",
        "\tStarting note: C5 (MIDI note # 60)",
        "\tScale: Major ",
        "\tNote Value: User Defined (5)",
        "\tInstrument: Tremolo strings",
        "\tMode: All Notes",
        "\tInverted: Yes  Match Scale: Yes",
        "\tPan value: 0",
        "\tDynamic: Fortissmo",
        "VOICE 3:",
        "\tChannel: 2",
        "\tAlgorithm: Gingerbread (-0.100000, 0.000000)",
        "\tOffset value: 0",
        "\tModulates: Yes (Randomly)",
        "\tNumber of octaves: 1",
        "\tStarting note: C0 (MIDI note # 0)",
        "\tScale: User defined ( C Db Eb Gb Bb )",
        "\tNote Value: Dotted Quarter",
        "\tInstrument: Grand piano",
        "\tMode: Tied",
        "\tInverted: Yes  Match Scale: No",
        "\tPan value: 0",
        "\tDynamic: Pianissimo",
    };
    for (int v = 4; v <= 16; ++v) expected.push_back("VOICE " + std::to_string(v) + " (Inactive)");
    EXPECT_EQ(eventReport(c, 1), expected);
}

TEST(EventReport, AlgorithmRowsShowTheirCoefficients) {
    Composition c;
    CompositionEvent e = makeEvent(0, 8, 96);
    const Algorithm kinds[] = {Algorithm::OneOverFNoise, Algorithm::Henon, Algorithm::Hopalong, Algorithm::Martin,
                               Algorithm::Lorenz};
    for (int v = 0; v < 5; ++v) {
        voice(e, v).enabled = 1;
        voice(e, v).algorithm = kinds[v];
    }
    voice(e, 2).hopalongAngle = -6.28319f;
    c.append(e);
    Rows algorithms;
    for (const auto& r : eventReport(c, 0))
        if (r.rfind("\tAlgorithm: ", 0) == 0) algorithms.push_back(r);
    EXPECT_EQ(algorithms, (Rows{"\tAlgorithm: 1/f Noise (0.500000)", "\tAlgorithm: Henon (1.700000, 0.400000)",
                                "\tAlgorithm: Hopalong (-6.283190)", "\tAlgorithm: Martin (3.141593)",
                                "\tAlgorithm: Lorenz (0.800000)"}));
}

TEST(EventReport, DamagedValuesAreShownWithoutLeavingTheTables) {
    Composition c;
    CompositionEvent e = makeEvent(-1, 8, 96);
    VoiceSettings& s = voice(e, 0);
    s.startNote = 200;
    s.instrument = -1;
    s.dynamicIndex = 9;
    s.scaleIndex = kUserDefinedScale;
    s.scale = ScaleList{0, 14};
    s.noteValueIndex = 12;
    c.append(e);
    const Rows rows = eventReport(c, 0);
    EXPECT_EQ(rows[3], "Counters: Start 4294967295, End 8");
    EXPECT_EQ(rows[12], "\tStarting note: ? (MIDI note # 200)");
    EXPECT_EQ(rows[13], "\tScale: User defined ( C ? )");
    EXPECT_EQ(rows[14], "\tNote Value: ?");
    EXPECT_EQ(rows[15], "\tInstrument: ?");
    EXPECT_EQ(rows[19], "\tDynamic: ?");
    EXPECT_TRUE(eventReport(c, 1).empty());
    EXPECT_TRUE(eventReport(c, -1).empty());
}

TEST(CompositionInfoUpdate, EmptyCompositionLeavesTheListsEmptyAndDisabled) {
    const CompositionInfoContents empty = updateCompositionInfo(Composition{}, 2.5f);
    EXPECT_FALSE(empty.listsEnabled);
    EXPECT_TRUE(empty.events.empty() && empty.global.empty() && empty.event.empty());

    const Composition c = mixedComposition();
    const CompositionInfoContents full = updateCompositionInfo(c, 1.0f);
    EXPECT_TRUE(full.listsEnabled);
    EXPECT_EQ(full.events, (Rows{"0", "1"}));
    EXPECT_EQ(full.global, globalReport(c, 1.0f));
    EXPECT_EQ(full.event, eventReport(c, 0));
}

}  // namespace
}  // namespace tarrowin
