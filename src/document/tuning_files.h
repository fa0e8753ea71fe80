#pragma once
// Reading Scala scale (.scl) and keyboard map (.kbm) files for a document's tuning: the
// file's text, converted to UTF-8 and checked by its reader, or why it was refused, with
// the file's name and the line.

#include <string>

#include "engine/tuning.h"

namespace tarrowin {

struct TuningFile {
    std::string text;   // UTF-8
    std::string error;  // "Cannot read \"PATH\": line 5: ..."; empty when read
    bool ok() const { return error.empty(); }
};

TuningFile readScaleFile(const std::string& path);
TuningFile readKeyboardMapFile(const std::string& path);

}  // namespace tarrowin
