// "export": write a document's current settings or its composition as a MIDI file.

#include <CLI/CLI.hpp>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>

#include "cli_documents.h"
#include "command_registry.h"
#include "document/document_file.h"
#include "midifile/midi_export.h"

namespace tarrowin::cli {
namespace {

std::atomic<bool> g_interrupted{false};

void onInterrupt(int) { g_interrupted = true; }

// Ctrl-C while exporting cancels the export, so no temporary file is left behind.
class InterruptGuard {
   public:
    InterruptGuard() {
        struct sigaction action {};
        action.sa_handler = onInterrupt;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &oldInt_);
        ::sigaction(SIGTERM, &action, &oldTerm_);
    }
    ~InterruptGuard() {
        ::sigaction(SIGINT, &oldInt_, nullptr);
        ::sigaction(SIGTERM, &oldTerm_, nullptr);
    }

   private:
    struct sigaction oldInt_ {}, oldTerm_ {};
};

// A percentage on the terminal, shown only once an export has taken a moment, so short
// ones print nothing.
class ProgressLine {
   public:
    explicit ProgressLine(const std::string& what) : what_(what), terminal_(::isatty(STDERR_FILENO) == 1) {}
    ~ProgressLine() { clear(); }

    bool update(int64_t done, int64_t total) {
        if (g_interrupted) return false;
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
};

void exportDocument(const ExportArguments& args) {
    // "-" is the standard output; the file then goes there and the summary is left out.
    const bool toStdout = args.out == "-";
    if (toStdout && ::isatty(STDOUT_FILENO) == 1) throw CliError("Not writing a MIDI file to a terminal");
    const std::string out = toStdout ? "/dev/stdout" : args.out;

    const CTarrowinDoc doc = readDocument(args.in);

    const bool composition = args.mode.empty() ? !doc.composition().isEmpty() : args.mode == "composition";
    const ExportMode mode = composition ? ExportMode::Composition : ExportMode::CurrentSettings;
    ExportResult result;
    {
        InterruptGuard guard;
        g_interrupted = false;
        ProgressLine progress(composition ? "composition" : "current settings");
        result = exportMidi(doc, mode, out, args.percussionChannel,
                            [&progress](int64_t done, int64_t total) { return progress.update(done, total); });
    }
    if (result.cancelled) throw CliError("Export cancelled; " + args.out + " was not written", 130);
    if (!result.ok) {
        throw CliError(result.detail.empty() ? result.message : result.message + " " + args.out + ": " + result.detail);
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
    cmd->callback([] { exportDocument(args); });
}

const CommandRegistration registration(20, setup);

}  // namespace
}  // namespace tarrowin::cli
