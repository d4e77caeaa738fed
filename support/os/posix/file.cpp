// File handles on POSIX: openat/read/write/lseek/ftruncate/fsync/fstat/close.
#include "support/os/file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace Velk::os {

namespace {

int OpenFlags(bool read, bool write, file_creation creation, bool follow_link) {
  int flags = O_CLOEXEC | O_NONBLOCK | (follow_link ? 0 : O_NOFOLLOW);
  flags |= read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
  switch (creation) {
    case file_creation::open_existing: break;
    case file_creation::open_always: flags |= O_CREAT; break;
    case file_creation::create_new: flags |= O_CREAT | O_EXCL; break;
    case file_creation::create_always: flags |= O_CREAT | O_TRUNC; break;
    case file_creation::truncate_existing: flags |= O_TRUNC; break;
  }
  return flags;
}

}  // namespace

int open_file(const char* path, bool read, bool write, file_creation creation,
              file_handle& out, bool follow_link) {
  return open_file_in(AT_FDCWD, path, read, write, creation, out, follow_link);
}

int open_file_in(int folder, const char* name, bool read, bool write, file_creation creation,
                 file_handle& out, bool follow_link) {
  const int flags = OpenFlags(read, write, creation, follow_link);
  int fd;
  do fd = ::openat(folder, name, flags, 0666);
  while (fd < 0 && errno == EINTR);
  out = fd;
  return fd < 0 ? errno : 0;
}

int close_file(file_handle handle) {
  // The descriptor is gone after close even when it reports EINTR; never retry.
  return ::close(handle) == 0 || errno == EINTR ? 0 : errno;
}

int read_file(file_handle handle, void* dest, std::size_t count, std::size_t& done) {
  done = 0;
  char* at = static_cast<char*>(dest);
  while (done < count) {
    const ssize_t n = ::read(handle, at + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) break;  // end of the data
    done += std::size_t(n);
  }
  return 0;
}

int write_file(file_handle handle, const void* src, std::size_t count, std::size_t& done) {
  done = 0;
  const char* at = static_cast<const char*>(src);
  while (done < count) {
    const ssize_t n = ::write(handle, at + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;  // no progress: never spin
    done += std::size_t(n);
  }
  return 0;
}

int seek_file(file_handle handle, std::int64_t distance, int origin, std::uint64_t& position) {
  const int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END;
  const off_t at = ::lseek(handle, off_t(distance), whence);
  if (at < 0) return errno;
  position = std::uint64_t(at);
  return 0;
}

int truncate_at_position(file_handle handle) {
  const off_t at = ::lseek(handle, 0, SEEK_CUR);
  if (at < 0) return errno;
  int result;
  do result = ::ftruncate(handle, at);
  while (result != 0 && errno == EINTR);
  return result == 0 ? 0 : errno;
}

int sync_file(file_handle handle) { return ::fsync(handle) == 0 ? 0 : errno; }

int get_file_status(file_handle handle, file_status& out) {
  struct stat status;
  if (::fstat(handle, &status) != 0) return errno;
  const mode_t mode = status.st_mode;
  out.kind = S_ISREG(mode)    ? file_kind::regular
             : S_ISDIR(mode)  ? file_kind::directory
             : S_ISFIFO(mode) ? file_kind::fifo
             : S_ISCHR(mode)  ? file_kind::character_device
             : S_ISBLK(mode)  ? file_kind::block_device
             : S_ISSOCK(mode) ? file_kind::socket
                              : file_kind::other;
  out.size = std::uint64_t(status.st_size);
  out.links = std::uint64_t(status.st_nlink);
  out.identity.volume = std::uint64_t(status.st_dev);
  out.identity.file_number = std::uint64_t(status.st_ino);
  out.identity.size = out.size;
  out.identity.modified_ns = std::int64_t(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
  out.identity.changed_ns = std::int64_t(status.st_ctim.tv_sec) * 1000000000 + status.st_ctim.tv_nsec;
  return 0;
}

int lock_file(file_handle handle) {
  while (::flock(handle, LOCK_EX) != 0)
    if (errno != EINTR) return errno;
  return 0;
}

int broken_pipe_error() { return EPIPE; }
int file_too_big_error() { return EFBIG; }

}  // namespace Velk::os
