#pragma once
// Reading and writing documents for the commands: a failure ends the command with the
// document layer's message.

#include <string>

#include "document/document.h"

namespace tarrowin::cli {

CTarrowinDoc readDocument(const std::string& path);
void writeDocument(const std::string& path, CTarrowinDoc& doc);

}  // namespace tarrowin::cli
