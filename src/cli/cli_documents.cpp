#include "cli_documents.h"

#include <unistd.h>

#include "command_registry.h"
#include "document/document_file.h"
#include "document/replacing_file.h"

namespace tarrowin::cli {

namespace {
std::string quoted(const std::string& path) { return "\"" + path + "\""; }
}  // namespace

CTarrowinDoc readDocument(const std::string& path) {
    CTarrowinDoc doc;
    if (const FileResult r = openDocumentFile(path, doc); !r.ok) throw CliError(r.message);
    return doc;
}

void writeDocument(const std::string& path, CTarrowinDoc& doc) {
    if (path != "-") {
        if (const FileResult r = saveDocumentFile(path, doc); !r.ok) throw CliError(r.message);
        return;
    }
    ReplacingFile out;
    openOutput(out, path, {});
    if (const FileResult r = saveDocument(out, "the standard output", doc); !r.ok) throw CliError(r.message);
}

void refuseInputAsOutput(const std::string& out, std::initializer_list<std::string> inputs) {
    for (const std::string& in : inputs) {
        if (out == "-" ? standardOutputIs(in) : sameFile(out, in)) {
            throw CliError("Cannot write " + (out == "-" ? std::string("the standard output") : quoted(out)) +
                           ": it is the input file " + quoted(in));
        }
    }
}

void openOutput(ReplacingFile& file, const std::string& out, std::initializer_list<std::string> inputs) {
    refuseInputAsOutput(out, inputs);
    if (out == "-") {
        if (::isatty(STDOUT_FILENO) == 1) throw CliError("Not writing a file to a terminal: redirect the standard output");
        if (!file.openStandardOutput()) throw CliError("Cannot write to the standard output: " + file.error());
        return;
    }
    if (!file.open(out)) throw CliError("Cannot write " + quoted(out) + ": " + file.error());
}

void writeAndCommit(ReplacingFile& file, const std::string& out, const void* bytes, size_t size) {
    if (!file.write(static_cast<const uint8_t*>(bytes), size) || !file.commit()) {
        const std::string why = file.error();
        file.abandon();
        throw CliError("Cannot write " + (out == "-" ? std::string("to the standard output") : quoted(out)) + ": " + why);
    }
}

}  // namespace tarrowin::cli
