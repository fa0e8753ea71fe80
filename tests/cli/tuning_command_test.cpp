// tarrowin-cli tuning, and a tuning through info, dump and load, run as a user runs them.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>


#include "cli_test_support.h"
#include "document/file_builders.h"
#include "support/tuning_files.h"

namespace tarrowin {
namespace {

using nlohmann::ordered_json;
using testing::CliRun;
using testing::tuningFilePath;

class TuningCommand : public testing::CliTest {
   protected:
    std::string twoEvents() const {
        CTarrowinDoc doc = testing::documentWithEvents(2);
        return save("two.trw", doc);
    }
};

TEST_F(TuningCommand, TunesReportsSurvivesDumpAndLoadAndResetsToTheSameBytes) {
    const std::string in = twoEvents();
    const std::string tuned = path("tuned.trw").string();
    CliRun r = cli("tuning " + in + " " + tuned + " --scl " + tuningFilePath("ji-major.scl") + " --kbm " +
                   tuningFilePath("white-keys-d.kbm") + " --method bend --untuned 10,12");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("Reference: 293.665 Hz at key 62 (D5)"), std::string::npos) << r.out;
    CTarrowinDoc doc;
    ASSERT_TRUE(openDocumentFile(tuned, doc).ok);
    EXPECT_EQ(doc.tuning(), [] {
        TuningSettings t = testing::justOnWhiteKeys();
        t.tuned[11] = false;
        return t;
    }());

    r = cli("info " + tuned);
    ASSERT_EQ(r.code, 0) << r.err;
    for (const char* row : {"Tuning: Just intonation major scale, 5-limit\n", "Method: Pitch bend\n",
                            "Tuned voices: all but voices 10, 12\n", "53 keys unmapped"}) {
        EXPECT_NE(r.out.find(row), std::string::npos) << row << " in\n" << r.out;
    }

    r = cli("dump " + tuned);
    ASSERT_EQ(r.code, 0) << r.err;
    write(path("tuned.json"), r.out);
    ASSERT_EQ(cli("load " + path("tuned.json").string() + " " + path("loaded.trw").string()).code, 0);
    EXPECT_EQ(bytes(path("loaded.trw")), bytes(tuned));

    // Another method alone keeps the scale; --reset writes the untuned file again.
    ASSERT_EQ(cli("tuning " + tuned + " " + tuned + " --method mts").code, 0);
    ASSERT_TRUE(openDocumentFile(tuned, doc).ok);
    EXPECT_EQ(doc.tuning().method, TuningMethod::Mts);
    EXPECT_FALSE(doc.tuning().tuning.isEqualTemperament());
    ASSERT_EQ(cli("tuning " + tuned + " " + path("reset.trw").string() + " --reset").code, 0);
    EXPECT_EQ(bytes(path("reset.trw")), bytes(in));
    EXPECT_EQ(cli("info " + in).out.find("Tuning:"), std::string::npos);

    // A map alone retunes equal temperament: the white keys play its degrees 0..6 with D
    // (degree 1) at 293.6648 Hz, so E (degree 2) sounds a semitone above, the black keys not.
    ASSERT_EQ(cli("tuning " + in + " " + tuned + " --kbm " + tuningFilePath("white-keys-d.kbm")).code, 0);
    ASSERT_TRUE(openDocumentFile(tuned, doc).ok);
    EXPECT_NEAR(doc.tuning().tuning.key(62).pitch, 62.0, 1e-4);
    EXPECT_NEAR(doc.tuning().tuning.key(64).pitch, 63.0, 1e-4);
    EXPECT_FALSE(doc.tuning().tuning.key(61).mapped);
    EXPECT_EQ(doc.tuning().tuning.scale().degrees(), 12);
}

TEST_F(TuningCommand, RefusesBadFilesAndOptionsAndWritesNothing) {
    const std::string in = twoEvents();
    write(path("bad.scl"), std::string("bad\n2\n100.0\nfour\n"));
    write(path("bad.kbm"), std::string("12\n0\n127\n60\n69\n0\n"));
    const std::string scl = " --scl " + tuningFilePath("19edo.scl");
    const std::pair<std::string, std::string> cases[] = {
        {"", "Give --scl (with --kbm), --method, --untuned or --reset"},
        {scl + " --reset", "--reset takes the tuning away: give it alone"},
        {" --scl " + path("bad.scl").string(), "bad.scl\": line 4: degree 2 is neither a ratio nor cents: \"four\""},
        {scl + " --kbm " + path("bad.kbm").string(), "bad.kbm\": line 6: the reference frequency must be"},
        {" --scl " + path("absent.scl").string(), "absent.scl\": "},
        {scl + " --method cents", "--method"},
        {scl + " --untuned 17", "--untuned: 17 is outside 1..16"},
    };
    for (const auto& [options, message] : cases) {
        SCOPED_TRACE(options);
        const CliRun r = cli("tuning " + in + " " + path("out.trw").string() + options);
        EXPECT_NE(r.code, 0);
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(path("out.trw")));
    }
}

TEST_F(TuningCommand, LoadRefusesABrokenTuningNamingIt) {
    ASSERT_EQ(cli("tuning " + twoEvents() + " " + path("t.trw").string() + " --scl " + tuningFilePath("31edo.scl")).code, 0);
    const ordered_json dumped = ordered_json::parse(cli("dump " + path("t.trw").string()).out);
    const std::pair<std::function<void(ordered_json&)>, std::string> cases[] = {
        {[](ordered_json& t) { t["method"] = "cents"; }, "Tuning: method is \"cents\"; it is \"mts\" or \"bend\""},
        {[](ordered_json& t) { t["tuned"].erase(0); }, "Tuning: tuned must be a list of 16 true or false, not 15 values"},
        {[](ordered_json& t) { t["tuned"][3] = 1; }, "Tuning: tuned of voice 4 must be true or false"},
        {[](ordered_json& t) { t["scale"] = "x\n1\n-2\n"; }, "Tuning: scale, line 3: degree 1 is a negative ratio"},
        {[](ordered_json& t) { t["scale"] = ""; t["keyboardMap"] = "0\n"; }, "Tuning: a keyboardMap needs a scale"},
        {[](ordered_json& t) { t["period"] = 1200; }, "Tuning: unknown field \"period\""},
        {[](ordered_json& t) { t.erase("method"); }, "Tuning: field \"method\" is missing"},
    };
    for (const auto& [edit, message] : cases) {
        SCOPED_TRACE(message);
        ordered_json j = dumped;
        edit(j["tuning"]);
        write(path("edited.json"), j.dump());
        const CliRun r = cli("load " + path("edited.json").string() + " " + path("out.trw").string());
        EXPECT_NE(r.code, 0);
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(path("out.trw")));
    }
}

}  // namespace
}  // namespace tarrowin
