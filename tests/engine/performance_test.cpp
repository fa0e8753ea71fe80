#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine/performance.h"

namespace tarrowin {
namespace {

struct Sent {
    int64_t date;
    ShortMessage m;
};

struct Recorder : PerformanceSink {
    std::vector<Sent> sent;
    std::vector<std::pair<int, int64_t>> begins;  // event index, date
    std::optional<int64_t> endDate;

    std::vector<std::pair<int64_t, int32_t>> tempos;  // date, tempo

    void eventBegins(int index, const GlobalSettings&, int64_t date) override { begins.emplace_back(index, date); }
    void message(int64_t date, const ShortMessage& m) override { sent.push_back({date, m}); }
    void tempoChanges(int64_t date, int32_t tempo) override { tempos.emplace_back(date, tempo); }
    void end(int64_t date) override { endDate = date; }

    std::vector<Sent> withStatus(int kind) const {
        std::vector<Sent> out;
        for (const Sent& s : sent) {
            if ((s.m.status & 0xF0) == kind) out.push_back(s);
        }
        return out;
    }
    std::vector<Sent> noteOns() const { return withStatus(0x90); }
};

// A player's shared words, without threads or time.
struct FakeControl : PerformanceControl {
    bool lock = true;
    int32_t end = 0;
    int64_t stopAfterTicks = -1;  // playing() turns false after this many ticks
    int64_t ticks = 0;
    std::vector<int32_t> tickLengths;
    std::function<bool(int, int64_t)> voiceSwitch;  // live on/off by voice and tick
    std::optional<Settings> edit;                   // handed to the run at the top of tick editTick
    int64_t editTick = -1;

    bool playing() override { return stopAfterTicks < 0 || ticks < stopAfterTicks; }
    void tickDone(int64_t, int32_t tickLengthMs) override {
        ++ticks;
        tickLengths.push_back(tickLengthMs);
    }
    bool voiceOn(int v, bool snapshot) override { return voiceSwitch ? voiceSwitch(v, ticks) : snapshot; }
    bool locked() override { return lock; }
    int32_t endCounter() override { return end; }
    void setEndCounter(int32_t e) override { end = e; }
    const Settings* editedSettings() override { return edit && ticks == editTick ? &*edit : nullptr; }
};

Settings oneVoice(int32_t start, int32_t end) {
    Settings s = Settings::defaults();
    s.global.startCounter = start;
    s.global.endCounter = end;
    return s;
}

TEST(ExportCurrent, QuarterNotesOfOneVoice) {
    Settings s = oneVoice(0, 64);
    s.voices[0].tied = 0;
    Recorder rec;
    PerformanceControl control;
    EXPECT_EQ(performCurrent(PerformanceMode::ExportCurrent, s, rec, control), PerformanceEnd::Completed);

    ASSERT_EQ(rec.begins.size(), 1u);
    EXPECT_EQ(rec.begins[0], std::make_pair(0, int64_t{0}));
    ASSERT_GE(rec.sent.size(), 2u);
    EXPECT_EQ(rec.sent[0].m, ShortMessage::programChange(0, 0));
    EXPECT_EQ(rec.sent[1].m, ShortMessage::pan(0, 0));
    EXPECT_EQ(rec.sent[1].m.data2, 64);
    const auto ons = rec.noteOns();
    ASSERT_EQ(ons.size(), 8u);
    const int keys[] = {60, 62, 62, 64, 62, 64, 64, 65};
    for (size_t i = 0; i < ons.size(); ++i) {
        EXPECT_EQ(ons[i].date, static_cast<int64_t>(8 * i));
        EXPECT_EQ(ons[i].m, ShortMessage::noteOn(0, keys[i], 88));
    }
    // Each note on after the first follows the note off of the previous key, velocity 0.
    for (size_t i = 1; i < ons.size(); ++i) {
        auto it = std::find_if(rec.sent.begin(), rec.sent.end(), [&](const Sent& x) { return x.date == ons[i].date && (x.m.status & 0xF0) == 0x80; });
        ASSERT_NE(it, rec.sent.end());
        EXPECT_EQ(it->m, ShortMessage::noteOff(0, keys[i - 1], 0));
    }
    const auto offs = rec.withStatus(0x80);
    ASSERT_EQ(offs.size(), 7u + 128u);
    for (int key = 0; key < 128; ++key) {
        EXPECT_EQ(offs[7 + static_cast<size_t>(key)].date, 64);
        EXPECT_EQ(offs[7 + static_cast<size_t>(key)].m, ShortMessage::noteOff(0, key, 0));
    }
    EXPECT_EQ(rec.endDate, 64);
}

TEST(ExportCurrent, WritesOnlyEnabledVoicesAndThePercussionKey) {
    Settings s = oneVoice(0, 16);
    s.voices[0].enabled = 0;
    s.voices[9].enabled = 1;
    s.voices[9].percussionKey = 3;
    Recorder rec;
    PerformanceControl control;
    performCurrent(PerformanceMode::ExportCurrent, s, rec, control);
    for (const Sent& x : rec.sent) EXPECT_EQ(x.m.status & 0x0F, 9);
    const auto ons = rec.noteOns();
    // Pitches 60 and 62 differ, so both steps strike, each on key 3 + 35.
    ASSERT_EQ(ons.size(), 2u);
    EXPECT_EQ(ons[0].m, ShortMessage::noteOn(9, 38, 88));
    EXPECT_EQ(ons[1].m, ShortMessage::noteOn(9, 38, 88));
}

TEST(Live, LockedRunMatchesTheExportButForOffVelocitiesAndFinals) {
    Settings s = oneVoice(40, 200);
    s.voices[0].tied = 0;
    s.voices[2].enabled = 1;
    s.voices[2].algorithm = Algorithm::Henon;
    s.voices[2].noteValue = 3;
    s.voices[2].offset = -2;
    Recorder live, file;
    FakeControl control;
    control.end = 200;
    PerformanceControl exportControl;
    performCurrent(PerformanceMode::Live, s, live, control);
    performCurrent(PerformanceMode::ExportCurrent, s, file, exportControl);

    auto audible = [](const Recorder& r, int voiceChannels) {
        std::vector<Sent> out;
        for (const Sent& x : r.sent) {
            const int kind = x.m.status & 0xF0;
            const int ch = x.m.status & 0x0F;
            if ((kind != 0x80 && kind != 0x90) || !(voiceChannels & (1 << ch))) continue;
            Sent y = x;
            if (kind == 0x80) y.m.data2 = 0;
            out.push_back(y);
        }
        return out;
    };
    auto liveNotes = audible(live, 0b101);
    auto fileNotes = audible(file, 0b101);
    fileNotes.resize(fileNotes.size() - 2 * 128);  // the file's closing note offs
    ASSERT_EQ(liveNotes.size(), fileNotes.size());
    for (size_t i = 0; i < liveNotes.size(); ++i) {
        EXPECT_EQ(liveNotes[i].date, fileNotes[i].date) << i;
        EXPECT_EQ(liveNotes[i].m, fileNotes[i].m) << i;
    }
    // The live run strikes the disabled voices silently and ends with All Notes Off.
    EXPECT_TRUE(std::any_of(live.sent.begin(), live.sent.end(), [](const Sent& x) { return x.m.status == 0x91 && x.m.data2 == 0; }));
    for (int ch = 0; ch < 16; ++ch) EXPECT_EQ(live.sent[live.sent.size() - 16 + static_cast<size_t>(ch)].m, ShortMessage::allNotesOff(ch));
    EXPECT_EQ(control.ticks, 160);
    EXPECT_EQ(control.tickLengths.front(), 78);
}

TEST(Live, UnlockedEndFollowsThePositionUpTo50000) {
    Settings s = oneVoice(100, 0);
    FakeControl control;
    control.lock = false;
    control.end = 7;
    control.stopAfterTicks = 50;
    Recorder rec;
    EXPECT_EQ(performCurrent(PerformanceMode::Live, s, rec, control), PerformanceEnd::Stopped);
    EXPECT_EQ(control.end, 150);

    s.global.startCounter = 49990;
    FakeControl near;
    near.lock = false;
    near.stopAfterTicks = 30;
    performCurrent(PerformanceMode::Live, s, rec, near);
    EXPECT_EQ(near.end, 50000);
    EXPECT_EQ(near.ticks, 30);
}

TEST(Live, LockedWithEndNotAboveStartPlaysNothing) {
    Settings s = oneVoice(64, 64);
    FakeControl control;
    control.end = 64;
    Recorder rec;
    EXPECT_EQ(performCurrent(PerformanceMode::Live, s, rec, control), PerformanceEnd::Completed);
    EXPECT_TRUE(rec.noteOns().empty());
    EXPECT_EQ(rec.withStatus(0xC0).size(), 16u);
    EXPECT_EQ(rec.sent.size(), 16u + 16u + 16u);  // programs, pans, All Notes Off
    EXPECT_EQ(control.ticks, 0);
}

TEST(Live, SwitchedOffVoiceKeepsItsGridSilently) {
    Settings s = oneVoice(0, 64);
    s.voices[0].tied = 0;
    FakeControl control;
    control.end = 64;
    control.voiceSwitch = [](int v, int64_t tick) { return v == 0 && (tick < 16 || tick >= 40); };
    Recorder rec;
    performCurrent(PerformanceMode::Live, s, rec, control);
    std::vector<int> velocities;
    for (const Sent& x : rec.noteOns()) {
        if ((x.m.status & 0x0F) == 0) velocities.push_back(x.m.data2);
    }
    EXPECT_EQ(velocities, (std::vector<int>{88, 88, 0, 0, 0, 88, 88, 88}));
}

TEST(Live, AnEditSendsTheNewProgramPanAndTempoAtTheTopOfTheNextTick) {
    // What a play of the edited settings would send at its start. (That each voice then plays
    // as such a play, the players' tests show for random edits.)
    Settings s = oneVoice(100, 164);
    Settings edited = s;
    edited.voices[2].instrument = 33;
    edited.voices[2].pan = -10;
    edited.global.tempo = 200;
    FakeControl control;
    control.end = 164;
    control.edit = edited;
    control.editTick = 10;
    Recorder rec;
    performCurrent(PerformanceMode::Live, s, rec, control);

    std::vector<ShortMessage> at10;
    for (const Sent& x : rec.sent) {
        if (x.date == 10) at10.push_back(x.m);
    }
    EXPECT_EQ(at10, (std::vector<ShortMessage>{ShortMessage::programChange(2, 33), ShortMessage::pan(2, -10)}));
    EXPECT_EQ(rec.tempos, (std::vector<std::pair<int64_t, int32_t>>{{10, 200}}));
    EXPECT_EQ(control.tickLengths[9], tickLengthMs(96));
    EXPECT_EQ(control.tickLengths[10], tickLengthMs(200));
}

std::vector<Settings> threeEvents() {
    std::vector<Settings> events;
    for (int i = 0; i < 3; ++i) {
        Settings e = oneVoice(100 * i, 100 * i + 16);
        e.global.tempo = 96 + 24 * i;
        events.push_back(e);
    }
    return events;
}

TEST(Composition, PlaysFromTheChosenEventWithEachEventsTempo) {
    const auto events = threeEvents();
    Recorder rec;
    FakeControl control;
    EXPECT_EQ(performComposition(PerformanceMode::Composition, events, 1, rec, control), PerformanceEnd::Completed);
    ASSERT_EQ(rec.begins.size(), 2u);
    EXPECT_EQ(rec.begins[0], std::make_pair(1, int64_t{0}));
    EXPECT_EQ(rec.begins[1], std::make_pair(2, int64_t{16}));
    EXPECT_EQ(control.ticks, 32);
    EXPECT_EQ(control.tickLengths[0], tickLengthMs(120));
    EXPECT_EQ(control.tickLengths[31], tickLengthMs(144));
    EXPECT_EQ(rec.withStatus(0xC0).size(), 32u);  // every voice at both event starts
}

TEST(Composition, StopDuringAnEventSkipsTheRest) {
    const auto events = threeEvents();
    Recorder rec;
    FakeControl control;
    control.stopAfterTicks = 20;
    EXPECT_EQ(performComposition(PerformanceMode::Composition, events, 0, rec, control), PerformanceEnd::Stopped);
    EXPECT_EQ(rec.begins.size(), 2u);
    for (int ch = 0; ch < 16; ++ch) EXPECT_EQ(rec.sent[rec.sent.size() - 16 + static_cast<size_t>(ch)].m, ShortMessage::allNotesOff(ch));

    Recorder beyond;
    FakeControl c2;
    performComposition(PerformanceMode::Composition, events, 3, beyond, c2);
    EXPECT_TRUE(beyond.begins.empty());
    EXPECT_EQ(beyond.sent.size(), 16u);
}

TEST(Composition, TiedNoteHoldsAcrossTheEventBoundary) {
    // Event 0 ends on counter 1 (pitch 62), event 1 starts on counter 2 (also 62).
    std::vector<Settings> events = {oneVoice(0, 16), oneVoice(16, 24)};
    Recorder rec;
    FakeControl control;
    performComposition(PerformanceMode::Composition, events, 0, rec, control);
    std::vector<int64_t> dates;
    for (const Sent& x : rec.noteOns()) {
        if ((x.m.status & 0x0F) == 0) dates.push_back(x.date);
    }
    EXPECT_EQ(dates, (std::vector<int64_t>{0, 8}));
}

TEST(Composition, DisabledVoiceStrikesEveryStepSilently) {
    std::vector<Settings> events = {oneVoice(0, 32)};
    Recorder rec;
    FakeControl control;
    performComposition(PerformanceMode::Composition, events, 0, rec, control);
    int silent = 0;
    for (const Sent& x : rec.noteOns()) {
        if ((x.m.status & 0x0F) == 1) {
            EXPECT_EQ(x.m.data2, 0);
            ++silent;
        }
    }
    EXPECT_EQ(silent, 4);  // 60 62 62 64: struck at every step although tied
}

TEST(Composition, VoiceMovingChannelEndsItsKeyOnTheOldChannel) {
    std::vector<Settings> events = {oneVoice(0, 8), oneVoice(8, 16)};
    events[0].voices[0].channel = 3;
    events[1].voices[0].channel = 5;
    events[1].voices[0].startNote = 70;
    for (PerformanceMode mode : {PerformanceMode::Composition, PerformanceMode::ExportComposition}) {
        Recorder rec;
        FakeControl control;
        performComposition(mode, events, 0, rec, control);
        auto offs = rec.withStatus(0x80);
        ASSERT_FALSE(offs.empty());
        EXPECT_EQ(offs[0].m, ShortMessage::noteOff(3, 60, 0));
        if (mode == PerformanceMode::ExportComposition) {
            // The closing note offs go to the channel of the sounding key.
            EXPECT_EQ(offs.size(), 1u + 128u);
            EXPECT_EQ(offs.back().m, ShortMessage::noteOff(5, 127, 0));
        }
    }
}

TEST(Composition, AVoiceOffInAnEventRemembersNoTieForTheNext) {
    // Event 0 plays counters 0 and 1 (60, 62) with voice 1 off; event 1 starts on counter 2,
    // also 62, with the voice on: it strikes, the silent 62 is no note to hold.
    std::vector<Settings> events = {oneVoice(0, 16), oneVoice(16, 24)};
    events[0].voices[0].enabled = 0;
    for (PerformanceMode mode : {PerformanceMode::Composition, PerformanceMode::ExportComposition}) {
        Recorder rec;
        FakeControl control;
        performComposition(mode, events, 0, rec, control);
        std::vector<std::pair<int64_t, int>> strikes;
        for (const Sent& x : rec.noteOns()) {
            if (x.m.status == 0x90) strikes.emplace_back(x.date, x.m.data2);
        }
        const std::vector<std::pair<int64_t, int>> expected = {{0, 0}, {8, 0}, {16, 88}};
        EXPECT_EQ(strikes, expected);
    }
}

TEST(ExportComposition, ClosingNoteOffsGoToTheChannelTheKeyWasStruckOn) {
    // The tied 62 struck on channel 3 in event 0 holds through event 1, where the voice has
    // moved to channel 5 and strikes nothing.
    std::vector<Settings> events = {oneVoice(0, 16), oneVoice(16, 24)};
    events[0].voices[0].channel = 3;
    events[1].voices[0].channel = 5;
    Recorder rec;
    PerformanceControl control;
    performComposition(PerformanceMode::ExportComposition, events, 0, rec, control);
    const auto offs = rec.withStatus(0x80);
    ASSERT_EQ(offs.size(), 1u + 128u);
    for (size_t i = 1; i < offs.size(); ++i) EXPECT_EQ(offs[i].m, ShortMessage::noteOff(3, static_cast<int>(i - 1), 0));
}

TEST(ExportComposition, UsedVoicesGetProgramsAtEveryEventAndSilentNotesWhereOff) {
    std::vector<Settings> events = {oneVoice(0, 16), oneVoice(0, 16), oneVoice(0, 16)};
    events[1].voices[4].enabled = 1;
    Recorder rec;
    PerformanceControl control;
    performComposition(PerformanceMode::ExportComposition, events, 0, rec, control);
    int programsVoice4 = 0;
    for (const Sent& x : rec.withStatus(0xC0)) programsVoice4 += (x.m.status & 0x0F) == 4;
    EXPECT_EQ(programsVoice4, 3);
    std::vector<std::pair<int64_t, int>> voice4;
    for (const Sent& x : rec.noteOns()) {
        if ((x.m.status & 0x0F) == 4) voice4.emplace_back(x.date, x.m.data2);
    }
    const std::vector<std::pair<int64_t, int>> expected = {{0, 0}, {8, 0}, {16, 88}, {24, 88}, {32, 0}, {40, 0}};
    EXPECT_EQ(voice4, expected);
    EXPECT_EQ(rec.begins.size(), 3u);
    EXPECT_EQ(rec.endDate, 48);
    // Voices never enabled are not written at all.
    for (const Sent& x : rec.sent) EXPECT_TRUE((x.m.status & 0x0F) == 0 || (x.m.status & 0x0F) == 4);
}

TEST(Audition, PlaysOneEventAndSweepsEveryKey) {
    auto events = threeEvents();
    events[1].voices[3].enabled = 0;
    Recorder rec;
    FakeControl control;
    PerformanceOptions options;
    options.mode = PerformanceMode::Audition;
    options.firstEvent = 1;
    perform(options, Settings{}, events, rec, control);
    EXPECT_EQ(rec.begins.size(), 1u);
    EXPECT_EQ(control.ticks, 16);
    const auto offs = rec.withStatus(0x80);
    ASSERT_GE(offs.size(), 2048u);
    for (int ch = 0; ch < 16; ++ch) {
        for (int key = 0; key < 128; ++key) {
            EXPECT_EQ(offs[offs.size() - 2048 + static_cast<size_t>(ch * 128 + key)].m, ShortMessage::noteOff(ch, key, 0));
        }
    }
    // Event 1 plays counters 13 and 14, both pitch 65. An off voice follows the tie rule
    // like the live player: one silent strike, then held (composition playback strikes twice).
    int silent = 0;
    for (const Sent& x : rec.noteOns()) silent += x.m.status == 0x93 && x.m.data2 == 0;
    EXPECT_EQ(silent, 1);
    Recorder comp;
    FakeControl c2;
    performComposition(PerformanceMode::Composition, std::span(events).subspan(1, 1), 0, comp, c2);
    int struck = 0;
    for (const Sent& x : comp.noteOns()) struck += x.m.status == 0x93;
    EXPECT_EQ(struck, 2);
}

TEST(ShortMessages, PackingAndRanges) {
    EXPECT_EQ(ShortMessage::noteOn(2, 60, 100).packed(), 0x00643C92u);
    EXPECT_EQ(ShortMessage::programChange(1, 5).size(), 2);
    EXPECT_EQ(ShortMessage::pan(0, 63).data2, 127);
    EXPECT_EQ(ShortMessage::pan(0, -64).data2, 0);
    EXPECT_EQ(ShortMessage::allNotesOff(15), (ShortMessage{0xBF, 123, 0}));
    // Values above 127 are clamped: no data byte may look like a status byte.
    for (int32_t v : {128, 200, 255, 300}) {
        EXPECT_EQ(ShortMessage::noteOn(0, v, v), (ShortMessage{0x90, 127, 127})) << v;
        EXPECT_EQ(ShortMessage::noteOff(0, v, v), (ShortMessage{0x80, 127, 127})) << v;
        EXPECT_EQ(ShortMessage::programChange(0, v), (ShortMessage{0xC0, 127, 0})) << v;
        EXPECT_EQ(ShortMessage::pan(0, v), (ShortMessage{0xB0, 10, 127})) << v;
    }
}

}  // namespace
}  // namespace tarrowin
