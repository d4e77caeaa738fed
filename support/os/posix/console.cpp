// POSIX implementation of the standard-stream channels.
#include "support/os/console.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace Velk::os {

int read_standard_input(void* buffer, std::size_t size, std::size_t& count) {
  for (;;) {
    const ssize_t got = ::read(STDIN_FILENO, buffer, size);
    if (got >= 0) {
      count = std::size_t(got);
      return 0;
    }
    if (errno != EINTR) {
      count = 0;
      return errno;
    }
  }
}

bool is_terminal(std_stream stream) { return ::isatty(int(stream)) == 1; }

std::uint64_t standard_input_size_hint() {
  struct stat info;
  if (::fstat(STDIN_FILENO, &info) != 0 || !S_ISREG(info.st_mode)) return 0;
  const off_t position = ::lseek(STDIN_FILENO, 0, SEEK_CUR);
  if (position < 0 || position >= info.st_size) return 0;
  return std::uint64_t(info.st_size - position);
}

int write_standard_stream(std_stream stream, const void* data, std::size_t size) {
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    // Linux moves at most about 2 GiB per call; larger slices just loop.
    const ssize_t put = ::write(int(stream), next, size);
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
