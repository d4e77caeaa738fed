#include "support/core/error_handlers.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <new>

#include "support/core/fatal.h"
#include "support/core/fault_description.h"
#include "support/core/logger.h"
#include "support/os/signals.h"

namespace Velk {

namespace {

constexpr const char* log_source = "util.errhnd";

// Process-wide, updated without a lock: a race between two threads costs at
// most a second log line, since every path ends the process. A second entry
// (another thread, or a failure inside the logging) logs nothing more.
std::atomic<std::int32_t> constructions{0};
std::atomic<std::int32_t> new_handler_calls{0};
std::atomic<std::int32_t> terminate_calls{0};
std::atomic<bool> fault_seen{false};

// The ending every handler shares: log (when there is a text), flush, and
// end the process with status -1. Logging failures are swallowed.
[[noreturn]] void abort_step(const char* text) noexcept {
  try {
    if (text) LogText(log_source, narrow_buffer::literal(text));
    FlushLog();
  } catch (...) {
  }
  AbortProcess(false);
}

void on_allocation_failure() {
  const bool first = new_handler_calls.fetch_add(1) == 0;
  abort_step(first ? "not enough memory, process aborted" : nullptr);
}

[[noreturn]] void on_terminate() noexcept {
  const bool first = terminate_calls.fetch_add(1) == 0;
  abort_step(first ? "process has been terminated in an unexpected way" : nullptr);
}

// Runs in signal context. Without a logger nothing would read a text, so
// nothing is composed and the process ends at once: that path calls only
// async-signal-safe functions.
void on_fault(const os::FAULT_RECORD& fault) {
  if (!HasProcessLogger()) AbortProcess(false);
  if (fault_seen.exchange(true)) abort_step(nullptr);
  try {
    const std::uint64_t address = fault.address;
    const narrow_buffer text = DescribeException(
        fault.code, fault.pc, fault.has_address ? &address : nullptr, fault.has_address ? 1 : 0);
    LogFormat(log_source, "unrecoverable underlaying error ocurred: %s", text.c_str());
  } catch (...) {
  }
  abort_step(nullptr);
}

}  // namespace

CErrorHandlers::CErrorHandlers() {
  if (constructions.fetch_add(1) != 0) return;
  os::install_fault_handler(on_fault);
  std::set_new_handler(on_allocation_failure);
  // No unexpected-exception handler: std::set_unexpected is gone from C++17,
  // where a throw() list can no longer be violated (a throwing noexcept
  // function calls std::terminate, handled below).
  std::set_terminate(on_terminate);
}

}  // namespace Velk
