// Windows implementation of hardware-fault delivery: the process's
// unhandled-exception filter (SetUnhandledExceptionFilter) hands the
// structured exception's own code, address and data address to the
// handler. A stack overflow reaches it on the faulting thread, with the
// stack the system keeps in reserve for it (SetThreadStackGuarantee).
#include "support/os/signals.h"

#include <atomic>

#include "support/os/process.h"
#include "support/os/windows/windows.h"

namespace Velk::os {
namespace {

std::atomic<fault_handler> installed_handler{nullptr};

// Keeps room on the calling thread's stack to compose and log a message
// after a stack overflow; not every system offers the call, and without it
// the reserve is the default.
void reserve_fault_stack() noexcept {
  using guarantee_fn = BOOL(WINAPI*)(PULONG);
  if (HMODULE kernel = ::GetModuleHandleA("kernel32"))
    if (auto guarantee = reinterpret_cast<guarantee_fn>(
            reinterpret_cast<void*>(::GetProcAddress(kernel, "SetThreadStackGuarantee")))) {
      ULONG size = 64 * 1024;
      guarantee(&size);
    }
}

LONG WINAPI on_exception(EXCEPTION_POINTERS* pointers) {
  FAULT_RECORD fault{};
  const EXCEPTION_RECORD* record = pointers ? pointers->ExceptionRecord : nullptr;
  if (record) {
    fault.code = record->ExceptionCode;
    fault.pc = std::uintptr_t(record->ExceptionAddress);
    // Access violations and in-page errors carry the data address as
    // their second parameter.
    fault.has_address = (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION ||
                         record->ExceptionCode == EXCEPTION_IN_PAGE_ERROR) &&
                        record->NumberParameters >= 2;
    fault.address = fault.has_address ? std::uintptr_t(record->ExceptionInformation[1]) : 0;
  }
  if (fault_handler handler = installed_handler.load()) handler(fault);
  // The handler must not return; if it does, end as it would have.
  exit_now(-1);
}

}  // namespace

bool install_fault_handler(fault_handler handler) noexcept {
  installed_handler.store(handler);
  reserve_fault_stack();
  ::SetUnhandledExceptionFilter(on_exception);
  // No "program stopped working" box: the filter reports and ends.
  ::SetErrorMode(::GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  return true;
}

// The unhandled-exception filter runs on the faulting thread; each thread
// needs only its own reserve for the report.
thread_fault_stack::thread_fault_stack() noexcept { reserve_fault_stack(); }

thread_fault_stack::~thread_fault_stack() = default;

}  // namespace Velk::os
