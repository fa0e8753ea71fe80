#include "replacing_file.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

namespace tarrowin {

namespace {

std::string directoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// The file a path names once its symbolic links are followed; a link to a name that does
// not exist yet gives that name. False (errno ELOOP) for a chain of links that never ends.
bool followLinks(const std::string& path, std::string& target) {
    target = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        std::array<char, PATH_MAX> buffer{};
        const ssize_t n = ::readlink(target.c_str(), buffer.data(), buffer.size() - 1);
        if (n < 0) return false;
        const std::string link(buffer.data(), static_cast<size_t>(n));
        target = link.front() == '/' ? link : directoryOf(target) + "/" + link;
    }
    errno = ELOOP;
    return false;
}

// The interrupt signals that a command-line handler turns into an exit: they are held
// back while the list of temporary names changes, so the handler always sees it whole.
class SignalBlock {
   public:
    SignalBlock() {
        sigset_t set;
        sigemptyset(&set);
        for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&set, s);
        pthread_sigmask(SIG_BLOCK, &set, &old_);
    }
    ~SignalBlock() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
    SignalBlock(const SignalBlock&) = delete;
    SignalBlock& operator=(const SignalBlock&) = delete;

   private:
    sigset_t old_;
};

// The open ReplacingFiles and the folders OutputFolder made, in plain arrays a signal
// handler can read. A rendering writes a mix and a stem for each of 16 voices at once.
struct Slot {
    std::atomic<bool> used{false};
    volatile sig_atomic_t ready = 0;
    volatile sig_atomic_t folder = 0;   // a made folder, whose path is `temp`
    std::array<char, PATH_MAX> target{};
    std::array<char, PATH_MAX> temp{};  // empty while the file has no temporary name
};
constexpr int kSlots = 32;
std::array<Slot, kSlots> g_slots;

void copyInto(std::array<char, PATH_MAX>& into, const std::string& text) {
    const size_t n = std::min(text.size(), into.size() - 1);
    std::memcpy(into.data(), text.data(), n);
    into[n] = '\0';
}

int claimSlot(const std::string& target, bool folder = false) {
    for (int i = 0; i < kSlots; ++i) {
        Slot& s = g_slots[static_cast<size_t>(i)];
        bool expected = false;
        if (!s.used.compare_exchange_strong(expected, true)) continue;
        SignalBlock block;
        copyInto(s.target, target);
        copyInto(s.temp, folder ? target : std::string());
        s.folder = folder ? 1 : 0;
        s.ready = 1;
        return i;
    }
    return -1;  // more files open at once than tracked: unnamed files need no cleanup anyway
}

void setSlotTemp(int slot, const std::string& temp) {
    if (slot >= 0) copyInto(g_slots[static_cast<size_t>(slot)].temp, temp);
}

void releaseSlot(int& slot) {
    if (slot < 0) return;
    Slot& s = g_slots[static_cast<size_t>(slot)];
    {
        SignalBlock block;
        s.ready = 0;
        s.folder = 0;
        s.temp[0] = '\0';
    }
    s.used.store(false);
    slot = -1;
}

int systemFsync(int fd) { return ::fsync(fd); }
int systemRename(const char* from, const char* to) { return ::rename(from, to); }
ReplacingFile::DurabilityCalls g_calls{&systemFsync, &systemRename};
std::atomic<bool> g_unnamedAllowed{true};

// A short name that is hidden in listings and fits beside the longest file name.
std::string temporaryName(const std::string& dir) {
    static std::atomic<uint64_t> counter{0};
    uint64_t bits = 0;
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits)) {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        bits = static_cast<uint64_t>(now.tv_nsec) ^ (static_cast<uint64_t>(::getpid()) << 32) ^
               (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
    }
    static const char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string name = "/.tarrowin-";
    for (int i = 0; i < 8; ++i, bits /= 36) name += kDigits[bits % 36];
    return dir + name;
}

// Unnamed files are given a name through /proc; without it they could never get one.
bool canNameUnnamedFiles() {
    static const bool available = ::access("/proc/self/fd", X_OK) == 0;
    return available;
}

std::string describeKind(mode_t mode) {
    if (S_ISREG(mode)) return "a file";
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a pipe";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a file";
}

struct FileDescriptor {
    int fd = -1;
    ~FileDescriptor() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

ReplacingFile::~ReplacingFile() { abandon(); }

void ReplacingFile::setDurabilityCalls(const DurabilityCalls& calls) { g_calls = calls; }
void ReplacingFile::resetDurabilityCalls() { g_calls = {&systemFsync, &systemRename}; }
void ReplacingFile::setUnnamedFilesAllowed(bool allowed) { g_unnamedAllowed = allowed; }

bool ReplacingFile::fail() {
    error_ = std::strerror(errno);
    return false;
}

bool ReplacingFile::refuse(const std::string& reason) {
    error_ = reason;
    return false;
}

bool ReplacingFile::open(const std::string& path) {
    abandon();
    error_.clear();
    if (path.empty()) {
        errno = ENOENT;
        return fail();
    }
    std::string target;
    if (!followLinks(path, target)) return fail();

    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (!exists && errno != ENOENT) return fail();
    if (exists) {
        if (S_ISDIR(existing.st_mode)) {
            errno = EISDIR;
            return fail();
        }
        if (S_ISFIFO(existing.st_mode) || S_ISCHR(existing.st_mode)) return openDirectly(target, S_ISFIFO(existing.st_mode));
        if (!S_ISREG(existing.st_mode)) return refuse("it is " + describeKind(existing.st_mode) + ", not a file");
    } else if (target.back() == '/') {
        errno = EISDIR;
        return fail();
    }
    target_ = target;
    slot_ = claimSlot(target_);
    if (!createTemporary(target_, exists ? &existing : nullptr)) {
        const std::string why = error_;
        abandon();
        error_ = why;
        return false;
    }
    return true;
}

bool ReplacingFile::openDirectly(const std::string& target, bool pipe) {
    // Without O_NONBLOCK, opening a pipe waits for a reader and some devices wait too.
    fd_ = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) {
        if (pipe && errno == ENXIO) return refuse("no program reads from the pipe");
        return fail();
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !(S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) {
        closeFd();
        return refuse("it changed while it was being opened");
    }
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags >= 0) (void)::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
    streaming_ = true;
    target_ = target;
    return true;
}

bool ReplacingFile::openStandardOutput() {
    abandon();
    error_.clear();
    if (::fcntl(STDOUT_FILENO, F_GETFL) < 0) return fail();
    fd_ = STDOUT_FILENO;
    ownsFd_ = false;
    streaming_ = true;
    target_.clear();
    return true;
}

bool ReplacingFile::createTemporary(const std::string& target, const struct stat* existing) {
    const std::string dir = directoryOf(target);
    if (g_unnamedAllowed) {
        fd_ = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    } else {
        errno = EOPNOTSUPP;
    }
    if (fd_ >= 0 && canNameUnnamedFiles()) {
        unnamed_ = true;
    } else {
        if (fd_ >= 0) {
            closeFd();
        } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            return fail();  // a missing folder, no permission: the same for a named file
        }
        // This file system makes no unnamed files: a named one, removed on failure.
        SignalBlock block;
        for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
            const std::string name = temporaryName(dir);
            setSlotTemp(slot_, name);
            fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd_ >= 0) {
                tempPath_ = name;
                break;
            }
            setSlotTemp(slot_, "");
            if (errno != EEXIST) return fail();
        }
        if (fd_ < 0) return fail();
    }
    if (existing != nullptr) {
        // The owner first: changing it may clear the set-id bits that fchmod then restores.
        (void)::fchown(fd_, existing->st_uid, existing->st_gid);
        (void)::fchmod(fd_, existing->st_mode & 07777);
    }
    return true;
}

bool ReplacingFile::linkTemporaryName() {
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd_);
    const std::string dir = directoryOf(target_);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = temporaryName(dir);
        setSlotTemp(slot_, name);
        if (::linkat(AT_FDCWD, self, AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            tempPath_ = name;
            return true;
        }
        setSlotTemp(slot_, "");
        if (errno != EEXIST) return fail();
    }
    return fail();
}

bool ReplacingFile::writeAll(const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd_, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) {  // a standard output left non-blocking by the caller
                pollfd p{fd_, POLLOUT, 0};
                (void)::poll(&p, 1, -1);
                continue;
            }
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
    return writeAll(data, size);
}

bool ReplacingFile::writeAt(uint64_t offset, const uint8_t* data, size_t size) {
    if (fd_ < 0 || streaming_) {
        errno = fd_ < 0 ? EBADF : ESPIPE;
        return fail();
    }
    while (size > 0) {
        const ssize_t n = ::pwrite(fd_, data, size, static_cast<off_t>(offset));
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
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

bool ReplacingFile::commit() {
    if (fd_ < 0) {
        errno = EBADF;
        return fail();
    }
    if (streaming_) {
        const bool closed = !ownsFd_ || ::close(fd_) == 0;
        if (!closed) fail();
        fd_ = -1;
        ownsFd_ = true;
        streaming_ = false;
        return closed;
    }
    const auto failAndAbandon = [this] {
        fail();
        const std::string why = error_;
        abandon();
        error_ = why;
        return false;
    };
    // The data reaches the disk before any name points at it.
    if (g_calls.fsync(fd_) != 0) return failAndAbandon();
    {
        SignalBlock block;
        if (unnamed_ && !linkTemporaryName()) return failAndAbandon();
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) return failAndAbandon();
        if (g_calls.rename(tempPath_.c_str(), target_.c_str()) != 0) return failAndAbandon();
        tempPath_.clear();
        releaseSlot(slot_);
    }
    unnamed_ = false;
    // The rename itself lasts once the folder is on the disk. A failure here no longer
    // endangers either file.
    FileDescriptor dir{::open(directoryOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (dir.fd >= 0) (void)g_calls.fsync(dir.fd);
    return true;
}

void ReplacingFile::closeFd() {
    if (fd_ >= 0 && ownsFd_) ::close(fd_);
    fd_ = -1;
    ownsFd_ = true;
}

void ReplacingFile::abandon() {
    SignalBlock block;
    closeFd();
    if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
    tempPath_.clear();
    releaseSlot(slot_);
    streaming_ = false;
    unnamed_ = false;
}

void ReplacingFile::removeTemporaryNames(void (*unwritten)(const char* target)) noexcept {
    for (Slot& s : g_slots) {
        if (!s.ready || s.folder) continue;
        if (s.temp[0] != '\0') ::unlink(s.temp.data());
        if (unwritten != nullptr) unwritten(s.target.data());
    }
    // Once the files in them are gone; an unnamed file is no entry of its folder.
    for (Slot& s : g_slots) {
        if (s.ready && s.folder) ::rmdir(s.temp.data());
    }
}

OutputFolder::~OutputFolder() { abandon(); }

bool OutputFolder::open(const std::string& path) {
    abandon();
    path_.clear();
    error_.clear();
    const auto fail = [this] {
        error_ = std::strerror(errno);
        return false;
    };
    if (path.empty()) {
        errno = ENOENT;
        return fail();
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) {
            error_ = "it is " + describeKind(st.st_mode) + ", not a folder";
            return false;
        }
        if (::access(path.c_str(), W_OK | X_OK) != 0) return fail();
    } else {
        if (errno != ENOENT) return fail();
        SignalBlock block;
        slot_ = claimSlot(path, true);
        if (::mkdir(path.c_str(), 0777) != 0) {
            const int why = errno;
            releaseSlot(slot_);
            errno = why;
            return fail();
        }
        made_ = true;
    }
    path_ = path;
    return true;
}

std::string OutputFolder::file(const std::string& name) const {
    return path_ + (!path_.empty() && path_.back() == '/' ? "" : "/") + name;
}

void OutputFolder::keep() {
    made_ = false;
    releaseSlot(slot_);
}

void OutputFolder::abandon() {
    SignalBlock block;
    if (made_) ::rmdir(path_.c_str());
    made_ = false;
    releaseSlot(slot_);
}

std::string readRegularFile(const std::string& path, size_t maxSize, std::vector<uint8_t>& bytes) {
    bytes.clear();
    // Opening a pipe without O_NONBLOCK would wait for a writer before the check below.
    FileDescriptor file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
    if (file.fd < 0) return std::strerror(errno);
    struct stat st {};
    if (::fstat(file.fd, &st) != 0) return std::strerror(errno);
    if (!S_ISREG(st.st_mode)) return "it is " + describeKind(st.st_mode) + ", not a regular file";
    const std::string tooLarge =
        "it is larger than " + std::to_string(maxSize >> 20) + " MB, more than any Tarrowin document";
    if (static_cast<uintmax_t>(st.st_size) > maxSize) return tooLarge;

    bytes.reserve(static_cast<size_t>(st.st_size));
    std::array<uint8_t, 65536> chunk{};
    for (;;) {
        const ssize_t n = ::read(file.fd, chunk.data(), chunk.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            const std::string why = std::strerror(errno);
            bytes.clear();
            return why;
        }
        if (n == 0) return {};
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + n);
        if (bytes.size() > maxSize) {  // it grew while being read
            bytes.clear();
            return tooLarge;
        }
    }
}

namespace {
bool sameInode(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }
}  // namespace

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sameInode(sa, sb);
}

bool standardOutputIs(const std::string& path) {
    struct stat out {}, file {};
    return ::fstat(STDOUT_FILENO, &out) == 0 && ::stat(path.c_str(), &file) == 0 && sameInode(out, file);
}

}  // namespace tarrowin
