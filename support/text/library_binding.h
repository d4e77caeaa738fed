// library_binding<Api>: the process-wide, reference-counted binding to a
// library loaded at run time (the iconv and ICU converters each have one).
//
// Api is a record of the library's entry points that owns a CDllLoader*
// named loader (deleted by Api's destructor, which unloads the library).
// The first add_ref loads the library, the last release unloads it, and a
// later add_ref loads it anew. A failed load leaves the record without a
// loader, so the next add_ref tries again.
//
// Locking: the binding has its own CFastLock, a heap object with a
// reference count, created on first use and freed with its last reference.
// The lock object's pointer and count change under the library lock, so a
// thread never takes a lock that another is freeing.
#pragma once

#include <atomic>
#include <cstdint>

#include "support/core/fast_lock.h"

namespace Velk {

template <class Api>
class library_binding {
 public:
  constexpr library_binding() noexcept = default;
  library_binding(const library_binding&) = delete;
  library_binding& operator=(const library_binding&) = delete;

  // Takes one reference, calling load(Api&) first when the library is not
  // loaded; load fills the record or throws, and then no reference is taken.
  template <class Load>
  void add_ref(Load load) {
    counted_lock* lock = acquire_lock();
    try {
      CFastLockGuard guard(lock->lock);
      if (!api_) api_ = new Api();
      if (!api_->loader) load(*api_);
      ++refs_;
    } catch (...) {
      release_lock();
      throw;
    }
  }

  // Drops one reference; the last one unloads the library. The unload's
  // exception (if any) propagates after the lock reference is dropped.
  void release() {
    lock_reference held{this};
    CFastLockGuard guard(lock_.load()->lock);
    if (refs_ == 0 || --refs_ > 0) return;
    Api* dead = api_;
    api_ = nullptr;
    delete dead;
  }

  // The entry points; valid while the caller holds a reference.
  const Api& api() const noexcept { return *api_; }

  // Whether the library is loaded now.
  bool loaded() {
    CFastLockGuard outer(LibraryLock());
    counted_lock* lock = lock_.load();
    if (!lock) return false;
    CFastLockGuard guard(lock->lock);
    return api_ && api_->loader;
  }

 private:
  struct counted_lock {
    CFastLock lock;
    std::atomic<std::uint32_t> refs{0};
  };
  // Drops the caller's lock reference when it leaves scope.
  struct lock_reference {
    library_binding* binding;
    ~lock_reference() noexcept(false) { binding->release_lock(); }
  };

  counted_lock* acquire_lock() {
    CFastLockGuard guard(LibraryLock());
    counted_lock* lock = lock_.load();
    if (!lock) {
      lock = new counted_lock;
      lock_.store(lock);
    }
    lock->refs.fetch_add(1);
    return lock;
  }

  void release_lock() {
    CFastLockGuard guard(LibraryLock());
    counted_lock* lock = lock_.load();
    if (lock && lock->refs.fetch_sub(1) == 1) {
      lock_.store(nullptr);
      delete lock;
    }
  }

  std::atomic<counted_lock*> lock_{nullptr};
  Api* api_ = nullptr;
  std::uint32_t refs_ = 0;
};

}  // namespace Velk
