// A tuned document heard: rendered by tarrowin-cli through the built-in synthesizer's key
// tuning (also as stems, and played in real time), and exported by both methods and rendered by the fluidsynth program, a player
// we did not write. Each note's fundamental, measured with numpy's FFT, lies where the
// tuning puts its key, measured against the untuned note (which cancels the SoundFont's
// own tuning of its samples).

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "cli/cli_test_support.h"
#include "playback/sox_stat.h"
#include "support/tuning_files.h"

namespace tarrowin {
namespace {

constexpr const char* kSoundFont = "/usr/share/sounds/sf2/default-GM.sf2";

class TunedSound : public testing::CliTest {
   protected:
    // Voice 1 holding `key` for 32 ticks (2.5 s) on a church organ, which holds its pitch.
    std::string heldNote(int key) const {
        CTarrowinDoc doc;
        doc.OnNewDocument();
        doc.setEndCounter(32);
        doc.setStartNote(0, key);
        doc.setNoteValue(0, 11, 64.0f);
        doc.editVoice(0, [](VoiceSettings& v) { v.instrument = 19; });
        return save("held.trw", doc);
    }

    void run(const std::string& args) const {
        const testing::CliRun r = cli(args);
        ASSERT_EQ(r.code, 0) << args << "\n" << r.err;
    }
    // The exported file played by fluidsynth into a WAV.
    std::string fluidsynth(const std::string& mid) const {
        const std::string wav = mid + ".wav";
        const std::string command = "fluidsynth -ni -g 0.4 -r 44100 -F '" + wav + "' " + kSoundFont + " '" + mid + "' >/dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0);
        return wav;
    }
    // The strongest frequency within 80 cents of `around`, from 0.5 s to 2 s.
    static double peak(const std::string& wav, double around) {
        char range[96];
        std::snprintf(range, sizeof range, " 0.5 2.0 %f %f", around * std::pow(2.0, -80 / 1200.0),
                      around * std::pow(2.0, 80 / 1200.0));
        FILE* p = ::popen(("/usr/bin/python3 " TARROWIN_PEAK_FREQUENCY " '" + wav + "'" + range + " 2>&1").c_str(), "r");
        char line[256] = {};
        const bool read = p != nullptr && std::fgets(line, sizeof line, p) != nullptr;
        if (p != nullptr) ::pclose(p);
        EXPECT_TRUE(read);
        return std::atof(line);
    }
    static double cents(double f, double reference) { return 1200.0 * std::log2(f / reference); }
};

struct Case {
    const char* scale;
    const char* map;
    int key;
    bool stems;  // also render the stems, each voice through synthesizer channels of its own
    bool live;   // also play it in real time to the synthesizer, recorded by its file driver
};

TEST_F(TunedSound, RenderAndExportedFilesSoundAtTheTuningsPitches) {
    const Case cases[] = {
        {"19edo.scl", "", 61, false, true},
        {"31edo.scl", "", 63, true, false},
        {"ji-major.scl", "white-keys-d.kbm", 64, false, false},
        {"ji-major.scl", "white-keys-d.kbm", 71, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.scale) + " key " + std::to_string(c.key));
        const Tuning tuning = *Tuning::fromText(testing::tuningFile(c.scale), *c.map ? testing::tuningFile(c.map) : "").value;
        const double deviation = tuning.deviationCents(c.key);
        const std::string held = heldNote(c.key);
        const std::string map = *c.map ? " --kbm " + testing::tuningFilePath(c.map) : "";
        run("tuning " + held + " " + path("mts.trw").string() + " --scl " + testing::tuningFilePath(c.scale) + map);
        run("tuning " + path("mts.trw").string() + " " + path("bend.trw").string() + " --method bend");
        for (const char* name : {"held", "mts", "bend"}) {
            const std::string trw = path(std::string(name) + ".trw").string();
            run("render " + trw + " " + path(std::string(name) + ".wav").string() + " --tail 0 --soundfont " + kSoundFont);
            run("export " + trw + " " + path(std::string(name) + ".mid").string());
        }
        const double equal = 440.0 * std::pow(2.0, (c.key - 69) / 12.0);
        const double untuned = peak(path("held.wav").string(), equal);
        EXPECT_NEAR(cents(peak(path("mts.wav").string(), untuned * std::pow(2.0, deviation / 1200)), untuned), deviation, 1.0);
        if (c.stems) {
            run("render " + path("mts.trw").string() + " " + path("stems.wav").string() + " --tail 0 --stems " +
                path("stems").string() + " --soundfont " + kSoundFont);
            const double f = peak(path("stems/voice-01.wav").string(), untuned * std::pow(2.0, deviation / 1200));
            EXPECT_NEAR(cents(f, untuned), deviation, 1.0);
        }
        if (c.live) {
            run("play " + path("mts.trw").string() + " --lock --wav " + path("live.wav").string() + " --soundfont " +
                kSoundFont);
            const double f = peak(path("live.wav").string(), untuned * std::pow(2.0, deviation / 1200));
            EXPECT_NEAR(cents(f, untuned), deviation, 1.0);
        }
        const double untunedFile = peak(fluidsynth(path("held.mid").string()), equal);
        for (const char* method : {"mts", "bend"}) {
            SCOPED_TRACE(method);
            const double f = peak(fluidsynth(path(std::string(method) + ".mid").string()), untunedFile * std::pow(2.0, deviation / 1200));
            EXPECT_NEAR(cents(f, untunedFile), deviation, 2.0);
        }
        // The render does not depend on the method: the synthesizer tunes its keys itself.
        EXPECT_EQ(bytes(path("mts.wav")), bytes(path("bend.wav")));
    }
}

TEST_F(TunedSound, AnUnmappedKeyIsSilentAndTakingTheTuningAwayRendersAsBefore) {
    const std::string held = heldNote(61);  // C#: a black key, which the map leaves out
    run("tuning " + held + " " + path("tuned.trw").string() + " --scl " + testing::tuningFilePath("ji-major.scl") +
        " --kbm " + testing::tuningFilePath("white-keys-d.kbm"));
    run("tuning " + path("tuned.trw").string() + " " + path("reset.trw").string() + " --reset");
    for (const char* name : {"held", "tuned", "reset"}) {
        run("render " + path(std::string(name) + ".trw").string() + " " + path(std::string(name) + ".wav").string() +
            " --tail 0 --soundfont " + kSoundFont);
    }
    EXPECT_GT(testing::soxStat(path("held.wav").string()).rms, 0.01);
    EXPECT_LT(testing::soxStat(path("tuned.wav").string()).rms, 1e-4);  // the dither of 16-bit audio
    EXPECT_EQ(bytes(path("reset.trw")), bytes(held));
    EXPECT_EQ(bytes(path("reset.wav")), bytes(path("held.wav")));
}

}  // namespace
}  // namespace tarrowin
