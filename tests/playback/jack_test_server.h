#pragma once
// The device tests that need a JACK server run only under a test stage's own server
// (TARROWIN_JACK_TESTS=1, set by the JACK end-to-end and ThreadSanitizer stages): a JACK
// session someone works in is left alone.

#include <gtest/gtest.h>
#include <jack/jack.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "playback/audio_system.h"

namespace tarrowin::testing {

class OnAJackServer : public ::testing::Test {
   protected:
    void SetUp() override {
        const char* enabled = std::getenv("TARROWIN_JACK_TESTS");
        if (enabled == nullptr || std::string(enabled) != "1") {
            GTEST_SKIP() << "run under a JACK server of a test stage's own (TARROWIN_JACK_TESTS=1)";
        }
        ASSERT_TRUE(jackServerRunning());
    }
};

// A JACK client of a test's own, deactivated and closed with it. Declare it after what its
// callbacks use, so that it goes first.
struct JackClientCloser {
    void operator()(jack_client_t* client) const {
        jack_deactivate(client);
        jack_client_close(client);
    }
};
using JackClient = std::unique_ptr<jack_client_t, JackClientCloser>;

inline JackClient openTestClient(const char* name) {
    return JackClient(jack_client_open(name, JackNoStartServer, nullptr));
}

}  // namespace tarrowin::testing
