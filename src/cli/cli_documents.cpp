#include "cli_documents.h"

#include "command_registry.h"
#include "document/document_file.h"

namespace tarrowin::cli {

CTarrowinDoc readDocument(const std::string& path) {
    CTarrowinDoc doc;
    if (const FileResult r = openDocumentFile(path, doc); !r.ok) throw CliError(r.message);
    return doc;
}

void writeDocument(const std::string& path, CTarrowinDoc& doc) {
    if (const FileResult r = saveDocumentFile(path, doc); !r.ok) throw CliError(r.message);
}

}  // namespace tarrowin::cli
