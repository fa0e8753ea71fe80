#pragma once
// A JACK client of a test or a benchmark with one MIDI input port, "in": opened on the
// server of $JACK_DEFAULT_SERVER (never starting one) and closed when it goes. Its owner
// starts the process callback once what the callback uses is ready, and declares this
// member last, so that the callback has stopped before the rest goes.

#include <jack/jack.h>

#include <chrono>
#include <thread>

namespace tarrowin::testing {

class JackInputClient {
   public:
    // `tries`: how often to ask, 50 ms apart, for a server that may still be starting.
    explicit JackInputClient(const char* name, int tries = 1) {
        for (int i = 0; i < tries && client_ == nullptr; ++i) {
            if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
            client_ = jack_client_open(name, JackNoStartServer, nullptr);
        }
        if (client_ != nullptr) port_ = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    }
    ~JackInputClient() {
        if (client_ == nullptr) return;
        jack_deactivate(client_);
        jack_client_close(client_);
    }
    JackInputClient(const JackInputClient&) = delete;
    JackInputClient& operator=(const JackInputClient&) = delete;

    void start(JackProcessCallback process, void* arg) {
        if (client_ == nullptr) return;
        jack_set_process_callback(client_, process, arg);
        jack_activate(client_);
    }
    bool ok() const { return client_ != nullptr; }
    jack_client_t* client() const { return client_; }
    jack_port_t* port() const { return port_; }

   private:
    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
};

}  // namespace tarrowin::testing
