#pragma once
// Opening and closing JACK clients without ever hanging the caller.
//
// libjack serialises every open and close of a process behind one lock, and it waits for
// the server's answers without a time limit: a server that no longer answers (stopped,
// swamped, or half dead after a crash) would hold the window or a command for as long as it
// likes. So each open and close runs on a helper thread, and the caller waits for it only
// so long. A call that does not come back in time is abandoned: the helper closes what it
// eventually gets, and until it has come back a further open waits for it within its own
// limit and then gives up (it would only queue behind the stuck one on libjack's lock), and
// closes are left to it.
//
// The socket of a jackd that was killed stays behind; a connection to it is refused at
// once, so such a server counts as absent without asking libjack at all.

#include <jack/jack.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace tarrowin {

// How long the window's device list waits for JACK: short enough that the window starts
// in time however the server behaves (the list is made while the window is), long enough
// for a healthy server on a busy machine, which answers in a few milliseconds when idle.
inline constexpr std::chrono::milliseconds kJackListLimit{700};
// How long an open for playing, and a close, wait.
inline constexpr std::chrono::milliseconds kJackOpenLimit{3000};

inline constexpr const char* kJackNotAnswering =
    "The JACK server does not answer (it may be stopped or overloaded; restart it and try again)";

struct JackOpen {
    jack_client_t* client = nullptr;
    bool answered = true;  // false: the server did not answer in time (or an earlier call is still stuck)
};

// A client named `name` (JackNoStartServer: no server is ever started by asking).
JackOpen openJackClient(const std::string& name, std::chrono::milliseconds limit);

// Closes `client` (which also deactivates it). Returns whether it was closed in time; when
// not, the callbacks registered on it may still run later, so whatever they use must be
// left alive.
bool closeJackClient(jack_client_t* client, std::chrono::milliseconds limit = kJackOpenLimit);

// jack_get_time() minus the steady clock, in microseconds: both count CLOCK_MONOTONIC with
// JACK's usual clock source, but another source would differ by a constant.
int64_t jackMinusSteadyMicroseconds();

// Names `port` for the patchbays that read JACK's metadata (JACK_METADATA_PRETTY_NAME);
// silently nothing where the server keeps no metadata. Remove it before the port goes.
void setPrettyName(jack_client_t* client, jack_port_t* port, const std::string& name);
void removePrettyName(jack_client_t* client, jack_port_t* port);

// Whether the server socket of jackd (for $JACK_DEFAULT_SERVER, else "default") exists
// but nobody listens on it: the server was killed and left its files.
bool jackServerSocketIsStale();

}  // namespace tarrowin
