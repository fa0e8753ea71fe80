// Real-time scheduling for a user without the privilege, through the desktop's RealtimeKit
// service. Run by the real-time stage as such a user, on a private bus, with
// TARROWIN_RTKIT_EXPECT saying what the bus holds: "granted" (a stand-in of the service)
// or "refused" (no service).

#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "playback/clock.h"

namespace tarrowin {
namespace {

std::string expectation() {
    const char* e = std::getenv("TARROWIN_RTKIT_EXPECT");
    return e == nullptr ? std::string() : std::string(e);
}

int policy() { return sched_getscheduler(0) & ~SCHED_RESET_ON_FORK; }

TEST(RealtimeScheduling, WithoutThePrivilegeTheServiceIsAsked) {
    const std::string expect = expectation();
    if (expect.empty()) GTEST_SKIP() << "run by the real-time stage, as a user without the privilege";
    sched_param own{};
    own.sched_priority = 1;
    ASSERT_NE(pthread_setschedparam(pthread_self(), SCHED_FIFO, &own), 0) << "this user may set real-time scheduling";

    // Each thread asks for itself: the worker of a play, the audio thread of the synthesizer.
    for (int i = 0; i < 2; ++i) {
        bool granted = false;
        int threadPolicy = -1;
        int priority = -1;
        std::thread([&] {
            granted = requestRealtimeScheduling();
            threadPolicy = policy();
            sched_param p{};
            sched_getparam(0, &p);
            priority = p.sched_priority;
        }).join();
        SCOPED_TRACE(i);
        if (expect == "granted") {
            EXPECT_TRUE(granted);
            EXPECT_EQ(threadPolicy, SCHED_RR);
            // The middle of the range, where it stands within the service's 1..20.
            EXPECT_EQ(priority, 10);
        } else {
            EXPECT_FALSE(granted);
            EXPECT_EQ(threadPolicy, SCHED_OTHER);
        }
    }
    // The service grants only a process whose real-time CPU time is bounded.
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_RTTIME, &limit), 0);
    if (expect == "granted") {
        EXPECT_EQ(limit.rlim_max, rlim_t{200000});
    }
    EXPECT_EQ(policy(), SCHED_OTHER);  // the thread that did not ask keeps its scheduling
}

}  // namespace
}  // namespace tarrowin
