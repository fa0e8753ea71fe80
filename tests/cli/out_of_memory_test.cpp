// tarrowin-cli with too little memory, under `ulimit -v` at every limit from the least the
// program starts with up to the first one at which the command succeeds: each run either
// succeeds or ends with exit code 1 and a message of ours, writing nothing; never a signal,
// never the words of a library.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli_test_support.h"
#include "document/document_file.h"
#include "document/file_builders.h"

namespace tarrowin {
namespace {

namespace fs = std::filesystem;
using testing::CliRun;

class OutOfMemory : public testing::CliTest {
   protected:
    void SetUp() override {
#ifdef TARROWIN_SANITIZED
        GTEST_SKIP() << "a sanitizer's runtime does not start under a limit of its address space";
#endif
        CliTest::SetUp();
    }

    CliRun limited(int megabytes, const std::string& args) const {
        return cli(args, "ulimit -v " + std::to_string(megabytes * 1024) + "; ");
    }

    // The least limit in MB at which the program runs at all (it loads its libraries).
    int startingLimit() const {
        for (int mb = 16; mb < 1024; mb += 4) {
            if (limited(mb, "new " + path("start.trw").string()).code == 0) return mb;
        }
        ADD_FAILURE() << "tarrowin-cli never started";
        return 1024;
    }
};

// The last line of stderr is our refusal, starting with `message`; unless `othersToo`, it
// is the only line (no library had its say first).
bool inOurWords(const std::string& err, const std::string& message, bool othersToo) {
    std::vector<std::string> lines;
    std::istringstream in(err);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return !lines.empty() && lines.back().rfind("tarrowin-cli: " + message, 0) == 0 && (othersToo || lines.size() == 1);
}

// The largest document there is: every event, every list full.
CTarrowinDoc largestDocument() {
    const auto full = [](int seed) {
        Settings s = testing::distinctiveSettings(seed);
        for (VoiceSettings& v : s.voices) v.scale = v.userScale = testing::listOf(kMaxScaleNotes, seed);
        return s;
    };
    Composition composition;
    for (int i = 0; i < kMaxEvents; ++i) composition.append(full(i % 250 + 1));  // counters stay in range
    CTarrowinDoc doc;
    doc.OnNewDocument();
    doc.replaceContents(full(0), 0, composition);
    return doc;
}

TEST_F(OutOfMemory, EveryLimitGivesTheResultOrOurMessageAndNothingWritten) {
    CTarrowinDoc largest = largestDocument();
    const std::string big = save("largest.trw", largest);
    const CliRun dump = cli("dump " + big);
    ASSERT_EQ(dump.code, 0) << dump.err;
    write(path("largest.json"), dump.out);
    CTarrowinDoc shortDoc;
    shortDoc.OnNewDocument();
    shortDoc.setTempo(340);
    shortDoc.setEndCounter(16);
    const std::string little = save("short.trw", shortDoc);
    const std::string out = path("out").string();

    // Steps of 1 MB where a failure used to lie in a band of a few MB (the synthesizer's).
    // Play lists the devices first, and JACK's library may print its own failure then; the
    // device's failure is the fixed text of a device that has no memory.
    const struct {
        std::string args;
        int stepMb;
        const char* message;  // what a refusal says; empty: any message of ours
        bool othersToo;
    } commands[] = {
        {"dump " + big, 4, "Not enough memory to print a document file", false},
        {"load " + path("largest.json").string() + " " + out, 4, "Not enough memory to write a document file", false},
        {"render " + little + " " + out + " --tail 0", 1, "Not enough memory to ", false},
        {"play " + little + " --lock --wav " + out, 2, "", true},
    };
    const int start = startingLimit();
    for (const auto& c : commands) {
        int refused = 0;
        bool succeeded = false;
        for (int mb = start; mb < start + 512 && !succeeded; mb += c.stepMb) {
            SCOPED_TRACE(c.args + " under " + std::to_string(mb) + " MB");
            fs::remove(out);
            const CliRun r = limited(mb, c.args);
            succeeded = r.code == 0;
            if (succeeded) break;
            ++refused;
            EXPECT_EQ(r.code, 1) << r.err;
            EXPECT_TRUE(inOurWords(r.err, c.message, c.othersToo)) << r.err;
            EXPECT_TRUE(r.out.empty()) << r.out.substr(0, 200);
            EXPECT_FALSE(fs::exists(out));
        }
        EXPECT_TRUE(succeeded) << c.args;
        EXPECT_GT(refused, 0) << c.args;  // the least limit is too little for it
    }
}

}  // namespace
}  // namespace tarrowin
