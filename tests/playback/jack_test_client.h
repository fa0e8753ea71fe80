#pragma once
// A JACK client of a test's or a benchmark's own, deactivated and closed with it. Declare
// it after what its callbacks use, so that it goes first.

#include <jack/jack.h>

#include <chrono>
#include <memory>
#include <thread>

namespace tarrowin::testing {

struct JackClientCloser {
    void operator()(jack_client_t* client) const {
        jack_deactivate(client);
        jack_client_close(client);
    }
};
using JackClient = std::unique_ptr<jack_client_t, JackClientCloser>;

// Never starts a server. `tries`: how often to ask, 50 ms apart, a server that may still
// be starting.
inline JackClient openTestClient(const char* name, int tries = 1) {
    JackClient client;
    for (int i = 0; i < tries && !client; ++i) {
        if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        client.reset(jack_client_open(name, JackNoStartServer, nullptr));
    }
    return client;
}

}  // namespace tarrowin::testing
