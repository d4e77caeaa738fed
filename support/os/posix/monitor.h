// Private to the POSIX units: a mutex and a condition variable that times
// out on the monotonic clock, the building block of the semaphore, the event
// and the thread's start gate and end signal.
#pragma once

#include <pthread.h>

#include <cerrno>
#include <cstdint>
#include <ctime>

#include "support/os/sync.h"

namespace Velk::os::posix {

// Stores error_number in errno and reports failure.
inline bool fail(int error_number) {
  errno = error_number;
  return false;
}

// A mutex and a condition variable that times out on the monotonic clock.
struct monitor {
  pthread_mutex_t mutex;
  pthread_cond_t cond;

  int init() {
    int rc = pthread_mutex_init(&mutex, nullptr);
    if (rc) return rc;
    pthread_condattr_t attr;
    rc = pthread_condattr_init(&attr);
    if (!rc) rc = pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    if (!rc) rc = pthread_cond_init(&cond, &attr);
    pthread_condattr_destroy(&attr);
    if (rc) pthread_mutex_destroy(&mutex);
    return rc;
  }
  int destroy() {
    int rc = pthread_cond_destroy(&cond);
    int rc2 = pthread_mutex_destroy(&mutex);
    return rc ? rc : rc2;
  }

  // Waits with the mutex held until ready() or the timeout. Spurious and
  // interrupted wake-ups re-test the predicate and wait again.
  template <class Ready>
  wait_result wait(std::int32_t timeout_ms, Ready ready) {
    timespec deadline{};
    if (timeout_ms > 0) {
      clock_gettime(CLOCK_MONOTONIC, &deadline);
      deadline.tv_sec += timeout_ms / 1000;
      deadline.tv_nsec += long(timeout_ms % 1000) * 1000000L;
      if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
      }
    }
    while (!ready()) {
      if (timeout_ms == 0) return wait_result::timed_out;
      int rc = timeout_ms < 0 ? pthread_cond_wait(&cond, &mutex)
                              : pthread_cond_timedwait(&cond, &mutex, &deadline);
      if (rc == ETIMEDOUT) return ready() ? wait_result::signalled : wait_result::timed_out;
      if (rc && rc != EINTR) {
        errno = rc;
        return wait_result::failed;
      }
    }
    return wait_result::signalled;
  }
};

// Holds a monitor's mutex for a scope; a failed lock is reported by rc.
struct locked {
  explicit locked(monitor& m) : m_(m), rc(pthread_mutex_lock(&m.mutex)) {}
  ~locked() {
    if (!rc) pthread_mutex_unlock(&m_.mutex);
  }
  monitor& m_;
  int rc;
};

}  // namespace Velk::os::posix
