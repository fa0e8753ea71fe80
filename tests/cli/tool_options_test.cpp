// The options of the composition tools and the playback commands are read exactly as
// written or refused: none silently does nothing, none is read as something else.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "cli_test_support.h"
#include "document/document_file.h"

namespace tarrowin {
namespace {

namespace fs = std::filesystem;
using testing::CliRun;

class ToolOptions : public testing::CliTest {
   protected:
    void SetUp() override {
        CliTest::SetUp();
        CTarrowinDoc doc;
        doc.OnNewDocument();
        doc.setEndCounter(64);
        doc.addCurrentSettingsAsEvent();
        in_ = save("in.trw", doc);
        out_ = path("out.trw").string();
    }
    std::string in_, out_;
};

TEST_F(ToolOptions, OptionsThatWouldChangeNothingOrBeMisreadAreRefused) {
    const struct {
        const char* command;
        const char* options;
        const char* message;
    } cases[] = {
        {"edit-voices", "--voices 3 --noise 0.9", "--noise needs --algorithm 1/f-noise"},
        {"edit-voices", "--voices 3 --algorithm henon --noise 0.9", "--noise needs --algorithm 1/f-noise"},
        {"edit-voices", "--voices 3 --match-scale yes", "--match-scale needs --inverted"},
        {"edit-voices", "--voices 3 --modulate-mode random", "--modulate-mode needs --modulate"},
        {"edit-voices", "--voices 3 --modulate-every 4", "--modulate-every needs --modulate"},
        {"edit-voices", "--voices 3 --other-value 5", "--other-value needs --note-value other"},
        {"edit-voices", "--voices 3 --user-scale 0,4,7", "--user-scale needs --scale user-defined"},
        {"edit-voices", "--voices 3", "Nothing to change"},
        {"edit-voices", "--voices -3 --pan 3", "--voices: \"-3\" is not one of the items"},
        {"edit-voices", "--voices 3 --note C-1", "--note: \"C-1\" is not one of the items"},
        {"edit-voices", "--voices 3 --algorithm 1/f-noise --noise nan", "nan is not a number"},
        {"randomize", "--seed 0", "--seed: Value 0 not in range 1 to 2147483398"},
        {"randomize", "--notes C-1", "--notes: \"C-1\" is not one of the items"},
        {"randomize", "--boxes none --param1-range 2 10", "--param1-range needs the \"param1\" box"},
        {"randomize", "--boxes tempo --instruments 0-7", "--instruments needs the \"instrument\" box"},
        {"randomize", "--other-range 1 4", "--other-range needs \"other\" in --note-values"},
        {"create", "--allow-silence", "--allow-silence needs --voices-on-off"},
        {"render", "--tail nan", "nan is not a number"},
        {"render", "--seed 0", "--seed: Value 0 not in range"},
        {"export", "--seed 0", "--seed: Value 0 not in range"},
        {"play", "--delay nan", "nan is not a number"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.command) + " " + c.options);
        const std::string command = c.command;
        const std::string files = command == "play" ? in_ : in_ + " " + out_;
        const CliRun r = cli(command + " " + c.options + " " + files);
        EXPECT_NE(r.code, 0);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(out_));
    }

    // Given together, they act.
    ASSERT_EQ(cli("edit-voices --voices 3 --algorithm 1/f-noise --noise 0.25 " + in_ + " " + out_).code, 0);
    CTarrowinDoc edited;
    ASSERT_TRUE(openDocumentFile(out_, edited).ok);
    EXPECT_EQ(edited.voice(2).noiseCoefficient, 0.25f);
}

TEST_F(ToolOptions, AnsweringNoWritesNothing) {
    for (const std::string command : {"event remove --index 0", "event clear", "event replace --index 0", "event tempo"}) {
        SCOPED_TRACE(command);
        const CliRun r = cli(command + " --no " + in_ + " " + out_);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_NE(r.out.find("No\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("Nothing changed: " + out_ + " was not written"), std::string::npos) << r.out;
        EXPECT_FALSE(fs::exists(out_));
    }
}

}  // namespace
}  // namespace tarrowin
