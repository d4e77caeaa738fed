// POSIX implementation of the synchronisation primitives: the semaphore and
// the event are each a mutex, a condition variable on the monotonic clock
// and their state. pthread functions return their error number; it is
// stored in errno for the caller.
#include "support/os/sync.h"

#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <new>

namespace Velk::os {

std::int32_t current_thread_id() noexcept {
  // gettid is a system call; a thread's id never changes, so ask once.
  thread_local std::int32_t id = 0;
  if (id == 0) id = static_cast<std::int32_t>(::syscall(SYS_gettid));
  return id;
}

void yield_thread() noexcept { ::sched_yield(); }

namespace {

bool fail(int error_number) {
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

}  // namespace

struct semaphore {
  monitor m;
  std::int32_t count;
  std::int32_t maximum;
};

semaphore* create_semaphore(std::int32_t initial, std::int32_t maximum) noexcept {
  if (maximum <= 0 || initial < 0 || initial > maximum) {
    errno = EINVAL;
    return nullptr;
  }
  semaphore* sem = new (std::nothrow) semaphore;
  if (!sem) {
    errno = ENOMEM;
    return nullptr;
  }
  if (int rc = sem->m.init()) {
    delete sem;
    errno = rc;
    return nullptr;
  }
  sem->count = initial;
  sem->maximum = maximum;
  return sem;
}

wait_result wait_semaphore(semaphore* sem, std::int32_t timeout_ms) noexcept {
  if (!sem) return fail(EINVAL), wait_result::failed;
  locked hold(sem->m);
  if (hold.rc) return fail(hold.rc), wait_result::failed;
  wait_result result = sem->m.wait(timeout_ms, [sem] { return sem->count > 0; });
  if (result == wait_result::signalled) --sem->count;
  return result;
}

bool release_semaphore(semaphore* sem, std::int32_t count) noexcept {
  if (!sem || count <= 0) return fail(EINVAL);
  locked hold(sem->m);
  if (hold.rc) return fail(hold.rc);
  if (count > sem->maximum - sem->count) return fail(EOVERFLOW);
  sem->count += count;
  if (count == 1)
    pthread_cond_signal(&sem->m.cond);
  else
    pthread_cond_broadcast(&sem->m.cond);
  return true;
}

bool close_semaphore(semaphore* sem) noexcept {
  if (!sem) return fail(EINVAL);
  int rc = sem->m.destroy();
  delete sem;
  return rc ? fail(rc) : true;
}

struct event {
  monitor m;
  bool signalled;
};

event* create_event(bool signalled) noexcept {
  event* ev = new (std::nothrow) event;
  if (!ev) {
    errno = ENOMEM;
    return nullptr;
  }
  if (int rc = ev->m.init()) {
    delete ev;
    errno = rc;
    return nullptr;
  }
  ev->signalled = signalled;
  return ev;
}

wait_result wait_event(event* ev, std::int32_t timeout_ms) noexcept {
  if (!ev) return fail(EINVAL), wait_result::failed;
  locked hold(ev->m);
  if (hold.rc) return fail(hold.rc), wait_result::failed;
  return ev->m.wait(timeout_ms, [ev] { return ev->signalled; });
}

bool set_event(event* ev) noexcept {
  if (!ev) return fail(EINVAL);
  locked hold(ev->m);
  if (hold.rc) return fail(hold.rc);
  ev->signalled = true;
  pthread_cond_broadcast(&ev->m.cond);
  return true;
}

bool reset_event(event* ev) noexcept {
  if (!ev) return fail(EINVAL);
  locked hold(ev->m);
  if (hold.rc) return fail(hold.rc);
  ev->signalled = false;
  return true;
}

bool close_event(event* ev) noexcept {
  if (!ev) return fail(EINVAL);
  int rc = ev->m.destroy();
  delete ev;
  return rc ? fail(rc) : true;
}

}  // namespace Velk::os
