#include "clock.h"

#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <cerrno>

#include "rtkit.h"

namespace tarrowin {

Clock::Duration SteadyClock::now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

void SteadyClock::sleepUntil(Duration deadline) {
    if (deadline.count() <= 0) return;
    const auto secs = std::chrono::duration_cast<std::chrono::seconds>(deadline);
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(secs.count());
    ts.tv_nsec = static_cast<long>((deadline - secs).count());
    // An absolute sleep resumed after a signal still ends at the same instant.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

SteadyClock& SteadyClock::instance() {
    static SteadyClock clock;
    return clock;
}

bool requestRealtimeScheduling() {
    sched_param param{};
    const int lo = sched_get_priority_min(SCHED_FIFO);
    const int hi = sched_get_priority_max(SCHED_FIFO);
    if (lo < 0 || hi < 0) return false;
    // A middle priority: above every normal thread, leaving room above it for the system.
    param.sched_priority = lo + (hi - lo) / 2;
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0) return true;
    // A user without the privilege asks the desktop's service, as audio programs do.
    return requestRealtimeFromService(param.sched_priority, hi);
}

}  // namespace tarrowin
