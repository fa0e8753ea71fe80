#include "playback/synth.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "jack_test_server.h"
#include "playback/wav_render.h"
#include "sox_stat.h"

namespace tarrowin {
namespace {

namespace fs = std::filesystem;
using testing::SoxStat;
using testing::soxStat;

// The SoundFont of Debian's timgm6mb-soundfont, the one every build machine has.
const std::string kTimGM = "/usr/share/sounds/sf2/TimGM6mb.sf2";

class TempDir {
   public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "tarrowin-synth-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(path_); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    size_t entries() const { return static_cast<size_t>(std::distance(fs::directory_iterator(path_), {})); }

   private:
    fs::path path_;
};

class ScopedEnv {
   public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old, had_ = true;
        if (value) setenv(name, value, 1);
        else unsetenv(name);
    }
    ~ScopedEnv() {
        if (had_) setenv(name_, old_.c_str(), 1);
        else unsetenv(name_);
    }

   private:
    const char* name_;
    std::string old_;
    bool had_ = false;
};

Settings quarterNotes(int32_t start, int32_t end, int32_t tempo) {
    Settings s = Settings::defaults();
    s.global.startCounter = start;
    s.global.endCounter = end;
    s.global.tempo = tempo;
    s.voices[0].tied = 0;
    return s;
}

TEST(SoundFontSearch, EnvironmentFirstThenTheDefaultsAndClearMessagesWhenMissing) {
    {
        ScopedEnv env("TARROWIN_SOUNDFONT", nullptr);
        const SoundFontChoice found = findSoundFont();
        ASSERT_TRUE(found.found()) << found.message;
        EXPECT_EQ(found.path, "/usr/share/sounds/sf2/default-GM.sf2");
    }
    {
        ScopedEnv env("TARROWIN_SOUNDFONT", kTimGM.c_str());
        EXPECT_EQ(findSoundFont().path, kTimGM);
        EXPECT_EQ(findSoundFont("/nowhere/x.sf2").message, "SoundFont not found: /nowhere/x.sf2");
    }
    {
        ScopedEnv env("TARROWIN_SOUNDFONT", "/nowhere/gm.sf2");
        const SoundFontChoice missing = findSoundFont();
        EXPECT_FALSE(missing.found());
        EXPECT_NE(missing.message.find("TARROWIN_SOUNDFONT"), std::string::npos);
        EXPECT_NE(missing.message.find("/nowhere/gm.sf2"), std::string::npos);
    }
}

TEST(SoundFontSearch, TheUsersChoiceComesAfterTheEnvironmentAndAGoneFileGivesWay) {
    TempDir dir;
    const std::string mine = dir.file("mine.sf2");
    fs::copy_file(kTimGM, mine);
    {
        ScopedEnv env("TARROWIN_SOUNDFONT", nullptr);
        EXPECT_EQ(findSoundFont({}, mine).path, mine);
        EXPECT_EQ(findSoundFont(kTimGM, mine).path, kTimGM);  // a --soundfont first
        EXPECT_EQ(findSoundFont({}, dir.file("gone.sf2")).path, "/usr/share/sounds/sf2/default-GM.sf2");
    }
    ScopedEnv env("TARROWIN_SOUNDFONT", kTimGM.c_str());
    EXPECT_EQ(findSoundFont({}, mine).path, kTimGM);
}

TEST(SoundFontSearch, ProblemsAreNamedAndEachInstalledFileIsListedOnce) {
    TempDir dir;
    const std::string bogus = dir.file("bogus.sf3");
    std::ofstream(bogus) << "not a SoundFont";
    EXPECT_EQ(soundFontProblem(kTimGM), "");
    EXPECT_EQ(soundFontProblem(bogus).rfind("The SoundFont " + bogus + " could not be loaded", 0), 0u);
    EXPECT_EQ(soundFontProblem(dir.file("gone.sf2")), "The file " + dir.file("gone.sf2") + " was not found");
    const std::vector<std::string> installed = installedSoundFonts();
    EXPECT_EQ(std::count(installed.begin(), installed.end(), kTimGM), 1);
    // default-GM.sf2 is Debian's link to the best installed one, which is listed instead.
    EXPECT_EQ(std::count(installed.begin(), installed.end(), "/usr/share/sounds/sf2/default-GM.sf2"), 0);
}

TEST(SynthCore, PercussionChannelIsTheDrumChannelAndEveryOtherChannelMelodic) {
    SynthCore::Created c = SynthCore::create(kTimGM, 44100);
    ASSERT_TRUE(c.synth) << c.message;
    EXPECT_EQ(c.synth->bankOf(9), 128);
    EXPECT_EQ(c.synth->bankOf(0), 0);
    c.synth->reset(3);
    EXPECT_EQ(c.synth->bankOf(3), 128);
    EXPECT_EQ(c.synth->bankOf(9), 0);
    // A program change keeps the drum channel on its drum bank.
    c.synth->handle(ShortMessage::programChange(3, 0));
    c.synth->handle(ShortMessage::programChange(9, 5));
    EXPECT_EQ(c.synth->bankOf(3), 128);
    EXPECT_EQ(c.synth->bankOf(9), 0);
}

TEST(SynthCore, EachVoiceSoundsInItsOwnOutputOnEveryChannelButTheOneLeftOut) {
    // Another synthesizer first, as in a program that exported before: what it leaves in
    // the heap is what an unplayable channel's controllers reached.
    for (int i = 0; i < 2; ++i) {
        SynthCore::Created mix = SynthCore::create(kTimGM, 44100);
        ASSERT_TRUE(mix.synth) << mix.message;
        std::vector<int16_t> frames(2 * 4096);
        mix.synth->handle(ShortMessage::noteOn(0, 60, 100));
        mix.synth->render(4096, frames.data());
    }
    const struct {
        int channel, voice;
        bool sounds;
    } cases[] = {
        {15, 15, true},  // the last pair of MIDI channel and voice
        {3, 7, true},
        {9, 0, true},  // on the drum channel
        {0, 15, false},
    };
    std::vector<float> buffers(2 * (kVoices + 1) * 8192);
    std::vector<float*> outputs;
    for (size_t o = 0; o < 2 * (kVoices + 1); ++o) outputs.push_back(buffers.data() + o * 8192);
    for (const auto& k : cases) {
        SCOPED_TRACE("voice " + std::to_string(k.voice + 1) + " on channel " + std::to_string(k.channel));
        SynthCore::Created c = SynthCore::create(kTimGM, 44100, SynthOutputs::PerVoice);
        ASSERT_TRUE(c.synth) << c.message;
        c.synth->leaveOut(0, 15);
        c.synth->reset(9);
        c.synth->handle(ShortMessage::programChange(k.channel, 0));
        c.synth->handle(ShortMessage::pan(k.channel, -20));
        c.synth->handle(ShortMessage::noteOn(k.channel, 40, 100), k.voice);
        c.synth->renderVoices(8192, outputs.data());
        for (int o = 0; o <= kVoices; ++o) {
            const auto [lo, hi] = std::minmax_element(outputs[2 * o], outputs[2 * o] + 8192);
            const bool heard = std::max(-*lo, *hi) > 1e-3f;
            EXPECT_EQ(heard, k.sounds && (o == k.voice || o == SynthCore::kEffectsOutput)) << "output " << o;
        }
    }
}

TEST(SynthCore, AFileThatIsNoSoundFontIsRefusedByName) {
    TempDir dir;
    const std::string bogus = dir.file("bogus.sf2");
    std::ofstream(bogus) << "not a SoundFont";
    SynthCore::Created c = SynthCore::create(bogus, 44100);
    EXPECT_FALSE(c.synth);
    EXPECT_NE(c.message.find(bogus), std::string::npos);
}

// Drives SynthCore's audio callback as a driver would, on a clock of its own: `buffers`
// buffers of 10 ms (441 frames) at once every `everyMs`, from `startMs` on, while the
// messages are played at their times. Returns the stream's left channel.
struct StreamPattern {
    const char* name;
    int startMs;
    int buffers;
    int everyMs;
};

struct TimedMessage {
    int atMs;
    ShortMessage message;
};

std::vector<float> playThroughCallback(SynthCore& synth, const StreamPattern& pattern,
                                       const std::vector<TimedMessage>& messages, int lengthMs) {
    const SynthCore::Time t0{};
    synth.startClock(t0);
    std::vector<float> left, right;
    size_t next = 0;
    for (int ms = 0; ms < lengthMs; ++ms) {
        const SynthCore::Time now = t0 + std::chrono::milliseconds(ms);
        for (; next < messages.size() && messages[next].atMs <= ms; ++next) synth.play(messages[next].message, now);
        if (ms < pattern.startMs || (ms - pattern.startMs) % pattern.everyMs != 0) continue;
        for (int b = 0; b < pattern.buffers; ++b) {
            left.resize(left.size() + 441);  // zeroed, as the drivers hand them over
            right.resize(right.size() + 441);
            synth.process(441, left.data() + left.size() - 441, right.data() + right.size() - 441, now);
        }
    }
    return left;
}

// The frames where a sound starts after at least 10 ms of near silence.
std::vector<size_t> onsets(const std::vector<float>& samples) {
    std::vector<size_t> found;
    size_t lastLoud = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        if (std::fabs(samples[i]) < 0.005f) continue;
        if (found.empty() || i - lastLoud > 441) found.push_back(i);
        lastLoud = i;
    }
    return found;
}

TEST(SynthCore, PlayedMessagesKeepTheirSpacingHoweverTheStreamAsksForAudio) {
    // Closed hi-hats on the drum channel, 150 ms apart: short sounds with silence between.
    std::vector<TimedMessage> hits;
    for (int i = 0; i < 4; ++i) hits.push_back({20 + 150 * i, ShortMessage::noteOn(9, 42, 127)});
    const StreamPattern patterns[] = {
        {"steady buffers", 0, 1, 10},
        {"a stream that starts after the first notes were sent", 300, 1, 10},
        {"bursts of buffers", 0, 4, 40},
    };
    for (const StreamPattern& pattern : patterns) {
        SCOPED_TRACE(pattern.name);
        SynthCore::Created c = SynthCore::create(kTimGM, 44100);
        ASSERT_TRUE(c.synth) << c.message;
        const std::vector<size_t> found = onsets(playThroughCallback(*c.synth, pattern, hits, 1200));
        EXPECT_EQ(found.size(), hits.size());
        if (found.size() != hits.size()) continue;
        for (size_t i = 1; i < found.size(); ++i) {
            // 150 ms, give or take the synthesizer's block of 64 frames.
            EXPECT_NEAR(static_cast<double>(found[i] - found[i - 1]), 150 * 44.1, 100) << "hit " << i;
        }
    }
}

TEST(SynthCore, MessagesOfOneInstantSoundInTheOrderTheyWereSent) {
    // An organ holds its note: ended right after it began, it is silent soon; ended before
    // it began (the other voice's key), it sounds on.
    struct Case {
        const char* name;
        std::vector<ShortMessage> messages;
        bool sounding;
    };
    const Case cases[] = {
        {"note on, then note off", {ShortMessage::noteOn(0, 60, 100), ShortMessage::noteOff(0, 60, 0)}, false},
        {"note off, then note on", {ShortMessage::noteOff(0, 60, 0), ShortMessage::noteOn(0, 60, 100)}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SynthCore::Created synth = SynthCore::create(kTimGM, 44100);
        ASSERT_TRUE(synth.synth) << synth.message;
        std::vector<TimedMessage> messages{{0, ShortMessage::programChange(0, 16)}};
        for (const ShortMessage& m : c.messages) messages.push_back({5, m});
        const std::vector<float> left = playThroughCallback(*synth.synth, {"steady", 0, 1, 10}, messages, 600);
        float last = 0;
        for (size_t i = left.size() - 4410; i < left.size(); ++i) last = std::max(last, std::fabs(left[i]));
        EXPECT_EQ(last > 0.01f, c.sounding) << "peak of the last 100 ms " << last;
    }
}

// The audio thread starts late, so the queue fills and the sender must wait for room: the
// note sent last sounds all the same.
TEST(SynthCore, ASenderWaitsForRoomInAFullQueueAndLosesNothing) {
    SynthCore::Created c = SynthCore::create(kTimGM, 44100);
    ASSERT_TRUE(c.synth) << c.message;
    SynthCore& synth = *c.synth;
    synth.startClock(std::chrono::steady_clock::now());
    std::atomic<bool> stop{false};
    float peak = 0;
    std::thread audio([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        std::vector<float> left(441), right(441);
        while (!stop.load()) {
            std::fill(left.begin(), left.end(), 0.0f);
            std::fill(right.begin(), right.end(), 0.0f);
            synth.process(441, left.data(), right.data(), std::chrono::steady_clock::now());
            for (float v : left) peak = std::max(peak, std::fabs(v));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // ten times real time
        }
    });
    for (int i = 0; i < 10000; ++i) synth.play(ShortMessage{0xB0, 7, 100});  // channel volume, beyond the queue's room
    synth.play(ShortMessage::noteOn(0, 60, 127));
    synth.waitUntilPlayed(std::chrono::milliseconds(200));
    stop.store(true);
    audio.join();
    EXPECT_GT(peak, 0.05f);
}

TEST(SynthBackend, OpenNamesWhatIsMissing) {
    SynthBackend noFont(SynthOptions{"/nowhere/none.sf2", "", ""});
    EXPECT_EQ(noFont.listPorts(), std::vector<std::string>{SynthBackend::kPortName});
    const OpenResult r1 = noFont.open(SynthBackend::kPortName, {});
    EXPECT_EQ(r1.status, OpenStatus::Failed);
    EXPECT_EQ(r1.message, "SoundFont not found: /nowhere/none.sf2");

    SynthBackend noAudio(SynthOptions{kTimGM, "no-such-driver", ""});
    const OpenResult r2 = noAudio.open(SynthBackend::kPortName, {});
    EXPECT_EQ(r2.status, OpenStatus::Failed);
    EXPECT_NE(r2.message.find("no audio output"), std::string::npos) << r2.message;
    EXPECT_NE(r2.message.find("no-such-driver"), std::string::npos) << r2.message;
}

TEST(SynthBackend, PlaysInRealTimeIntoAWavFileWithTheFileDriver) {
    TempDir dir;
    const std::string wav = dir.file("live.wav");
    SynthBackend synth(SynthOptions{kTimGM, "", wav});
    ASSERT_TRUE(synth.open(SynthBackend::kPortName, {}).ok());
    EXPECT_EQ(synth.open(SynthBackend::kPortName, {}).status, OpenStatus::Allocated);
    synth.send(ShortMessage::programChange(0, 0));
    synth.send(ShortMessage::noteOn(0, 60, 100));
    // The file driver runs in real time; a short wait gives it audio to write.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    synth.send(ShortMessage::allNotesOff(0));
    synth.close();
    ASSERT_TRUE(fs::exists(wav));
    EXPECT_FALSE(fs::exists(wav + ".partial"));
    const SoxStat st = soxStat(wav);
    EXPECT_GT(st.seconds, 0.1);
    EXPECT_GT(st.rms, 0.001);
}

// A JACK client whose two audio inputs listen to the synthesizer's outputs (FluidSynth's
// JACK driver, with the synthesizer's own audio callback): the loudest sample since the
// last look, and the synthesizer's output ports as they come.
class Listener {
   public:
    Listener() : client_(testing::openTestClient("tarrowin-test-listener")) {
        if (!client_) return;
        for (int i = 0; i < 2; ++i) {
            in_[i] = jack_port_register(client_.get(), i == 0 ? "left" : "right", JACK_DEFAULT_AUDIO_TYPE,
                                        JackPortIsInput, 0);
        }
        jack_set_process_callback(client_.get(), &Listener::process, this);
        jack_set_port_registration_callback(client_.get(), &Listener::registration, this);
        jack_activate(client_.get());
    }
    bool ok() const { return client_ != nullptr; }

    // The synthesizer's output ports registered since the listener started.
    int registered() const { return registered_.load(); }
    std::vector<std::string> synthPorts() const {
        std::vector<std::string> names;
        const char** ports = jack_get_ports(client_.get(), "^fluidsynth", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput);
        if (ports != nullptr) {
            for (const char** p = ports; *p != nullptr; ++p) names.push_back(*p);
            jack_free(ports);
        }
        return names;
    }
    // Connects the synthesizer's outputs to ours and waits until the graph has them.
    bool listen() {
        const std::vector<std::string> ports = synthPorts();
        if (ports.size() != 2) return false;
        for (int i = 0; i < 2; ++i) {
            if (jack_connect(client_.get(), ports[static_cast<size_t>(i)].c_str(), jack_port_name(in_[i])) != 0) {
                return false;
            }
        }
        const int cycle = cycles_.load();
        while (cycles_.load() < cycle + 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return true;
    }
    float takePeak() { return peak_.exchange(0.0f); }

   private:
    static int process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<Listener*>(arg);
        float peak = self->peak_.load();
        for (jack_port_t* port : self->in_) peak = std::max(peak, peakOf(jack_port_get_buffer(port, frames), frames));
        self->peak_.store(peak);
        self->cycles_.fetch_add(1);
        return 0;
    }
    // The synthesizer's audio thread filled this buffer, and JACK's graph handed it over
    // to ours: an order that ThreadSanitizer does not see, since libjack is not built
    // with it, so these reads are left out of its checks.
    __attribute__((no_sanitize("thread"))) static float peakOf(const void* buffer, jack_nframes_t frames) {
        const auto* samples = static_cast<const float*>(buffer);
        float peak = 0;
        for (jack_nframes_t i = 0; i < frames; ++i) peak = std::max(peak, std::fabs(samples[i]));
        return peak;
    }
    static void registration(jack_port_id_t id, int registered, void* arg) {
        auto* self = static_cast<Listener*>(arg);
        const jack_port_t* port = jack_port_by_id(self->client_.get(), id);
        if (registered != 0 && port != nullptr && std::string(jack_port_name(port)).rfind("fluidsynth", 0) == 0) {
            self->registered_.fetch_add(1);
        }
    }

    jack_port_t* in_[2] = {nullptr, nullptr};
    std::atomic<float> peak_{0.0f};
    std::atomic<int> cycles_{0};
    std::atomic<int> registered_{0};
    testing::JackClient client_;
};

template <class Done>
bool waitFor(Done done) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

class SynthOnAJackServer : public testing::OnAJackServer {};

// Close returns at once, the note it leaves queued sounds after it and rings out, and the
// next play goes to the same stream.
TEST_F(SynthOnAJackServer, TheStreamPlaysOnAfterClosesAndTheLastNotesRingOut) {
    Listener listener;
    ASSERT_TRUE(listener.ok());
    SynthBackend synth(SynthOptions{kTimGM, "jack", ""});
    for (int play = 0; play < 2; ++play) {
        ASSERT_TRUE(synth.open(SynthBackend::kPortName, {}).ok());
        if (play == 0) {
            ASSERT_TRUE(listener.listen());
        }
        synth.send(ShortMessage::noteOn(0, 60, 127));
        synth.close();
        listener.takePeak();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_GT(listener.takePeak(), 0.05f) << "play " << play;
    }
    EXPECT_EQ(listener.registered(), 2);  // one stream, its two ports
}

// An open while the stream is being prepared waits for it; a new SoundFont moves to a new
// stream, and release ends it.
TEST_F(SynthOnAJackServer, PrepareStartsTheStreamANewSoundFontReplacesItReleaseEndsIt) {
    const ScopedEnv env("TARROWIN_SOUNDFONT", nullptr);
    TempDir dir;
    const std::string mine = dir.file("mine.sf2");
    fs::copy_file(kTimGM, mine);
    Listener listener;
    ASSERT_TRUE(listener.ok());
    SynthBackend synth(SynthOptions{"", "jack", ""});
    synth.setPreferredSoundFont(kTimGM);
    synth.prepare(SynthBackend::kPortName);
    ASSERT_TRUE(synth.open(SynthBackend::kPortName, {}).ok());
    synth.close();
    EXPECT_EQ(listener.synthPorts().size(), 2u);
    synth.setPreferredSoundFont(mine);
    synth.prepare(SynthBackend::kPortName);
    EXPECT_TRUE(waitFor([&] { return listener.registered() == 4; })) << listener.registered();
    synth.release();
    EXPECT_TRUE(waitFor([&] { return listener.synthPorts().empty(); }));
    EXPECT_EQ(listener.registered(), 4);
}

TEST(RenderToWav, CompositionLastsTheSumOfItsEventsAndSilentVoicesStaySilent) {
    TempDir dir;
    std::vector<Settings> events = {quarterNotes(0, 32, 120), quarterNotes(0, 16, 60)};
    const std::string wav = dir.file("comp.wav");
    RenderOptions options;
    options.soundFont = kTimGM;
    options.tailSeconds = 0;
    double lastProgress = 0;
    const RenderResult r =
        renderToWav(PerformanceMode::ExportComposition, {}, events, wav, options, [&](double f) { lastProgress = f; });
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.playbackMs, 32 * 62 + 16 * 125);
    EXPECT_EQ(lastProgress, 1.0);
    const SoxStat sounding = soxStat(wav);
    EXPECT_NEAR(sounding.seconds, 32 * 0.062 + 16 * 0.125, 1.0 / 44100);
    EXPECT_GT(sounding.rms, 0.01);
    EXPECT_EQ(dir.entries(), 1u);  // no temporary file left

    // No voice enabled: the export writes no notes, the audio is silence of full length.
    for (auto& e : events) e.voices[0].enabled = 0;
    ASSERT_TRUE(renderToWav(PerformanceMode::ExportComposition, {}, events, wav, options).ok);
    const SoxStat silent = soxStat(wav);
    EXPECT_NEAR(silent.seconds, 32 * 0.062 + 16 * 0.125, 1.0 / 44100);
    EXPECT_LT(silent.rms, 1e-4);  // the dither, below one bit
}

// A process renders the same samples whatever it did with rand() first: the window's
// libraries call it, the command line's do not. Each rendering runs in a process of its own
// that makes its first synthesizer there (as ctest runs this test alone).
TEST(RenderToWav, EveryProcessRendersTheSameSamples) {
    TempDir dir;
    const auto renderInAChild = [](const std::string& wav, unsigned seed) {
        const pid_t child = ::fork();
        if (child == 0) {
            std::srand(seed);
            for (int i = 0; i < 1000; ++i) (void)std::rand();
            RenderOptions options;
            options.soundFont = kTimGM;
            ::_exit(renderToWav(PerformanceMode::ExportCurrent, quarterNotes(0, 16, 120), {}, wav, options).ok ? 0 : 1);
        }
        int status = 0;
        return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    };
    const auto bytesOf = [](const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    ASSERT_TRUE(renderInAChild(dir.file("a.wav"), 1));
    ASSERT_TRUE(renderInAChild(dir.file("b.wav"), 4242));
    const std::string a = bytesOf(dir.file("a.wav"));
    EXPECT_GT(a.size(), 44u + 44100u);
    EXPECT_TRUE(a == bytesOf(dir.file("b.wav")));
}

TEST(RenderToWav, FailuresLeaveNoFileBehind) {
    TempDir dir;
    const std::string wav = dir.file("x.wav");
    RenderOptions options;
    options.soundFont = "/nowhere/none.sf2";
    const RenderResult noFont = renderToWav(PerformanceMode::ExportCurrent, quarterNotes(0, 8, 120), {}, wav, options);
    EXPECT_FALSE(noFont.ok);
    EXPECT_EQ(noFont.message, "SoundFont not found: /nowhere/none.sf2");

    options.soundFont = kTimGM;
    const RenderResult noDir =
        renderToWav(PerformanceMode::ExportCurrent, quarterNotes(0, 8, 120), {}, dir.file("missing/x.wav"), options);
    EXPECT_FALSE(noDir.ok);
    EXPECT_NE(noDir.message.find("Could not create"), std::string::npos);

    // An existing file stays as it was when the rendering is refused.
    std::ofstream(wav) << "old";
    Settings endless = quarterNotes(0, 2000000000, 20);
    const RenderResult tooLong = renderToWav(PerformanceMode::ExportCurrent, endless, {}, wav, options);
    EXPECT_FALSE(tooLong.ok);
    EXPECT_EQ(fs::file_size(wav), 3u);
    EXPECT_EQ(dir.entries(), 1u);
}

// The samples sox decodes from an audio file, as raw 16-bit values.
std::string decodedSamples(const std::string& file) {
    std::string samples;
    FILE* p = popen(("sox '" + file + "' -t s16 - 2>/dev/null").c_str(), "r");
    if (p == nullptr) return samples;
    char chunk[65536];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, p)) > 0;) samples.append(chunk, n);
    pclose(p);
    return samples;
}

TEST(RenderToAudio, FlacIntoAPipeHoldsTheSameAudioAsTheFile) {
    TempDir dir;
    RenderOptions options;
    options.soundFont = kTimGM;
    options.format = AudioFormat::Flac;
    const Settings notes = quarterNotes(0, 32, 200);
    ASSERT_TRUE(renderToAudio(PerformanceMode::ExportCurrent, notes, {}, dir.file("file.flac"), options).ok);

    // A program reads the pipe while the rendering streams into it; the encoder cannot go
    // back to complete the header there, and must not fail for it.
    const std::string fifo = dir.file("pipe.flac");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    std::atomic<bool> done{false};
    RenderResult streamed;
    std::thread render([&] {
        streamed = renderToAudio(PerformanceMode::ExportCurrent, notes, {}, fifo, options);
        done = true;
    });
    std::string bytes;
    for (bool finished = false;;) {
        char chunk[65536];
        const ssize_t n = ::read(reader, chunk, sizeof chunk);
        if (n > 0) {
            bytes.append(chunk, static_cast<size_t>(n));
        } else if (finished) {
            break;
        } else {
            finished = done.load();  // one more read after the writer has closed
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    render.join();
    ::close(reader);
    ASSERT_TRUE(streamed.ok) << streamed.message;
    std::ofstream(dir.file("streamed.flac"), std::ios::binary) << bytes;
    const std::string expected = decodedSamples(dir.file("file.flac"));
    EXPECT_GT(expected.size(), 44100u * 4);
    EXPECT_EQ(decodedSamples(dir.file("streamed.flac")), expected);
}

}  // namespace
}  // namespace tarrowin
