// "new", "dump" and "load": create a document file, show one as JSON, and write one from JSON.

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
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
    std::cout.flush();
    if (!std::cout) throw CliError("Cannot write the JSON to the standard output");
}

Json readJsonFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw CliError("Cannot read \"" + path + "\": " + std::strerror(errno));
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) throw CliError("Cannot read \"" + path + "\": " + std::strerror(errno));
    try {
        return Json::parse(text.str());
    } catch (const Json::parse_error& e) {
        // Drop the library's "[json.exception.parse_error.101] " tag; keep line and column.
        std::string what = e.what();
        if (const auto tag = what.find("] "); what.rfind("[json.exception", 0) == 0 && tag != std::string::npos) {
            what.erase(0, tag + 2);
        }
        throw CliError("\"" + path + "\" is not valid JSON: " + what);
    }
}

void loadDocument(const std::string& in, const std::string& out) {
    const Json json = readJsonFile(in);
    CTarrowinDoc doc;
    doc.OnNewDocument();
    if (auto result = documentFromJson(json, doc); !result.ok) {
        throw CliError("\"" + in + "\" is not a Tarrowin document: " + result.message);
    }
    writeDocument(out, doc);
}

void setup(CLI::App& app) {
    static std::string newOut;
    auto* create = app.add_subcommand("new", "Write a new document (the default settings, no events)");
    create->add_option("OUT.trw", newOut, "The document file to write")->required();
    create->callback([] { newDocument(newOut); });

    static std::string dumpIn;
    auto* dump = app.add_subcommand("dump", "Print a document file (version 1.0, 2.0 or 2.5) as JSON");
    dump->add_option("IN.trw", dumpIn, "The document file to read")->required();
    dump->callback([] { dumpDocument(dumpIn); });

    static std::string loadIn;
    static std::string loadOut;
    auto* load = app.add_subcommand("load", "Write a document file (version 2.5) from JSON as dump prints it");
    load->add_option("IN.json", loadIn, "The JSON document to read")->required();
    load->add_option("OUT.trw", loadOut, "The document file to write")->required();
    load->callback([] { loadDocument(loadIn, loadOut); });
}

const CommandRegistration registration(10, setup);

}  // namespace
}  // namespace tarrowin::cli
