#pragma once
// The whole document as JSON, for reading and editing documents as text: the current
// settings and every event, each with its global fields and a list of 16 voices whose
// fields carry the names the program uses, scale lists as arrays of their values.

#include <nlohmann/json.hpp>

#include "document/document.h"
#include "document/document_validation.h"

namespace tarrowin::cli {

using Json = nlohmann::ordered_json;

Json documentToJson(const CTarrowinDoc& doc);

// Replaces the document with the JSON's contents, or leaves it untouched and names the
// missing, unknown or refused field (with its voice 1..16 and event) in the message.
// Values follow the same rules as an opened file.
FileResult documentFromJson(const Json& json, CTarrowinDoc& doc);

}  // namespace tarrowin::cli
