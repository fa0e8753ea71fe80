// The session's settings file: written and read back, and what a damaged file keeps.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "remote/session_settings.h"

namespace tarrowin::remote {
namespace {

namespace fs = std::filesystem;

class SessionSettingsFile : public ::testing::Test {
   protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tarrowin-session-" + std::to_string(getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string file(const char* text = nullptr) const {
        const std::string p = (dir_ / "Tarrowin.nXYZ.settings").string();
        if (text != nullptr) std::ofstream(p) << text;
        return p;
    }
    fs::path dir_;
};

TEST_F(SessionSettingsFile, WritesAndReadsBack) {
    const SessionSettings s{"JACK: Tarrowin (virtual port)", 3, false};
    ASSERT_EQ(writeSessionSettings(file(), s), "");
    std::vector<std::string> problems;
    EXPECT_EQ(readSessionSettings(file(), problems), s);
    EXPECT_TRUE(problems.empty());
    EXPECT_EQ(sessionFiles("/s/T.n1").document, "/s/T.n1.trw");
    EXPECT_EQ(sessionFiles("/s/T.n1").settings, "/s/T.n1.settings");
}

TEST_F(SessionSettingsFile, AMissingFileGivesTheDefaults) {
    std::vector<std::string> problems;
    EXPECT_EQ(readSessionSettings(file(), problems), SessionSettings{});
    EXPECT_TRUE(problems.empty());
}

TEST_F(SessionSettingsFile, ADamagedLineIsReportedAndTheOthersKept) {
    std::vector<std::string> problems;
    const SessionSettings s = readSessionSettings(
        file("# Tarrowin session settings\r\ndevice=Midi Mapper\r\npercussion-channel=16\nwindow=maybe\n"
             "garbage\nfuture-setting=1\nwindow=hidden"),
        problems);
    EXPECT_EQ(s, (SessionSettings{"Midi Mapper", std::nullopt, false}));
    EXPECT_EQ(problems, (std::vector<std::string>{file() + ", line 3: percussion-channel takes 0 to 15",
                                                  file() + ", line 4: window takes shown or hidden",
                                                  file() + ", line 5: not a setting"}));
}

TEST_F(SessionSettingsFile, ADeviceNameThatWouldBreakTheFileIsNotWritten) {
    ASSERT_EQ(writeSessionSettings(file(), {"evil\nwindow=hidden", 1, true}), "");
    std::vector<std::string> problems;
    EXPECT_EQ(readSessionSettings(file(), problems), (SessionSettings{"", 1, true}));
}

}  // namespace
}  // namespace tarrowin::remote
