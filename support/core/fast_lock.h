// CFastLock: the library's recursive lock, and CFastLockGuard, its scoped
// holder.
//
// The uncontended path is one atomic increment to take the lock and one
// atomic decrement to release it; a semaphore (CSem) is created only the
// first time a second thread has to wait, installed by compare-and-exchange
// and kept for the lock's lifetime. A thread may take a lock it already
// holds; it must release it as often as it took it.
//
// A CFastLock has a constexpr constructor, so a lock with static storage is
// free before any code runs (no initialisation order problem). The only way
// to take a lock is a CFastLockGuard:
//
//   CFastLockGuard guard(LibraryLock());
//
// Error contract: taking a contended lock may throw semExp (creating or
// waiting on the semaphore failed). Releasing may throw semExp from waking a
// waiter; the guard's destructor swallows it when another exception is
// already in flight and rethrows it otherwise.
#pragma once

#include <atomic>
#include <cstdint>

namespace Velk {

class CSem;
class CFastLockGuard;
class TThread;

class CFastLock {
 public:
  constexpr CFastLock() noexcept = default;
  ~CFastLock();
  CFastLock(const CFastLock&) = delete;
  CFastLock& operator=(const CFastLock&) = delete;

 private:
  friend class CFastLockGuard;
  friend class TThread;
  friend struct CFastLockProbe;  // test access to the fields

  void __Acquire();
  void __Release();
  CSem* __Semaphore();

  // -1 when free, else the number of acquisitions still held (recursive ones
  // included) plus the number of waiting threads, minus one.
  std::atomic<std::int32_t> count_{-1};
  // Recursion depth; written by the owner only.
  std::int32_t depth_ = 0;
  // Kernel thread id of the owner, 0 when free. Atomic because waiting
  // threads read it to tell whether they already own the lock.
  std::atomic<std::int32_t> owner_{0};
  std::atomic<CSem*> semaphore_{nullptr};
};

class CFastLockGuard {
 public:
  explicit CFastLockGuard(CFastLock& lock) : lock_(&lock) {
    lock_->__Acquire();
    held_ = true;
  }
  ~CFastLockGuard() noexcept(false);
  CFastLockGuard(const CFastLockGuard&) = delete;
  CFastLockGuard& operator=(const CFastLockGuard&) = delete;

 private:
  CFastLock* lock_;
  bool held_ = false;
};

// The one process-wide recursive lock that guards the lazy creation of the
// library's singletons: test the pointer, take this lock, test again,
// create, install, release.
CFastLock& LibraryLock();

}  // namespace Velk
