#include "support/core/sem.h"

#include <exception>

#include "support/core/error_message.h"
#include "support/core/exceptions.h"
#include "support/os/error.h"
#include "support/os/sync.h"

namespace Velk {

void CSem::__Init(std::int32_t initial, std::int32_t maximum) {
  handle_ = os::create_semaphore(initial, maximum);
  if (!handle_)
    throw semExp(1, message_builder("CSem::__Init - failed create semaphore")
                        .os_error("sys error code", "sys error desc", os::last_error()));
}

CSem::~CSem() noexcept(false) {
  if (os::close_semaphore(handle_) || std::uncaught_exceptions()) return;
  throw semExp(3, message_builder("CSem::~CSem - failed close semaphore")
                      .os_error("sys error code", "sys error desc", os::last_error()));
}

bool CSem::P(std::int32_t timeout_ms) {
  switch (os::wait_semaphore(handle_, timeout_ms)) {
    case os::wait_result::signalled:
      return true;
    case os::wait_result::timed_out:
      return false;
    case os::wait_result::failed:
      break;
  }
  throw semExp(4, message_builder("CSem::P - failed P a semaphore")
                      .os_error("system error", "error desc", os::last_error()));
}

void CSem::V(std::int32_t count) {
  if (!os::release_semaphore(handle_, count))
    throw semExp(5, message_builder("CSem::V - failed V a semaphore")
                        .os_error("system error", "error desc", os::last_error()));
}

}  // namespace Velk
