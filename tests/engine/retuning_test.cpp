#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/retuning.h"

namespace tarrowin {
namespace {

std::string equalSteps(int n) {
    std::string s = std::to_string(n) + " steps\n" + std::to_string(n) + "\n";
    for (int k = 1; k < n; ++k) s += std::to_string(1200.0 * k / n) + "\n";
    return s + "2/1\n";
}

TuningSettings tuned(const std::string& scale, const std::string& map = {}) {
    TuningSettings t;
    TuningRead<Tuning> read = Tuning::fromText(scale, map);
    EXPECT_TRUE(read.ok()) << read.error;
    t.tuning = *read.value;
    return t;
}

// Voices 1 and 2 on, on channels 0 and 1, from counter 0 to 64.
Settings twoVoices() {
    Settings s = Settings::defaults();
    s.global.endCounter = 64;
    for (int v : {0, 1}) {
        s.voices[static_cast<size_t>(v)].enabled = 1;
        s.voices[static_cast<size_t>(v)].tied = 0;
    }
    s.voices[1].startNote = 55;
    return s;
}

struct Stream : PerformanceSink {
    std::vector<ShortMessage> messages;
    std::vector<SysexMessage> sysexes;
    void message(int64_t, const ShortMessage& m) override { messages.push_back(m); }
    void sysex(int64_t, const SysexMessage& m) override { sysexes.push_back(m); }
};

Stream run(const Settings& s, const Retuning* retuning) {
    Stream out;
    PerformanceControl control;
    PerformanceOptions options;
    options.mode = PerformanceMode::ExportCurrent;
    options.retuning = retuning;
    perform(options, s, {}, out, control);
    return out;
}

Retuning::Planned plan(const TuningSettings& t, TuningOutput output, const Settings& s,
                       PerformanceMode mode = PerformanceMode::ExportCurrent) {
    PerformanceOptions options;
    options.mode = mode;
    return Retuning::plan(t, output, options, s, {});
}

TEST(Retuning, PitchBendStrikesTheNearestKeyAndBendsIt) {
    TuningSettings t = tuned(equalSteps(31));
    t.tuned[1] = false;
    Settings s = twoVoices();
    const Retuning::Planned p = plan(t, TuningOutput::PitchBend, s);
    ASSERT_TRUE(p.ok()) << p.refusal;
    const Stream plain = run(s, nullptr);
    const Stream bent = run(s, p.retuning.get());
    // The range of 2 semitones on channel 0 only, then the untuned stream with each note of
    // voice 1 on its nearest key after a bend, where the bend changes.
    const std::vector<ShortMessage> range = {
        ShortMessage::controlChange(0, 101, 0), ShortMessage::controlChange(0, 100, 0),
        ShortMessage::controlChange(0, 6, 2),   ShortMessage::controlChange(0, 38, 0),
        ShortMessage::controlChange(0, 101, 127), ShortMessage::controlChange(0, 100, 127)};
    ASSERT_TRUE(std::equal(range.begin(), range.end(), bent.messages.begin()));
    std::vector<ShortMessage> expected(range);
    int32_t lastBend = -1;
    // The closing note offs of every key stay as they are.
    const size_t closing = plain.messages.size() - 2 * 128;
    for (size_t i = 0; i < plain.messages.size(); ++i) {
        const ShortMessage& m = plain.messages[i];
        ShortMessage out = m;
        const int kind = m.status & 0xF0;
        if (i < closing && (m.status & 0x0F) == 0 && (kind == 0x80 || kind == 0x90)) {
            const double pitch = t.tuning.key(m.data1).pitch;
            out.data1 = static_cast<uint8_t>(std::lround(pitch));
            if (kind == 0x90 && m.data2 > 0) {
                const auto bend = static_cast<int32_t>(8192 + std::lround((pitch - out.data1) * 4096));
                if (bend != lastBend) expected.push_back(ShortMessage::pitchBend(0, bend));
                lastBend = bend;
            }
        }
        expected.push_back(out);
    }
    EXPECT_EQ(bent.messages, expected);
    EXPECT_TRUE(bent.sysexes.empty());
}

TEST(Retuning, UnmappedKeysStrikeSilentlyAndDeviceOutputAddsNothing) {
    // Only degree 0 of every octave is mapped: the other keys of a tuned voice are struck
    // with velocity 0, keys of the percussion channel are left alone.
    const TuningSettings t = tuned(equalSteps(12), "12\n0\n127\n60\n60\n261.6255653\n12\n0\n");
    Settings s = twoVoices();
    s.voices[1].channel = kDefaultPercussionChannel;
    const Retuning::Planned p = plan(t, TuningOutput::Device, s);
    ASSERT_TRUE(p.ok()) << p.refusal;
    const Stream plain = run(s, nullptr);
    const Stream device = run(s, p.retuning.get());
    ASSERT_EQ(device.messages.size(), plain.messages.size());
    int silenced = 0;
    for (size_t i = 0; i < plain.messages.size(); ++i) {
        ShortMessage want = plain.messages[i];
        if ((want.status & 0xF0) == 0x90 && (want.status & 0x0F) == 0 && want.data1 % 12 != 0) {
            want.data2 = 0;
            ++silenced;
        }
        EXPECT_EQ(device.messages[i], want) << i;
    }
    EXPECT_GT(silenced, 0);
    EXPECT_TRUE(p.retuning->channelTuned(0));
    EXPECT_FALSE(p.retuning->channelTuned(kDefaultPercussionChannel));
}

struct ConflictCase {
    const char* name;
    TuningOutput output;
    PerformanceMode mode;
    int channelOfVoice2;
    bool voice2Tuned;
    bool voice2On;
    const char* refusal;  // "" when the run may go ahead
};

TEST(Retuning, ChannelsSharedByTunedVoices) {
    const ConflictCase cases[] = {
        {"own channels", TuningOutput::PitchBend, PerformanceMode::ExportCurrent, 1, true, true, ""},
        {"two tuned, MTS", TuningOutput::Mts, PerformanceMode::ExportCurrent, 0, true, true, ""},
        {"two tuned, bend", TuningOutput::PitchBend, PerformanceMode::ExportCurrent, 0, true, true,
         "Voices 1 and 2 are tuned by pitch bend and both play on channel 0"},
        {"tuned beside untuned", TuningOutput::Mts, PerformanceMode::ExportCurrent, 0, false, true,
         "Voice 1 is tuned and voice 2 is not, but both play on channel 0"},
        {"untuned beside tuned, synthesizer", TuningOutput::Device, PerformanceMode::ExportCurrent, 0, false, true,
         "Voice 1 is tuned and voice 2 is not"},
        {"an untuned voice that is off", TuningOutput::Mts, PerformanceMode::ExportCurrent, 0, false, false, ""},
        {"live, where it can be switched on", TuningOutput::Mts, PerformanceMode::Live, 0, false, false,
         "Voice 1 is tuned and voice 2 is not"},
    };
    for (const ConflictCase& c : cases) {
        SCOPED_TRACE(c.name);
        TuningSettings t = tuned(equalSteps(19));
        t.tuned[1] = c.voice2Tuned;
        Settings s = twoVoices();
        s.voices[1].channel = c.channelOfVoice2;
        s.voices[1].enabled = c.voice2On ? 1 : 0;
        const Retuning::Planned p = plan(t, c.output, s, c.mode);
        ASSERT_TRUE(p.retuning);
        if (*c.refusal == '\0') {
            EXPECT_TRUE(p.ok()) << p.refusal;
        } else {
            EXPECT_NE(p.refusal.find(c.refusal), std::string::npos) << p.refusal;
        }
    }
}

TEST(Retuning, AConflictInACompositionNamesTheEventAndDrumsShareFreely) {
    TuningSettings t = tuned(equalSteps(19));
    std::vector<Settings> events(2, twoVoices());
    events[1].voices[1].channel = 0;
    PerformanceOptions options;
    options.mode = PerformanceMode::ExportComposition;
    Retuning::Planned p = Retuning::plan(t, TuningOutput::PitchBend, options, Settings{}, events);
    EXPECT_NE(p.refusal.find("on channel 0 in event 1"), std::string::npos) << p.refusal;
    // The audition of event 0 does not play event 1.
    options.mode = PerformanceMode::Audition;
    options.firstEvent = 0;
    EXPECT_TRUE(Retuning::plan(t, TuningOutput::PitchBend, options, Settings{}, events).ok());
    options.mode = PerformanceMode::Composition;
    for (Settings& e : events) e.voices[0].channel = e.voices[1].channel = kDefaultPercussionChannel;
    EXPECT_TRUE(Retuning::plan(t, TuningOutput::PitchBend, options, Settings{}, events).ok());
    // Equal temperament retunes nothing: no plan.
    EXPECT_FALSE(Retuning::plan(TuningSettings{}, TuningOutput::Mts, options, Settings{}, events).retuning);
}

}  // namespace
}  // namespace tarrowin
