#pragma once
// The device tests that need a JACK server run only under a test stage's own server
// (TARROWIN_JACK_TESTS=1, set by the JACK end-to-end and ThreadSanitizer stages): a JACK
// session someone works in is left alone.

#include <gtest/gtest.h>
#include <jack/jack.h>

#include <cstdlib>
#include <string>

#include "jack_test_client.h"
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

}  // namespace tarrowin::testing
