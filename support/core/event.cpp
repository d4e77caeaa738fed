#include "support/core/event.h"

#include <exception>

#include "support/core/error_message.h"
#include "support/core/exceptions.h"
#include "support/os/error.h"
#include "support/os/sync.h"

namespace Velk {

namespace {
[[noreturn]] void throw_event_error(std::int32_t code, const char* head) {
  throw eventExp(code, message_builder(head).os_error("sys error code", "sys error desc",
                                                      os::last_error()));
}
}  // namespace

CEvent::CEvent(bool signalled) : handle_(os::create_event(signalled)) {
  if (!handle_) throw_event_error(1, "CEvent::CEvent - failed create event");
}

CEvent::~CEvent() noexcept(false) {
  if (os::close_event(handle_) || std::uncaught_exceptions()) return;
  throw_event_error(3, "CEvent::~CEvent - failed close event");
}

bool CEvent::Wait(std::int32_t timeout_ms) {
  switch (os::wait_event(handle_, timeout_ms)) {
    case os::wait_result::signalled:
      return true;
    case os::wait_result::timed_out:
      return false;
    case os::wait_result::failed:
      break;
  }
  throw eventExp(4, message_builder("CEvent::Wait - failed locking event")
                        .os_error("system error", "error desc", os::last_error()));
}

void CEvent::Raise() {
  if (!os::set_event(handle_)) throw_event_error(7, "CEvent::Raise - failed raise event");
}

void CEvent::Reset() {
  if (!os::reset_event(handle_)) throw_event_error(7, "CEvent::Reset - failed reset event");
}

}  // namespace Velk
