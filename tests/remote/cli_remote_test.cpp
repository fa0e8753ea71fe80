// tarrowin-cli play --osc, run as a user runs it: a controller asks for the state, is refused
// what the play rules refuse, switches a voice and stops the play.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "document/document_file.h"
#include "osc_test_support.h"

namespace tarrowin::remote {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::Controller;
using testing::packet;

class CliRemote : public ::testing::Test {
   protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tarrowin-cli-osc-" + std::to_string(getpid()));
        fs::create_directories(dir_);
        CTarrowinDoc doc;
        doc.OnNewDocument();
        doc.setTempo(200);
        ASSERT_TRUE(saveDocumentFile(path("song.trw"), doc).ok);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    std::string text(const std::string& name) const {
        std::ifstream in(path(name));
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // Starts a play in the background; its process id.
    pid_t play(const std::string& args) const {
        const pid_t pid = fork();
        if (pid == 0) {
            const std::string command = std::string(TARROWIN_CLI) + " play " + path("song.trw") + " --wav " +
                                        path("out.wav") + " " + args + " 2>" + path("stderr.txt");
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        return pid;
    }
    static int exitCode(pid_t pid) {
        int status = 0;
        for (int i = 0; i < 200; ++i) {
            if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            std::this_thread::sleep_for(50ms);
        }
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -2;
    }
    // Asks for the state until the play answers.
    static testing::Answer state(const Controller& c, uint16_t port) {
        for (int i = 0; i < 100; ++i) {
            c.send(packet("/tarrowin/state"), port);
            if (auto a = c.receive(); !a.path.empty()) return a;
        }
        return {};
    }
    fs::path dir_;
};

uint16_t freePort() {
    Controller probe;  // a port the system just handed out, free again once it closes
    return probe.port();
}

TEST_F(CliRemote, AControllerAsksSwitchesAndStops) {
    const uint16_t port = freePort();
    const pid_t pid = play("--osc " + std::to_string(port));
    Controller c;
    const auto playing = state(c, port);
    EXPECT_EQ(playing.path, "/tarrowin/state");
    EXPECT_EQ(playing.args.substr(0, 10), "1 current ");
    EXPECT_EQ(playing.args.substr(playing.args.size() - 4), " 200");
    c.send(packet("/tarrowin/tempo", [](lo_message m) { lo_message_add_int32(m, 100); }), port);
    EXPECT_EQ(c.receive().args, "The tempo cannot change while Tarrowin plays");
    c.send(packet("/tarrowin/voice/1/on", [](lo_message m) { lo_message_add_int32(m, 0); }), port);
    c.send(packet("/tarrowin/stop"), port);
    EXPECT_EQ(exitCode(pid), 0) << text("stderr.txt");
    EXPECT_NE(text("stderr.txt").find("Stopped after"), std::string::npos) << text("stderr.txt");
    EXPECT_TRUE(fs::exists(path("out.wav")));
}

TEST_F(CliRemote, APortInUseIsRefusedBeforeThePlay) {
    Controller busy;
    const pid_t pid = play("--osc " + std::to_string(busy.port()));
    EXPECT_EQ(exitCode(pid), 1);
    EXPECT_NE(text("stderr.txt").find("--osc: port " + std::to_string(busy.port()) + " is in use"), std::string::npos)
        << text("stderr.txt");
    EXPECT_FALSE(fs::exists(path("out.wav")));
}

}  // namespace
}  // namespace tarrowin::remote
