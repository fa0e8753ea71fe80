// tarrowin-cli export, run as a user runs it, on real document files.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "document/document_file.h"
#include "midifile/midi_export.h"
#include "cli_test_support.h"

namespace tarrowin {
namespace {

namespace fs = std::filesystem;

using testing::CliRun;

using ExportCommand = testing::CliTest;

// A document whose current settings run 0..64 and which has `events` events of 40 ticks.
CTarrowinDoc documentWith(int events) {
    CTarrowinDoc doc;
    doc.OnNewDocument();
    doc.setEnabled(3, true);
    doc.setNoteValue(3, 3, 0.0f);
    doc.setEndCounter(64);
    for (int i = 0; i < events; ++i) {
        CompositionEvent e;
        doc.CopyCurrentSettingsIntoEvent(e);
        e.global.startCounter = 100 * i;
        e.global.endCounter = 100 * i + 40;
        e.voices[9].enabled = 1;
        doc.mutableComposition().append(e);
    }
    return doc;
}

std::vector<uint8_t> inMemory(const CTarrowinDoc& doc, ExportMode mode, int32_t percussion = 9) {
    std::vector<uint8_t> b;
    EXPECT_TRUE(exportMidiToMemory(doc, mode, b, percussion).ok);
    return b;
}

TEST_F(ExportCommand, TheModeFollowsTheDocumentUnlessChosen) {
    CTarrowinDoc withEvents = documentWith(3), without = documentWith(0);
    save("events.trw", withEvents);
    save("plain.trw", without);

    CliRun r = cli("export " + path("events.trw").string() + " " + path("a.mid").string());
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(bytes(path("a.mid")), inMemory(withEvents, ExportMode::Composition));
    std::vector<uint8_t> ignored;
    const int64_t notes = exportMidiToMemory(withEvents, ExportMode::Composition, ignored).notes;
    EXPECT_EQ(r.out, path("a.mid").string() + ": composition of 3 events, 120 ticks, " + std::to_string(notes) + " notes\n");
    EXPECT_TRUE(r.err.empty()) << r.err;  // no progress without a terminal

    r = cli("export " + path("plain.trw").string() + " " + path("b.mid").string());
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(bytes(path("b.mid")), inMemory(without, ExportMode::CurrentSettings));

    r = cli("export --mode current " + path("events.trw").string() + " " + path("c.mid").string());
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(bytes(path("c.mid")), inMemory(withEvents, ExportMode::CurrentSettings));

    r = cli("export --percussion-channel 3 " + path("events.trw").string() + " " + path("d.mid").string());
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(bytes(path("d.mid")), inMemory(withEvents, ExportMode::Composition, 3));
    EXPECT_NE(bytes(path("d.mid")), bytes(path("a.mid")));

    // "-" writes the file to the standard output, a pipe or a redirection.
    r = cli("export " + path("events.trw").string() + " -");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(bytes(path("stdout.txt")), bytes(path("a.mid")));
    const std::string piped = std::string(TARROWIN_CLI) + " export " + path("events.trw").string() + " - | cat > " +
                              path("piped.mid").string();
    ASSERT_EQ(std::system(piped.c_str()), 0);
    EXPECT_EQ(bytes(path("piped.mid")), bytes(path("a.mid")));
}

TEST_F(ExportCommand, RefusalsSayWhyAndWriteNothing) {
    CTarrowinDoc doc = documentWith(0);
    doc.setEndCounter(0);
    save("empty.trw", doc);
    const std::string out = " " + path("out.mid").string();

    CliRun r = cli("export " + path("empty.trw").string() + out);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "tarrowin-cli: Start counter must be less then End Counter\n");
    r = cli("export --mode composition " + path("empty.trw").string() + out);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "tarrowin-cli: The composition has no events\n");

    std::ofstream(path("bad.trw")) << "not a document";
    r = cli("export " + path("bad.trw").string() + out);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("Cannot open"), std::string::npos) << r.err;

    CTarrowinDoc good = documentWith(1);
    save("good.trw", good);
    r = cli("export " + path("good.trw").string() + " " + path("missing/out.mid").string());
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("Cannot write \"" + path("missing/out.mid").string() + "\": No such file or directory"),
              std::string::npos)
        << r.err;

    EXPECT_NE(cli("export --percussion-channel 16 " + path("good.trw").string() + out).code, 0);
    EXPECT_NE(cli("export --mode everything " + path("good.trw").string() + out).code, 0);
    EXPECT_EQ(entries(), (std::vector<std::string>{"bad.trw", "empty.trw", "good.trw"}));
}

// Long enough to take a second or so: 200 events that each warm 16 voices up over 49000
// ticks of 32nd notes with the Martin map, which never settles into a cycle.
CTarrowinDoc slowDocument() {
    CTarrowinDoc doc;
    doc.OnNewDocument();
    for (int v = 0; v < kVoices; ++v) {
        doc.setEnabled(v, true);
        doc.setAlgorithm(v, Algorithm::Martin);
        doc.setNoteValue(v, 5, 0.0f);
        doc.editVoice(v, [v](VoiceSettings& s) { s.martinAngle = 0.3f + 0.1f * static_cast<float>(v); });
    }
    doc.setStartCounter(49000);
    doc.setEndCounter(49010);
    for (int i = 0; i < 200; ++i) {
        CompositionEvent e;
        doc.CopyCurrentSettingsIntoEvent(e);
        doc.mutableComposition().append(e);
    }
    return doc;
}

TEST_F(ExportCommand, ShowsProgressOnATerminalAndStopsCleanlyOnSignals) {
    CTarrowinDoc doc = slowDocument();
    save("slow.trw", doc);
    const std::string args = "export " + path("slow.trw").string() + " " + path("slow.mid").string();

    // script(1) gives the command a terminal; what it shows there lands in the log.
    const fs::path log = path("terminal.log");
    const std::string command = "script -qfec '" + std::string(TARROWIN_CLI) + " " + args + "' " + log.string() +
                                " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string shown = text(log);
    EXPECT_NE(shown.find("Exporting composition: "), std::string::npos) << shown;
    EXPECT_NE(shown.find("%"), std::string::npos);
    EXPECT_NE(shown.find("\033[K"), std::string::npos);  // the line is cleared at the end
    EXPECT_EQ(bytes(path("slow.mid")), inMemory(doc, ExportMode::Composition));
    fs::remove(log);

    // Stopped half way: the older file stays, and no temporary file is left.
    const auto before = bytes(path("slow.mid"));
    const struct {
        const char* signal;
        int code;
        const char* said;
    } stops[] = {{"INT", 130, "Interrupted"}, {"TERM", 143, "Terminated"}, {"HUP", 129, "Hung up"}};
    for (const auto& stop : stops) {
        SCOPED_TRACE(stop.signal);
        const CliRun r = cli(args, std::string("timeout --preserve-status -s ") + stop.signal + " 0.3 ");
        EXPECT_EQ(r.code, stop.code);
        EXPECT_NE(r.err.find(std::string(stop.said) + "; " + path("slow.mid").string() + " was not written"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(bytes(path("slow.mid")), before);
        EXPECT_EQ(entries(), (std::vector<std::string>{"slow.mid", "slow.trw"}));
    }
}

}  // namespace
}  // namespace tarrowin
