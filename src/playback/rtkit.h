#pragma once
// Real-time scheduling through the desktop's RealtimeKit service (rtkit), for a user who
// may not set it directly: the service, on the system bus, raises a thread of the calling
// process to SCHED_RR within its own limits.

namespace tarrowin {

// Asks the service to give the calling thread real-time scheduling at a priority that
// stands where `priority` stands in 1..`maximum` within the service's own range. Returns
// whether it was granted. Once no service answers, later calls return false at once.
bool requestRealtimeFromService(int priority, int maximum);

}  // namespace tarrowin
