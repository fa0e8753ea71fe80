// "tuning": give a document a Scala scale and keyboard map, choose how tuned voices reach
// external synthesizers and MIDI files, choose the voices it tunes, or take it away.

#include <CLI/CLI.hpp>

#include <iostream>
#include <optional>
#include <string>

#include "cli_documents.h"
#include "cli_options.h"
#include "command_registry.h"
#include "document/tuning_files.h"
#include "reports/tuning_report.h"

namespace tarrowin::cli {
namespace {

struct TuningArgs {
    std::string in, out;
    std::string scale, map, method, untuned;
    bool reset = false;
};

std::string readOrRefuse(const TuningFile& file) {
    if (!file.ok()) throw CliError(file.error);
    return file.text;
}

void tuneDocument(const TuningArgs& a) {
    for (const std::string& input : {a.scale, a.map}) {
        if (!input.empty()) refuseInputAsOutput(a.out, {input});
    }
    const bool changes = !a.scale.empty() || !a.map.empty() || !a.method.empty() || !a.untuned.empty();
    if (a.reset && changes) throw CliError("--reset takes the tuning away: give it alone");
    if (!a.reset && !changes) throw CliError("Give --scl (with --kbm), --method, --untuned or --reset");
    CTarrowinDoc doc = readDocument(a.in);
    TuningSettings t = doc.tuning();
    if (a.reset) t = TuningSettings{};
    if (!a.scale.empty()) {
        // A new scale goes with the map given, or the standard one.
        TuningRead<Tuning> tuning = Tuning::fromText(readOrRefuse(readScaleFile(a.scale)));
        if (!tuning.ok()) throw CliError(tuning.error);
        t.tuning = std::move(*tuning.value);
    }
    if (!a.map.empty()) {
        TuningRead<Tuning> tuning = t.tuning.withMap(readOrRefuse(readKeyboardMapFile(a.map)));
        if (!tuning.ok()) throw CliError(tuning.error);
        t.tuning = std::move(*tuning.value);
    }
    if (!a.method.empty()) t.method = *tuningMethodNamed(a.method);
    if (!a.untuned.empty()) {
        const std::array<bool, kVoices> untuned = parseVoices("--untuned", a.untuned);
        for (int v = 0; v < kVoices; ++v) t.tuned[static_cast<size_t>(v)] = !untuned[static_cast<size_t>(v)];
    }
    doc.setTuning(t);
    writeDocument(a.out, doc);
    if (a.out == "-") return;
    std::cout << a.out << ":\n";
    for (const std::string& row : tuningReport(doc.tuning())) std::cout << "  " << row << '\n';
}

void setup(CLI::App& app) {
    static TuningArgs a;
    auto* cmd = app.add_subcommand("tuning", "Tune a document with a Scala scale (.scl) and keyboard map (.kbm), or take its tuning away");
    cmd->add_option("IN.trw", a.in, "The document file to read")->required();
    cmd->add_option("OUT.trw", a.out, "The document file to write (may be IN.trw; - for the standard output)")->required();
    cmd->add_option("--scl", a.scale, "The Scala scale file");
    cmd->add_option("--kbm", a.map, "The Scala keyboard map file (else degree 0 on key 60 at 261.626 Hz, a degree a key); without --scl, for the document's scale or for equal temperament");
    cmd->add_option("--method", a.method, "How tuned voices reach external synthesizers and MIDI files: mts (the MIDI Tuning Standard) or bend (pitch bend, a channel a voice)")
        ->check(CLI::IsMember({"mts", "bend"}));
    cmd->add_option("--untuned", a.untuned, "The voices the tuning leaves in equal temperament, e.g. 10 or 9-10 (none: every voice tuned)");
    cmd->add_flag("--reset", a.reset, "Back to 12-tone equal temperament (the default): the document is written as version 2.5");
    cmd->callback([] { tuneDocument(a); });
}

const CommandRegistration registration(15, setup);

}  // namespace
}  // namespace tarrowin::cli
