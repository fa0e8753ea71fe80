// "export": write a document's current settings or its composition as a MIDI file.

#include <CLI/CLI.hpp>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>

#include "cli_documents.h"
#include "cli_options.h"
#include "command_registry.h"
#include "document/replacing_file.h"
#include "midifile/midi_export.h"

namespace tarrowin::cli {
namespace {

// A percentage on the terminal, shown only once an export has taken a moment, so short
// ones print nothing.
class ProgressLine {
   public:
    explicit ProgressLine(const std::string& what) : what_(what), terminal_(::isatty(STDERR_FILENO) == 1) {}
    ~ProgressLine() { clear(); }

    bool update(int64_t done, int64_t total) {
        if (!terminal_ || total <= 0) return true;
        const auto now = Clock::now();
        if (now - start_ < kQuietTime || now - last_ < kInterval) return true;
        last_ = now;
        std::fprintf(stderr, "\rExporting %s: %3d%%", what_.c_str(), static_cast<int>(100 * done / total));
        std::fflush(stderr);
        shown_ = true;
        return true;
    }
    void clear() {
        if (!shown_) return;
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
        shown_ = false;
    }

   private:
    using Clock = std::chrono::steady_clock;
    static constexpr auto kQuietTime = std::chrono::milliseconds(300);
    static constexpr auto kInterval = std::chrono::milliseconds(100);

    std::string what_;
    bool terminal_;
    bool shown_ = false;
    Clock::time_point start_ = Clock::now();
    Clock::time_point last_{};
};

struct ExportArguments {
    std::string in;
    std::string out;
    std::string mode;  // "current", "composition", or empty: composition when there are events
    int percussionChannel = kDefaultPercussionChannel;
    std::optional<int64_t> seed;
};

void exportDocument(const ExportArguments& args) {
    // "-" is the standard output; the file then goes there and the summary is left out.
    const bool toStdout = args.out == "-";
    ReplacingFile file;
    openOutput(file, args.out, {args.in});
    const CTarrowinDoc doc = readDocument(args.in);

    const bool composition = args.mode.empty() ? !doc.composition().isEmpty() : args.mode == "composition";
    ExportOptions options;
    options.mode = composition ? ExportMode::Composition : ExportMode::CurrentSettings;
    options.percussionChannel = args.percussionChannel;
    options.seed = args.seed;
    ExportResult result;
    {
        ProgressLine progress(composition ? "composition" : "current settings");
        options.progress = [&progress](int64_t done, int64_t total) { return progress.update(done, total); };
        result = exportMidi(doc, options, file);
    }
    if (!result.ok) {
        const std::string shown = toStdout ? "to the standard output" : args.out;
        throw CliError(result.detail.empty() ? result.message : result.message + " " + shown + ": " + result.detail);
    }
    if (toStdout) return;
    std::cout << args.out << ": " << (composition ? "composition of " : "current settings, ");
    if (composition) std::cout << doc.composition().count() << (doc.composition().count() == 1 ? " event, " : " events, ");
    std::cout << result.ticks << " ticks, " << result.notes << " notes\n";
}

void setup(CLI::App& app) {
    static ExportArguments args;
    auto* cmd = app.add_subcommand(
        "export", "Write the current settings (Start to End) or the composition of a document as a MIDI file");
    cmd->add_option("IN.trw", args.in, "The document file to read")->required();
    cmd->add_option("OUT.mid", args.out, "The MIDI file to write (replaced only once it is complete); - for the standard output")
        ->required();
    cmd->add_option("--mode", args.mode, "What to export (default: composition when the document has events)")
        ->check(CLI::IsMember({"current", "composition"}));
    cmd->add_option("--percussion-channel", args.percussionChannel,
                    "The MIDI channel 0..15 whose voices strike their percussion key")
        ->check(CLI::Range(0, 15))
        ->capture_default_str();
    addRunSeedOption(cmd, args.seed);
    cmd->callback([] { exportDocument(args); });
}

const CommandRegistration registration(20, setup);

}  // namespace
}  // namespace tarrowin::cli
