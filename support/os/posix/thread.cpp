// POSIX implementation of threads, thread-local slots and the processor
// count.
//
// A thread handle is shared by its creator and the thread itself (two
// references); whichever lets go last frees it. The thread publishes its
// kernel id, waits at the start gate when created suspended, runs the
// routine, then marks itself done. The done mark is set by a scope guard, so
// it is also set when the thread is cancelled: glibc cancels by unwinding the
// stack, which runs destructors.
#include "support/os/thread.h"


#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cxxabi.h>
#include <new>

#include "support/os/posix/monitor.h"
#include "support/os/signals.h"

namespace Velk::os {

using posix::fail;
using posix::locked;
using posix::monitor;

// ---- thread-local slots ----------------------------------------------------

bool create_tls_slot(std::uint32_t& index) noexcept {
  pthread_key_t key;
  if (int rc = pthread_key_create(&key, nullptr)) return fail(rc);
  index = static_cast<std::uint32_t>(key);
  return true;
}

bool get_tls_value(std::uint32_t index, void*& value) noexcept {
  value = pthread_getspecific(static_cast<pthread_key_t>(index));
  return true;
}

bool set_tls_value(std::uint32_t index, void* value) noexcept {
  if (int rc = pthread_setspecific(static_cast<pthread_key_t>(index), value))
    return fail(rc);
  return true;
}

bool delete_tls_slot(std::uint32_t index) noexcept {
  if (int rc = pthread_key_delete(static_cast<pthread_key_t>(index))) return fail(rc);
  return true;
}

// ---- threads ---------------------------------------------------------------

struct thread {
  monitor m;
  pthread_t id{};
  std::int32_t tid = 0;
  bool gate_open = false;
  bool done = false;
  std::atomic<int> references{2};
  thread_routine routine = nullptr;
  void* arg = nullptr;
};

namespace {

void release(thread* t) {
  if (t->references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    t->m.destroy();
    delete t;
  }
}

// Marks the thread done and wakes its waiters, however the thread ends.
struct end_signal {
  thread* t;
  ~end_signal() {
    {
      locked hold(t->m);
      t->done = true;
      pthread_cond_broadcast(&t->m.cond);
    }
    release(t);
  }
};

void* trampoline(void* p) {
  thread* t = static_cast<thread*>(p);
  end_signal signal{t};
  const thread_fault_stack faults;  // a stack overflow here is reported too
  {
    locked hold(t->m);
    t->tid = current_thread_id();
    pthread_cond_broadcast(&t->m.cond);
    t->m.wait(wait_forever, [t] { return t->gate_open; });
  }
  std::uintptr_t code = t->routine(t->arg);
  return reinterpret_cast<void*>(code);
}

}  // namespace

thread* create_thread(thread_routine routine, void* arg, std::size_t stack_size,
                      bool suspended) noexcept {
  thread* t = new (std::nothrow) thread;
  if (!t) return fail(ENOMEM), nullptr;
  if (int rc = t->m.init()) {
    delete t;
    return fail(rc), nullptr;
  }
  t->routine = routine;
  t->arg = arg;
  t->gate_open = !suspended;

  pthread_attr_t attr;
  int rc = pthread_attr_init(&attr);
  if (!rc && stack_size) {
    // Like a stack reservation, a request below the minimum is raised to it.
    const std::size_t minimum = static_cast<std::size_t>(PTHREAD_STACK_MIN);
    if (stack_size < minimum) stack_size = minimum;
    rc = pthread_attr_setstacksize(&attr, stack_size);
  }
  if (!rc) rc = pthread_create(&t->id, &attr, trampoline, t);
  pthread_attr_destroy(&attr);
  if (rc) {
    t->m.destroy();
    delete t;
    return fail(rc), nullptr;
  }
  // The id is needed at once (priority of a suspended thread), so wait for
  // the thread to publish it.
  locked hold(t->m);
  t->m.wait(wait_forever, [t] { return t->tid != 0; });
  return t;
}

bool resume_thread(thread* t) noexcept {
  if (!t) return fail(EINVAL);
  locked hold(t->m);
  if (hold.rc) return fail(hold.rc);
  t->gate_open = true;
  pthread_cond_broadcast(&t->m.cond);
  return true;
}

std::int32_t thread_id(const thread* t) noexcept { return t ? t->tid : 0; }

wait_result wait_thread(thread* t, std::int32_t timeout_ms) {
  if (!t) return fail(EINVAL), wait_result::failed;
  locked hold(t->m);
  if (hold.rc) return fail(hold.rc), wait_result::failed;
  return t->m.wait(timeout_ms, [t] { return t->done; });
}

bool set_thread_priority(thread* t, int priority) noexcept {
  if (!t) return fail(EINVAL);
  int nice_value;
  switch (priority) {
    case -15: nice_value = 19; break;
    case -2: nice_value = 10; break;
    case -1: nice_value = 5; break;
    case 0: nice_value = 0; break;
    case 1: nice_value = -5; break;
    case 2: nice_value = -10; break;
    case 15: nice_value = -20; break;
    default: return fail(EINVAL);
  }
  // On Linux the nice value of a thread id is that thread's own.
  if (setpriority(PRIO_PROCESS, static_cast<id_t>(t->tid), nice_value) != 0) return false;
  return true;
}

bool kill_thread(thread* t) {
  if (!t) return fail(EINVAL);
  if (int rc = pthread_cancel(t->id)) return fail(rc);
  return wait_thread(t, wait_forever) == wait_result::signalled;
}

void close_thread(thread* t) noexcept {
  if (!t) return;
  bool finished;
  {
    locked hold(t->m);
    finished = t->done;
  }
  // A finished thread is only returning from its start function: reap it.
  // A running one (or the thread closing its own handle) reaps itself.
  if (finished && !pthread_equal(t->id, pthread_self()))
    pthread_join(t->id, nullptr);
  else
    pthread_detach(t->id);
  release(t);
}

void rethrow_if_thread_cancelled() {
  // glibc cancels a thread by a forced unwind, which C++ sees as a foreign
  // exception: one without a C++ type.
  if (!abi::__cxa_current_exception_type()) throw;
}

// ---- system ------------------------------------------------------------------

unsigned processor_count() noexcept {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    int count = CPU_COUNT(&set);
    if (count > 0) return static_cast<unsigned>(count);
  }
  long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<unsigned>(online) : 1u;
}

}  // namespace Velk::os
