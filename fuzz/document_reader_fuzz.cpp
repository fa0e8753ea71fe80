// libFuzzer target for the document reader. Besides crashes and undefined behaviour it
// checks the reader's promises: a refused file leaves the open document exactly as it was,
// an accepted one writes back as a file that reads to the same document, and survives
// dump and load as JSON.

#include <cstddef>
#include <cstdint>
#include <span>

#include "document/document_file.h"
#include "document_json.h"
#include "open_document.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarrowin;
    using fuzz::openDocument;
    CTarrowinDoc doc = openDocument();
    doc.SetModifiedFlag(true);
    const FileResult result = parseDocument(std::span(data, size), doc);
    if (!result.ok) {
        if (result.message.empty()) __builtin_trap();
        if (!fuzz::isOpenDocument(doc) || !doc.isModified()) __builtin_trap();
        return 0;
    }
    if (doc.isModified()) __builtin_trap();
    const auto written = serializeDocument(doc);
    CTarrowinDoc again;
    const FileResult reread = parseDocument(written, again);
    if (!reread.ok || !(again.current() == doc.current()) || !(again.composition() == doc.composition()) ||
        again.reserved() != doc.reserved() || !(again.tuning() == doc.tuning()) || serializeDocument(again) != written) {
        __builtin_trap();
    }
    // What dump prints, load reads back to the same file. (The JSON library's text of a
    // number reads back exactly; the JSON reader's fuzzer goes through the text.)
    CTarrowinDoc loaded;
    if (!cli::documentFromJson(cli::documentToJson(doc), loaded).ok) __builtin_trap();
    if (serializeDocument(loaded) != written) __builtin_trap();
    return 0;
}
