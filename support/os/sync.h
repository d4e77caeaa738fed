// Synchronisation primitives of the operating system, in the shape the
// library's wrappers (CSem, CEvent, CFastLock) need: a counting semaphore
// with a maximum, a manual-reset event, the calling thread's id and a yield.
//
// Handles are opaque and owned by the caller, who closes each exactly once.
// Functions that can fail return false (or null) and leave the cause in
// errno (os::last_error()); nothing here throws. The waits are
// cancellation points: a thread cancelled inside one (kill_thread) leaves it
// by stack unwinding, so they are not noexcept. Timeouts are milliseconds,
// wait_forever for none. A wait that the system interrupts simply waits
// again, so a wait ends only when signalled, timed out or failed.
#pragma once

#include <cstdint>

namespace Velk::os {

constexpr std::int32_t wait_forever = -1;

enum class wait_result { signalled, timed_out, failed };

// Kernel id of the calling thread; never 0 for a live thread.
std::int32_t current_thread_id() noexcept;

// Gives the rest of the calling thread's time slice to another thread.
void yield_thread() noexcept;

// Counting semaphore: the count never exceeds the maximum; a release that
// would pass it fails (EOVERFLOW) and leaves the count unchanged.
struct semaphore;
semaphore* create_semaphore(std::int32_t initial, std::int32_t maximum) noexcept;
wait_result wait_semaphore(semaphore* sem, std::int32_t timeout_ms);
bool release_semaphore(semaphore* sem, std::int32_t count) noexcept;
bool close_semaphore(semaphore* sem) noexcept;

// Manual-reset event: stays signalled, releasing every waiter, until reset.
struct event;
event* create_event(bool signalled) noexcept;
wait_result wait_event(event* ev, std::int32_t timeout_ms);
bool set_event(event* ev) noexcept;
bool reset_event(event* ev) noexcept;
bool close_event(event* ev) noexcept;

}  // namespace Velk::os
