#include "support/core/fast_lock.h"

#include <exception>

#include "support/core/sem.h"
#include "support/os/sync.h"

namespace Velk {

namespace {
// Constant-initialised: usable by any static constructor or destructor.
CFastLock library_lock;
}  // namespace

CFastLock& LibraryLock() { return library_lock; }

CFastLock::~CFastLock() {
  CSem* sem = semaphore_.exchange(nullptr);
  try {
    delete sem;
  } catch (...) {
    // A lock's destruction cannot report anything useful.
  }
}

// The semaphore is created on first contention; when two threads race, the
// loser destroys its own and uses the one installed.
CSem* CFastLock::__Semaphore() {
  CSem* sem = semaphore_.load(std::memory_order_acquire);
  if (sem) return sem;
  CSem* fresh = new CSem(0, 1);
  if (semaphore_.compare_exchange_strong(sem, fresh, std::memory_order_acq_rel))
    return fresh;
  delete fresh;
  return sem;
}

void CFastLock::__Acquire() {
  const std::int32_t self = os::current_thread_id();
  if (count_.fetch_add(1, std::memory_order_acquire) + 1 == 0) {
    owner_.store(self, std::memory_order_relaxed);
    depth_ = 1;
    return;
  }
  if (owner_.load(std::memory_order_relaxed) == self) {
    ++depth_;
    return;
  }
  try {
    __Semaphore()->P(-1);
  } catch (...) {
    // Not waiting any more: withdraw from the count.
    count_.fetch_sub(1, std::memory_order_release);
    throw;
  }
  owner_.store(self, std::memory_order_relaxed);
  depth_ = 1;
}

void CFastLock::__Release() {
  if (--depth_ > 0) {
    count_.fetch_sub(1, std::memory_order_release);
    return;
  }
  owner_.store(0, std::memory_order_relaxed);
  if (count_.fetch_sub(1, std::memory_order_acq_rel) - 1 >= 0) __Semaphore()->V(1);
}

CFastLockGuard::~CFastLockGuard() noexcept(false) {
  if (!held_) return;
  held_ = false;
  try {
    lock_->__Release();
  } catch (...) {
    if (!std::uncaught_exceptions()) throw;
  }
}

}  // namespace Velk
