#pragma once
// The whole document as JSON, for reading and editing documents as text: the current
// settings and every event, each with its global fields and a list of 16 voices whose
// fields carry the names the program uses, scale lists as arrays of their values.

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

#include "document/document.h"
#include "document/document_validation.h"

namespace tarrowin::cli {

using Json = nlohmann::ordered_json;

Json documentToJson(const CTarrowinDoc& doc);

// Replaces the document with the JSON's contents, or leaves it untouched and names the
// missing, unknown or refused field (with its voice 1..16 and event) in the message.
// Values follow the same rules as an opened file.
FileResult documentFromJson(const Json& json, CTarrowinDoc& doc);

// The deepest nesting a document has: document, events, event, voices, voice, scale list.
inline constexpr int kMaxJsonDepth = 6;

// Reads JSON text as dump prints it. Text that is not JSON, or is nested deeper than a
// document, is refused before a value is built from it; messages say where, in our words.
FileResult documentFromJsonText(std::string_view text, CTarrowinDoc& doc);
// The same from a file: a regular file no larger than a document file can be. Messages
// name the file.
FileResult readDocumentJsonFile(const std::string& path, CTarrowinDoc& doc);

}  // namespace tarrowin::cli
