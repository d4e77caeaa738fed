// Folder services on POSIX: getcwd, stat, mkdir, and opendir/readdir with
// sub-folders opened by openat/fdopendir from their parent's handle.
#include "support/os/dir.h"

#include <dirent.h>
#include <fcntl.h>
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

int path_type(const char* path, entry_type& type) {
  struct stat status;
  if (::stat(path, &status) != 0) return errno;
  type = S_ISDIR(status.st_mode) ? entry_type::directory : entry_type::file;
  return 0;
}

int make_dir(const char* path) {
  if (::mkdir(path, 0777) == 0 || errno == EEXIST) return 0;
  return errno;
}

dir_reader::~dir_reader() { close(); }

int dir_reader::open(const char* path) {
  close();
  DIR* stream = ::opendir(path);
  if (!stream) return errno;
  stream_ = stream;
  return 0;
}

int dir_reader::open_sub(const dir_reader& parent, const char* name) {
  close();
  if (!parent.stream_) return EBADF;
  const int folder = ::openat(::dirfd(static_cast<DIR*>(parent.stream_)), name,
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder < 0) return errno;
  DIR* stream = ::fdopendir(folder);
  if (!stream) {
    const int error = errno;
    ::close(folder);
    return error;
  }
  stream_ = stream;
  return 0;
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

namespace {
// Status of a link's target: a folder is skipped, anything else (dangling
// links too) is a file.
entry_type link_type(int folder, const char* name) {
  struct stat status;
  if (::fstatat(folder, name, &status, 0) == 0 && S_ISDIR(status.st_mode))
    return entry_type::directory_link;
  return entry_type::file;
}
}  // namespace

entry_type dir_reader::current_type() const {
  const dirent* entry = static_cast<const dirent*>(entry_);
  if (!entry) return entry_type::file;
  const int folder = ::dirfd(static_cast<DIR*>(stream_));
  switch (entry->d_type) {
    case DT_DIR:
      return entry_type::directory;
    case DT_LNK:
      return link_type(folder, entry->d_name);
    case DT_UNKNOWN:
      break;
    default:
      return entry_type::file;
  }
  struct stat status;
  if (::fstatat(folder, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0)
    return entry_type::file;  // gone meanwhile: reading it will say so
  if (S_ISLNK(status.st_mode)) return link_type(folder, entry->d_name);
  return S_ISDIR(status.st_mode) ? entry_type::directory : entry_type::file;
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

int close_folder(folder_handle folder) {
  if (folder == invalid_folder_handle) return 0;
  return ::close(folder) == 0 || errno == EINTR ? 0 : errno;
}

int dir_reader::close() {
  entry_ = nullptr;
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
