// shared_ref: a counted handle to a heap object whose share counter lives in
// a separate 4-byte block. Copies increment the counter atomically; the last
// holder to release frees the object through the Release policy.
//
// A handle without a counter (a view, or an empty handle) releases nothing.
// Thread safety: the counter is atomic, so copies of one object may be made
// and dropped on different threads; a single handle object is not locked.
// Dropping a share is a release and reading the count an acquire, so a
// holder that sees a count of 1 also sees everything the other holders did
// with the object before they let go, and may then write it in place.
//
// Assignment takes the new share before it lets the old one go, so a handle
// may be assigned from itself or from a handle inside the object it holds.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>

namespace Velk {

using share_counter = std::atomic<std::uint32_t>;

// Allocates a counter set to 1; null when memory is exhausted.
inline share_counter* new_share_counter() noexcept {
  void* block = std::malloc(sizeof(share_counter));
  return block ? new (block) share_counter(1) : nullptr;
}

inline void delete_share_counter(share_counter* counter) noexcept {
  counter->~share_counter();
  std::free(counter);
}

// Release policies.
struct release_by_free {
  template <class T>
  void operator()(T* object) const noexcept { std::free(object); }
};
struct release_by_delete {
  template <class T>
  void operator()(T* object) const noexcept { delete object; }
};

template <class T, class Release = release_by_delete>
class shared_ref {
 public:
  shared_ref() noexcept = default;
  // Takes ownership of object with a new counter of 1. counter may be given
  // when the caller already allocated it (so allocation failures surface
  // before ownership is taken).
  shared_ref(T* object, share_counter* counter) noexcept
      : object_(object), counter_(counter) {}

  shared_ref(const shared_ref& other) noexcept
      : object_(other.object_), counter_(other.counter_) {
    if (counter_) counter_->fetch_add(1, std::memory_order_relaxed);
  }
  shared_ref(shared_ref&& other) noexcept
      : object_(std::exchange(other.object_, nullptr)),
        counter_(std::exchange(other.counter_, nullptr)) {}

  shared_ref& operator=(const shared_ref& other) noexcept {
    shared_ref taken(other);
    swap(taken);
    return *this;
  }
  shared_ref& operator=(shared_ref&& other) noexcept {
    shared_ref taken(std::move(other));
    swap(taken);
    return *this;
  }

  ~shared_ref() { release(); }

  // Drops this holder's share; the last one frees object and counter.
  void release() noexcept {
    if (counter_ && counter_->fetch_sub(1, std::memory_order_acq_rel) == 1) {
      delete_share_counter(counter_);
      Release()(object_);
    }
    object_ = nullptr;
    counter_ = nullptr;
  }

  // Replaces the object without touching a counter (used by views and by the
  // buffer's realloc path, where the block moves but the share stays).
  void reset_object(T* object) noexcept { object_ = object; }
  void reset(T* object, share_counter* counter) noexcept {
    release();
    object_ = object;
    counter_ = counter;
  }

  void swap(shared_ref& other) noexcept {
    std::swap(object_, other.object_);
    std::swap(counter_, other.counter_);
  }

  T* get() const noexcept { return object_; }
  T* operator->() const noexcept { return object_; }
  T& operator*() const noexcept { return *object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }

  share_counter* counter() const noexcept { return counter_; }
  std::uint32_t use_count() const noexcept {
    return counter_ ? counter_->load(std::memory_order_acquire) : 0;
  }
  bool is_unique() const noexcept { return use_count() == 1; }

 private:
  T* object_ = nullptr;
  share_counter* counter_ = nullptr;
};

// Creates a shared object with a counter of 1.
template <class T, class... Args>
shared_ref<T> make_shared_ref(Args&&... args) {
  share_counter* counter = new_share_counter();
  if (!counter) throw std::bad_alloc();
  T* object;
  try {
    object = new T(std::forward<Args>(args)...);
  } catch (...) {
    delete_share_counter(counter);
    throw;
  }
  return shared_ref<T>(object, counter);
}

}  // namespace Velk
