// tarrowin-cli new, dump and load, run as a user runs them, on real files.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <filesystem>
#include <limits>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "document/document_file.h"
#include "document/file_builders.h"
#include "cli_test_support.h"

namespace tarrowin {
namespace {

namespace fs = std::filesystem;
using nlohmann::ordered_json;

using testing::CliRun;

class DocumentCommands : public testing::CliTest {
   protected:
    // dump IN, load the JSON into OUT; returns OUT's bytes.
    std::vector<uint8_t> dumpAndLoad(const fs::path& in) const {
        const CliRun dump = cli("dump " + in.string());
        EXPECT_EQ(dump.code, 0) << dump.err;
        write(path("dumped.json"), dump.out);
        const CliRun load = cli("load " + path("dumped.json").string() + " " + path("loaded.trw").string());
        EXPECT_EQ(load.code, 0) << load.err;
        return bytes(path("loaded.trw"));
    }

    // The dump of a document with two events, edited by `edit`, loaded again.
    CliRun loadEdited(const std::function<void(ordered_json&)>& edit) const {
        CTarrowinDoc doc = testing::documentWithEvents(2);
        EXPECT_TRUE(saveDocumentFile(path("two.trw").string(), doc).ok);
        ordered_json j = ordered_json::parse(cli("dump " + path("two.trw").string()).out);
        edit(j);
        write(path("edited.json"), j.dump(1));
        return cli("load " + path("edited.json").string() + " " + path("edited.trw").string());
    }
};

TEST_F(DocumentCommands, NewWritesTheNewDocument) {
    const CliRun r = cli("new " + path("a.trw").string());
    ASSERT_EQ(r.code, 0) << r.err;
    CTarrowinDoc fresh;
    fresh.OnNewDocument();
    const auto written = bytes(path("a.trw"));
    EXPECT_EQ(written.size(), 3068u);
    EXPECT_EQ(written, serializeDocument(fresh));
}

TEST_F(DocumentCommands, DumpThenLoadGivesTheSameBytes) {
    ASSERT_EQ(cli("new " + path("a.trw").string()).code, 0);
    EXPECT_EQ(dumpAndLoad(path("a.trw")), bytes(path("a.trw")));

    CTarrowinDoc doc = testing::documentWithEvents(6);
    ASSERT_TRUE(saveDocumentFile(path("six.trw").string(), doc).ok);
    EXPECT_EQ(dumpAndLoad(path("six.trw")), bytes(path("six.trw")));
}

TEST_F(DocumentCommands, OlderVersionsComeBackAsVersion25) {
    const std::vector<Settings> entries = {testing::distinctiveSettings(1), testing::distinctiveSettings(2),
                                           testing::distinctiveSettings(3)};
    write(path("old.trw"), testing::encodeVersion10(testing::distinctiveSettings(4), 1, entries));
    CTarrowinDoc read;
    ASSERT_TRUE(openDocumentFile(path("old.trw").string(), read).ok);
    EXPECT_EQ(dumpAndLoad(path("old.trw")), serializeDocument(read));
}

TEST_F(DocumentCommands, DumpNamesEveryFieldAndListsTheEvents) {
    CTarrowinDoc doc = testing::documentWithEvents(2);
    ASSERT_TRUE(saveDocumentFile(path("two.trw").string(), doc).ok);
    const CliRun r = cli("dump " + path("two.trw").string());
    ASSERT_EQ(r.code, 0) << r.err;
    const ordered_json j = ordered_json::parse(r.out);
    EXPECT_EQ(j.at("reserved"), 77);
    EXPECT_EQ(j.at("current").at("tempo"), doc.global().tempo);
    EXPECT_EQ(j.at("current").at("voices").size(), 16u);
    ASSERT_EQ(j.at("events").size(), 2u);
    const auto& v = j.at("events").at(1).at("voices").at(3);
    const VoiceSettings& expected = doc.composition().event(1).voices[3];
    EXPECT_EQ(v.at("velocity"), expected.velocity);
    EXPECT_EQ(v.at("algorithm"), static_cast<int>(expected.algorithm));
    EXPECT_EQ(static_cast<float>(v.at("henonB").get<double>()), expected.henonB);
    EXPECT_EQ(v.at("percussionKey"), expected.percussionKey);
    EXPECT_EQ(v.at("userScale").size(), static_cast<size_t>(expected.userScale.count));
    EXPECT_EQ(v.at("scale").at(0), expected.scale[0]);
    EXPECT_EQ(v.size(), 34u);  // every field of a voice
}

TEST_F(DocumentCommands, LoadNamesTheFieldItRefuses) {
    struct Case {
        const char* message;
        std::function<void(ordered_json&)> edit;
    };
    const std::vector<Case> cases = {
        {"Event 1, voice 3: velocity is 200, outside 0..127",
         [](ordered_json& j) { j["events"][1]["voices"][2]["velocity"] = 200; }},
        {"Current settings: tempo is 0, outside 20..340", [](ordered_json& j) { j["current"]["tempo"] = 0; }},
        {"Current settings, voice 16: field \"pan\" is missing",
         [](ordered_json& j) { j["current"]["voices"][15].erase("pan"); }},
        {"Event 0, voice 1: unknown field \"velocty\"",
         [](ordered_json& j) { j["events"][0]["voices"][0]["velocty"] = 3; }},
        {"Current settings, voice 2: param1 must be an integer, not a string",
         [](ordered_json& j) { j["current"]["voices"][1]["param1"] = "7"; }},
        {"Current settings, voice 2: channel must be an integer, not a number with a fraction",
         [](ordered_json& j) { j["current"]["voices"][1]["channel"] = 2.5; }},
        {"Current settings, voice 1: noteValue is 1000, outside 1..960",
         [](ordered_json& j) { j["current"]["voices"][0]["noteValue"] = 1000; }},
        {"Current settings, voice 1: henonA is 1e+300, not a finite number",
         [](ordered_json& j) { j["current"]["voices"][0]["henonA"] = 1e300; }},
        {"Event 1, voice 5: userScale has 13 values, outside 1..12",
         [](ordered_json& j) { j["events"][1]["voices"][4]["userScale"] = std::vector<int>(13, 0); }},
        {"Event 1, voice 5: scale holds 12, outside 0..11",
         [](ordered_json& j) { j["events"][1]["voices"][4]["scale"] = {0, 12}; }},
        {"Current settings: voices must be a list of 16 voices, not 15",
         [](ordered_json& j) { j["current"]["voices"].erase(0); }},
        {"Document: field \"events\" is missing", [](ordered_json& j) { j.erase("events"); }},
        {"Current settings: endCounter is 4294967296, outside 0..50959",
         [](ordered_json& j) { j["current"]["endCounter"] = 4294967296LL; }},
        {"Event 0: startCounter is 50960, outside 0..50959", [](ordered_json& j) { j["events"][0]["startCounter"] = 50960; }},
        {"Current settings, voice 2: param1 must be an integer, not a list",
         [](ordered_json& j) { j["current"]["voices"][1]["param1"] = ordered_json::array(); }},
        {"Document: must be an object, not a list", [](ordered_json& j) { j = ordered_json::array(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        fs::remove(path("edited.trw"));
        const CliRun r = loadEdited(c.edit);
        EXPECT_NE(r.code, 0);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(path("edited.trw")));
    }
}

TEST_F(DocumentCommands, EveryValueTheReaderTakesSurvivesDumpAndLoad) {
    CTarrowinDoc doc = testing::documentWithEvents(1);
    doc.editVoice(0, [](VoiceSettings& v) {
        v.henonA = std::numeric_limits<float>::max();
        v.henonB = -std::numeric_limits<float>::max();
        v.gingerX0 = std::numeric_limits<float>::denorm_min();
        v.gingerY0 = -0.0f;
        v.lorenzCoefficient = std::numeric_limits<float>::min();
    });
    ASSERT_TRUE(saveDocumentFile(path("extremes.trw").string(), doc).ok);
    EXPECT_EQ(dumpAndLoad(path("extremes.trw")), bytes(path("extremes.trw")));
}

TEST_F(DocumentCommands, BadFilesAndOptionsFailWithAMessage) {
    ASSERT_EQ(cli("new " + path("a.trw").string()).code, 0);
    auto truncated = bytes(path("a.trw"));
    truncated.resize(2000);
    write(path("short.trw"), truncated);
    CliRun r = cli("dump " + path("short.trw").string());
    EXPECT_NE(r.code, 0);
    EXPECT_TRUE(r.out.empty());
    EXPECT_NE(r.err.find("The file ends early: it stops at byte 2000"), std::string::npos) << r.err;

    write(path("bad.json"), std::string("{\"reserved\": 1,"));
    r = cli("load " + path("bad.json").string() + " " + path("b.trw").string());
    EXPECT_NE(r.code, 0);
    EXPECT_NE(r.err.find("is not valid JSON"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(path("b.trw")));

    // The JSON library's own words (tags such as "[json.exception.out_of_range.406]") never show.
    write(path("huge-number.json"), std::string("{\"reserved\": 1e999}"));
    r = cli("load " + path("huge-number.json").string() + " " + path("b.trw").string());
    EXPECT_NE(r.err.find("is not valid JSON: the number 1e999 is too large"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("json.exception"), std::string::npos) << r.err;

    r = cli("load " + path("absent.json").string() + " " + path("b.trw").string());
    EXPECT_NE(r.code, 0);
    EXPECT_NE(r.err.find("No such file or directory"), std::string::npos) << r.err;

    r = cli("dump " + path("a.trw").string() + " --frobnicate");
    EXPECT_NE(r.code, 0);
    EXPECT_NE(r.err.find("--frobnicate"), std::string::npos) << r.err;
    r = cli("new");
    EXPECT_NE(r.code, 0);
    EXPECT_FALSE(r.err.empty());
}

TEST_F(DocumentCommands, LoadRefusesAnythingAfterTheDocumentNamingWhere) {
    ASSERT_EQ(cli("new " + path("a.trw").string()).code, 0);
    const std::string json = cli("dump " + path("a.trw").string()).out;  // ends with a newline
    const std::string after = "line " + std::to_string(std::count(json.begin(), json.end(), '\n') + 1) + ", column ";
    const struct {
        std::string tail;
        std::string message;
    } cases[] = {
        {std::string("\0garbage", 8), "not valid JSON: a NUL byte at " + after + "1 (byte " + std::to_string(json.size() + 1) + ")"},
        {std::string("  \0", 3), "not valid JSON: a NUL byte at " + after + "3"},
        {"x", "not valid JSON: parse error at " + after + "1"},
        {json, "not valid JSON: parse error at " + after + "1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        write(path("tail.json"), json + c.tail);
        const CliRun r = cli("load " + path("tail.json").string() + " " + path("b.trw").string());
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(path("b.trw")));
    }
}

}  // namespace
}  // namespace tarrowin
