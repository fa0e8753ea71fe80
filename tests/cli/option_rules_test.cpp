// Every option of the composition tools that acts only together with another says so in
// its help, "(with --modulate)", "(with --algorithm henon)", "(with the "scale" box in
// --boxes)", "(with "other" in --note-values)". Each such note is a rule, read from the
// help and tried at its edge: without what it names, or with a neighbour of it, the
// option is refused naming what it needs and nothing is written; with it, the command
// runs.

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli_test_support.h"
#include "document/document_validation.h"
#include "engine/tables.h"

namespace tarrowin {
namespace {

namespace fs = std::filesystem;
using testing::CliRun;

struct HelpOption {
    std::string name;         // "--noise"
    std::string description;  // the type, the checks and the text that follow it
};

// The options of a command's --help, each with everything written after its name.
std::vector<HelpOption> optionsOf(const std::string& help) {
    std::vector<HelpOption> options;
    std::istringstream in(help);
    for (std::string line; std::getline(in, line);) {
        const auto first = line.find_first_not_of(' ');
        if (first == std::string::npos) continue;
        if (line.compare(first, 2, "--") == 0 && first <= 4) {
            const auto end = line.find(' ', first);
            options.push_back({line.substr(first, end - first), end == std::string::npos ? "" : line.substr(end)});
        } else if (!options.empty() && first > 4) {
            options.back().description += " " + line.substr(first);
        }
    }
    return options;
}

// Values to type where the help names a type without a range or a default.
const std::map<std::string, std::string> kTextSamples = {
    {"--modulate", "yes"},     {"--inverted", "yes"},       {"--match-scale", "no"},   {"--user-scale", "0,4,7"},
    {"--algorithms", "henon"}, {"--note-values", "quarter"}, {"--scales", "major"},    {"--instruments", "0-7"},
    {"--notes", "48-60"},      {"--octaves", "1,2"},         {"--dynamics", "mf"},
};
// A value next to the one a rule needs, which does not meet it.
const std::map<std::string, std::string> kNeighbours = {
    {"--algorithm", "morse-thue"}, {"--note-value", "quarter"},       {"--scale", "major"},
    {"--start-counter", "zero"},   {"--note-values", "quarter,half"},
};

// What to type after an option for it to be taken: its default, the lower end of its
// range, the first of its choices, or a sample; nothing for a flag.
std::string sampleFor(const HelpOption& o) {
    std::smatch m;
    if (std::regex_search(o.description, m, std::regex(R"(\(default (-?\d+ -?\d+|-?\d+)\))"))) return m[1];
    if (std::regex_search(o.description, m, std::regex(R"(in \[?(-?[\d.]+)( - |\.\.))"))) return m[1];
    if (std::regex_search(o.description, m, std::regex(R"(:\{([^,}]+))"))) return m[1];
    if (const auto it = kTextSamples.find(o.name); it != kTextSamples.end()) return it->second;
    EXPECT_TRUE(o.description.find("TEXT") == std::string::npos && o.description.find("INT") == std::string::npos)
        << o.name << ": no sample value for" << o.description;
    return "";
}

struct Rule {
    std::string option;  // the option with its value
    std::string needs;   // as the help and the refusal name it
    std::string meets;   // options that meet the need
    std::string misses;  // options next to them that do not
};

// The rules the help of `command` states.
std::vector<Rule> rulesOf(const std::string& help) {
    const std::vector<HelpOption> options = optionsOf(help);
    std::vector<std::string> boxes;
    for (const HelpOption& o : options) {
        std::smatch m;
        if (o.name == "--boxes" && std::regex_search(o.description, m, std::regex(R"(\(default all\): (.*), all or none)"))) {
            std::istringstream list(m[1].str());
            for (std::string box; std::getline(list >> std::ws, box, ',');) boxes.push_back(box);
        }
    }
    std::vector<Rule> rules;
    for (const HelpOption& o : options) {
        std::smatch m;
        if (!std::regex_search(o.description, m, std::regex(R"(\(with (.*)\)$)"))) continue;
        Rule r{o.name + " " + sampleFor(o), m[1], "", ""};
        std::smatch n;
        const std::string needs = r.needs;
        if (std::regex_match(needs, n, std::regex(R"re(the "([^"]+)" box in --boxes)re"))) {
            r.meets = "--boxes " + n[1].str();
            for (const std::string& box : boxes) {
                if (box != n[1]) r.misses += (r.misses.empty() ? "--boxes " : ",") + box;
            }
        } else if (std::regex_match(needs, n, std::regex(R"re("([^"]+)" in (--\S+))re"))) {
            r.meets = n[2].str() + " " + n[1].str();
            r.misses = n[2].str() + " " + kNeighbours.at(n[2]);
        } else if (std::regex_match(needs, n, std::regex(R"((--\S+) (\S+))"))) {
            r.meets = needs;
            r.misses = n[1].str() + " " + kNeighbours.at(n[1]);
        } else {
            const auto needed = std::find_if(options.begin(), options.end(), [&](const HelpOption& h) { return h.name == needs; });
            EXPECT_NE(needed, options.end()) << o.name << " needs an option the command does not have: " << needs;
            if (needed == options.end()) continue;
            r.meets = needs + " " + sampleFor(*needed);
        }
        rules.push_back(r);
    }
    return rules;
}

class OptionRules : public testing::CliTest {};

TEST_F(OptionRules, EachOptionThatNeedsAnotherIsRefusedWithoutItAndTakenWithIt) {
    CTarrowinDoc doc;
    doc.OnNewDocument();
    doc.setEndCounter(64);
    doc.addCurrentSettingsAsEvent();
    const std::string files = save("in.trw", doc) + " " + path("out.trw").string();
    size_t count = 0;
    for (const std::string command : {"randomize --seed 5", "create --seed 5", "edit-voices --voices 3"}) {
        const std::string name = command.substr(0, command.find(' '));
        const std::vector<Rule> rules = rulesOf(cli(name + " --help").out);
        count += rules.size();
        for (const Rule& r : rules) {
            const std::string refusal = r.option.substr(0, r.option.find(' ')) + " needs " + r.needs;
            std::vector<std::string> withouts;  // alone (every box is checked by default), and beside
            if (r.needs.find(" box ") == std::string::npos) withouts.push_back("");
            if (!r.misses.empty()) withouts.push_back(r.misses);
            for (const std::string& without : withouts) {
                SCOPED_TRACE(command + " " + r.option + " " + without);
                const CliRun refused = cli(command + " " + r.option + " " + without + " " + files);
                EXPECT_EQ(refused.code, 1);
                EXPECT_EQ(refused.err, "tarrowin-cli: " + refusal + "\n");
                EXPECT_FALSE(fs::exists(path("out.trw")));
            }
            SCOPED_TRACE(command + " " + r.option + " " + r.meets);
            const CliRun taken = cli(command + " " + r.option + " " + r.meets + " " + files);
            EXPECT_EQ(taken.code, 0) << taken.err;
            EXPECT_TRUE(fs::exists(path("out.trw")));
            fs::remove(path("out.trw"));
        }
    }
    EXPECT_GE(count, 40u);  // the help lost its notes, or the commands their options
}

// The shortest text of a number as an option takes it.
std::string numberText(double value, bool integer) {
    if (integer) return std::to_string(static_cast<int64_t>(value));
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, static_cast<float>(value)).ptr;
    return std::string(text, end);
}

// Each number an option sets against the rule of the value it sets: at a bound it is not
// refused for its range, one beyond (the next integer, the next float) it is, and nothing
// is written.
TEST_F(OptionRules, EachNumberIsTakenAtTheBoundsOfItsValueAndRefusedBeyond) {
    CTarrowinDoc doc;
    doc.OnNewDocument();
    doc.setEndCounter(64);
    doc.addCurrentSettingsAsEvent();
    const std::string files = save("in.trw", doc) + " " + path("out.trw").string();
    struct Row {
        std::string command;  // with the options the number needs
        std::string option;
        double min, max;
        bool integer;
    };
    const auto voice = [](std::string_view name) {
        const auto r = *std::find_if(kVoiceIntRules.begin(), kVoiceIntRules.end(), [&](const auto& x) { return x.name == name; });
        return std::pair<double, double>(r.min, r.max);
    };
    const auto tempo = kGlobalRules[0];
    const auto ticks = kVoiceFloatRules[0];
    ASSERT_EQ(tempo.name, "tempo");
    ASSERT_EQ(ticks.name, "noteValue");
    std::vector<Row> rows = {
        {"edit-voices --voices 3", "--param1", voice("param1").first, voice("param1").second, true},
        {"edit-voices --voices 3", "--param2", voice("param2").first, voice("param2").second, true},
        {"edit-voices --voices 3", "--pan", voice("pan").first, voice("pan").second, true},
        {"edit-voices --voices 3 --modulate yes", "--modulate-every", voice("modulateEvery").first,
         voice("modulateEvery").second, true},
        {"edit-voices --voices 3 --note-value other", "--other-value", ticks.min, ticks.max, true},
        {"export", "--percussion-channel", voice("channel").first, voice("channel").second, true},
        {"event add --start 0", "--end", 0, kMaxCounter, true},
        {"event add --end " + std::to_string(kMaxCounter), "--start", 0, kMaxCounter, true},
        {"event add", "--tempo", double(tempo.min), double(tempo.max), true},
    };
    // The coefficients, each with the algorithm it belongs to, in the order of the table.
    const std::pair<const char*, const char*> coefficients[] = {
        {"log-map", "--logistic-mu"}, {"1/f-noise", "--noise"},        {"henon", "--henon-a"},
        {"henon", "--henon-b"},       {"hopalong", "--hopalong-angle"}, {"martin", "--martin-angle"},
        {"gingerbreadman", "--ginger-x0"}, {"gingerbreadman", "--ginger-y0"}, {"lorenz", "--lorenz"}};
    size_t next = 0;
    for (int a = 0; a < kAlgorithms; ++a) {
        for (const CoefficientRule& r : coefficientRules(static_cast<Algorithm>(a))) {
            ASSERT_LT(next, std::size(coefficients));
            const auto& [algorithm, option] = coefficients[next++];
            rows.push_back({std::string("edit-voices --voices 3 --algorithm ") + algorithm, option, r.min, r.max, false});
        }
    }
    EXPECT_EQ(next, std::size(coefficients));
    for (const Row& row : rows) {
        const double below = row.integer ? row.min - 1 : std::nextafter(float(row.min), -INFINITY);
        const double above = row.integer ? row.max + 1 : std::nextafter(float(row.max), INFINITY);
        for (const double value : {below, row.min, row.max, above}) {
            const std::string typed = numberText(value, row.integer);
            SCOPED_TRACE(row.command + " " + row.option + " " + typed);
            fs::remove(path("out.trw"));
            const CliRun r = cli(row.command + " " + row.option + " " + typed + " " + files);
            // The option's check ("not in range", "is outside") or the editor's ("Please enter").
            const bool refusedForRange = r.err.find("not in range") != std::string::npos ||
                                         r.err.find("is outside") != std::string::npos ||
                                         r.err.find("Please enter") != std::string::npos;
            const bool inside = value >= row.min && value <= row.max;
            EXPECT_EQ(refusedForRange, !inside) << r.err;
            if (!inside) {
                EXPECT_FALSE(fs::exists(path("out.trw")));
            }
        }
    }
}

}  // namespace
}  // namespace tarrowin
