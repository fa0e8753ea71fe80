// "new", "dump" and "load": create a document file, show one as JSON, and write one from JSON.

#include <CLI/CLI.hpp>

#include <iostream>
#include <string>

#include "cli_documents.h"
#include "command_registry.h"
#include "document/document_file.h"
#include "document_json.h"

namespace tarrowin::cli {
namespace {

void newDocument(const std::string& out) {
    CTarrowinDoc doc;
    doc.OnNewDocument();
    writeDocument(out, doc);
}

void dumpDocument(const std::string& in) {
    const CTarrowinDoc doc = readDocument(in);
    std::cout << documentToJson(doc).dump(2) << '\n';
}

void loadDocument(const std::string& in, const std::string& out) {
    refuseInputAsOutput(out, {in});
    CTarrowinDoc doc;
    doc.OnNewDocument();
    if (auto result = readDocumentJsonFile(in, doc); !result.ok) throw CliError(result.message);
    writeDocument(out, doc);
}

void setup(CLI::App& app) {
    static std::string newOut;
    auto* create = app.add_subcommand("new", "Write a new document (the default settings, no events)");
    create->add_option("OUT.trw", newOut, "The document file to write (- for the standard output)")->required();
    create->callback([] { newDocument(newOut); });

    static std::string dumpIn;
    auto* dump = app.add_subcommand("dump", "Print a document file (version 1.0, 2.0, 2.5 or 3.0) as JSON");
    dump->add_option("IN.trw", dumpIn, "The document file to read")->required();
    dump->callback([] { dumpDocument(dumpIn); });

    static std::string loadIn;
    static std::string loadOut;
    auto* load = app.add_subcommand("load", "Write a document file (version 2.5, or 3.0 with a tuning) from JSON as dump prints it");
    load->add_option("IN.json", loadIn, "The JSON document to read")->required();
    load->add_option("OUT.trw", loadOut, "The document file to write (- for the standard output)")->required();
    load->callback([] { loadDocument(loadIn, loadOut); });
}

const CommandRegistration registration(10, setup);

}  // namespace
}  // namespace tarrowin::cli
