// Windows implementation of threads (started through the runtime's
// _beginthreadex, so that the runtime's per-thread data is set up),
// thread-local slots (TlsAlloc) and the processor count.
#include "support/os/thread.h"

#include <process.h>

#include <atomic>
#include <new>

#include "support/os/windows/windows.h"

namespace Velk::os {

// ---- thread-local slots ----------------------------------------------------

bool create_tls_slot(std::uint32_t& index) noexcept {
  const DWORD slot = ::TlsAlloc();
  if (slot == TLS_OUT_OF_INDEXES) return false;
  index = slot;
  return true;
}

bool get_tls_value(std::uint32_t index, void*& value) noexcept {
  // TlsGetValue does not clear the last error on success: a null value is
  // an empty slot only when the error is 0 afterwards.
  ::SetLastError(0);
  value = ::TlsGetValue(index);
  return value != nullptr || ::GetLastError() == 0;
}

bool set_tls_value(std::uint32_t index, void* value) noexcept {
  return ::TlsSetValue(index, value) != 0;
}

bool delete_tls_slot(std::uint32_t index) noexcept { return ::TlsFree(index) != 0; }

// ---- threads ---------------------------------------------------------------

// Shared by the creator's handle and the starting thread (two references);
// whichever lets go last frees it.
struct thread {
  HANDLE handle = nullptr;
  std::int32_t id = 0;
  thread_routine routine = nullptr;
  void* arg = nullptr;
  std::atomic<int> references{2};
};

namespace {
void release(thread* t) {
  if (t->references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete t;
}

unsigned __stdcall trampoline(void* p) {
  thread* t = static_cast<thread*>(p);
  const thread_routine routine = t->routine;
  void* const arg = t->arg;
  release(t);
  return routine(arg);
}
}  // namespace

thread* create_thread(thread_routine routine, void* arg, std::size_t stack_size,
                      bool suspended) noexcept {
  thread* t = new (std::nothrow) thread;
  if (!t) return windows::fail(ERROR_NOT_ENOUGH_MEMORY), nullptr;
  t->routine = routine;
  t->arg = arg;
  unsigned id = 0;
  // The routine reads t, so the thread is always created suspended and
  // resumed here once t is complete, unless the caller asked otherwise.
  const std::uintptr_t handle =
      ::_beginthreadex(nullptr, unsigned(stack_size), trampoline, t, CREATE_SUSPENDED, &id);
  if (handle == 0) {
    const DWORD error = ::GetLastError();
    delete t;
    ::SetLastError(error ? error : ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  t->handle = reinterpret_cast<HANDLE>(handle);
  t->id = std::int32_t(id);
  if (!suspended) ::ResumeThread(t->handle);
  return t;
}

bool resume_thread(thread* t) noexcept {
  if (!t) return windows::fail(ERROR_INVALID_HANDLE);
  return ::ResumeThread(t->handle) != DWORD(-1);
}

std::int32_t thread_id(const thread* t) noexcept { return t ? t->id : 0; }

wait_result wait_thread(thread* t, std::int32_t timeout_ms) {
  if (!t) return windows::fail(ERROR_INVALID_HANDLE), wait_result::failed;
  switch (::WaitForSingleObject(t->handle, timeout_ms < 0 ? INFINITE : DWORD(timeout_ms))) {
    case WAIT_OBJECT_0: return wait_result::signalled;
    case WAIT_TIMEOUT: return wait_result::timed_out;
    default: return wait_result::failed;
  }
}

bool set_thread_priority(thread* t, int priority) noexcept {
  if (!t) return windows::fail(ERROR_INVALID_HANDLE);
  return ::SetThreadPriority(t->handle, priority) != 0;
}

bool kill_thread(thread* t) {
  if (!t) return windows::fail(ERROR_INVALID_HANDLE);
  if (!::TerminateThread(t->handle, DWORD(-1))) return false;
  return ::WaitForSingleObject(t->handle, INFINITE) == WAIT_OBJECT_0;
}

// A running thread goes on; the kernel frees it when it ends.
void close_thread(thread* t) noexcept {
  if (!t) return;
  ::CloseHandle(t->handle);
  release(t);
}

// TerminateThread unwinds nothing, so no exception ever stands for it.
void rethrow_if_thread_cancelled() {}

// ---- system ------------------------------------------------------------------

unsigned processor_count() noexcept {
  DWORD_PTR process_mask = 0, system_mask = 0;
  if (::GetProcessAffinityMask(::GetCurrentProcess(), &process_mask, &system_mask)) {
    unsigned count = 0;
    for (; process_mask; process_mask &= process_mask - 1) ++count;
    if (count > 0) return count;
  }
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? unsigned(info.dwNumberOfProcessors) : 1u;
}

}  // namespace Velk::os
