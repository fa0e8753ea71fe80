#pragma once
// A file that is written beside its target under a temporary name and renamed over the
// target only when it is complete, so a failed or cancelled write leaves neither a half
// file nor a damaged older one. A replaced file keeps its permissions, and a symbolic link
// keeps pointing at it. A target that exists and is not a regular file (a device such as
// /dev/null, a pipe) is written in place instead.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarrowin {

class ReplacingFile {
   public:
    ReplacingFile() = default;
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;
    // Removes the temporary file unless commit() succeeded.
    ~ReplacingFile();

    // Creates the temporary file beside `path`. False (see error()) when it cannot.
    bool open(const std::string& path);
    // Appends bytes; writeAt rewrites bytes already written.
    bool write(const uint8_t* data, size_t size);
    bool writeAt(uint64_t offset, const uint8_t* data, size_t size);
    // Flushes the file to the disk and renames it over the target (then flushes the
    // directory, so the rename lasts too). False (and the target untouched) when the file
    // could not be completed.
    bool commit();
    // Closes and removes the temporary file; the target stays as it was.
    void abandon();

    // The system's reason for the last failure, e.g. "No such file or directory".
    const std::string& error() const { return error_; }
    const std::string& temporaryPath() const { return tempPath_; }

   private:
    bool fail();
    bool writeAll(const uint8_t* data, size_t size);
    void closeFd();

    int fd_ = -1;
    std::string target_;
    std::string tempPath_;  // empty when writing in place
    bool inPlace_ = false;
    // In place on a target that cannot seek (a pipe): the bytes wait here until commit().
    bool held_ = false;
    std::vector<uint8_t> heldBytes_;
    std::string error_;
};

}  // namespace tarrowin
