#pragma once
// The Tarrowin document file (*.trw): version 2.5 is written, or 3.0 for a document with a
// tuning (2.5 followed by the tuning); 3.0, 2.5, 2.0 and 1.0 are read.
// A file is read into a fresh document and checked against the document's value rules
// before it replaces the open one, so a bad file changes nothing. Saving goes through
// ReplacingFile: the old file stays until the new one is complete and on the disk.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "document.h"
#include "document_validation.h"

namespace tarrowin {

inline constexpr float kWrittenFileVersion = 2.5f;
inline constexpr float kTunedFileVersion = 3.0f;
inline constexpr size_t kFixedPartSize = 2104;     // version 2.5, up to the scale values
inline constexpr size_t kEventHeaderSize = 16;
inline constexpr size_t kEventVoiceRecordSize = 126;  // 122 in version 2.0, 86 in 1.0
// The largest document file a reader takes, .trw or JSON: far above any document (1000
// events of 16 voices with two 12-note lists each make 3.7 MB, or 24 MB of JSON).
inline constexpr size_t kMaxDocumentFileSize = 64u << 20;

class ReplacingFile;

// The whole document as a version 2.5 file, or 3.0 when it has a tuning. Does not change
// the document.
std::vector<uint8_t> serializeDocument(const CTarrowinDoc& doc);

// Reads a version 3.0, 2.5, 2.0 or 1.0 file. The document is replaced only when the whole file
// was read and every value passed its rule; then the modified flag is cleared and
// lastReadFileVersion() gives the file's version. On failure the document is untouched.
FileResult parseDocument(std::span<const uint8_t> bytes, CTarrowinDoc& doc);
FileResult openDocumentFile(const std::string& path, CTarrowinDoc& doc);

// Writes the document as version 2.5 (3.0 with a tuning). Refuses a document that would not read back. The
// old file stays intact unless the new one was completely written and flushed. Clears the
// modified flag on success.
FileResult saveDocumentFile(const std::string& path, CTarrowinDoc& doc);
// The same into an output the caller opened (a path or the standard output); `name` is
// what messages call it.
FileResult saveDocument(ReplacingFile& file, const std::string& name, CTarrowinDoc& doc);

// The version of the document file read most recently in this process; 0 before any.
float lastReadFileVersion();

}  // namespace tarrowin
