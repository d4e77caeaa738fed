// A watchdog over the processor time of one thread, for a computation that
// cannot be interrupted otherwise (the regular-expression engine's
// back-tracking search has no way to be stopped from outside).
//
// arm_cpu_deadline starts it: when the calling thread uses more than the
// given processor time before disarm_cpu_deadline, the process writes
// message to standard error and ends at once with status 255, from a signal
// handler (no static destructors, no stream flush). Meant for stretches in
// which the thread only computes, so that nothing is left half-written.
// message must stay valid while armed. One deadline per thread; arming
// again replaces it. Returns false (errno holds the cause) when the system
// offers no such timer; nothing is armed then.
//
// thread_cpu_time_ns reads the calling thread's processor time, for callers
// that spread one budget over several armed stretches.
#pragma once

#include <cstdint>

namespace Velk::os {

bool arm_cpu_deadline(std::uint64_t nanoseconds, const char* message) noexcept;
void disarm_cpu_deadline() noexcept;
std::uint64_t thread_cpu_time_ns() noexcept;

}  // namespace Velk::os
