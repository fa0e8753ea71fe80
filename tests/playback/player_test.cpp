#include "playback/player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

#include "engine/retuning.h"
#include "engine/tables.h"
#include "fake_clock.h"
#include "playback/recording_backend.h"
#include "playback_test_support.h"

namespace tarrowin {
namespace {

using namespace std::chrono_literals;
using testing::FakeClock;
using testing::RecordingListener;
using testing::ReferenceRun;
using testing::Timed;

// Several voices that strike on different grids, one tied and one not, one percussion.
Settings liveSettings(int32_t start, int32_t end, int32_t tempo = 120) {
    Settings s = Settings::defaults();
    s.global.tempo = tempo;
    s.global.startCounter = start;
    s.global.endCounter = end;
    auto& v = s.voices;
    v[0].enabled = 1;
    v[0].tied = 0;
    v[1].enabled = 1;
    v[1].setAlgorithm(Algorithm::LogisticMap);
    v[1].setNoteValue(11, 4.0f);
    v[1].instrument = 40;
    v[1].pan = -20;
    v[2].enabled = 1;
    v[2].setAlgorithm(Algorithm::Henon);
    v[2].setNoteValue(11, 3.0f);
    v[2].offset = -1;
    v[9].enabled = 1;  // channel 9: percussion
    v[9].percussionKey = 3;
    return s;
}

std::vector<Settings> threeEvents() {
    std::vector<Settings> events;
    const int32_t tempos[] = {120, 96, 60};
    for (int i = 0; i < 3; ++i) {
        Settings e = liveSettings(10 * i, 10 * i + 16, tempos[i]);
        e.voices[0].instrument = 10 * i;
        e.voices[3].enabled = i == 1 ? 1 : 0;  // struck at velocity 0 outside event 1
        events.push_back(e);
    }
    return events;
}

// The recording device, where sending a message takes `sendTakes` of the test's clock.
class SlowDevice final : public MidiBackend {
   public:
    SlowDevice(FakeClock& clock, const Clock::Duration& sendTakes)
        : recorder(clock, {"Recorder"}, true), clock_(clock), sendTakes_(sendTakes) {}
    std::vector<std::string> listPorts() override { return recorder.listPorts(); }
    OpenResult open(const std::string& name, const DeviceSetup& setup) override { return recorder.open(name, setup); }
    void send(const ShortMessage& m) override { sendAt(m, clock_.now()); }
    void sendAt(const ShortMessage& m, Clock::Duration time) override {
        recorder.sendAt(m, time);
        if (sendTakes_.count() > 0) clock_.advanceBy(sendTakes_);
    }
    void sendSysex(std::span<const uint8_t> m) override { recorder.sendSysex(m); }
    void close() override { recorder.close(); }
    bool isDefaultRoute() const override { return true; }

    RecordingBackend recorder;

   private:
    FakeClock& clock_;
    const Clock::Duration& sendTakes_;
};

class PlayerTest : public ::testing::Test {
   protected:
    void SetUp() override {
        auto slow = std::make_unique<SlowDevice>(clock, sendTakes);
        device = &slow->recorder;
        std::vector<std::unique_ptr<MidiBackend>> backends;
        backends.push_back(std::move(slow));
        output = std::make_unique<MidiOutput>(std::move(backends));
        output->countDevices();
        player = std::make_unique<Player>(*output, clock, PlayerOptions{false});
        player->setListener(&listener);
    }
    void TearDown() override {
        clock.runFree();
        player.reset();
        EXPECT_EQ(device->sentWhileClosed(), 0);
    }

    PlayResult play(PlayRequest request) {
        start = clock.now();
        PlayResult r = player->play(std::move(request));
        if (r.started()) ++runs;
        return r;
    }
    static PlayRequest live(const Settings& s, bool lock) {
        PlayRequest r;
        r.current = s;
        r.lock = lock;
        return r;
    }
    static PlayRequest composition(std::vector<Settings> events, int first) {
        PlayRequest r;
        r.mode = PerformanceMode::Composition;
        r.events = std::move(events);
        r.firstEvent = first;
        return r;
    }
    std::vector<Timed> recorded() const { return testing::timedSince(device->records(), start); }
    void finishRun() {
        player->waitForWorker();
        ASSERT_TRUE(listener.waitFor([&] { return listener.finished == runs; }));
    }

    FakeClock clock;
    Clock::Duration sendTakes{0};
    RecordingBackend* device = nullptr;
    std::unique_ptr<MidiOutput> output;
    RecordingListener listener;
    std::unique_ptr<Player> player;
    Clock::Duration start{};
    int runs = 0;
};

bool isAllNotesOff(const ShortMessage& m) { return (m.status & 0xF0) == 0xB0 && m.data1 == 123; }

// A device that tunes keys itself, as the built-in synthesizer does.
class KeyTuningDevice final : public MidiBackend {
   public:
    explicit KeyTuningDevice(Clock& clock) : recorder(clock, {"Key tuning"}) {}
    std::vector<std::string> listPorts() override { return recorder.listPorts(); }
    OpenResult open(const std::string& name, const DeviceSetup& setup) override { return recorder.open(name, setup); }
    void send(const ShortMessage& m) override { recorder.send(m); }
    void sendSysex(std::span<const uint8_t> m) override { recorder.sendSysex(m); }
    void close() override { recorder.close(); }
    bool retunesKeys() const override { return true; }

    RecordingBackend recorder;
};

TEST_F(PlayerTest, ATunedPlaySendsItsTuningOrHandsItToADeviceThatTunesKeys) {
    std::vector<std::unique_ptr<MidiBackend>> backends;
    auto external = std::make_unique<RecordingBackend>(clock, std::vector<std::string>{"External"});
    auto tuning = std::make_unique<KeyTuningDevice>(clock);
    RecordingBackend& externalDevice = *external;
    RecordingBackend& tuningDevice = tuning->recorder;
    backends.push_back(std::move(external));
    backends.push_back(std::move(tuning));
    MidiOutput out(std::move(backends));
    out.countDevices();
    RecordingListener takes;  // set before any play: a play's cooldown thread reports to it
    Player tuned(out, clock, PlayerOptions{false});
    tuned.setListener(&takes);
    clock.runFree();
    // The cooldown after a play runs on its own thread.
    const auto idle = [&tuned] {
        for (int i = 0; i < 5000 && !tuned.canPlay(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return tuned.canPlay();
    };

    auto settings = std::make_shared<TuningSettings>();
    settings->tuning = *Tuning::fromText("five\n5\n240.\n480.\n720.\n960.\n2/1\n").value;
    const Settings s = liveSettings(10, 40);
    PlayRequest request = live(s, true);
    request.tuning = settings;
    PerformanceOptions options;
    options.mode = PerformanceMode::Live;

    // An external synthesizer: the SysEx before anything else, then the run's stream.
    out.chooseDevice(0);
    ASSERT_TRUE(tuned.play(request).started());
    tuned.waitForWorker();
    const Retuning::Planned mts = Retuning::plan(*settings, TuningOutput::Mts, options, s, {});
    ReferenceRun ref;
    ref.retuning = mts.retuning.get();
    ref.end = 40;
    ref.run(PerformanceMode::Live, s, {});
    const auto records = externalDevice.records();
    ASSERT_GT(records.size(), static_cast<size_t>(kMtsMessages));
    for (size_t i = 0; i < records.size(); ++i) EXPECT_EQ(!records[i].sysex.empty(), i < kMtsMessages) << i;
    EXPECT_EQ(records.front().sysex, std::vector<uint8_t>(mts.retuning->startSysex()[0].data().begin(),
                                                          mts.retuning->startSysex()[0].data().end()));
    std::vector<ShortMessage> want;
    for (const Timed& t : ref.messages) want.push_back(t.message);
    EXPECT_EQ(externalDevice.messages(), want);
    EXPECT_EQ(externalDevice.lastSetup().retuning, nullptr);

    // The synthesizer gets the keys as it opens, and the untuned stream; a take of its play
    // begins with the tuning's SysEx, so that the file replays tuned on another synthesizer.
    ASSERT_TRUE(idle());
    out.chooseDevice(1);
    tuned.setRecording(true);
    ASSERT_TRUE(tuned.play(request).started());
    tuned.waitForWorker();
    ASSERT_TRUE(takes.waitFor([&] { return takes.takes.size() == 1; }));
    {
        auto lock = takes.lock();
        const std::vector<TakeEntry>& take = takes.takes[0].entries;
        std::vector<TakeEntry> sysex;
        for (const SysexMessage& m : mts.retuning->startSysex()) {
            for (size_t part = 0; part < TakeEntry::sysexParts(m); ++part) sysex.push_back(TakeEntry::sysex(0, m, part));
        }
        ASSERT_GT(take.size(), sysex.size());
        EXPECT_EQ(std::vector<TakeEntry>(take.begin() + 1, take.begin() + 1 + static_cast<std::ptrdiff_t>(sysex.size())), sysex);
    }
    tuned.setRecording(false);
    ReferenceRun plain;
    plain.end = 40;
    plain.run(PerformanceMode::Live, s, {});
    want.clear();
    for (const Timed& t : plain.messages) want.push_back(t.message);
    EXPECT_EQ(tuningDevice.messages(), want);
    EXPECT_EQ(tuningDevice.records().size(), want.size());
    ASSERT_NE(tuningDevice.lastSetup().retuning, nullptr);
    EXPECT_TRUE(tuningDevice.lastSetup().retuning->channelTuned(0));
    EXPECT_EQ(tuningDevice.lastSetup().retuning->output(), TuningOutput::Device);

    // Pitch bend cannot serve two tuned voices on one channel: refused, nothing opened.
    ASSERT_TRUE(idle());
    settings->method = TuningMethod::PitchBend;
    request.current.voices[1].channel = 0;
    out.chooseDevice(0);
    const int opens = externalDevice.opens();
    const PlayResult refused = tuned.play(request);
    EXPECT_EQ(refused.status, PlayStatus::TuningConflict);
    EXPECT_NE(refused.message.find("Voices 1 and 2 are tuned by pitch bend"), std::string::npos) << refused.message;
    EXPECT_EQ(externalDevice.opens(), opens);
    EXPECT_FALSE(tuned.isPlaying());
}

TEST_F(PlayerTest, ATickTheWorkerReachesLateIsReportedAtTheEnd) {
    ASSERT_TRUE(play(live(liveSettings(0, 0), false)).started());
    clock.stepTicks(3);
    // A busy machine holds the worker up: it wakes 5 ms after a tick's time, once.
    clock.advanceTo(clock.waitForSleepers() + 5ms);
    clock.stepTicks(3);
    player->stop();
    clock.releaseNext();
    finishRun();
    auto lock = listener.lock();
    EXPECT_EQ(listener.finish.lateTicks, 1);
    EXPECT_NEAR(listener.finish.worstLateMs, 5.0, 0.001);
    EXPECT_EQ(lateTicksReport(listener.finish), "1 tick went out more than 1 ms after its time (the latest 5.0 ms after)");
    PlaybackFinish three;
    three.lateTicks = 3;
    three.worstLateMs = 12.34;
    EXPECT_EQ(lateTicksReport(three), "3 ticks went out more than 1 ms after their time (the latest 12.3 ms after)");
    EXPECT_EQ(lateTicksReport(PlaybackFinish{}), "");
}

TEST_F(PlayerTest, LiveWorkerSendsTheStreamAtItsTicksAndClosesAfterAllNotesOff) {
    const Settings s = liveSettings(10, 90);
    clock.runFree();
    ASSERT_TRUE(play(live(s, true)).started());
    finishRun();

    ReferenceRun ref;
    ref.end = 90;
    ref.run(PerformanceMode::Live, s, {});
    const auto got = recorded();
    ASSERT_EQ(got.size(), ref.messages.size());
    EXPECT_EQ(got, ref.messages);
    // 80 ticks of 62 ms; the final messages come one tick after the last.
    EXPECT_EQ(got.back().time, 80 * 62ms);
    for (size_t i = got.size() - 16; i < got.size(); ++i) EXPECT_TRUE(isAllNotesOff(got[i].message));

    EXPECT_FALSE(device->isOpen());
    EXPECT_EQ(device->closes(), 1);
    EXPECT_FALSE(player->isPlaying());
    auto lock = listener.lock();
    EXPECT_TRUE(listener.finish.stoppedItself);
    EXPECT_EQ(listener.finish.end, PerformanceEnd::Completed);
}

TEST_F(PlayerTest, UnlockedEndFollowsThePositionAndStopsGrowingAt50000) {
    ASSERT_TRUE(play(live(liveSettings(100, 7), false)).started());
    clock.stepTicks(49);  // ticks 100..149 played, the worker waits for the 51st
    player->stop();
    clock.releaseNext();
    finishRun();
    EXPECT_EQ(player->endCounter(), 150);
    {
        auto lock = listener.lock();
        EXPECT_EQ(listener.finish.endCounter, 150);
        EXPECT_FALSE(listener.finish.stoppedItself);
        EXPECT_EQ(listener.finish.end, PerformanceEnd::Stopped);
    }
    // No note after the 50th tick; All Notes Off at the 51st.
    const auto got = recorded();
    for (const Timed& t : got) {
        if (!isAllNotesOff(t.message)) {
            EXPECT_LE(t.time, 49 * 62ms);
        }
    }
    EXPECT_EQ(got.back().time, 50 * 62ms);
    EXPECT_TRUE(isAllNotesOff(got.back().message));
}

TEST_F(PlayerTest, EndCounterStopsAt50000WhilePositionGoesOn) {
    ASSERT_TRUE(play(live(liveSettings(49990, 0), false)).started());
    clock.stepTicks(19);
    player->stop();
    clock.releaseNext();
    finishRun();
    EXPECT_EQ(player->endCounter(), 50000);
    EXPECT_EQ(player->position(), 50010);
}

TEST_F(PlayerTest, LockedEndNotAfterStartPlaysNothingAndStopsItself) {
    for (int32_t end : {100, 40}) {
        clock.runFree();
        device->clear();
        ASSERT_TRUE(player->canPlay() || listener.waitFor([&] { return player->canPlay(); }));
        ASSERT_TRUE(play(live(liveSettings(100, end), true)).started());
        player->waitForWorker();
        const auto got = device->messages();
        ASSERT_EQ(got.size(), 48u);  // program changes, pans, All Notes Off
        for (int i = 0; i < 16; ++i) {
            EXPECT_EQ(got[static_cast<size_t>(i)].status & 0xF0, 0xC0);
            EXPECT_EQ(got[static_cast<size_t>(16 + i)].data1, 10);
            EXPECT_TRUE(isAllNotesOff(got[static_cast<size_t>(32 + i)]));
        }
        EXPECT_FALSE(player->isPlaying());
        EXPECT_FALSE(device->isOpen());
        ASSERT_TRUE(listener.waitFor([&] { return listener.finished == runs; }));
        auto lock = listener.lock();
        EXPECT_TRUE(listener.finish.stoppedItself);
    }
}

TEST_F(PlayerTest, VoiceSwitchedOffKeepsItsGridAtVelocityZeroAndSoundsWhenBackOn) {
    const Settings s = liveSettings(0, 0);
    ASSERT_TRUE(play(live(s, false)).started());
    clock.stepTicks(20);  // ticks 0..20 played
    player->setVoiceOn(0, false);
    clock.stepTicks(20);  // ticks 21..40 with voice 1 off
    player->setVoiceOn(0, true);
    clock.stepTicks(20);  // ticks 41..60
    player->stop();
    clock.releaseNext();
    finishRun();

    ReferenceRun ref;
    ref.lock = false;
    ref.stopAtDate = 61;
    ref.on = [](int v, int64_t date, bool snapshot) { return v == 0 ? date <= 20 || date > 40 : snapshot; };
    ref.run(PerformanceMode::Live, s, {});
    const auto got = recorded();
    EXPECT_EQ(got, ref.messages);

    // Voice 1 ("All Notes", a quarter note) strikes every 8 ticks whatever its switch.
    std::vector<std::pair<int64_t, int>> strikes;
    for (const Timed& t : got) {
        if (t.message.status == 0x90) strikes.emplace_back(t.time / 62ms, t.message.data2);
    }
    const std::vector<std::pair<int64_t, int>> expected = {{0, 88},  {8, 88},  {16, 88}, {24, 0},
                                                           {32, 0},  {40, 0},  {48, 88}, {56, 88}};
    EXPECT_EQ(strikes, expected);
}

TEST_F(PlayerTest, CompositionFromEventOnePlaysEventsOneAndTwo) {
    const auto events = threeEvents();
    clock.runFree();
    ASSERT_TRUE(play(composition(events, 1)).started());
    finishRun();

    ReferenceRun ref;
    ref.run(PerformanceMode::Composition, {}, events, 1);
    EXPECT_EQ(ref.events, (std::vector<int>{1, 2}));
    EXPECT_EQ(recorded(), ref.messages);
    // Event 1: 16 ticks of 78 ms, event 2: 16 ticks of 125 ms.
    EXPECT_EQ(recorded().back().time, 16 * 78ms + 16 * 125ms);
    auto lock = listener.lock();
    EXPECT_EQ(listener.events, (std::vector<int>{1, 2}));
    EXPECT_EQ(listener.finish.lastEvent, 2);
    EXPECT_TRUE(listener.finish.stoppedItself);
}

TEST_F(PlayerTest, WorkInATickDoesNotMoveTheNextDeadlines) {
    // Sending takes time (32 messages at an event's start, up to 32 at a tick), and the
    // worker wakes 5 ms late. The messages still carry the times of their ticks, for a
    // device that places them in time.
    sendTakes = 500us;
    const auto events = threeEvents();
    ASSERT_TRUE(play(composition({events[0], events[1]}, 0)).started());
    std::vector<Clock::Duration> ticks{start};
    for (int tick = 0; tick < 32; ++tick) {
        ticks.push_back(ticks.back() + (tick < 16 ? 62ms : 78ms));
        const Clock::Duration next = clock.waitForSleepers();
        EXPECT_EQ(next, ticks.back()) << "tick " << tick;
        clock.advanceTo(next + 5ms);
    }
    finishRun();
    std::vector<Clock::Duration> stamps;
    for (const auto& r : device->records()) {
        ASSERT_GE(r.time, r.stamp);
        if (stamps.empty() || stamps.back() != r.stamp) stamps.push_back(r.stamp);
    }
    EXPECT_GT(stamps.size(), 10u);
    EXPECT_TRUE(std::includes(ticks.begin(), ticks.end(), stamps.begin(), stamps.end()));
}

TEST_F(PlayerTest, StopDuringEventOneSkipsEventTwoAndPlayWaitsOneTickOfEventOne) {
    const auto events = threeEvents();
    ASSERT_TRUE(play(composition(events, 0)).started());
    clock.stepTicks(16 + 4);  // event 0, then five ticks of event 1
    player->stop();
    const Clock::Duration stoppedAt = clock.now();
    // The worker and the cooldown both wait for the end of the tick.
    ASSERT_TRUE(clock.sleepersArrive(2));
    EXPECT_FALSE(player->canPlay());
    EXPECT_EQ(play(composition(events, 0)).status, PlayStatus::Busy);
    clock.advanceTo(stoppedAt + 77ms);
    EXPECT_FALSE(player->canPlay());
    clock.advanceTo(stoppedAt + 78ms);  // one tick at tempo 96
    finishRun();
    ASSERT_TRUE(listener.waitFor([&] { return listener.available == 1; }));
    EXPECT_TRUE(player->canPlay());
    {
        auto lock = listener.lock();
        EXPECT_EQ(listener.events, (std::vector<int>{0, 1}));
        EXPECT_EQ(listener.finish.lastEvent, 1);
        EXPECT_FALSE(listener.finish.stoppedItself);
    }
    const auto got = device->messages();
    ASSERT_GE(got.size(), 16u);
    for (size_t i = got.size() - 16; i < got.size(); ++i) EXPECT_TRUE(isAllNotesOff(got[i]));
    EXPECT_FALSE(device->isOpen());

    // The next Play starts a new worker on the freed device.
    clock.runFree();
    ASSERT_TRUE(play(composition(events, 2)).started());
    finishRun();
    EXPECT_EQ(device->opens(), 2);
}

TEST_F(PlayerTest, ThePositionNamesTheFirstEventBeforeTheWorkerReachesIt) {
    clock.runFree();
    {
        auto held = listener.lock();  // the worker waits in its first report
        ASSERT_TRUE(play(composition(threeEvents(), 2)).started());
        EXPECT_EQ(player->currentEvent(), 2);
        EXPECT_EQ(player->position(), 20);
    }
    finishRun();
}

TEST_F(PlayerTest, AWorkerThatStopsItselfStartsTheCooldownToo) {
    clock.runFree();
    ASSERT_TRUE(play(live(liveSettings(0, 8, 96), true)).started());
    finishRun();  // stopped itself at its locked End: one cooldown
    ASSERT_TRUE(listener.waitFor([&] { return listener.available == 1; }));
    EXPECT_EQ(player->tickLength(), 0);
    EXPECT_TRUE(player->canPlay());
}

TEST_F(PlayerTest, DeviceErrorsGiveTheirMessagesAndNothingStarts) {
    const std::pair<OpenStatus, std::string> cases[] = {
        {OpenStatus::Allocated, "The device is already in use, free it and try again"},
        {OpenStatus::NoMemory, "Could not allocate memory for the device"},
        {OpenStatus::InvalidParam, "Invalid pointer!"},
        {OpenStatus::Failed, "No SoundFont here"},
    };
    for (const auto& [status, text] : cases) {
        device->refuseOpens(status, "No SoundFont here");
        const PlayResult r = play(live(liveSettings(0, 64), true));
        EXPECT_EQ(r.status, PlayStatus::DeviceError);
        EXPECT_EQ(r.message, text);
        EXPECT_FALSE(player->isPlaying());
        EXPECT_TRUE(player->canPlay());
    }
    player->waitForWorker();
    EXPECT_TRUE(device->records().empty());
    auto lock = listener.lock();
    EXPECT_EQ(listener.started, 0);
}

TEST_F(PlayerTest, AuditionPlaysOneEventAndSweepsEveryKey) {
    auto events = threeEvents();
    clock.runFree();
    PlayRequest r;
    r.mode = PerformanceMode::Audition;
    r.events = events;
    r.firstEvent = 1;
    ASSERT_TRUE(play(r).started());
    finishRun();

    ReferenceRun ref;
    ref.run(PerformanceMode::Audition, {}, events, 1);
    const auto got = recorded();
    EXPECT_EQ(got, ref.messages);
    ASSERT_GE(got.size(), 2048u);
    EXPECT_EQ(got[got.size() - 2048].message, ShortMessage::noteOff(0, 0, 0));
    EXPECT_EQ(got.back().message, ShortMessage::noteOff(15, 127, 0));

    r.firstEvent = 3;  // no such event: nothing happens
    ASSERT_TRUE(listener.waitFor([&] { return player->canPlay(); }));
    EXPECT_EQ(player->play(r).status, PlayStatus::NoEvent);
    EXPECT_EQ(device->opens(), 1);
}

TEST_F(PlayerTest, PercussionChannelOfTheOutputReachesStreamAndDevice) {
    output->setPercussionChannel(2);
    Settings s = liveSettings(0, 16);
    s.voices[2].percussionKey = 5;
    clock.runFree();
    ASSERT_TRUE(play(live(s, true)).started());
    finishRun();
    EXPECT_EQ(device->lastSetup().percussionChannel, 2);
    ReferenceRun ref;
    ref.end = 16;
    ref.run(PerformanceMode::Live, s, {}, 0, 2);
    EXPECT_EQ(recorded(), ref.messages);
    const auto got = device->messages();
    EXPECT_TRUE(std::any_of(got.begin(), got.end(), [](const ShortMessage& m) { return m.status == 0x92 && m.data1 == 40; }));
}

// The messages of a run with their dates in ticks.
struct DatedRun final : PerformanceSink, PerformanceControl {
    std::vector<std::pair<int64_t, ShortMessage>> sent;
    int32_t end = 0;
    void message(int64_t date, const ShortMessage& m) override { sent.emplace_back(date, m); }
    int32_t endCounter() override { return end; }
};

using Dated = std::vector<std::pair<int64_t, ShortMessage>>;

// The note messages on one channel from tick `from` on.
Dated notesOn(const Dated& all, int channel, int64_t from) {
    Dated out;
    for (const auto& [date, m] : all) {
        const int kind = m.status & 0xF0;
        if (date >= from && (m.status & 0x0F) == channel && (kind == 0x80 || kind == 0x90)) out.emplace_back(date, m);
    }
    return out;
}

Settings randomSettings(std::mt19937& rng) {
    const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    Settings s = Settings::defaults();
    s.global.tempo = pick(40, 300);
    s.global.startCounter = pick(0, 400);
    for (int v = 0; v < kVoices; ++v) {
        VoiceSettings& x = s.voices[static_cast<size_t>(v)];
        x.enabled = pick(0, 2) != 0 ? 1 : 0;
        x.setAlgorithm(static_cast<Algorithm>(pick(0, kAlgorithms - 1)));
        x.param1 = pick(2, 60);
        x.param2 = pick(1, 60);
        x.offset = pick(-3, 3);
        x.setNoteValue(pick(0, 10), 0.0f);
        x.setOctaves(pick(0, 3));
        x.setScaleIndex(pick(0, 14));
        x.startNote = pick(36, 84);
        x.tied = pick(0, 1);
        x.modulate = pick(0, 1);
        x.modulateEvery = pick(1, 6);  // "Every": the "Random" run lengths differ from run to run
    }
    return s;
}

// One edit of a random kind to voice v.
void editVoice(VoiceSettings& x, std::mt19937& rng) {
    const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    switch (pick(0, 8)) {
        case 0: x.param1 = pick(61, 90); break;
        case 1: x.param2 = pick(61, 90); break;
        case 2: x.offset = pick(4, 9); break;
        case 3: x.setNoteValue(kOtherNoteValue, static_cast<float>(pick(1, 20))); break;
        case 4: x.setAlgorithm(static_cast<Algorithm>((static_cast<int>(x.algorithm) + pick(1, 7)) % kAlgorithms)); break;
        case 5: x.setScaleIndex((x.scaleIndex + pick(1, 13)) % 15); break;
        case 6: x.startNote = pick(30, 35); break;
        case 7: x.setOctaves((x.octavesIndex + pick(1, 3)) % 4); break;
        default: x.modulate = 1 - x.modulate; break;
    }
}

TEST_F(PlayerTest, AnEditSoundsFromTheNextTickAsAPlayOfTheEditedSettingsFromThere) {
    // Random documents, edited at a random tick: a changed voice plays from there what the
    // export of the edited settings from that counter writes; the others go on unchanged.
    constexpr int64_t kAfter = 40;
    std::mt19937 rng(20240611);
    for (int round = 0; round < 25; ++round) {
        SCOPED_TRACE(round);
        const Settings s = randomSettings(rng);
        Settings edited = s;
        const int changes = std::uniform_int_distribution<int>(1, 3)(rng);
        for (int i = 0; i < changes; ++i) editVoice(edited.voices[std::uniform_int_distribution<size_t>(0, 15)(rng)], rng);
        if (round % 2 == 0) edited.global.tempo = std::uniform_int_distribution<int>(40, 300)(rng);
        const int64_t at = std::uniform_int_distribution<int64_t>(1, 30)(rng);

        device->clear();
        ASSERT_TRUE(listener.waitFor([&] { return player->canPlay(); }));
        ASSERT_TRUE(play(live(s, false)).started());
        clock.stepTicks(static_cast<int>(at - 1));  // ticks 0 .. at-1 played
        player->publishSettings(edited);
        clock.stepTicks(static_cast<int>(kAfter));
        player->stop();
        clock.releaseNext();
        finishRun();
        clock.runFree();  // the cooldown
        ASSERT_TRUE(listener.waitFor([&] { return player->canPlay(); }));
        clock.hold();

        // The device's messages dated in ticks: before the edit at the old tempo, after at the new.
        const auto before = std::chrono::milliseconds(tickLengthMs(s.global.tempo));
        const auto after = std::chrono::milliseconds(tickLengthMs(edited.global.tempo));
        Dated got;
        for (const auto& r : device->records()) {
            const auto t = r.stamp - start;
            got.emplace_back(t < at * before ? t / before : at + (t - at * before) / after, r.message);
        }

        DatedRun unedited;
        PerformanceOptions o;
        unedited.end = s.global.startCounter + static_cast<int32_t>(at + kAfter);
        perform(o, s, {}, unedited, unedited);
        Settings from = edited;
        from.global.startCounter = s.global.startCounter + static_cast<int32_t>(at);
        from.global.endCounter = from.global.startCounter + static_cast<int32_t>(kAfter);
        DatedRun exported;
        o.mode = PerformanceMode::ExportCurrent;
        perform(o, from, {}, exported, exported);

        for (int v = 0; v < kVoices; ++v) {
            SCOPED_TRACE(v);
            const auto& voice = edited.voices[static_cast<size_t>(v)];
            const int ch = voice.channel;
            if (sameLine(s.voices[static_cast<size_t>(v)], voice)) {
                EXPECT_EQ(notesOn(got, ch, 0), notesOn(unedited.sent, ch, 0));
                continue;
            }
            // What sounds from the edit on: the note offs carry no velocity in the file, the
            // first one ends the key struck before the edit, and the file's last ones close it.
            Dated live;
            for (auto [date, m] : notesOn(got, ch, at)) {
                if (m.data2 == 0) continue;
                if ((m.status & 0xF0) == 0x80) m.data2 = 0;
                live.emplace_back(date, m);
            }
            if (!live.empty() && (live.front().second.status & 0xF0) == 0x80) live.erase(live.begin());
            Dated file;
            for (const auto& [date, m] : notesOn(exported.sent, ch, 0)) {
                if (date < kAfter) file.emplace_back(date + at, m);
            }
            EXPECT_EQ(live, file);
        }
    }
}

TEST_F(PlayerTest, AStormOfEditsNeverHoldsUpTheWorker) {
    Settings s = liveSettings(0, 0);
    ASSERT_TRUE(play(live(s, false)).started());
    std::atomic<bool> done{false};
    std::atomic<int> published{0};
    std::thread storm([&] {
        Settings e = s;
        for (int k = 0; !done.load(); ++k) {
            e.voices[static_cast<size_t>(k % kVoices)].param1 = 2 + k % 500;
            e.global.tempo = 20 + k % 320;
            player->publishSettings(e);
            published.fetch_add(1);
        }
    });
    for (int tick = 0; tick < 200; ++tick) {
        // Edits between every two ticks, however a busy machine schedules the storm.
        for (const int before = published.load(); published.load() < before + 2;) std::this_thread::yield();
        clock.releaseNext();
        ASSERT_TRUE(clock.sleepersArrive(1)) << "the worker did not come back for tick " << tick;
    }
    done.store(true);
    storm.join();
    player->stop();
    clock.releaseNext();
    finishRun();
}

TEST_F(PlayerTest, ATakeHoldsWhatReachedTheDeviceTickByTick) {
    // Recording on from Play: a voice switched off and on, an edit that moves the tempo.
    const Settings s = liveSettings(0, 0);
    Settings edited = s;
    edited.voices[1].param1 = 9;
    edited.global.tempo = 200;
    player->setRecording(true);
    ASSERT_TRUE(play(live(s, false)).started());
    clock.stepTicks(9);
    player->setVoiceOn(0, false);
    clock.stepTicks(10);
    player->publishSettings(edited);
    player->setVoiceOn(0, true);
    clock.stepTicks(20);
    player->stop();
    clock.releaseNext();
    finishRun();

    // Its tempo is the ticks as they were played: 62 ms, then 37 ms from tick 20 on.
    std::vector<TakeEntry> expected = {TakeEntry::begin(0, s.global, 8 * 62000)};
    for (const auto& r : device->records()) {
        const auto t = r.stamp - start;
        const int64_t date = t < 20 * 62ms ? t / 62ms : 20 + (t - 20 * 62ms) / 37ms;
        if (date > 20 && expected.back().date == 20) expected.push_back(TakeEntry::tempo(20, 8 * 37000));
        expected.push_back(TakeEntry::sent(date, r.message));
    }
    expected.push_back(TakeEntry::end(40));
    auto lock = listener.lock();
    ASSERT_EQ(listener.takes.size(), 1u);
    EXPECT_EQ(listener.takes[0].entries, expected);
}

TEST_F(PlayerTest, RecordingTurnedOnAndOffDuringAPlayMakesATakeOfThatStretch) {
    const Settings s = liveSettings(0, 0);
    ASSERT_TRUE(play(live(s, false)).started());
    clock.stepTicks(9);  // ticks 0..9 played: the take begins with tick 10
    player->setRecording(true);
    clock.stepTicks(20);
    player->setRecording(false);  // it ends with tick 30
    clock.stepTicks(5);
    player->stop();
    clock.releaseNext();
    finishRun();

    auto lock = listener.lock();
    ASSERT_EQ(listener.takes.size(), 1u);
    const std::vector<TakeEntry>& got = listener.takes[0].entries;
    ASSERT_GT(got.size(), 1u + 32u + 16u + 1u);
    // The programs and pans in force, then what ticks 10..29 sent, then the keys let go.
    EXPECT_EQ(got[0], TakeEntry::begin(0, s.global, 8 * 62000));
    for (int ch = 0; ch < 16; ++ch) {
        EXPECT_EQ(got[1 + static_cast<size_t>(ch)].message.status, 0xC0 | ch);
        EXPECT_EQ(got[17 + static_cast<size_t>(ch)].message.status, 0xB0 | ch);
    }
    std::vector<TakeEntry> middle;
    for (const auto& r : device->records()) {
        const int64_t tick = (r.stamp - start) / 62ms;
        if (tick >= 10 && tick < 30) middle.push_back(TakeEntry::sent(tick - 10, r.message));
    }
    EXPECT_EQ(std::vector<TakeEntry>(got.begin() + 33, got.end() - 17), middle);
    for (size_t i = got.size() - 17; i < got.size() - 1; ++i) EXPECT_TRUE(isAllNotesOff(got[i].message));
    EXPECT_EQ(got.back(), TakeEntry::end(20));
}

TEST_F(PlayerTest, ATakeOfATunedPlayHoldsItsTuningAndBendsHoweverLateItBegins) {
    // Tuned by pitch bend: a take begun at tick 10 begins with the tuning's messages and the
    // bends in force, as the programs and pans; from the play's start, it holds what was sent.
    auto tuning = std::make_shared<TuningSettings>();
    tuning->tuning = *Tuning::fromText("five\n5\n240.\n480.\n720.\n960.\n2/1\n").value;
    tuning->method = TuningMethod::PitchBend;
    for (const int begin : {0, 10}) {
        SCOPED_TRACE(begin);
        PlayRequest request = live(liveSettings(0, 0), false);
        request.tuning = tuning;
        player->setRecording(begin == 0);
        // The first play's cooldown gives the player back a moment after its finish.
        ASSERT_TRUE(player->canPlay() || listener.waitFor([&] { return player->canPlay(); }));
        ASSERT_TRUE(play(request).started());
        if (begin > 0) {
            clock.stepTicks(begin - 1);
            player->setRecording(true);
        }
        clock.stepTicks(20);
        player->stop();
        clock.releaseNext();
        finishRun();
        player->setRecording(false);

        // The device's bends of the tuned channels before the take began.
        std::array<int, 16> bends;
        bends.fill(-1);
        for (const auto& r : device->records()) {
            if ((r.stamp - start) / 62ms >= begin) break;
            if ((r.message.status & 0xF0) == 0xE0) bends[r.message.status & 0x0F] = r.message.data1 | r.message.data2 << 7;
        }
        auto lock = listener.lock();
        ASSERT_EQ(listener.takes.size(), 1u);
        const std::vector<TakeEntry>& got = listener.takes[0].entries;
        const auto sent = [&](const ShortMessage& m) {
            return std::any_of(got.begin(), got.end(), [&](const TakeEntry& e) { return e.date == 0 && e.message == m; });
        };
        EXPECT_TRUE(sent(ShortMessage::controlChange(0, 101, 0)));  // the bend range's RPN
        for (int ch = 0; ch < 16; ++ch) {
            if (bends[static_cast<size_t>(ch)] >= 0) {
                EXPECT_TRUE(sent(ShortMessage::pitchBend(ch, bends[static_cast<size_t>(ch)]))) << ch;
            }
        }
        listener.takes.clear();
        device->clear();
    }
}

TEST_F(PlayerTest, ATakeHoldsTheSysExSentToTheDevice) {
    // By the MIDI Tuning Standard: the take's SysEx parts make the messages the device got.
    auto tuning = std::make_shared<TuningSettings>();
    tuning->tuning = *Tuning::fromText("five\n5\n240.\n480.\n720.\n960.\n2/1\n").value;
    PlayRequest request = live(liveSettings(0, 10), true);
    request.tuning = tuning;
    player->setRecording(true);
    ASSERT_TRUE(play(request).started());
    clock.runFree();
    finishRun();
    std::vector<std::vector<uint8_t>> sysex;
    for (const auto& r : device->records()) {
        if (!r.sysex.empty()) sysex.push_back(r.sysex);
    }
    ASSERT_EQ(sysex.size(), static_cast<size_t>(kMtsMessages));
    auto lock = listener.lock();
    ASSERT_EQ(listener.takes.size(), 1u);
    std::vector<std::vector<uint8_t>> taken;
    size_t length = 0;
    for (const TakeEntry& e : listener.takes[0].entries) {
        if (e.kind == TakeEntry::Kind::Sysex) {
            taken.emplace_back();
            length = e.quarterMicroseconds;
        }
        if (e.kind != TakeEntry::Kind::Sysex && e.kind != TakeEntry::Kind::SysexMore) continue;
        const size_t n = std::min(TakeEntry::kSysexPartBytes, length - taken.back().size());
        taken.back().insert(taken.back().end(), e.sysexPart.begin(), e.sysexPart.begin() + static_cast<long>(n));
    }
    EXPECT_EQ(taken, sysex);
}

TEST_F(PlayerTest, ALongTakeLosesNothingWhenTheWorkerOutrunsItsHelper) {
    // 16 voices struck every tick for 1000 ticks with no time between them: more than the
    // recorder keeps in stock, so the worker makes blocks of its own.
    Settings s = liveSettings(0, 1000);
    for (auto& v : s.voices) {
        v.enabled = 1;
        v.tied = 0;
        v.setNoteValue(kOtherNoteValue, 1.0f);
    }
    player->setRecording(true);
    clock.runFree();
    ASSERT_TRUE(play(live(s, true)).started());
    finishRun();
    const auto messages = device->messages();
    auto lock = listener.lock();
    ASSERT_EQ(listener.takes.size(), 1u);
    const auto& got = listener.takes[0].entries;
    ASSERT_EQ(got.size(), messages.size() + 2);
    for (size_t i = 0; i < messages.size(); ++i) ASSERT_EQ(got[i + 1].message, messages[i]) << i;
    EXPECT_GT(messages.size(), PerformanceRecorder::kStock * PerformanceRecorder::kBlockEntries);
}

}  // namespace
}  // namespace tarrowin
