#include "support/core/fast_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "support/core/sem.h"

namespace Velk {

// Reads a lock's fields, which have no public accessors.
struct CFastLockProbe {
  static std::int32_t count(const CFastLock& l) { return l.count_.load(); }
  static std::int32_t depth(const CFastLock& l) { return l.depth_; }
  static std::int32_t owner(const CFastLock& l) { return l.owner_.load(); }
  static CSem* semaphore(const CFastLock& l) { return l.semaphore_.load(); }
};

namespace {

using P = CFastLockProbe;

void expect_free(const CFastLock& lock) {
  EXPECT_EQ(P::count(lock), -1);
  EXPECT_EQ(P::depth(lock), 0);
  EXPECT_EQ(P::owner(lock), 0);
}

TEST(FastLock, RecursiveUseLeavesTheLockFreeWithoutSemaphore) {
  CFastLock lock;
  expect_free(lock);
  {
    CFastLockGuard a(lock);
    EXPECT_NE(P::owner(lock), 0);
    {
      CFastLockGuard b(lock);
      CFastLockGuard c(lock);
      EXPECT_EQ(P::depth(lock), 3);
      EXPECT_EQ(P::count(lock), 2);
    }
    EXPECT_EQ(P::depth(lock), 1);
    EXPECT_EQ(P::count(lock), 0);
  }
  expect_free(lock);
  EXPECT_EQ(P::semaphore(lock), nullptr);
}

TEST(FastLock, ReleasedWhenAnExceptionLeavesTheScope) {
  CFastLock lock;
  try {
    CFastLockGuard guard(lock);
    throw 1;
  } catch (int) {
  }
  expect_free(lock);
}

// Several threads increment a plain counter under the lock; every contention
// goes through the one semaphore installed at the first one.
TEST(FastLock, ContendingThreadsExcludeEachOtherAndShareOneSemaphore) {
  CFastLock lock;
  long counter = 0;
  CSem* first_semaphore = nullptr;
  bool semaphore_changed = false;
  constexpr int threads = 4;
  constexpr int rounds = 20000;
  std::vector<std::thread> workers;
  std::atomic<int> ready{0};
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&] {
      // All start together, so that their rounds overlap even where a
      // thread would otherwise finish before the next one is running.
      ready.fetch_add(1);
      while (ready.load() < threads) std::this_thread::yield();
      for (int i = 0; i < rounds; ++i) {
        CFastLockGuard outer(lock);
        CFastLockGuard inner(lock);  // recursion under contention
        long seen = counter;
        if (i % 64 == 0) std::this_thread::yield();
        counter = seen + 1;
        if (CSem* sem = P::semaphore(lock)) {
          if (!first_semaphore) first_semaphore = sem;
          if (sem != first_semaphore) semaphore_changed = true;
        }
      }
    });
  }
  for (auto& w : workers) w.join();
  EXPECT_EQ(counter, long(threads) * rounds);
  expect_free(lock);
  EXPECT_NE(P::semaphore(lock), nullptr) << "the yields should have caused contention";
  EXPECT_FALSE(semaphore_changed);
  if (first_semaphore) {
    EXPECT_EQ(P::semaphore(lock), first_semaphore);
  }
}

TEST(FastLock, LibraryLockIsOneRecursiveProcessWideLock) {
  CFastLock& lock = LibraryLock();
  EXPECT_EQ(&lock, &LibraryLock());
  {
    CFastLockGuard a(lock);
    CFastLockGuard b(LibraryLock());
    EXPECT_EQ(P::depth(lock), 2);
  }
  expect_free(lock);
}

}  // namespace
}  // namespace Velk
