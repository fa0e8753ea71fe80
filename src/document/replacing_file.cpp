#include "replacing_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace tarrowin {

namespace {

std::string directoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string fileNameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::atomic<unsigned> temporaryCounter{0};

// A symbolic link is followed, so the file it names is replaced and the link stays.
std::string resolvedTarget(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_symlink(path, ec)) {
        const auto resolved = std::filesystem::canonical(path, ec);
        if (!ec) return resolved.string();
    }
    return path;
}

}  // namespace

ReplacingFile::~ReplacingFile() { abandon(); }

bool ReplacingFile::fail() {
    error_ = std::strerror(errno);
    return false;
}

bool ReplacingFile::open(const std::string& path) {
    abandon();
    error_.clear();
    if (path.empty() || path.back() == '/') {
        errno = path.empty() ? ENOENT : EISDIR;
        return fail();
    }
    target_ = resolvedTarget(path);

    struct stat existing {};
    const bool exists = ::stat(target_.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        errno = EISDIR;
        return fail();
    }
    if (exists && !S_ISREG(existing.st_mode)) {
        fd_ = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd_ < 0) return fail();
        inPlace_ = true;
        held_ = ::lseek(fd_, 0, SEEK_CUR) < 0;
        return true;
    }

    const std::string dir = directoryOf(target_);
    const std::string name = fileNameOf(target_);
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath_ = dir + "/." + name + ".tmp-" + std::to_string(::getpid()) + "-" +
                    std::to_string(temporaryCounter.fetch_add(1));
        fd_ = ::open(tempPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) break;
        if (errno != EEXIST) {
            tempPath_.clear();
            return fail();
        }
    }
    if (fd_ < 0) {
        tempPath_.clear();
        return fail();
    }
    // A replaced file keeps its permissions.
    if (exists) (void)::fchmod(fd_, existing.st_mode & 07777);
    return true;
}

bool ReplacingFile::writeAll(const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd_, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail();
        }
        if (n == 0) {
            errno = EIO;
            return fail();
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool ReplacingFile::write(const uint8_t* data, size_t size) {
    if (fd_ < 0) {
        errno = EBADF;
        return fail();
    }
    if (held_) {
        heldBytes_.insert(heldBytes_.end(), data, data + size);
        return true;
    }
    return writeAll(data, size);
}

bool ReplacingFile::writeAt(uint64_t offset, const uint8_t* data, size_t size) {
    if (fd_ < 0) {
        errno = EBADF;
        return fail();
    }
    if (held_) {
        if (offset > heldBytes_.size() || size > heldBytes_.size() - offset) {
            errno = EINVAL;
            return fail();
        }
        std::copy(data, data + size, heldBytes_.begin() + static_cast<std::ptrdiff_t>(offset));
        return true;
    }
    while (size > 0) {
        const ssize_t n = ::pwrite(fd_, data, size, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail();
        }
        data += n;
        size -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

bool ReplacingFile::commit() {
    if (fd_ < 0) {
        errno = EBADF;
        return fail();
    }
    if (inPlace_) {
        const bool written = !held_ || writeAll(heldBytes_.data(), heldBytes_.size());
        heldBytes_.clear();
        closeFd();
        return written;
    }
    if (::fsync(fd_) != 0 || ::close(fd_) != 0) {
        fd_ = -1;
        fail();
        abandon();
        return false;
    }
    fd_ = -1;
    if (::rename(tempPath_.c_str(), target_.c_str()) != 0) {
        fail();
        abandon();
        return false;
    }
    tempPath_.clear();
    // A failure here no longer endangers either file.
    if (const int dirFd = ::open(directoryOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

void ReplacingFile::closeFd() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void ReplacingFile::abandon() {
    closeFd();
    if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
    tempPath_.clear();
    inPlace_ = false;
    held_ = false;
    heldBytes_.clear();
}

}  // namespace tarrowin
