// POSIX only: writes all size bytes to a file descriptor, looping over short
// writes and interruptions; 0 or the errno value of the failed call.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace Velk::os {

inline int write_all(int fd, const void* data, std::size_t size) {
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    // Linux moves at most about 2 GiB per call; larger slices just loop.
    const ssize_t put = ::write(fd, next, size);
    if (put < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (put == 0) return EIO;
    next += put;
    size -= std::size_t(put);
  }
  return 0;
}

}  // namespace Velk::os
