// POSIX only: the advisory lock on a folder that keeps one rplc run's
// listing of it apart from another run's renames in it. A name renamed over
// while a folder is read may be left out of the listing, so the run
// listing it would never work that file. Listings take the lock
// exclusively, renames shared, and neither waits for ever: after a wait of
// two seconds (a folder held by a process that does not let go) the run
// goes on without folder locks.
#pragma once

#include <sys/file.h>
#include <time.h>

#include <atomic>
#include <cerrno>

namespace Velk::os {

// Set once a folder's lock could not be had in time: the rest of the run
// goes unlocked rather than wait on every folder a process holds for long.
inline std::atomic<bool>& folder_locks_given_up() {
  static std::atomic<bool> given_up{false};
  return given_up;
}

// Whether the lock was taken; one that cannot be had in time, or on a
// file system without locks, is not.
inline bool lock_folder(int fd, bool exclusive) {
  const int operation = (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
  long pause_us = 100;
  long waited_us = 0;
  constexpr long kPatienceUs = 2L * 1000 * 1000;
  while (::flock(fd, operation) != 0) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK || folder_locks_given_up().load(std::memory_order_relaxed))
      return false;
    if (waited_us >= kPatienceUs) {
      folder_locks_given_up().store(true, std::memory_order_relaxed);
      return false;
    }
    const timespec pause{0, pause_us * 1000};
    ::nanosleep(&pause, nullptr);
    waited_us += pause_us;
    if (pause_us < 20000) pause_us *= 2;
  }
  return true;
}

inline void unlock_folder(int fd) { ::flock(fd, LOCK_UN); }

}  // namespace Velk::os
