// lazy_instance<T>: a process-wide object created on first use under the
// library lock (test the pointer, take the lock, test again, create,
// install) and deleted by its static destructor at process exit.
//
// Declare instances at namespace scope: the constexpr constructor makes them
// usable before any dynamic initialisation. If the creating function
// throws, nothing is installed and the next call tries again.
#pragma once

#include <atomic>

#include "support/core/fast_lock.h"

namespace Velk {

template <class T>
class lazy_instance {
 public:
  constexpr lazy_instance() noexcept = default;
  ~lazy_instance() {
    try {
      delete object_.exchange(nullptr);
    } catch (...) {
      // Process exit: a release failure has nobody left to report to.
    }
  }
  lazy_instance(const lazy_instance&) = delete;
  lazy_instance& operator=(const lazy_instance&) = delete;

  // The object, created by make() (returning a new T*) on the first call.
  template <class Make>
  T& get(Make make) {
    T* object = object_.load(std::memory_order_acquire);
    if (object) return *object;
    CFastLockGuard guard(LibraryLock());
    object = object_.load(std::memory_order_acquire);
    if (!object) {
      object = make();
      object_.store(object, std::memory_order_release);
    }
    return *object;
  }

 private:
  std::atomic<T*> object_{nullptr};
};

}  // namespace Velk
