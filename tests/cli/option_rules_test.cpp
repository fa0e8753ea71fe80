// Every option of the composition tools that acts only together with another says so in
// its help, "(with --modulate)", "(with --algorithm henon)", "(with the "scale" box in
// --boxes)", "(with "other" in --note-values)". Each such note is a rule, read from the
// help and tried at its edge: without what it names, or with a neighbour of it, the
// option is refused naming what it needs and nothing is written; with it, the command
// runs.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli_test_support.h"

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

}  // namespace
}  // namespace tarrowin
