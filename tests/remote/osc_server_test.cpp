// The OSC server on real sockets: where it listens, where answers go, and a full queue.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "osc_test_support.h"
#include "remote/osc_server.h"

namespace tarrowin::remote {
namespace {

using namespace std::chrono_literals;
using testing::Controller;
using testing::packet;

struct Running {
    explicit Running(ServerOptions options = {}) {
        std::string error;
        server = OscServer::start(options, queue, {}, error);
        EXPECT_TRUE(server) << error;
    }
    // Waits until `n` requests wait in the queue, or a second has passed.
    bool waitFor(size_t n) {
        for (int i = 0; i < 200 && queue.size() < n; ++i) std::this_thread::sleep_for(5ms);
        return queue.size() >= n;
    }
    RequestQueue queue;
    std::unique_ptr<OscServer> server;
};

TEST(OscServer, AnswersToTheSenderOrToTheAnswerPort) {
    Controller sender, listener;
    {
        Running r;
        sender.send(packet("/tarrowin/tempo"), r.server->port());  // refused at once: no number
        const auto a = sender.receive();
        EXPECT_EQ(a.path, "/tarrowin/error");
        EXPECT_EQ(a.args, "/tarrowin/tempo takes one whole number");
        sender.send(packet("/tarrowin/state"), r.server->port());
        ASSERT_TRUE(r.waitFor(1));
        r.server->answerState(r.queue.take(1)[0].from, {false, false, 0, 120});
        EXPECT_EQ(sender.receive().args, "0 current 0 120");
    }
    Running r({0, false, listener.port()});
    sender.send(packet("/tarrowin/nothing"), r.server->port());
    EXPECT_EQ(listener.receive().args, "Unknown message \"/tarrowin/nothing\"");
}

TEST(OscServer, ListensOnLoopbackOnlyUnlessAllNetworksAreChosen) {
    // 127.0.0.2 reaches this machine too, but not a socket bound to 127.0.0.1 alone.
    for (const bool all : {false, true}) {
        Running r({0, all, 0});
        Controller c;
        c.send(packet("/tarrowin/play"), r.server->port(), "127.0.0.2");
        EXPECT_EQ(r.waitFor(1), all) << (all ? "all networks" : "loopback only");
    }
}

TEST(OscServer, TellsWhyItCannotListen) {
    Running first;
    RequestQueue queue;
    std::string error;
    EXPECT_FALSE(OscServer::start({first.server->port(), false, 0}, queue, {}, error));
    EXPECT_EQ(error, "port " + std::to_string(first.server->port()) + " is in use");
}

TEST(OscServer, AFullQueueAnswersThatTheMessageWasDropped) {
    Running r;
    Controller c;
    for (size_t i = 0; i < RequestQueue::kMaxWaiting; ++i) r.queue.add({Request{}, {}});
    c.send(packet("/tarrowin/play"), r.server->port());
    EXPECT_EQ(c.receive().args, "Tarrowin is busy with earlier messages: this one was dropped");
    EXPECT_EQ(r.queue.size(), RequestQueue::kMaxWaiting);
}

}  // namespace
}  // namespace tarrowin::remote
