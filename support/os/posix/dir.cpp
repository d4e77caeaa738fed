// Folder services on POSIX: getcwd, stat, mkdir, and opendir/readdir with
// sub-folders (and parents) opened by openat/fdopendir from a folder's
// handle, never through a symbolic link.
#include "support/os/dir.h"

#include "support/os/posix/folder_lock.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace Velk::os {

int current_dir(std::string& out) {
  std::vector<char> buffer(4096);
  for (;;) {
    if (::getcwd(buffer.data(), buffer.size())) {
      out.assign(buffer.data());
      return 0;
    }
    if (errno != ERANGE) return errno;
    buffer.resize(buffer.size() * 2);
  }
}

bool is_directory(const char* path) {
  struct stat status;
  return ::stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

namespace {

entry_type type_of(mode_t mode) {
  return S_ISDIR(mode) ? entry_type::directory
         : S_ISREG(mode) ? entry_type::file
         : S_ISLNK(mode) ? entry_type::link
                         : entry_type::other;
}

file_id id_of(const struct stat& status) {
  file_id id;
  id.volume = std::uint64_t(status.st_dev);
  id.file_number = std::uint64_t(status.st_ino);
  id.known = true;
  return id;
}

}  // namespace

int path_type(const char* path, entry_type& type, file_id* identity) {
  struct stat status;
  if (::stat(path, &status) != 0) return errno;
  type = type_of(status.st_mode);
  if (identity) *identity = id_of(status);
  return 0;
}

bool is_no_folder_error(int error) { return error == ELOOP || error == ENOTDIR; }

bool is_not_found_error(int error) { return error == ENOENT; }

int make_dir(const char* path) {
  if (::mkdir(path, 0777) == 0 || errno == EEXIST) return 0;
  return errno;
}

dir_reader::~dir_reader() { close(); }

namespace {

// A folder opened relative to another's handle, links not followed, as a
// stream; null with errno set on failure.
DIR* open_at(const void* base, const char* name) {
  if (!base) {
    errno = EBADF;
    return nullptr;
  }
  int folder;
  do folder = ::openat(::dirfd(static_cast<DIR*>(const_cast<void*>(base))), name,
                       O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  while (folder < 0 && errno == EINTR);
  if (folder < 0) return nullptr;
  DIR* stream = ::fdopendir(folder);
  if (!stream) {
    const int error = errno;
    ::close(folder);
    errno = error;
  }
  return stream;
}

}  // namespace

// Takes stream over and records which folder it is.
int dir_reader::__Opened(void* stream) {
  if (!stream) return errno;
  stream_ = stream;
  struct stat status;
  if (::fstat(::dirfd(static_cast<DIR*>(stream)), &status) != 0) {
    const int error = errno;
    close();
    return error;
  }
  folder_ = id_of(status);
  return 0;
}

int dir_reader::open(const char* path) {
  close();
  return __Opened(::opendir(path));
}

int dir_reader::open_sub(const dir_reader& parent, const char* name) {
  close();
  return __Opened(open_at(parent.stream_, name));
}

int dir_reader::open_parent(const dir_reader& child) {
  close();
  return __Opened(open_at(child.stream_, ".."));
}

bool dir_reader::next(const char*& name, std::size_t& length, int& error) {
  error = 0;
  entry_ = nullptr;
  if (!stream_) return false;
  errno = 0;  // readdir tells the end from a failure only through errno
  const dirent* entry = ::readdir(static_cast<DIR*>(stream_));
  if (!entry) {
    error = errno;
    return false;
  }
  entry_ = entry;
  name = entry->d_name;
  length = std::char_traits<char>::length(entry->d_name);
  return true;
}

entry_type dir_reader::current_type() const {
  const dirent* entry = static_cast<const dirent*>(entry_);
  if (!entry) return entry_type::file;
  switch (entry->d_type) {
    case DT_DIR: return entry_type::directory;
    case DT_REG: return entry_type::file;
    case DT_LNK: return entry_type::link;
    case DT_UNKNOWN: break;
    default: return entry_type::other;
  }
  // A file system that records no types: one status call, links not
  // followed.
  struct stat status;
  if (::fstatat(::dirfd(static_cast<DIR*>(stream_)), entry->d_name, &status,
                AT_SYMLINK_NOFOLLOW) != 0)
    return entry_type::other;  // gone meanwhile
  return type_of(status.st_mode);
}

file_id dir_reader::current_id() const {
  const dirent* entry = static_cast<const dirent*>(entry_);
  if (!entry) return file_id();
  file_id id = folder_;
  id.file_number = std::uint64_t(entry->d_ino);
  return id;
}

void dir_reader::begin_listing() {
  if (stream_ && !listing_locked_)
    listing_locked_ = lock_folder(::dirfd(static_cast<DIR*>(stream_)), true);
}

void dir_reader::end_listing() {
  if (!listing_locked_) return;
  listing_locked_ = false;
  unlock_folder(::dirfd(static_cast<DIR*>(stream_)));
}

folder_handle dir_reader::share_folder(int& error) const {
  error = 0;
  if (!stream_) {
    error = EBADF;
    return invalid_folder_handle;
  }
  const int copy = ::fcntl(::dirfd(static_cast<DIR*>(stream_)), F_DUPFD_CLOEXEC, 0);
  if (copy < 0) error = errno;
  return copy;
}

std::size_t handle_limit() {
  struct rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 4096;
  return std::size_t(limit.rlim_cur);
}

int close_folder(folder_handle folder) {
  if (folder == invalid_folder_handle) return 0;
  return ::close(folder) == 0 || errno == EINTR ? 0 : errno;
}

int dir_reader::close() {
  entry_ = nullptr;
  folder_ = file_id();
  listing_locked_ = false;  // the lock goes with the handle
  if (!stream_) return 0;
  DIR* stream = static_cast<DIR*>(stream_);
  stream_ = nullptr;
  return ::closedir(stream) == 0 ? 0 : errno;
}

}  // namespace Velk::os

namespace Velk::os {

bool dir_reader::current_hidden() const {
  const dirent* entry = static_cast<const dirent*>(entry_);
  if (!entry || entry->d_name[0] != '.') return false;
  const char* rest = entry->d_name + 1;
  return !(rest[0] == '\0' || (rest[0] == '.' && rest[1] == '\0'));
}

}  // namespace Velk::os
