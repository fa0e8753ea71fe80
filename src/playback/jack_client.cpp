#include "jack_client.h"

#include <fcntl.h>
#include <jack/metadata.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "audio_system.h"
#include "clock.h"

namespace tarrowin {

namespace {

// What the helpers and their callers share. It lives as long as the process: an abandoned
// helper may still run when everything else is being torn down.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool busy = false;                    // a libjack call runs on a helper
    std::vector<jack_client_t*> closeLater;  // closes handed to the helper that is busy
};

Gate& gate() {
    static Gate* g = new Gate;
    return *g;
}

// One call on a helper: the caller waits for `done` until its limit, then gives up.
struct Call {
    bool done = false;
    bool abandoned = false;
    jack_client_t* client = nullptr;
};

// Closes what was left to the helper; called with the gate locked, returns with it locked.
void closeLeftovers(std::unique_lock<std::mutex>& lock) {
    Gate& g = gate();
    while (!g.closeLater.empty()) {
        jack_client_t* c = g.closeLater.back();
        g.closeLater.pop_back();
        lock.unlock();
        jack_client_close(c);
        lock.lock();
    }
}

// Runs `work` on a helper that owns the gate while it runs; returns false when it did not
// finish within `limit`, or could not start within it because another call is stuck (then
// `ifBusy` runs, under the gate's lock). `work` returns the client to keep (opens) or nullptr.
template <typename Work, typename Abandon, typename IfBusy>
bool runBounded(const std::shared_ptr<Call>& call, std::chrono::milliseconds limit, Work work, Abandon onAbandon,
                IfBusy ifBusy) {
    Gate& g = gate();
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::unique_lock lock(g.mutex);
    // A call still out may be about to come back: it is waited for within the same limit.
    if (!g.changed.wait_until(lock, deadline, [&] { return !g.busy; })) {
        ifBusy();
        return false;
    }
    g.busy = true;
    std::thread([call, work, onAbandon] {
        jack_client_t* result = work();
        Gate& gt = gate();
        std::unique_lock inner(gt.mutex);
        call->client = result;
        call->done = true;
        if (call->abandoned) {
            inner.unlock();
            onAbandon(result);
            inner.lock();
        }
        closeLeftovers(inner);
        gt.busy = false;
        gt.changed.notify_all();
    }).detach();
    if (g.changed.wait_until(lock, deadline, [&] { return call->done; })) return true;
    call->abandoned = true;
    return false;
}

std::string socketPath(const std::string& server, bool withUid) {
    std::string name = server;
    for (char& c : name) {
        if (c == '/') c = '_';
    }
    return "/dev/shm/jack_" + name + (withUid ? "_" + std::to_string(getuid()) : "") + "_0";
}

// -1: no such socket, 0: someone listens, 1: nobody listens (a killed server's leftover).
int probeSocket(const std::string& path) {
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path) return -1;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int r = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    const int error = errno;
    ::close(fd);
    if (r == 0 || error == EAGAIN || error == EINPROGRESS) return 0;
    return error == ECONNREFUSED ? 1 : -1;
}

}  // namespace

int64_t jackMinusSteadyMicroseconds() {
    // The pair read closest together, of a few.
    int64_t best = 0;
    int64_t bestSpan = INT64_MAX;
    for (int i = 0; i < 5; ++i) {
        const int64_t before = std::chrono::duration_cast<std::chrono::microseconds>(SteadyClock::instance().now()).count();
        const auto jack = static_cast<int64_t>(jack_get_time());
        const int64_t after = std::chrono::duration_cast<std::chrono::microseconds>(SteadyClock::instance().now()).count();
        if (after - before < bestSpan) {
            bestSpan = after - before;
            best = jack - (before + after) / 2;
        }
    }
    return best;
}

void setPrettyName(jack_client_t* client, jack_port_t* port, const std::string& name) {
    jack_set_property(client, jack_port_uuid(port), JACK_METADATA_PRETTY_NAME, name.c_str(), "text/plain");
}

void removePrettyName(jack_client_t* client, jack_port_t* port) {
    jack_remove_property(client, jack_port_uuid(port), JACK_METADATA_PRETTY_NAME);
}

bool jackServerSocketIsStale() {
    const char* env = std::getenv("JACK_DEFAULT_SERVER");
    const std::string server = env != nullptr && *env != '\0' ? env : "default";
    for (bool withUid : {true, false}) {
        const int state = probeSocket(socketPath(server, withUid));
        if (state >= 0) return state == 1;
    }
    // No jackd socket: no jackd server, or a JACK that does not use one (PipeWire's):
    // libjack has to be asked.
    return false;
}

JackOpen openJackClient(const std::string& name, std::chrono::milliseconds limit) {
    quietAudioLibraries();
    if (jackServerSocketIsStale()) return {nullptr, true};
    auto call = std::make_shared<Call>();
    const bool inTime = runBounded(
        call, limit,
        [name] {
            jack_status_t status{};
            return jack_client_open(name.c_str(), JackNoStartServer, &status);
        },
        [](jack_client_t* late) {
            if (late != nullptr) jack_client_close(late);
        },
        [] {});
    if (!inTime) return {nullptr, false};
    return {call->client, true};
}

bool closeJackClient(jack_client_t* client, std::chrono::milliseconds limit) {
    if (client == nullptr) return true;
    auto call = std::make_shared<Call>();
    return runBounded(
        call, limit,
        [client] {
            jack_client_close(client);
            return static_cast<jack_client_t*>(nullptr);
        },
        [](jack_client_t*) {},
        // A stuck call holds libjack's lock: its helper closes this client once it is free.
        [client] { gate().closeLater.push_back(client); });
}

}  // namespace tarrowin
