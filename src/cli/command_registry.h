#pragma once
// Each group of tarrowin-cli commands registers itself from its own source file, so the
// commands of different layers live apart and main() needs no list of them.

#include <stdexcept>
#include <string>

namespace CLI {
class App;
}

namespace tarrowin::cli {

using CommandSetup = void (*)(CLI::App& app);

// A static instance in a command file adds its commands; `order` sorts them in --help.
struct CommandRegistration {
    CommandRegistration(int order, CommandSetup setup);
};

void setupCommands(CLI::App& app);

// Thrown by a command to end with a message on stderr and a non-zero exit code.
class CliError : public std::runtime_error {
   public:
    explicit CliError(const std::string& message, int exitCode = 1) : std::runtime_error(message), code(exitCode) {}
    int code;
};

}  // namespace tarrowin::cli
