// "info", "notes" and "image": the composition report, the current note of every voice and
// the image from the composition, for a document file.

#include <CLI/CLI.hpp>

#include <QBuffer>
#include <QByteArray>
#include <QImage>

#include <iostream>
#include <optional>
#include <string>

#include "cli_documents.h"
#include "command_registry.h"
#include "document/document.h"
#include "document/document_file.h"
#include "document/replacing_file.h"
#include "reports/composition_image.h"
#include "reports/composition_info.h"
#include "reports/current_note.h"
#include "reports/tuning_report.h"

namespace tarrowin::cli {
namespace {

// The window offers the report and the image only for a composition with events.
void requireEvents(const std::string& path, const CTarrowinDoc& doc, const char* what) {
    if (doc.composition().isEmpty())
        throw CliError(path + ": the composition holds no events, so there is no " + what + " to show");
}

void printRows(const std::vector<std::string>& rows) {
    for (const auto& r : rows) std::cout << r << '\n';
}

void info(const std::string& path, std::optional<int> event) {
    const CTarrowinDoc doc = readDocument(path);
    requireEvents(path, doc, "composition information");
    const Composition& composition = doc.composition();
    if (!event) {
        printRows(globalReport(composition, lastReadFileVersion()));
        if (!doc.tuning().isDefault()) printRows(tuningReport(doc.tuning()));
        return;
    }
    if (*event < 0 || *event >= composition.count()) {
        throw CliError(path + ": there is no event " + std::to_string(*event) + "; the composition holds events 0 to " +
                       std::to_string(composition.lastIndex()));
    }
    printRows(eventReport(composition, *event));
}

void notes(const std::string& path) {
    const CTarrowinDoc doc = readDocument(path);
    const auto labels = currentNoteLabels(doc.current());
    std::cout << kCurrentNoteCaption << ": " << doc.global().startCounter << '\n';
    for (int v = 0; v < kVoices; ++v) {
        const CurrentNoteLabel& label = labels[static_cast<size_t>(v)];
        std::cout << (v + 1 < 10 ? " " : "") << v + 1 << "  " << label.text << (label.greyed ? "  (voice off)" : "")
                  << '\n';
    }
}

void image(const std::string& in, const std::string& out) {
    ReplacingFile file;
    openOutput(file, out, {in});
    const CTarrowinDoc doc = readDocument(in);
    requireEvents(in, doc, "image");
    const ImageSums sums = computeImageSums(doc.composition());
    const CompositionImage pixels(sums);
    constexpr int n = CompositionImage::kSize;
    QImage picture(n, n, QImage::Format_RGB888);
    for (int y = 0; y < n; ++y) {
        const uint8_t* row = pixels.rgb().data() + static_cast<size_t>(y) * n * 3;
        std::copy(row, row + n * 3, picture.scanLine(y));
    }
    // The PNG is small: made in memory, then written like every other output.
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !picture.save(&buffer, "PNG")) throw CliError("Could not make the PNG image");
    writeAndCommit(file, out, png.constData(), static_cast<size_t>(png.size()));
    if (out == "-") return;
    std::cout << "Wrote " << kImageWindowTitle.data() << " (S = " << sums.sum << ", K = " << sums.count << ") to "
              << out << '\n';
}

void setup(CLI::App& app) {
    static std::string input, output;
    static std::optional<int> event;

    auto* infoCmd = app.add_subcommand("info", "Print the composition information of a document");
    infoCmd->add_option("IN", input, "Document file (.trw)")->required();
    infoCmd->add_option("--event", event, "Print the settings of this event (0 = the first) instead");
    infoCmd->callback([] { info(input, event); });

    auto* notesCmd = app.add_subcommand("notes", "Print the note each voice plays at the Start counter");
    notesCmd->add_option("IN", input, "Document file (.trw)")->required();
    notesCmd->callback([] { notes(input); });

    auto* imageCmd = app.add_subcommand("image", "Write the image from the composition as a PNG file");
    imageCmd->add_option("IN", input, "Document file (.trw)")->required();
    imageCmd->add_option("OUT", output, "PNG file to write (- for the standard output)")->required();
    imageCmd->callback([] { image(input, output); });
}

const CommandRegistration registration(60, setup);

}  // namespace
}  // namespace tarrowin::cli
