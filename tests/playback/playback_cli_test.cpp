// tarrowin-cli devices, play and render, run as a user runs them, on real files, with the
// audio measured by sox.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "document/document_file.h"
#include "midifile/smf_reader.h"
#include "sox_stat.h"

namespace tarrowin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct CliRun {
    int code = -1;
    std::string out;
    std::string err;
};

class PlaybackCommands : public ::testing::Test {
   protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tarrowin-play-" + std::to_string(getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    static std::string text(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    CliRun cli(const std::string& args, const std::string& env = "") const {
        const std::string out = path("stdout.txt"), err = path("stderr.txt");
        const std::string command = env + " " + TARROWIN_CLI + " " + args + " >" + out + " 2>" + err;
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text(out), text(err)};
    }

    // Voice 1 in quarter notes, "All Notes", Start..End at `tempo`.
    std::string document(const std::string& name, int32_t start, int32_t end, int32_t tempo, int events = 0) const {
        CTarrowinDoc doc;
        doc.OnNewDocument();
        Settings& s = doc.mutableCurrent();
        s.global = {tempo, start, end, 4, 4};
        s.voices[0].tied = 0;
        for (int i = 0; i < events; ++i) {
            CompositionEvent e;
            doc.CopyCurrentSettingsIntoEvent(e);
            e.global.tempo = 60 * (i + 1);
            doc.mutableComposition().append(e);
        }
        const std::string file = path(name);
        EXPECT_TRUE(saveDocumentFile(file, doc).ok);
        return file;
    }

    static testing::SoxStat sox(const std::string& wav) { return testing::soxStat(wav); }

    fs::path dir_;
};

TEST_F(PlaybackCommands, DevicesListsTheMapperFirstAndTheBuiltInSynthesizer) {
    const CliRun r = cli("devices");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.rfind("0  Midi Mapper\n1  Built-in synthesizer (FluidSynth)\n", 0), 0u) << r.out;
}

TEST_F(PlaybackCommands, RenderWritesAudioAsLongAsThePlaybackPlusTheTail) {
    const std::string trw = document("short.trw", 0, 64, 120);
    const CliRun r = cli("render " + trw + " " + path("out.wav") + " --soundfont /usr/share/sounds/sf2/TimGM6mb.sf2");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("Wrote "), std::string::npos);
    const testing::SoxStat st = sox(path("out.wav"));
    EXPECT_NEAR(st.seconds, 64 * 0.062 + 1.0, 1.0 / 44100);
    EXPECT_GT(st.rms, 0.01);
    // A name ending in .flac gets FLAC, as in the window's Export Audio.
    ASSERT_EQ(cli("render " + trw + " " + path("out.FLAC")).code, 0);
    EXPECT_EQ(text(path("out.FLAC")).substr(0, 4), "fLaC");
    EXPECT_NEAR(sox(path("out.FLAC")).seconds, st.seconds, 1.0 / 44100);

    // A composition renders by default when there is one: 16 ticks at 60 and at 120.
    const std::string comp = document("comp.trw", 0, 16, 96, 2);
    ASSERT_EQ(cli("render " + comp + " " + path("comp.wav") + " --tail 0").code, 0);
    EXPECT_NEAR(sox(path("comp.wav")).seconds, 16 * 0.125 + 16 * 0.062, 1.0 / 44100);
    ASSERT_EQ(cli("render " + comp + " " + path("cur.wav") + " --tail 0 --mode current").code, 0);
    EXPECT_NEAR(sox(path("cur.wav")).seconds, 16 * 0.078, 1.0 / 44100);
}

TEST_F(PlaybackCommands, RenderRefusesWhatCannotPlayAndWritesNothing) {
    const std::string empty = document("empty.trw", 10, 10, 120);
    CliRun r = cli("render " + empty + " " + path("a.wav"));
    EXPECT_NE(r.code, 0);
    EXPECT_NE(r.err.find("Start counter must be less then End Counter"), std::string::npos) << r.err;
    r = cli("render " + empty + " " + path("a.wav") + " --mode composition");
    EXPECT_NE(r.err.find("The composition has no events"), std::string::npos) << r.err;
    r = cli("render " + document("ok.trw", 0, 8, 120) + " " + path("a.wav") + " --soundfont " + path("none.sf2"));
    EXPECT_NE(r.code, 0);
    EXPECT_NE(r.err.find("SoundFont not found"), std::string::npos) << r.err;
    r = cli("render " + path("missing.trw") + " " + path("a.wav"));
    EXPECT_NE(r.code, 0);
    EXPECT_FALSE(fs::exists(path("a.wav")));
}

// The note ons that sound, with their ticks: what a listener hears of a MIDI file.
std::vector<std::pair<uint64_t, std::vector<uint8_t>>> strikes(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::pair<uint64_t, std::vector<uint8_t>>> out;
    for (const auto& e : testing::readSmf(bytes).events) {
        if (e.kind() == 0x90 && e.data.at(1) > 0) out.emplace_back(e.date, std::vector<uint8_t>{e.status, e.data[0], e.data[1]});
    }
    return out;
}

TEST_F(PlaybackCommands, PlayOnTheSynthesizerRecordsInRealTimeIntoAWav) {
    const std::string trw = document("short.trw", 0, 24, 240);  // 24 ticks of 31 ms
    const auto t0 = std::chrono::steady_clock::now();
    const CliRun r = cli("play " + trw + " --lock --device 1 --wav " + path("live.wav") + " --record " + path("take.mid"));
    const auto took = std::chrono::steady_clock::now() - t0;
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("Finished"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("End counter 24"), std::string::npos) << r.err;
    EXPECT_GE(took, 24 * 31ms);  // real time: never faster than the ticks
    const testing::SoxStat st = sox(path("live.wav"));
    EXPECT_GT(st.seconds, 24 * 0.031);
    EXPECT_GT(st.rms, 0.005);
    // The recording sounds as the export of the same passage.
    ASSERT_EQ(cli("export " + trw + " " + path("export.mid")).code, 0);
    const auto recorded = strikes(path("take.mid"));
    EXPECT_EQ(recorded.size(), 3u);
    EXPECT_EQ(recorded, strikes(path("export.mid")));
}

TEST_F(PlaybackCommands, InterruptStopsCleanlyAndTheDeviceIsClosed) {
    const std::string trw = document("long.trw", 0, 0, 240);
    const std::string wav = path("stopped.wav"), take = path("stopped.mid");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::freopen(path("err.txt").c_str(), "w", stderr);
        execl(TARROWIN_CLI, TARROWIN_CLI, "play", trw.c_str(), "--wav", wav.c_str(), "--record", take.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    // A loaded machine may take long to start the play: the interrupt comes a fixed time
    // (about twelve ticks) after it says it plays.
    for (int i = 0; i < 1000 && text(path("err.txt")).find("Playing") == std::string::npos; ++i) {
        std::this_thread::sleep_for(20ms);
    }
    std::this_thread::sleep_for(400ms);
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << text(path("err.txt"));
    EXPECT_NE(text(path("err.txt")).find("Stopped"), std::string::npos);
    // The file driver wrote and closed a complete file: sox reads it.
    EXPECT_GT(sox(wav).seconds, 0.3);
    EXPECT_FALSE(fs::exists(wav + ".partial"));
    // So is the recording, up to the All Notes Off that ended the play.
    EXPECT_GE(strikes(take).size(), 2u);
}

TEST_F(PlaybackCommands, PlayRefusesBadChoicesWithClearMessages) {
    const std::string trw = document("doc.trw", 0, 8, 120);
    CliRun r = cli("play " + trw + " --device 9");
    EXPECT_NE(r.code, 0);
    EXPECT_NE(r.err.find("There is no device 9"), std::string::npos) << r.err;
    r = cli("play " + trw + " --device 'no such port'");
    EXPECT_NE(r.err.find("No MIDI output device is named"), std::string::npos) << r.err;
    r = cli("play " + trw + " --mode composition");
    EXPECT_NE(r.err.find("no composition to play"), std::string::npos) << r.err;
    r = cli("play " + document("comp.trw", 0, 8, 120, 2) + " --mode composition --from-event 2");
    EXPECT_NE(r.err.find("There is no event 2"), std::string::npos) << r.err;
    r = cli("play " + trw + " --lock --device 1 --wav - --record -");
    EXPECT_NE(r.err.find("--wav and --record cannot both write -"), std::string::npos) << r.err;
    r = cli("play " + trw + " --lock", "TARROWIN_AUDIO_DRIVER=no-such-driver");
    EXPECT_NE(r.code, 0);
    EXPECT_NE(r.err.find("no audio output"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--wav"), std::string::npos) << r.err;
}

// With no JACK server (and no ALSA sequencer here), a sync that needs one is refused with
// what is missing, before anything plays: the recording is not written.
TEST_F(PlaybackCommands, ASyncThatCannotBeHadIsRefusedBeforeAnythingPlays) {
    const std::string trw = document("doc.trw", 0, 8, 120);
    const std::string env = "JACK_NO_START_SERVER=1 JACK_DEFAULT_SERVER=tarrowin-none-" + std::to_string(getpid());
    const struct {
        std::string options;
        std::string refusal;  // the end of the message
    } rows[] = {
        {"--sync jack", "No JACK server is running: the JACK transport cannot be followed"},
        {"--sync master", "No JACK server is running: Tarrowin cannot lead the JACK transport"},
        {"--sync clock --clock-in 'JACK: x'", "No JACK server is running: no MIDI clock can come in"},
        {"--sync clock --clock-in 'ALSA: x'", ": no MIDI clock can come in"},
        {"--clock-in x", "--clock-in needs --sync clock"},
    };
    for (const auto& row : rows) {
        const CliRun r = cli("play " + trw + " --lock --device 1 --wav " + path("out.wav") + " " + row.options, env);
        EXPECT_EQ(r.code, 1) << row.options;
        EXPECT_TRUE(r.err.ends_with(row.refusal + "\n")) << row.options << ": " << r.err;
        EXPECT_FALSE(fs::exists(path("out.wav"))) << row.options;
    }
}

}  // namespace
}  // namespace tarrowin
