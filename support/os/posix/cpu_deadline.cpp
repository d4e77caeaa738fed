// POSIX implementation of the processor-time watchdog: a timer on the
// thread's CPU clock (timer_create with CLOCK_THREAD_CPUTIME_ID) that
// raises SIGVTALRM, whose handler writes the message and calls _exit.
#include "support/os/cpu_deadline.h"

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace Velk::os {
namespace {

std::atomic<const char*> deadline_message{nullptr};

extern "C" void on_deadline(int) {
  const char* message = deadline_message.load();
  if (message) {
    std::size_t left = std::strlen(message);
    while (left > 0) {
      const ssize_t n = write(STDERR_FILENO, message, left);
      if (n <= 0) break;
      message += n;
      left -= std::size_t(n);
    }
  }
  _exit(255);
}

bool install_handler() {
  static std::once_flag once;
  static bool installed = false;
  std::call_once(once, [] {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = on_deadline;
    sigemptyset(&action.sa_mask);
    installed = sigaction(SIGVTALRM, &action, nullptr) == 0;
  });
  return installed;
}

// The calling thread's timer, created on first use and deleted when the
// thread ends.
struct THREAD_TIMER {
  timer_t id{};
  bool created = false;
  ~THREAD_TIMER() {
    if (created) timer_delete(id);
  }
  bool ensure() {
    if (created) return true;
    sigevent event;
    std::memset(&event, 0, sizeof event);
    event.sigev_notify = SIGEV_SIGNAL;
    event.sigev_signo = SIGVTALRM;
    created = timer_create(CLOCK_THREAD_CPUTIME_ID, &event, &id) == 0;
    return created;
  }
};

thread_local THREAD_TIMER thread_timer;

bool set_timer(std::uint64_t nanoseconds) {
  itimerspec spec;
  std::memset(&spec, 0, sizeof spec);
  spec.it_value.tv_sec = time_t(nanoseconds / 1000000000u);
  spec.it_value.tv_nsec = long(nanoseconds % 1000000000u);
  return timer_settime(thread_timer.id, 0, &spec, nullptr) == 0;
}

}  // namespace

bool arm_cpu_deadline(std::uint64_t nanoseconds, const char* message) noexcept {
  if (!install_handler() || !thread_timer.ensure()) return false;
  deadline_message.store(message);
  // A zero time would disarm; the smallest wait stands for "at once".
  const std::uint64_t wait = nanoseconds ? nanoseconds : 1;
  if (set_timer(wait)) return true;
  // A child of fork has the parent's timer id but no timer (timers are not
  // inherited): it makes its own.
  thread_timer.created = false;
  return thread_timer.ensure() && set_timer(wait);
}

void disarm_cpu_deadline() noexcept {
  if (thread_timer.created) set_timer(0);
}

std::uint64_t thread_cpu_time_ns() noexcept {
  timespec now;
  if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) != 0) return 0;
  return std::uint64_t(now.tv_sec) * 1000000000u + std::uint64_t(now.tv_nsec);
}

}  // namespace Velk::os
