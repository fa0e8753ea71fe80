#pragma once
// A test fixture that runs tarrowin-cli as a user does, in a directory of its own that is
// removed afterwards, keeping its exit code, standard output and standard error apart.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "document/document_file.h"

namespace tarrowin::testing {

struct CliRun {
    int code;
    std::string out;
    std::string err;
};

class CliTest : public ::testing::Test {
   protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("tarrowin-cli-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::filesystem::path path(const std::string& name) const { return dir_ / name; }

    // The names in the directory but the captured output, sorted.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir_)) {
            const std::string name = e.path().filename().string();
            if (name != "stdout.txt" && name != "stderr.txt") names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string save(const std::string& name, CTarrowinDoc& doc) const {
        EXPECT_TRUE(saveDocumentFile(path(name).string(), doc).ok);
        return path(name).string();
    }
    // A device node in the test's own directory (never the system's /dev); false where
    // the user may not make one.
    bool makeDevice(const std::string& name, mode_t kind, unsigned major, unsigned minor) const {
        return ::mknod(path(name).c_str(), kind | 0666, makedev(major, minor)) == 0;
    }

    // Runs `prefix` tarrowin-cli `args`; its output goes to stdout.txt and stderr.txt.
    CliRun cli(const std::string& args, const std::string& prefix = "") const {
        const auto out = dir_ / "stdout.txt", err = dir_ / "stderr.txt";
        const std::string command =
            prefix + std::string(TARROWIN_CLI) + " " + args + " >" + out.string() + " 2>" + err.string();
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text(out), text(err)};
    }
    static std::string text(const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static std::vector<uint8_t> bytes(const std::filesystem::path& p) {
        const std::string t = text(p);
        return {t.begin(), t.end()};
    }
    static void write(const std::filesystem::path& p, const std::string& contents) {
        std::ofstream(p, std::ios::binary) << contents;
    }
    static void write(const std::filesystem::path& p, const std::vector<uint8_t>& b) {
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    }

    std::filesystem::path dir_;
};

}  // namespace tarrowin::testing
