// Windows implementation of the synchronisation primitives: kernel
// semaphores and manual-reset events, waited on with WaitForSingleObject.
#include "support/os/sync.h"

#include "support/os/windows/windows.h"

namespace Velk::os {

std::int32_t current_thread_id() noexcept {
  return static_cast<std::int32_t>(::GetCurrentThreadId());
}

void yield_thread() noexcept {
  if (!::SwitchToThread()) ::Sleep(0);
}

namespace {
HANDLE native(const void* object) { return const_cast<HANDLE>(object); }

wait_result wait_object(HANDLE handle, std::int32_t timeout_ms) {
  if (!handle) return windows::fail(ERROR_INVALID_HANDLE), wait_result::failed;
  const DWORD timeout = timeout_ms < 0 ? INFINITE : DWORD(timeout_ms);
  switch (::WaitForSingleObject(handle, timeout)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED: return wait_result::signalled;
    case WAIT_TIMEOUT: return wait_result::timed_out;
    default: return wait_result::failed;
  }
}

bool close(HANDLE handle) {
  if (!handle) return windows::fail(ERROR_INVALID_HANDLE);
  return ::CloseHandle(handle) != 0;
}
}  // namespace

// The opaque types stand for kernel handles; a pointer to one is the HANDLE.
semaphore* create_semaphore(std::int32_t initial, std::int32_t maximum) noexcept {
  return static_cast<semaphore*>(::CreateSemaphoreA(nullptr, initial, maximum, nullptr));
}

wait_result wait_semaphore(semaphore* sem, std::int32_t timeout_ms) {
  return wait_object(native(sem), timeout_ms);
}

bool release_semaphore(semaphore* sem, std::int32_t count) noexcept {
  if (!sem) return windows::fail(ERROR_INVALID_HANDLE);
  return ::ReleaseSemaphore(native(sem), count, nullptr) != 0;
}

bool close_semaphore(semaphore* sem) noexcept { return close(native(sem)); }

event* create_event(bool signalled) noexcept {
  return static_cast<event*>(::CreateEventA(nullptr, TRUE, signalled, nullptr));
}

wait_result wait_event(event* ev, std::int32_t timeout_ms) {
  return wait_object(native(ev), timeout_ms);
}

bool set_event(event* ev) noexcept {
  if (!ev) return windows::fail(ERROR_INVALID_HANDLE);
  return ::SetEvent(native(ev)) != 0;
}

bool reset_event(event* ev) noexcept {
  if (!ev) return windows::fail(ERROR_INVALID_HANDLE);
  return ::ResetEvent(native(ev)) != 0;
}

bool close_event(event* ev) noexcept { return close(native(ev)); }

}  // namespace Velk::os
