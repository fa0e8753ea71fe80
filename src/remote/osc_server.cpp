#include "osc_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarrowin::remote {

namespace {

// The largest UDP payload: a packet is read whole or not at all.
constexpr size_t kMaxPacket = 65536;
// Room for a burst of packets while the thread is busy: the system's default keeps only a
// few hundred small ones (the system may cap what it grants).
constexpr int kReceiveBuffer = 4 << 20;

std::string systemError(int code) { return std::strerror(code); }

}  // namespace

RequestQueue::Added RequestQueue::add(Incoming incoming) {
    std::lock_guard lock(mutex_);
    if (waiting_.size() >= kMaxWaiting) return Added::Full;
    waiting_.push_back(std::move(incoming));
    return waiting_.size() == 1 ? Added::First : Added::Queued;
}

std::vector<Incoming> RequestQueue::take(size_t most) {
    std::lock_guard lock(mutex_);
    const size_t n = std::min(most, waiting_.size());
    std::vector<Incoming> taken(std::make_move_iterator(waiting_.begin()),
                                std::make_move_iterator(waiting_.begin() + static_cast<std::ptrdiff_t>(n)));
    waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(n));
    return taken;
}

size_t RequestQueue::size() const {
    std::lock_guard lock(mutex_);
    return waiting_.size();
}

OscServer::OscServer(const ServerOptions& options, RequestQueue& queue, Wake wake)
    : options_(options), queue_(queue), wake_(std::move(wake)), buffer_(kMaxPacket) {}

std::unique_ptr<OscServer> OscServer::start(const ServerOptions& options, RequestQueue& queue, Wake wake,
                                            std::string& error) {
    std::unique_ptr<OscServer> s(new OscServer(options, queue, std::move(wake)));
    s->socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s->socket_ < 0) {
        error = "no network socket: " + systemError(errno);
        return nullptr;
    }
    const int size = kReceiveBuffer;
    ::setsockopt(s->socket_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(options.port);
    address.sin_addr.s_addr = htonl(options.allNetworks ? INADDR_ANY : INADDR_LOOPBACK);
    if (::bind(s->socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int code = errno;
        error = code == EADDRINUSE ? "port " + std::to_string(options.port) + " is in use"
                                   : "port " + std::to_string(options.port) + ": " + systemError(code);
        return nullptr;
    }
    socklen_t length = sizeof address;
    ::getsockname(s->socket_, reinterpret_cast<sockaddr*>(&address), &length);
    s->port_ = ntohs(address.sin_port);
    if (::pipe2(s->stopPipe_, O_CLOEXEC) != 0) {
        error = systemError(errno);
        return nullptr;
    }
    s->thread_ = std::thread(&OscServer::run, s.get());
    return s;
}

OscServer::~OscServer() {
    if (thread_.joinable()) {
        const char stop = 1;
        while (::write(stopPipe_[1], &stop, 1) < 0 && errno == EINTR) {
        }
        thread_.join();
    }
    for (int fd : {socket_, stopPipe_[0], stopPipe_[1]}) {
        if (fd >= 0) ::close(fd);
    }
}

void OscServer::run() {
    pollfd fds[2] = {{socket_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        if ((fds[0].revents & POLLIN) != 0) receive();
    }
}

void OscServer::receive() {
    // Everything waiting is read before the next poll.
    for (;;) {
        Peer from;
        from.length = sizeof from.address;
        const ssize_t n = ::recvfrom(socket_, buffer_.data(), buffer_.size(), MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&from.address), &from.length);
        if (n < 0) return;
        readPacket(buffer_.data(), static_cast<size_t>(n), [&](Reading reading) {
            if (const auto* refused = std::get_if<Refusal>(&reading)) {
                answerError(from, refused->message);
            } else if (const auto* request = std::get_if<Request>(&reading)) {
                switch (queue_.add(Incoming{*request, from})) {
                    case RequestQueue::Added::First:
                        if (wake_) wake_();
                        break;
                    case RequestQueue::Added::Queued: break;
                    case RequestQueue::Added::Full:
                        answerError(from, "Tarrowin is busy with earlier messages: this one was dropped");
                        break;
                }
            }
        });
    }
}

void OscServer::send(const Peer& to, const std::vector<uint8_t>& bytes) const {
    sockaddr_storage address = to.address;
    if (options_.answerPort != 0 && address.ss_family == AF_INET)
        reinterpret_cast<sockaddr_in*>(&address)->sin_port = htons(options_.answerPort);
    // An answer that cannot go out (the sender is gone) is not worth more than a try.
    ::sendto(socket_, bytes.data(), bytes.size(), MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&address),
             to.length);
}

void OscServer::answerError(const Peer& to, const std::string& message) const { send(to, errorPacket(message)); }

void OscServer::answerState(const Peer& to, const StateReport& state) const { send(to, statePacket(state)); }

}  // namespace tarrowin::remote
