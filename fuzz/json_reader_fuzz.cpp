// libFuzzer target for load's JSON reader. Besides crashes, undefined behaviour and deep
// recursion it checks: a refusal says why in our words and leaves the open document as it
// was; an accepted document passes every rule and survives dump and load unchanged.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "document/document_file.h"
#include "document_json.h"
#include "open_document.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarrowin;
    using fuzz::openDocument;
    CTarrowinDoc doc = openDocument();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const FileResult result = cli::documentFromJsonText(text, doc);
    if (!result.ok) {
        // The library's tags ("[json.exception.parse_error.101]") never lead our message.
        // (They may appear later, quoted from the input.)
        if (result.message.empty() || result.message.rfind("it is not valid JSON: [", 0) == 0) __builtin_trap();
        if (!fuzz::isOpenDocument(doc)) __builtin_trap();
        return 0;
    }
    if (!validateDocument(doc).ok) __builtin_trap();
    const auto written = serializeDocument(doc);
    CTarrowinDoc again;
    if (!cli::documentFromJsonText(cli::documentToJson(doc).dump(2), again).ok) __builtin_trap();
    if (serializeDocument(again) != written) __builtin_trap();
    return 0;
}
