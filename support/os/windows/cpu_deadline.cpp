// Windows implementation of the processor-time watchdog. Windows has no
// timer on a thread's processor time, so one watchdog thread, started on
// the first arm, polls the armed threads' times (GetThreadTimes) and ends
// the process when one has used up its allowance. Arming and disarming
// only store into the calling thread's slot, so they cost no system call
// after a thread's first arm.
#include "support/os/cpu_deadline.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "support/os/windows/windows.h"

namespace Velk::os {
namespace {

constexpr DWORD kPollMilliseconds = 10;
constexpr int kSlotCount = 64;

struct DEADLINE_SLOT {
  std::atomic<HANDLE> thread{nullptr};       // a real handle of the armed thread
  std::atomic<std::uint64_t> limit_ns{0};    // processor time to end at; 0 disarmed
  std::atomic<const char*> message{nullptr};
};

DEADLINE_SLOT slots[kSlotCount];
std::atomic<int> slots_taken{0};

std::uint64_t cpu_time_ns(HANDLE thread) noexcept {
  FILETIME created, exited, kernel, user;
  if (!::GetThreadTimes(thread, &created, &exited, &kernel, &user)) return 0;
  const auto ticks = [](const FILETIME& t) {
    return (std::uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  return (ticks(kernel) + ticks(user)) * 100;  // 100-nanosecond units
}

[[noreturn]] void expire(const char* message) noexcept {
  if (message) {
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), message, DWORD(std::strlen(message)), &written,
                nullptr);
  }
  ::TerminateProcess(::GetCurrentProcess(), 255);
  ::ExitProcess(255);
}

DWORD WINAPI watchdog(void*) {
  for (;;) {
    ::Sleep(kPollMilliseconds);
    const int taken = slots_taken.load();
    for (int i = 0; i < taken && i < kSlotCount; ++i) {
      DEADLINE_SLOT& slot = slots[i];
      const std::uint64_t limit = slot.limit_ns.load();
      if (limit == 0) continue;
      if (cpu_time_ns(slot.thread.load()) >= limit && slot.limit_ns.load() == limit)
        expire(slot.message.load());
    }
  }
}

bool start_watchdog() {
  static std::once_flag once;
  static bool started = false;
  std::call_once(once, [] {
    HANDLE thread = ::CreateThread(nullptr, 64 * 1024, watchdog, nullptr,
                                   STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    started = thread != nullptr;
    if (thread) ::CloseHandle(thread);
  });
  return started;
}

// The calling thread's slot, taken on first use; null when all are taken.
DEADLINE_SLOT* own_slot() noexcept {
  thread_local DEADLINE_SLOT* slot = nullptr;
  thread_local bool tried = false;
  if (slot || tried) return slot;
  tried = true;
  HANDLE self = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(),
                         &self, THREAD_QUERY_INFORMATION, FALSE, 0))
    return nullptr;
  const int index = slots_taken.load();
  if (index >= kSlotCount) {
    ::CloseHandle(self);
    return nullptr;
  }
  // Slots are taken under the watchdog's eyes: publish the handle first.
  static std::mutex taking;
  std::lock_guard<std::mutex> hold(taking);
  const int free_index = slots_taken.load();
  if (free_index >= kSlotCount) {
    ::CloseHandle(self);
    return nullptr;
  }
  slots[free_index].thread.store(self);
  slots_taken.store(free_index + 1);
  slot = &slots[free_index];
  return slot;
}

}  // namespace

bool arm_cpu_deadline(std::uint64_t nanoseconds, const char* message) noexcept {
  DEADLINE_SLOT* slot = own_slot();
  if (!slot || !start_watchdog()) return false;
  slot->message.store(message);
  const std::uint64_t limit = cpu_time_ns(slot->thread.load()) + (nanoseconds ? nanoseconds : 1);
  slot->limit_ns.store(limit);
  return true;
}

void disarm_cpu_deadline() noexcept {
  if (DEADLINE_SLOT* slot = own_slot()) slot->limit_ns.store(0);
}

std::uint64_t thread_cpu_time_ns() noexcept { return cpu_time_ns(::GetCurrentThread()); }

}  // namespace Velk::os
