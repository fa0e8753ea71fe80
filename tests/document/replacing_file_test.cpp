// The replace-on-commit writer's guarantees that the command-line tests cannot watch: the
// order of the calls that make a save survive a power cut, the removal of a named
// temporary file (and of a folder made for several outputs) by a signal handler, and the
// rules of such a folder.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <iterator>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "document/document_file.h"
#include "document/replacing_file.h"

namespace tarrowin {
namespace {

namespace fs = std::filesystem;

class ReplacingFileTest : public ::testing::Test {
   protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tarrowin-replacing-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        target_ = (dir_ / "song.trw").string();
        std::ofstream(target_) << "old";
        steps().clear();
    }
    void TearDown() override {
        ReplacingFile::resetDurabilityCalls();
        ReplacingFile::setUnnamedFilesAllowed(true);
        fs::remove_all(dir_);
    }
    std::vector<std::string> names() const {
        std::vector<std::string> n;
        for (const auto& e : fs::directory_iterator(dir_)) n.push_back(e.path().filename().string());
        return n;
    }
    static std::string contents(const std::string& path) {
        std::ifstream in(path);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // What the recording calls saw, in order: "flush file" (and whether the target still
    // held the old contents then), "rename", "flush folder".
    static std::vector<std::string>& steps() {
        static std::vector<std::string> s;
        return s;
    }
    static inline std::string watched_;
    static inline bool failFlush_ = false;
    static int recordFsync(int fd) {
        struct stat st {};
        ::fstat(fd, &st);
        const bool old = contents(watched_) == "old";
        steps().push_back(S_ISDIR(st.st_mode) ? "flush folder" : old ? "flush file, target old" : "flush file, target new");
        if (failFlush_ && !S_ISDIR(st.st_mode)) {
            errno = EIO;
            return -1;
        }
        return ::fsync(fd);
    }
    static int recordRename(const char* from, const char* to) {
        steps().push_back(std::string("rename to ") + fs::path(to).filename().string());
        return ::rename(from, to);
    }

    // The next save goes through the recording calls, with an unnamed or a named
    // temporary file; `failFlush` makes the file's flush fail.
    void record(bool unnamed, bool failFlush) {
        ReplacingFile::setUnnamedFilesAllowed(unnamed);
        std::ofstream(target_) << "old";
        steps().clear();
        watched_ = target_;
        failFlush_ = failFlush;
        ReplacingFile::setDurabilityCalls({&recordFsync, &recordRename});
    }
    FileResult saveNewDocument() const {
        CTarrowinDoc doc;
        doc.OnNewDocument();
        return saveDocumentFile(target_, doc);
    }

    fs::path dir_;
    std::string target_;
};

TEST_F(ReplacingFileTest, FlushesTheFileThenRenamesThenFlushesTheFolder) {
    for (const bool unnamed : {true, false}) {
        SCOPED_TRACE(unnamed ? "unnamed temporary file" : "named temporary file");
        record(unnamed, false);
        const FileResult r = saveNewDocument();
        ASSERT_TRUE(r.ok) << r.message;
        EXPECT_EQ(steps(), (std::vector<std::string>{"flush file, target old", "rename to song.trw",
                                                     "flush folder"}));
        EXPECT_EQ(names(), std::vector<std::string>{"song.trw"});
    }
}

TEST_F(ReplacingFileTest, AFailedFlushRenamesNothing) {
    for (const bool unnamed : {true, false}) {
        SCOPED_TRACE(unnamed ? "unnamed temporary file" : "named temporary file");
        record(unnamed, true);
        const FileResult r = saveNewDocument();
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.message.find("Input/output error"), std::string::npos) << r.message;
        EXPECT_EQ(steps(), std::vector<std::string>{"flush file, target old"});
        EXPECT_TRUE(contents(target_) == "old") << "the target was replaced";
        EXPECT_EQ(names(), std::vector<std::string>{"song.trw"});
    }
}

extern "C" void removeAndExit(int signal) {
    ReplacingFile::removeTemporaryNames(nullptr);
    ::_exit(128 + signal);
}

// Runs `write` in a child process whose SIGTERM handler removes the temporary names, and
// stops it there with SIGTERM; write returns an exit code when it fails before.
void stoppedWhileWriting(const std::function<int()>& write) {
    ReplacingFile::setUnnamedFilesAllowed(false);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGTERM, removeAndExit);
        if (const int failed = write()) ::_exit(failed);
        ::raise(SIGTERM);
        ::_exit(3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
}

TEST_F(ReplacingFileTest, ASignalHandlerRemovesANamedTemporaryFile) {
    stoppedWhileWriting([this] {
        ReplacingFile file;
        const uint8_t bytes[] = {'n', 'e', 'w'};
        if (!file.open(target_) || !file.write(bytes, sizeof bytes)) return 1;
        if (std::distance(fs::directory_iterator(dir_), fs::directory_iterator()) != 2) return 2;  // the temporary name
        return 0;
    });
    EXPECT_EQ(names(), std::vector<std::string>{"song.trw"});
    EXPECT_TRUE(contents(target_) == "old") << "the target was replaced";
}

TEST_F(ReplacingFileTest, ASignalHandlerRemovesAFolderMadeForOutputsAndTheFilesInIt) {
    stoppedWhileWriting([this] {
        static OutputFolder folder;
        if (!folder.open((dir_ / "stems").string())) return 1;
        // More files than a rendering with stems writes at once, each under a temporary name.
        static std::array<ReplacingFile, 19> files;
        for (size_t i = 0; i < files.size(); ++i) {
            if (!files[i].open(folder.file("voice-" + std::to_string(i) + ".wav"))) return 2;
        }
        return 0;
    });
    EXPECT_EQ(names(), std::vector<std::string>{"song.trw"});
}

TEST_F(ReplacingFileTest, AnOutputFolderIsUsedOrMadeAndRemovedUnlessKept) {
    fs::create_directory(dir_ / "old");
    std::ofstream(dir_ / "old" / "mine.txt") << "kept";
    struct Case {
        const char* name;
        const char* path;
        bool keep;
        const char* error;  // empty: opens
        bool stays;         // the folder is there afterwards
    };
    const Case cases[] = {
        {"an existing folder is used and stays", "old", false, "", true},
        {"a missing folder is made and removed again", "new", false, "", false},
        {"a made folder that is kept stays", "new", true, "", true},
        {"a file is no folder", "song.trw", false, "it is a file, not a folder", true},
        {"a folder is made only inside one that exists", "none/new", false, "No such file or directory", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = dir_ / c.path;
        {
            OutputFolder folder;
            const bool opened = folder.open(path.string());
            EXPECT_EQ(opened, *c.error == '\0');
            EXPECT_EQ(folder.error(), c.error);
            if (opened) {
                EXPECT_EQ(folder.file("a.wav"), (path / "a.wav").string());
            }
            if (c.keep) folder.keep();
        }
        EXPECT_EQ(fs::exists(path), c.stays);
        fs::remove(dir_ / "new");
    }
    EXPECT_TRUE(contents((dir_ / "old" / "mine.txt").string()) == "kept");
}

}  // namespace
}  // namespace tarrowin
