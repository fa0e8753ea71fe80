#pragma once
// The one way the program reads a document file and writes any output (documents, MIDI
// files, images, audio).
//
// ReplacingFile writes an output so that a failed, cancelled or interrupted write leaves
// neither a half file nor a damaged older one:
//  - A regular file, or a name that does not exist yet, is written as an unnamed file in the
//    same folder (under a short random name where the file system cannot make unnamed
//    files). On commit it is flushed to the disk, renamed over the target, and the folder is
//    flushed. A replaced file keeps its permissions and, where allowed, its owner. The
//    temporary name is short, so the longest file names work.
//  - A symbolic link is followed: the file it names is replaced and the link stays.
//  - A pipe that a program reads, a character device such as /dev/null, and the standard
//    output are written into directly, as the bytes come ("streaming"): they cannot be
//    rewritten afterwards, so writeAt fails there.
//  - A folder, a block device, a socket and a pipe that nothing reads are refused.
//
// readRegularFile reads an input of bounded size and refuses, without waiting on them,
// pipes and devices. sameFile tells whether two paths name one file.

#include <sys/stat.h>

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
    // Abandons the file unless commit() succeeded.
    ~ReplacingFile();

    // Prepares to write `path` by the rules above. False (see error()) when it cannot; the
    // target is untouched either way.
    bool open(const std::string& path);
    // Writes to the standard output (file descriptor 1) as the bytes come. Whatever the
    // descriptor refers to, the bytes are appended there and nothing is renamed.
    bool openStandardOutput();
    bool isOpen() const { return fd_ >= 0; }
    // True when the bytes go straight out (pipe, device, standard output).
    bool streaming() const { return streaming_; }
    // The file written, its links followed; empty for the standard output.
    const std::string& target() const { return target_; }

    // Appends bytes; writeAt rewrites bytes already written (not when streaming).
    bool write(const uint8_t* data, size_t size);
    bool writeAt(uint64_t offset, const uint8_t* data, size_t size);
    // Completes the output: flushes the file, renames it over the target and flushes the
    // folder. False (and the target untouched) when the file could not be completed.
    bool commit();
    // Drops what was written; the target stays as it was.
    void abandon();

    // Why the last step failed: the system's reason ("No such file or directory") or ours
    // ("it is a block device, not a file").
    const std::string& error() const { return error_; }

    // The system calls that make a replacement durable, in the order commit() makes them:
    // fsync of the file, rename over the target, fsync of the folder. Tests put their own
    // in to watch the order or to make a step fail; reset restores the system's.
    struct DurabilityCalls {
        int (*fsync)(int fd);
        int (*rename)(const char* from, const char* to);
    };
    static void setDurabilityCalls(const DurabilityCalls& calls);
    static void resetDurabilityCalls();
    // Whether unnamed files are used where the file system has them (the default). Tests
    // turn them off to exercise the named temporary files other file systems get.
    static void setUnnamedFilesAllowed(bool allowed);

    // For a signal handler that ends the process: removes the temporary names of every
    // open ReplacingFile (an unnamed file vanishes with the process by itself) and calls
    // `unwritten` with each target that will not be written, then removes the folders an
    // OutputFolder made and has not kept. Async-signal-safe, as long as `unwritten` is.
    static void removeTemporaryNames(void (*unwritten)(const char* target)) noexcept;

   private:
    bool fail();
    bool refuse(const std::string& reason);
    bool openDirectly(const std::string& target, bool pipe);
    bool createTemporary(const std::string& target, const struct stat* existing);
    bool linkTemporaryName();
    bool writeAll(const uint8_t* data, size_t size);
    void closeFd();

    int fd_ = -1;
    bool ownsFd_ = true;     // false for the standard output
    bool streaming_ = false;
    bool unnamed_ = false;   // an O_TMPFILE file that gets a name only on commit
    std::string target_;
    std::string tempPath_;   // the temporary name, while it exists
    int slot_ = -1;          // this file's entry for removeTemporaryNames
    std::string error_;
};

// A folder that several outputs go into (the stems of a rendering), each written by a
// ReplacingFile. A folder that exists is used (a symbolic link to one is followed) when it
// can be written; a name that does not exist yet is made as a folder, inside a folder that
// exists, and removed again, empty as it was made, unless keep() is called once the files
// in it are complete; anything else by that name is refused. When the process ends on a
// signal, ReplacingFile::removeTemporaryNames removes the folder made here too.
class OutputFolder {
   public:
    OutputFolder() = default;
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;
    // Removes the folder it made, unless kept.
    ~OutputFolder();

    // False (see error()) when the folder cannot be used; nothing is made then.
    bool open(const std::string& path);
    // The path of the file `name` in the folder.
    std::string file(const std::string& name) const;
    // Whether open() made the folder.
    bool made() const { return made_; }
    // The folder stays, whether it was made or not.
    void keep();
    // Removes the folder if it was made here and is empty.
    void abandon();
    const std::string& error() const { return error_; }

   private:
    std::string path_;
    bool made_ = false;
    int slot_ = -1;  // the made folder's entry for removeTemporaryNames
    std::string error_;
};

// Reads the whole regular file at `path` into `bytes`, at most `maxSize` bytes. Opens
// without waiting (a pipe or a device is refused, not read). Returns "" on success, else
// the reason: the system's, "it is a pipe, not a file", "it is larger than 64 MB, ...".
std::string readRegularFile(const std::string& path, size_t maxSize, std::vector<uint8_t>& bytes);

// Whether two paths (symbolic links followed) name the same existing file: the same
// device and inode, however the names are spelled.
bool sameFile(const std::string& a, const std::string& b);
// Whether the standard output is the file at `path`.
bool standardOutputIs(const std::string& path);

}  // namespace tarrowin
