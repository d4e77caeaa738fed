// CSem: a counting semaphore with an initial and a maximum count.
//
// P waits for a unit (timeout in milliseconds, -1 for none) and returns false
// on time-out, which is not a failure; V gives units back and fails when the
// count would pass the maximum. A CSem owns its OS semaphore and is neither
// copied nor moved.
//
// Error contract: semExp with code 1 (create), 3 (close, from the destructor
// only when no other exception is in flight), 4 (P), 5 (V); each message
// carries errno and its text.
#pragma once

#include <cstdint>

namespace Velk {

namespace os {
struct semaphore;
}

class CSem {
 public:
  CSem(std::int32_t initial, std::int32_t maximum) { __Init(initial, maximum); }
  ~CSem() noexcept(false);
  CSem(const CSem&) = delete;
  CSem& operator=(const CSem&) = delete;

  bool P(std::int32_t timeout_ms = -1);
  void V(std::int32_t count = 1);

 private:
  void __Init(std::int32_t initial, std::int32_t maximum);

  os::semaphore* handle_ = nullptr;
};

}  // namespace Velk
