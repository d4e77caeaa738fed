// POSIX only: the advisory lock on a folder that keeps one rplc run's
// listing of it apart from another run's renames in it. A name renamed over
// while a folder is read may be left out of the listing, so the run
// listing it would never work that file. Listings take the lock
// exclusively, renames shared, and neither waits for ever: after a bounded
// wait (a folder held by a process that never lets go) the work goes on
// unlocked.
#pragma once

#include <sys/file.h>
#include <time.h>

#include <cerrno>

namespace Velk::os {

// Whether the lock was taken; one that cannot be had in time, or on a
// file system without locks, is not.
inline bool lock_folder(int fd, bool exclusive) {
  const int operation = (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
  long pause_us = 100;
  long waited_us = 0;
  constexpr long kPatienceUs = 10L * 1000 * 1000;
  while (::flock(fd, operation) != 0) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK || waited_us >= kPatienceUs) return false;
    const timespec pause{0, pause_us * 1000};
    ::nanosleep(&pause, nullptr);
    waited_us += pause_us;
    if (pause_us < 20000) pause_us *= 2;
  }
  return true;
}

inline void unlock_folder(int fd) { ::flock(fd, LOCK_UN); }

}  // namespace Velk::os
