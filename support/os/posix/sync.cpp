// POSIX implementation of the synchronisation primitives: the semaphore and
// the event are each a mutex, a condition variable on the monotonic clock
// and their state. pthread functions return their error number; it is
// stored in errno for the caller.
#include "support/os/sync.h"

#include "support/os/posix/monitor.h"

#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <new>

namespace Velk::os {

using posix::fail;
using posix::locked;
using posix::monitor;

std::int32_t current_thread_id() noexcept {
  // gettid is a system call; a thread's id never changes, so ask once.
  thread_local std::int32_t id = 0;
  if (id == 0) id = static_cast<std::int32_t>(::syscall(SYS_gettid));
  return id;
}

void yield_thread() noexcept { ::sched_yield(); }

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

wait_result wait_semaphore(semaphore* sem, std::int32_t timeout_ms) {
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

wait_result wait_event(event* ev, std::int32_t timeout_ms) {
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
