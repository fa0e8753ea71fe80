// The OSC server on real sockets: where it listens, how requests reach the queue and wake
// its taker, and where answers go.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "osc_test_support.h"
#include "remote/osc_server.h"

namespace tarrowin::remote {
namespace {

using namespace std::chrono_literals;
using testing::packet;

// A controller: a UDP socket of its own on 127.0.0.1 that sends and receives.
class Controller {
   public:
    Controller() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a = address("127.0.0.1", 0);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t n = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n);
        port_ = ntohs(a.sin_port);
    }
    ~Controller() { ::close(fd_); }
    uint16_t port() const { return port_; }

    static sockaddr_in address(const char* host, uint16_t port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        ::inet_pton(AF_INET, host, &a.sin_addr);
        return a;
    }
    void send(const std::vector<uint8_t>& bytes, uint16_t port, const char* host = "127.0.0.1") const {
        const sockaddr_in a = address(host, port);
        ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    }
    // The next answer within a second; an empty path when none came.
    testing::Answer receive() const {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 1000) != 1) return {};
        std::vector<uint8_t> bytes(65536);
        const ssize_t n = ::recv(fd_, bytes.data(), bytes.size(), 0);
        bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return testing::decode(bytes);
    }

   private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

struct Running {
    explicit Running(ServerOptions options = {}) {
        std::string error;
        server = OscServer::start(options, queue, [this] { wakes.fetch_add(1); }, error);
        EXPECT_TRUE(server) << error;
    }
    // Waits until `n` requests wait in the queue, or a second has passed.
    bool waitFor(size_t n) {
        for (int i = 0; i < 200 && queue.size() < n; ++i) std::this_thread::sleep_for(5ms);
        return queue.size() >= n;
    }
    RequestQueue queue;
    std::atomic<int> wakes{0};
    std::unique_ptr<OscServer> server;
};

TEST(OscServer, QueuesRequestsAndWakesOncePerEmptyQueue) {
    Running r;
    Controller c;
    for (int t : {100, 101, 102}) c.send(packet("/tarrowin/tempo", [t](lo_message m) { lo_message_add_int32(m, t); }), r.server->port());
    ASSERT_TRUE(r.waitFor(3));
    EXPECT_EQ(r.wakes.load(), 1);
    const auto taken = r.queue.take(10);
    ASSERT_EQ(taken.size(), 3u);
    EXPECT_EQ(taken[2].request.value, 102);
    EXPECT_EQ(ntohs(reinterpret_cast<const sockaddr_in&>(taken[0].from.address).sin_port), c.port());
    c.send(packet("/tarrowin/play"), r.server->port());
    ASSERT_TRUE(r.waitFor(1));
    EXPECT_EQ(r.wakes.load(), 2);
}

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
