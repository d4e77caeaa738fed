// Threads, thread-local slots and the processor count, in the shape the
// library's TThread, CThread_Imp and CTlsSlot need.
//
// A thread handle is opaque and owned by its creator, who closes it exactly
// once (close_thread), from any thread including the thread itself. A thread
// created suspended waits at a start gate until resume_thread opens it.
// Failing functions return false (or null) with the cause in errno
// (os::last_error()); nothing here throws (but see the waits in sync.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/os/sync.h"

namespace Velk::os {

// ---- thread-local slots ----------------------------------------------------

// A new slot, empty (null) in every thread.
bool create_tls_slot(std::uint32_t& index) noexcept;
// The calling thread's value; an empty slot reads as null.
bool get_tls_value(std::uint32_t index, void*& value) noexcept;
bool set_tls_value(std::uint32_t index, void* value) noexcept;
bool delete_tls_slot(std::uint32_t index) noexcept;

// ---- threads ---------------------------------------------------------------

struct thread;
using thread_routine = std::uint32_t (*)(void* arg);

// Starts routine(arg) on a new thread with the given stack size (0 for the
// system's default). With suspended set, routine does not run before
// resume_thread.
thread* create_thread(thread_routine routine, void* arg, std::size_t stack_size,
                      bool suspended) noexcept;
// Opens the start gate of a suspended thread; no effect on a started one.
bool resume_thread(thread* t) noexcept;
// Kernel id of the thread.
std::int32_t thread_id(const thread* t) noexcept;
// Waits until the thread's routine has returned (or the thread was killed).
wait_result wait_thread(thread* t, std::int32_t timeout_ms);
// priority is one of the Windows thread priority values (-15 idle, -2 lowest,
// -1, 0 normal, 1, 2 highest, 15 time-critical), mapped onto the thread's
// nice value (19, 10, 5, 0, -5, -10, -20). Raising it needs privilege: the
// system refuses with EACCES or EPERM. Other values fail with EINVAL.
bool set_thread_priority(thread* t, int priority) noexcept;
// Ends the thread. POSIX has no safe way to stop a thread from outside, so
// this is a deferred cancellation followed by a wait for the thread's end:
// the thread ends at its next cancellation point (waits, sleeps, I/O)
// unwinding its stack, and this call blocks until then. A thread that never
// reaches a cancellation point is never ended.
bool kill_thread(thread* t);
// Releases the handle. A thread still running goes on and frees its own
// resources when it ends.
void close_thread(thread* t) noexcept;

// Inside a catch (...) handler: rethrows the current exception when it is
// the stack unwinding of a thread cancellation, which must not be swallowed.
void rethrow_if_thread_cancelled();

// ---- system ------------------------------------------------------------------

// The number of processors this process may run on.
unsigned processor_count() noexcept;

}  // namespace Velk::os
