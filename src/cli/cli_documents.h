#pragma once
// Reading and writing files for the commands: a failure ends the command with the message
// of the layer below. Every output goes through ReplacingFile; "-" names the standard
// output.

#include <initializer_list>
#include <string>

#include "document/document.h"

namespace tarrowin {
class ReplacingFile;
}

namespace tarrowin::cli {

CTarrowinDoc readDocument(const std::string& path);
// OUT may be the input: the document tools edit a document in place.
void writeDocument(const std::string& path, CTarrowinDoc& doc);

// Refuses an output that is one of the inputs, by device and inode (a link or another
// spelling of the name does not hide it); for "-", the file the standard output goes to.
void refuseInputAsOutput(const std::string& out, std::initializer_list<std::string> inputs);

// Opens OUT ("-": the standard output, which must not be a terminal) for a command's
// output, after refuseInputAsOutput.
void openOutput(ReplacingFile& file, const std::string& out, std::initializer_list<std::string> inputs);

// Writes the whole of `bytes` to an opened output and commits it.
void writeAndCommit(ReplacingFile& file, const std::string& out, const void* bytes, size_t size);

}  // namespace tarrowin::cli
