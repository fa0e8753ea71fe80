#include "command_registry.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <utility>
#include <vector>

namespace tarrowin::cli {

namespace {
std::vector<std::pair<int, CommandSetup>>& registry() {
    static std::vector<std::pair<int, CommandSetup>> commands;
    return commands;
}
}  // namespace

CommandRegistration::CommandRegistration(int order, CommandSetup setup) { registry().emplace_back(order, setup); }

void setupCommands(CLI::App& app) {
    auto& commands = registry();
    std::stable_sort(commands.begin(), commands.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [order, setup] : commands) setup(app);
}

}  // namespace tarrowin::cli
