// The size and count limits, each where a user meets it, at the limit and one beyond:
// at it the input is taken (or refused for another reason, never for this limit); one
// beyond it is refused with the limit's message and nothing is written. The limits are
// the program's own constants.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/document_json.h"
#include "cli_test_support.h"
#include "document/document_file.h"
#include "document/document_validation.h"
#include "document/file_builders.h"

namespace tarrowin {
namespace {

namespace fs = std::filesystem;
using testing::CliRun;

class Limits : public testing::CliTest {};

// A version 2.5 file with `events` events of `settings`.
std::vector<uint8_t> fileWith(int64_t events, const Settings& settings = Settings::defaults()) {
    return testing::encodeVersion2(settings, 0, std::vector<Settings>(static_cast<size_t>(events), settings), true);
}

TEST_F(Limits, EachLimitTakesWhatIsAtItAndRefusesOneBeyond) {
    const fs::path in = path("in"), out = path("out.trw");
    Settings tick = Settings::defaults();
    tick.global.endCounter = 1;
    const struct {
        std::string what;
        int64_t limit;
        std::function<void(int64_t n)> make;  // writes `in` holding n
        std::string command;                  // with IN and OUT
        std::string refusal;
        bool atIsTaken;  // else at the limit the input is refused for another reason
    } limits[] = {
        {"events in a document file", kMaxEvents, [&](int64_t n) { write(in, fileWith(n)); }, "dump IN",
         "a composition holds at most " + std::to_string(kMaxEvents) + " events", true},
        {"events in JSON", kMaxEvents,
         [&](int64_t n) {
             write(path("e.trw"), fileWith(1));
             nlohmann::ordered_json j = nlohmann::ordered_json::parse(cli("dump " + path("e.trw").string()).out);
             j["events"] = nlohmann::ordered_json::array();
             for (int64_t i = 0; i < n; ++i) j["events"].push_back(j["current"]);
             write(in, j.dump());
         },
         "load IN OUT", "at most " + std::to_string(kMaxEvents) + " are allowed", true},
        {"events added to a composition", kMaxEvents - 1, [&](int64_t n) { write(in, fileWith(n, tick)); },
         "event add IN OUT", "you have reached the limit of events (" + std::to_string(kMaxEvents) + ")", true},
        {"events the Randomizer creates", kMaxEvents, [&](int64_t) { write(in, fileWith(0)); },
         "create IN OUT --seed 1 --start-counter zero --min-counter 1 --max-counter 2 --events N",
         "Maximum number of Events is " + std::to_string(kMaxEvents), true},
        {"a counter in a document file", kMaxStoredCounter,
         [&](int64_t n) {
             Settings s = Settings::defaults();
             s.global.endCounter = static_cast<int32_t>(n);
             write(in, fileWith(0, s));
         },
         "dump IN", "endCounter is " + std::to_string(kMaxStoredCounter + 1), true},
        {"a counter typed as an option", kMaxCounter, [&](int64_t) { write(in, fileWith(0)); }, "event add IN OUT --end N",
         "--end: Value " + std::to_string(kMaxCounter + 1) + " not in range", true},
        {"bytes of a document file", static_cast<int64_t>(kMaxDocumentFileSize),
         [&](int64_t n) {
             write(in, std::string());
             fs::resize_file(in, static_cast<uintmax_t>(n));
         },
         "dump IN", "larger than 64 MB", false},
        {"bytes of a JSON document", static_cast<int64_t>(kMaxDocumentFileSize),
         [&](int64_t n) {
             write(in, std::string());
             fs::resize_file(in, static_cast<uintmax_t>(n));
         },
         "load IN OUT", "larger than 64 MB", false},
        {"levels of JSON", cli::kMaxJsonDepth,
         [&](int64_t n) { write(in, std::string(static_cast<size_t>(n), '[') + std::string(static_cast<size_t>(n), ']')); },
         "load IN OUT", "nested deeper than a Tarrowin document", false},
    };
    for (const auto& l : limits) {
        for (const int64_t n : {l.limit, l.limit + 1}) {
            SCOPED_TRACE(l.what + ": " + std::to_string(n));
            fs::remove(out);
            l.make(n);
            std::string command = l.command;
            for (const auto& [key, value] : {std::pair<std::string, std::string>{"IN", in.string()},
                                             {"OUT", out.string()}, {"N", std::to_string(n)}}) {
                if (const auto at = command.find(key); at != std::string::npos) command.replace(at, key.size(), value);
            }
            const CliRun r = cli(command);
            if (n == l.limit) {
                EXPECT_EQ(r.err.find(l.refusal), std::string::npos) << r.err;
                EXPECT_EQ(r.code == 0, l.atIsTaken) << r.err;
            } else {
                EXPECT_NE(r.code, 0);
                EXPECT_NE(r.err.find(l.refusal), std::string::npos) << r.err;
                EXPECT_FALSE(fs::exists(out));
            }
        }
    }
}

}  // namespace
}  // namespace tarrowin
