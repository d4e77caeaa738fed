// CEvent: a manual-reset event. Raise signals it and it stays signalled,
// releasing every waiter, until Reset. Wait (timeout in milliseconds, -1 for
// none) returns false on time-out, which is not a failure. A CEvent owns its
// OS event and is neither copied nor moved.
//
// Error contract: eventExp with code 1 (create), 3 (close, from the
// destructor only when no other exception is in flight), 4 (Wait), 7 (Raise,
// Reset); each message carries errno and its text.
#pragma once

#include <cstdint>

namespace Velk {

namespace os {
struct event;
}

class CEvent {
 public:
  explicit CEvent(bool signalled = false);
  ~CEvent() noexcept(false);
  CEvent(const CEvent&) = delete;
  CEvent& operator=(const CEvent&) = delete;

  bool Wait(std::int32_t timeout_ms = -1);
  void Raise();
  void Reset();

 private:
  os::event* handle_ = nullptr;
};

}  // namespace Velk
