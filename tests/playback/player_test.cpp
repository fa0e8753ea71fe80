#include "playback/player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "engine/retuning.h"
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
    void send(const ShortMessage& m) override {
        recorder.send(m);
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
    Player tuned(out, clock, PlayerOptions{false});
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

    // The synthesizer gets the keys as it opens, and the untuned stream.
    ASSERT_TRUE(idle());
    out.chooseDevice(1);
    ASSERT_TRUE(tuned.play(request).started());
    tuned.waitForWorker();
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
    // worker wakes 5 ms late.
    sendTakes = 500us;
    const auto events = threeEvents();
    ASSERT_TRUE(play(composition({events[0], events[1]}, 0)).started());
    Clock::Duration due = start;
    for (int tick = 0; tick < 32; ++tick) {
        due += tick < 16 ? 62ms : 78ms;
        const Clock::Duration next = clock.waitForSleepers();
        EXPECT_EQ(next, due) << "tick " << tick;
        clock.advanceTo(next + 5ms);
    }
    finishRun();
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

}  // namespace
}  // namespace tarrowin
