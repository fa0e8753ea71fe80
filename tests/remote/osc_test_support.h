#pragma once
// OSC packets for the remote tests, made with liblo as a controller makes them.

#include <arpa/inet.h>
#include <lo/lo.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace tarrowin::remote::testing {

inline std::vector<uint8_t> packet(const std::string& path, const std::function<void(lo_message)>& args = {}) {
    lo_message m = lo_message_new();
    if (args) args(m);
    std::vector<uint8_t> bytes(lo_message_length(m, path.c_str()));
    size_t size = bytes.size();
    lo_message_serialise(m, path.c_str(), bytes.data(), &size);
    lo_message_free(m);
    bytes.resize(size);
    return bytes;
}

// A bundle of the elements, each a message's or a bundle's bytes.
inline std::vector<uint8_t> bundle(const std::vector<std::vector<uint8_t>>& elements) {
    std::vector<uint8_t> b = {'#', 'b', 'u', 'n', 'd', 'l', 'e', 0, 0, 0, 0, 0, 0, 0, 0, 1};
    for (const auto& e : elements) {
        const auto n = static_cast<uint32_t>(e.size());
        b.insert(b.end(), {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)});
        b.insert(b.end(), e.begin(), e.end());
    }
    return b;
}

// A received answer: its path, type tags and arguments as text ("1 current 0 120").
struct Answer {
    std::string path;
    std::string types;
    std::string args;
};

inline Answer decode(std::vector<uint8_t> bytes) {
    int result = 0;
    lo_message m = lo_message_deserialise(bytes.data(), bytes.size(), &result);
    if (m == nullptr) return {};
    Answer a{reinterpret_cast<const char*>(bytes.data()), lo_message_get_types(m), ""};
    lo_arg** argv = lo_message_get_argv(m);
    for (size_t i = 0; i < a.types.size(); ++i) {
        if (i > 0) a.args += ' ';
        // Arguments are aligned to 4 bytes only: read as bytes, not through lo_arg's union.
        int32_t n = 0;
        std::memcpy(&n, argv[i], sizeof n);
        if (a.types[i] == 'i') a.args += std::to_string(n);
        if (a.types[i] == 's') a.args += reinterpret_cast<const char*>(argv[i]);
    }
    lo_message_free(m);
    return a;
}

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
    // Whether an answer waits (for tests that keep an event loop running meanwhile).
    bool answered() const {
        pollfd p{fd_, POLLIN, 0};
        return ::poll(&p, 1, 0) == 1;
    }
    // The next answer within a second; an empty path when none came.
    Answer receive() const {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 1000) != 1) return {};
        std::vector<uint8_t> bytes(65536);
        const ssize_t n = ::recv(fd_, bytes.data(), bytes.size(), 0);
        bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return decode(bytes);
    }

   private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

}  // namespace tarrowin::remote::testing
