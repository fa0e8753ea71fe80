#include "playback/synth.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

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

TEST(SynthCore, AFileThatIsNoSoundFontIsRefusedByName) {
    TempDir dir;
    const std::string bogus = dir.file("bogus.sf2");
    std::ofstream(bogus) << "not a SoundFont";
    SynthCore::Created c = SynthCore::create(bogus, 44100);
    EXPECT_FALSE(c.synth);
    EXPECT_NE(c.message.find(bogus), std::string::npos);
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
    EXPECT_LT(silent.rms, 1e-4);  // FluidSynth's dither, below one bit
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

}  // namespace
}  // namespace tarrowin
