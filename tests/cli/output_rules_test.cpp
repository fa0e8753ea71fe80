// How tarrowin-cli treats the files and streams it is given, run as a user runs it on real
// files: "-" is the standard output, whatever is behind it; an output that is not a
// regular file is never replaced; an input is never overwritten; reading never waits and
// is bounded; work too large for its format is refused at once; a stop leaves no trace.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "cli_test_support.h"
#include "document/document_file.h"

namespace tarrowin {
namespace {

namespace fs = std::filesystem;
using testing::CliRun;

const std::string kSoundFont = " --soundfont /usr/share/sounds/sf2/TimGM6mb.sf2";

// A composition of `events` events over 0..ticks whose first four voices play eighth
// notes transposed in "Random" modulation mode.
CTarrowinDoc randomlyModulated(int events, int32_t ticks) {
    CTarrowinDoc doc;
    doc.OnNewDocument();
    for (int v = 0; v < 4; ++v) {
        doc.setEnabled(v, true);
        doc.setNoteValue(v, 3, 0.0f);
        doc.setModulate(v, true);
        doc.setModulation(v, 1, 5);
    }
    doc.setEndCounter(ticks);
    for (int i = 0; i < events; ++i) doc.addCurrentSettingsAsEvent();
    return doc;
}

class OutputRules : public testing::CliTest {
   protected:
    // Runs a shell script with CLI standing for tarrowin-cli; returns its exit code.
    int sh(const std::string& script) const {
        const std::string command = "cd " + dir_.string() + " && CLI=" + TARROWIN_CLI + " && { " + script + "; } 2>" +
                                    path("stderr.txt").string();
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    static bool isKind(const fs::path& p, mode_t kind) {
        struct stat st {};
        return ::lstat(p.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == kind;
    }
};

TEST_F(OutputRules, DashWritesToTheStandardOutputWhateverIsBehindIt) {
    CTarrowinDoc doc = randomlyModulated(2, 200);
    save("song.trw", doc);
    const struct {
        std::string args, file;
    } outputs[] = {
        {"export --seed 3 song.trw", "song.mid"},
        {"image song.trw", "song.png"},
        {"new", "new.trw"},
        {"render --seed 3 --tail 0 song.trw" + kSoundFont, "song.wav"},
    };
    for (const auto& o : outputs) {
        SCOPED_TRACE(o.args);
        ASSERT_EQ(sh("$CLI " + o.args + " " + o.file + " >/dev/null"), 0) << text(path("stderr.txt"));
        const std::string expected = text(path(o.file));
        // Appended to a log, after a header, and through a pipe: nothing is lost or replaced.
        write(path("app.log"), std::string("log\n"));
        ASSERT_EQ(sh("$CLI " + o.args + " - >> app.log"), 0) << text(path("stderr.txt"));
        EXPECT_TRUE(text(path("app.log")) == "log\n" + expected);
        ASSERT_EQ(sh("{ echo header; $CLI " + o.args + " -; } > out"), 0);
        EXPECT_TRUE(text(path("out")) == "header\n" + expected);
        ASSERT_EQ(sh("$CLI " + o.args + " - | cat > piped"), 0);
        EXPECT_TRUE(text(path("piped")) == expected);
    }
}

TEST_F(OutputRules, AFailedWriteToTheStandardOutputFailsTheCommand) {
    if (!makeDevice("full", S_IFCHR, 1, 7)) GTEST_SKIP() << "device nodes cannot be made here";
    CTarrowinDoc doc = randomlyModulated(1, 64);
    save("song.trw", doc);
    for (const std::string args : {"info song.trw", "notes song.trw", "dump song.trw", "export song.trw -", "new -"}) {
        SCOPED_TRACE(args);
        EXPECT_NE(sh("$CLI " + args + " > full"), 0);
        EXPECT_NE(text(path("stderr.txt")).find("No space left on device"), std::string::npos) << text(path("stderr.txt"));
    }
}

TEST_F(OutputRules, OnlyARegularFileOrANewNameIsReplaced) {
    CTarrowinDoc doc = randomlyModulated(1, 64);
    save("song.trw", doc);
    const std::vector<std::string> writers = {"export --seed 1 song.trw", "image song.trw",
                                              "render --seed 1 --tail 0 song.trw" + kSoundFont, "new"};

    // A symbolic link is followed: the file it names is replaced and keeps its mode.
    for (const std::string& args : writers) {
        SCOPED_TRACE(args);
        ASSERT_EQ(sh("$CLI " + args + " plain >/dev/null"), 0) << text(path("stderr.txt"));
        write(path("private"), std::string("old"));
        fs::permissions(path("private"), fs::perms::owner_read | fs::perms::owner_write);
        fs::create_symlink("private", path("link"));
        ASSERT_EQ(sh("$CLI " + args + " link >/dev/null"), 0) << text(path("stderr.txt"));
        EXPECT_TRUE(fs::is_symlink(path("link")));
        EXPECT_TRUE(text(path("private")) == text(path("plain")));
        EXPECT_EQ(fs::status(path("private")).permissions(), fs::perms::owner_read | fs::perms::owner_write);
        fs::remove(path("link"));
    }

    // A folder is refused before any work, also by a playback that would record into it.
    fs::create_directory(path("folder"));
    std::vector<std::string> all = writers;
    all.push_back("play song.trw --device 1 --wav");
    for (const std::string& args : all) {
        SCOPED_TRACE(args);
        EXPECT_EQ(sh("$CLI " + args + " folder"), 1);
        EXPECT_NE(text(path("stderr.txt")).find("Is a directory"), std::string::npos) << text(path("stderr.txt"));
        EXPECT_EQ(text(path("stderr.txt")).find("Playing"), std::string::npos);
    }

    // A pipe that a program reads gets the bytes; one that nobody reads is refused at once.
    ASSERT_EQ(::mkfifo(path("pipe").c_str(), 0644), 0);
    ASSERT_EQ(sh("$CLI export --seed 1 song.trw song.mid >/dev/null"), 0);
    ASSERT_EQ(sh("cat pipe > got & $CLI export --seed 1 song.trw pipe >/dev/null; wait"), 0) << text(path("stderr.txt"));
    EXPECT_TRUE(text(path("got")) == text(path("song.mid")));
    EXPECT_TRUE(isKind(path("pipe"), S_IFIFO));
    EXPECT_EQ(sh("timeout 10 $CLI export song.trw pipe"), 1);
    EXPECT_NE(text(path("stderr.txt")).find("no program reads from the pipe"), std::string::npos);

    // A character device is written into and stays one; a block device is refused.
    if (!makeDevice("null", S_IFCHR, 1, 3) || !makeDevice("disk", S_IFBLK, 7, 0)) {
        GTEST_SKIP() << "device nodes cannot be made here";
    }
    for (const std::string& args : writers) {
        SCOPED_TRACE(args);
        EXPECT_EQ(sh("$CLI " + args + " null >/dev/null"), 0) << text(path("stderr.txt"));
        EXPECT_TRUE(isKind(path("null"), S_IFCHR));
        EXPECT_EQ(sh("$CLI " + args + " disk"), 1);
        EXPECT_NE(text(path("stderr.txt")).find("it is a device, not a file"), std::string::npos) << text(path("stderr.txt"));
        EXPECT_TRUE(isKind(path("disk"), S_IFBLK));
    }
}

TEST_F(OutputRules, AnOutputThatIsAnInputIsRefused) {
    CTarrowinDoc doc = randomlyModulated(1, 64);
    const std::string in = save("song.trw", doc);
    const auto original = bytes(in);
    ASSERT_EQ(cli("dump " + in).code, 0);
    write(path("song.json"), text(path("stdout.txt")));
    fs::create_hard_link(in, path("hard.trw"));
    fs::create_symlink("song.trw", path("soft.trw"));
    fs::create_hard_link(path("song.json"), path("hard.json"));

    const std::string spellings[] = {in, (dir_ / "." / "song.trw").string(), path("hard.trw").string(),
                                     path("soft.trw").string()};
    for (const std::string& out : spellings) {
        for (const std::string& command :
             std::vector<std::string>{"export " + in, "image " + in, "render " + in, "play --device 1 " + in + " --wav"}) {
            SCOPED_TRACE(command + " " + out);
            const CliRun r = cli(command + " " + out);
            EXPECT_NE(r.code, 0);
            EXPECT_NE(r.err.find("it is the input file"), std::string::npos) << r.err;
        }
    }
    EXPECT_NE(cli("load " + path("song.json").string() + " " + path("hard.json").string()).code, 0);
    EXPECT_NE(sh("$CLI export song.trw - >> song.trw"), 0);
    EXPECT_NE(text(path("stderr.txt")).find("it is the input file"), std::string::npos);
    EXPECT_EQ(bytes(in), original);
}

TEST_F(OutputRules, TheStemsFolderIsUsedOrMadeAndWhatCannotBeWrittenIsRefusedFirst) {
    CTarrowinDoc doc = randomlyModulated(1, 32);  // voices 1 to 4 play
    save("song.trw", doc);
    save("voice-01.wav", doc);
    // Sixteen events in which every voice takes every channel in turn.
    CTarrowinDoc everywhere = randomlyModulated(0, 32);
    for (int e = 0; e < 16; ++e) {
        for (int v = 0; v < kVoices; ++v) everywhere.mutableCurrent().voices[static_cast<size_t>(v)].channel = (v + e) % 16;
        everywhere.addCurrentSettingsAsEvent();
    }
    save("everywhere.trw", everywhere);
    fs::create_directories(path("full/voice-02.wav"));
    fs::create_directory(path("used"));
    const struct {
        std::string args, message;
    } refusals[] = {
        {"song.trw mix.wav --stems song.trw", "Could not use the folder song.trw for the stems: it is a file, not a folder"},
        {"song.trw mix.wav --stems none/stems", "Could not use the folder none/stems for the stems: No such file or directory"},
        {"song.trw mix.wav --stems -", "--stems cannot be the standard output"},
        {"song.trw used/voice-03.wav --stems used", "The mix cannot be written as the stem used/voice-03.wav"},
        {"song.trw mix.wav --stems full", "Could not create full/voice-02.wav: Is a directory"},
        {"voice-01.wav mix.wav --stems .", "it is the input file"},
        {"everywhere.trw mix.wav --stems new", "Every voice plays on each of the 16 channels in this composition"},
    };
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.args);
        EXPECT_EQ(sh("$CLI render " + r.args + kSoundFont), 1);
        EXPECT_NE(text(path("stderr.txt")).find(r.message), std::string::npos) << text(path("stderr.txt"));
        EXPECT_EQ(entries(), (std::vector<std::string>{"everywhere.trw", "full", "song.trw", "used", "voice-01.wav"}));
        EXPECT_TRUE(fs::is_empty(path("used")));
    }

    // A folder that exists keeps what is not a stem; an earlier rendering's stem of a voice
    // that does not sound now goes, one in the other format stays.
    for (const char* name : {"voice-05.wav", "voice-05.flac", "notes.txt"}) write(path("used") / name, "old");
    ASSERT_EQ(sh("$CLI render song.trw mix.wav --stems used" + kSoundFont), 0) << text(path("stderr.txt"));
    EXPECT_NE(text(path("stderr.txt")).find("Wrote into used: voice-01.wav, voice-02.wav, voice-03.wav, voice-04.wav, effects.wav"),
              std::string::npos)
        << text(path("stderr.txt"));
    std::vector<std::string> used;
    for (const auto& e : fs::directory_iterator(path("used"))) used.push_back(e.path().filename().string());
    std::sort(used.begin(), used.end());
    EXPECT_EQ(used, (std::vector<std::string>{"effects.wav", "notes.txt", "voice-01.wav", "voice-02.wav", "voice-03.wav",
                                              "voice-04.wav", "voice-05.flac"}));
    // A missing folder is made.
    ASSERT_EQ(sh("$CLI render song.trw mix.flac --stems made/" + kSoundFont), 0) << text(path("stderr.txt"));
    EXPECT_TRUE(fs::exists(path("made/voice-04.flac")));
}

TEST_F(OutputRules, ReadingNeverWaitsAndIsBounded) {
    ASSERT_EQ(::mkfifo(path("pipe.trw").c_str(), 0644), 0);
    for (const std::string args : {"dump", "info", "export --mode current", "load"}) {
        SCOPED_TRACE(args);
        const CliRun r = cli(args + " " + path("pipe.trw").string() + (args == "dump" || args == "info" ? "" : " out"),
                             "timeout 10 ");
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.err.find("it is a pipe, not a regular file"), std::string::npos) << r.err;
    }

    // JSON has the documents' size limit; nesting deeper than a document is refused before
    // anything is built from it.
    write(path("huge.json"), std::string("{"));
    fs::resize_file(path("huge.json"), (64u << 20) + 1);
    CliRun r = cli("load " + path("huge.json").string() + " " + path("out.trw").string());
    EXPECT_NE(r.err.find("it is larger than 64 MB, more than any Tarrowin document"), std::string::npos) << r.err;
    const int levels = 50000;
    write(path("deep.json"), "{\"reserved\": 1, \"current\": " + std::string(levels, '[') + std::string(levels, ']') +
                                 ", \"events\": []}");
    r = cli("load " + path("deep.json").string() + " " + path("out.trw").string());
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("it is nested deeper than a Tarrowin document"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(path("out.trw")));
}

TEST_F(OutputRules, WorkTooLargeForItsFormatIsRefusedBeforeItStarts) {
    // 1000 events of 50959 ticks, 16 voices striking every tick without ties: far more
    // than a MIDI track holds and thousands of minutes of audio.
    Settings s = Settings::defaults();
    s.global.endCounter = kMaxStoredCounter;
    for (VoiceSettings& v : s.voices) {
        v.enabled = 1;
        v.tied = 0;
        v.setNoteValue(11, 1.0f);
    }
    Composition composition;
    for (int i = 0; i < kMaxEvents; ++i) composition.append(s);
    CTarrowinDoc doc;
    doc.replaceContents(s, 1, composition);
    save("huge.trw", doc);
    const struct {
        std::string args, message;
    } refusals[] = {
        {"export huge.trw huge.mid", "The MIDI file would be at least 6.1 GB, more than the 4 GB a MIDI file can hold"},
        {"export huge.trw - > huge.mid", "The MIDI file would be at least 6.1 GB"},
        {"render huge.trw huge.wav", "minutes, more than a WAV file can hold"},
    };
    for (const auto& c : refusals) {
        SCOPED_TRACE(c.args);
        EXPECT_EQ(sh("$CLI " + c.args), 1);
        EXPECT_NE(text(path("stderr.txt")).find(c.message), std::string::npos) << text(path("stderr.txt"));
        fs::remove(path("huge.mid"));
        EXPECT_EQ(entries(), std::vector<std::string>{"huge.trw"});
    }
}

TEST_F(OutputRules, FileNamesUpToTheLongestWork) {
    CTarrowinDoc doc = randomlyModulated(1, 64);
    save("song.trw", doc);
    const std::string stem(251, 'n');
    for (const std::string& args : std::vector<std::string>{"new " + stem + ".trw", "export song.trw " + stem + ".mid", "image song.trw " + stem + ".png",
                                   "render --tail 0 song.trw " + stem + ".wav" + kSoundFont}) {
        SCOPED_TRACE(args.substr(0, 20));
        EXPECT_EQ(sh("$CLI " + args + " >/dev/null"), 0) << text(path("stderr.txt"));
    }
    EXPECT_EQ(entries(), (std::vector<std::string>{stem + ".mid", stem + ".png", stem + ".trw", stem + ".wav", "song.trw"}));
}

TEST_F(OutputRules, EveryWayOfStoppingLeavesNoTraceAndTheOldFile) {
    CTarrowinDoc doc = randomlyModulated(3, 49000);
    save("long.trw", doc);
    write(path("old.wav"), std::string("old"));
    write(path("old.mid"), std::string("old"));
    fs::create_directory(path("stems"));
    write(path("stems/voice-01.wav"), std::string("old"));
    const std::vector<std::string> files = {"long.trw", "old.mid", "old.wav", "stems"};

    // Signals while rendering, and while playing into a recording (whose private folder
    // goes to TMPDIR, here the test's folder).
    const struct {
        const char* signal;
        int code;
        std::string args;
    } stops[] = {
        {"INT", 130, "render long.trw old.wav" + kSoundFont},
        {"TERM", 143, "render long.trw old.wav" + kSoundFont},
        {"HUP", 129, "render long.trw old.wav" + kSoundFont},
        {"TERM", 143, "render long.trw old.wav --stems stems" + kSoundFont},
        {"INT", 130, "render long.trw old.wav --stems new-stems" + kSoundFont},
        {"TERM", 143, "play long.trw --device 1 --wav old.wav" + kSoundFont},
        {"HUP", 129, "play long.trw --device 1 --wav old.wav" + kSoundFont},
    };
    for (const auto& stop : stops) {
        SCOPED_TRACE(std::string(stop.signal) + " " + stop.args);
        EXPECT_EQ(sh("TMPDIR=" + dir_.string() + " timeout --preserve-status -s " + stop.signal + " 1.5 $CLI " + stop.args),
                  stop.code)
            << text(path("stderr.txt"));
        EXPECT_NE(text(path("stderr.txt")).find("old.wav was not written"), std::string::npos) << text(path("stderr.txt"));
        EXPECT_EQ(text(path("old.wav")), "old");
        EXPECT_EQ(entries(), files);
        EXPECT_EQ(std::distance(fs::directory_iterator(path("stems")), fs::directory_iterator()), 1);
        EXPECT_EQ(text(path("stems/voice-01.wav")), "old");
    }

    // Past a file size limit (4 KB) the write fails and says so.
    for (const std::string& args : std::vector<std::string>{"export long.trw old.mid", "render long.trw old.wav" + kSoundFont,
                                                            "randomize --seed 1 long.trw old.mid"}) {
        SCOPED_TRACE(args);
        EXPECT_EQ(sh("ulimit -f 8; $CLI " + args), 1);
        EXPECT_NE(text(path("stderr.txt")).find("File too large"), std::string::npos) << text(path("stderr.txt"));
        EXPECT_EQ(text(path("old.mid")), "old");
        EXPECT_EQ(text(path("old.wav")), "old");
        EXPECT_EQ(entries(), files);
    }
}

TEST_F(OutputRules, OneSeedAlwaysGivesTheSameRandomModulation) {
    CTarrowinDoc doc = randomlyModulated(2, 400);
    save("song.trw", doc);
    const auto run = [&](const std::string& args) {
        EXPECT_EQ(sh("$CLI " + args + " out >/dev/null"), 0) << text(path("stderr.txt"));
        return bytes(path("out"));
    };
    EXPECT_EQ(run("export --seed 5 song.trw"), run("export --seed 5 song.trw"));
    EXPECT_NE(run("export --seed 5 song.trw"), run("export --seed 6 song.trw"));
    EXPECT_NE(run("export song.trw"), run("export song.trw"));  // without a seed, every export differs
    EXPECT_EQ(run("render --seed 5 --tail 0 song.trw" + kSoundFont), run("render --seed 5 --tail 0 song.trw" + kSoundFont));
}

}  // namespace
}  // namespace tarrowin
