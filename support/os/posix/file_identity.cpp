// File identity on POSIX: fstat for device, inode, size and times, and the
// handle's own path from /proc/self/fd (realpath where /proc is missing).
#include "support/os/file_identity.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace Velk::os {

namespace {

std::int64_t nanoseconds(const struct timespec& time) {
  return std::int64_t(time.tv_sec) * 1000000000 + time.tv_nsec;
}

// The path of the file open as fd: exact even when a link in path changed
// since the open. Empty when neither /proc nor path can tell.
std::string handle_location(int fd, const char* path) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  std::string target(4096, '\0');
  for (;;) {
    const ssize_t n = ::readlink(link, &target[0], target.size());
    if (n < 0) break;
    if (std::size_t(n) < target.size()) {
      target.resize(std::size_t(n));
      if (!target.empty() && target[0] == '/') return target;
      break;  // not a path ("anon_inode:..."): ask the path instead
    }
    target.resize(target.size() * 2);
  }
  char* resolved = ::realpath(path, nullptr);
  if (!resolved) return std::string();
  std::string location(resolved);
  std::free(resolved);
  return location;
}

}  // namespace

int get_file_identity(file_handle handle, const char* path, file_identity& out) {
  struct stat status;
  if (::fstat(handle, &status) != 0) return errno;
  out.volume = std::uint64_t(status.st_dev);
  out.file_number = std::uint64_t(status.st_ino);
  out.size = std::uint64_t(status.st_size);
  out.modified_ns = nanoseconds(status.st_mtim);
  out.changed_ns = nanoseconds(status.st_ctim);
  out.location = handle_location(handle, path);
  return 0;
}

}  // namespace Velk::os
