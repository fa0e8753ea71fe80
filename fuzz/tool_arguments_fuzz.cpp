// libFuzzer target for the command line of edit-voices and randomize. The first byte picks
// the command, the rest is split into arguments at newlines; the command is parsed and run
// on a document in memory. Besides crashes and undefined behaviour it checks that every
// refusal is the parser's or our own message (no stray exception), and that what a command
// would write passes every rule and reads back.

#include <CLI/CLI.hpp>

#include <cstddef>
#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "cli_documents.h"
#include "command_registry.h"
#include "document/document_file.h"

namespace tarrowin::cli {

// The commands' files, replaced by a document in memory with a composition.
CTarrowinDoc readDocument(const std::string&) {
    static const CTarrowinDoc doc = [] {
        CTarrowinDoc d;
        d.OnNewDocument();
        d.setEndCounter(64);
        d.addCurrentSettingsAsEvent();
        d.setEndCounter(128);
        d.addCurrentSettingsAsEvent();
        return d;
    }();
    return doc;
}

void writeDocument(const std::string&, CTarrowinDoc& doc) {
    if (!validateDocument(doc).ok) __builtin_trap();
    CTarrowinDoc again;
    if (!parseDocument(serializeDocument(doc), again).ok) __builtin_trap();
}

}  // namespace tarrowin::cli

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The commands' reports are not wanted.
    std::cout.setstate(std::ios::badbit);
    std::cerr.setstate(std::ios::badbit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 4096) return 0;
    const bool edit = (data[0] & 1) != 0;
    std::vector<std::string> args = {"tarrowin-cli", edit ? "edit-voices" : "randomize", "in.trw", "out.trw"};
    std::string token;
    bool seeded = false;
    for (size_t i = 1; i <= size; ++i) {
        if (i == size || data[i] == '\n') {
            seeded = seeded || token.rfind("--seed", 0) == 0;
            args.push_back(token);
            token.clear();
        } else {
            token += static_cast<char>(data[i]);
        }
    }
    // Without a seed randomize draws from the clock; a fixed one keeps runs repeatable.
    if (!edit && !seeded) args.insert(args.end(), {"--seed", "7"});
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());

    CLI::App app{"fuzz", "tarrowin-cli"};
    app.require_subcommand(1);
    tarrowin::cli::setupCommands(app);
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::Error&) {
    } catch (const tarrowin::cli::CliError& e) {
        if (std::string(e.what()).empty()) __builtin_trap();
    }
    return 0;
}
