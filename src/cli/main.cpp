// tarrowin-cli: the program's documents, exports, playback and reports without a window.

#include <CLI/CLI.hpp>

#include <algorithm>
#include <exception>
#include <iostream>
#include <utility>
#include <vector>

#include "command_registry.h"

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

int main(int argc, char** argv) {
    CLI::App app{"Tarrowin 2.5: fractal and chaotic note sequences as music, without a window", "tarrowin-cli"};
    app.require_subcommand(1);
    tarrowin::cli::setupCommands(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    } catch (const tarrowin::cli::CliError& e) {
        std::cerr << "tarrowin-cli: " << e.what() << "\n";
        return e.code;
    } catch (const std::exception& e) {
        std::cerr << "tarrowin-cli: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
