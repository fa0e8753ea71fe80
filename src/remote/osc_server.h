#pragma once
// The OSC server of remote control: a UDP socket of its own on one port, bound to 127.0.0.1
// or, by the user's explicit choice, to every network, and a thread that receives its
// packets. The thread reads each packet (osc_request.h), answers a message it cannot take
// at once, and hands every request, with where it came from, to a queue that the window's
// (or the command line's) thread empties. It never touches the document or a widget.
//
// liblo reads and writes the messages; the socket is our own because liblo's servers
// listen on every network, and the choice of 127.0.0.1 must hold.

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "osc_request.h"

namespace tarrowin::remote {

// Where a message came from: its answer goes back there.
struct Peer {
    sockaddr_storage address{};
    socklen_t length = 0;
};

struct Incoming {
    Request request;
    Peer from;
};

// The requests waiting for the thread that applies them, oldest first. The server's thread
// adds, one other thread takes. Bounded, so a flood cannot take the memory: past the bound a
// request is refused with an answer.
class RequestQueue {
   public:
    static constexpr size_t kMaxWaiting = 65536;
    enum class Added { First, Queued, Full };  // First: the queue was empty, wake the taker
    Added add(Incoming incoming);
    // Up to `most` requests, oldest first.
    std::vector<Incoming> take(size_t most);
    size_t size() const;

   private:
    mutable std::mutex mutex_;
    std::deque<Incoming> waiting_;
};

struct ServerOptions {
    uint16_t port = 0;           // 0: a free port of the system's choosing (tests)
    bool allNetworks = false;    // false: 127.0.0.1 only
    uint16_t answerPort = 0;     // 0: answers go to the port each message came from
};

class OscServer {
   public:
    // Called on the server's thread when a request was queued while the queue was empty.
    using Wake = std::function<void()>;

    // Binds the socket and starts the thread; on failure returns nothing and `error` says
    // why ("port 9000 is in use").
    static std::unique_ptr<OscServer> start(const ServerOptions& options, RequestQueue& queue, Wake wake,
                                            std::string& error);
    // Stops and joins the thread, then closes the socket.
    ~OscServer();
    OscServer(const OscServer&) = delete;
    OscServer& operator=(const OscServer&) = delete;

    uint16_t port() const { return port_; }
    const ServerOptions& options() const { return options_; }

    // Answers from the socket the messages came to; safe from any thread.
    void answerError(const Peer& to, const std::string& message) const;
    void answerState(const Peer& to, const StateReport& state) const;

   private:
    OscServer(const ServerOptions& options, RequestQueue& queue, Wake wake);
    void run();
    void receive();
    void send(const Peer& to, const std::vector<uint8_t>& bytes) const;

    ServerOptions options_;
    RequestQueue& queue_;
    Wake wake_;
    int socket_ = -1;
    int stopPipe_[2] = {-1, -1};
    uint16_t port_ = 0;
    std::vector<uint8_t> buffer_;
    std::thread thread_;
};

}  // namespace tarrowin::remote
