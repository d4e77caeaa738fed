// Folder services on Windows: GetCurrentDirectoryA, GetFileAttributesA,
// CreateDirectoryA and the wildcard search FindFirstFileA / FindNextFileA /
// FindClose.
#include "support/os/dir.h"

#include <cstring>
#include <string>

#include "support/os/windows/windows.h"

namespace Velk::os {

int current_dir(std::string& out) {
  const DWORD size = ::GetCurrentDirectoryA(0, nullptr);
  if (size == 0) return windows::last_error_number();
  std::string buffer(size + 1, '\0');
  const DWORD length = ::GetCurrentDirectoryA(size + 1, &buffer[0]);
  if (length == 0) return windows::last_error_number();
  buffer.resize(length);
  out = buffer;
  return 0;
}

bool is_directory(const char* path) {
  const DWORD attributes = ::GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int make_dir(const char* path) {
  if (::CreateDirectoryA(path, nullptr)) return 0;
  const int error = windows::last_error_number();
  return error == ERROR_ALREADY_EXISTS ? 0 : error;
}

// The search state: the handle, the entry last found, and whether that
// entry has been handed out yet (FindFirstFileA finds the first one).
struct FIND_STATE {
  HANDLE handle = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAA data;
  bool pending = false;
};

dir_reader::~dir_reader() { close(); }

int dir_reader::open(const char* path) { return open(path, "*"); }

int dir_reader::open(const char* path, const char* pattern) {
  close();
  std::string query(path);
  if (!query.empty() && query.back() != '\\' && query.back() != '/') query += '\\';
  query += pattern;
  FIND_STATE* state = new FIND_STATE;
  state->handle = ::FindFirstFileA(query.c_str(), &state->data);
  if (state->handle == INVALID_HANDLE_VALUE) {
    const int error = windows::last_error_number();
    delete state;
    // Nothing matches (a drive root has no "." entry to find): an empty
    // listing, not a failure.
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES) {
      stream_ = new FIND_STATE;
      return 0;
    }
    return error;
  }
  state->pending = true;
  stream_ = state;
  return 0;
}

bool dir_reader::next(const char*& name, std::size_t& length, int& error) {
  error = 0;
  entry_ = nullptr;
  FIND_STATE* state = static_cast<FIND_STATE*>(stream_);
  if (!state || state->handle == INVALID_HANDLE_VALUE) return false;
  if (!state->pending && !::FindNextFileA(state->handle, &state->data)) {
    const int failure = windows::last_error_number();
    if (failure != ERROR_NO_MORE_FILES) error = failure;
    return false;
  }
  state->pending = false;
  entry_ = &state->data;
  name = state->data.cFileName;
  length = std::strlen(state->data.cFileName);
  return true;
}

entry_type dir_reader::current_type() const {
  const WIN32_FIND_DATAA* data = static_cast<const WIN32_FIND_DATAA*>(entry_);
  if (!data || !(data->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return entry_type::file;
  // A folder that is a link (a junction or a symbolic link) is neither
  // listed nor descended into, as on POSIX.
  if ((data->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
      (data->dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT ||
       data->dwReserved0 == IO_REPARSE_TAG_SYMLINK))
    return entry_type::directory_link;
  return entry_type::directory;
}

bool dir_reader::current_hidden() const {
  const WIN32_FIND_DATAA* data = static_cast<const WIN32_FIND_DATAA*>(entry_);
  return data && (data->dwFileAttributes & FILE_ATTRIBUTE_HIDDEN);
}

int dir_reader::close() {
  entry_ = nullptr;
  FIND_STATE* state = static_cast<FIND_STATE*>(stream_);
  stream_ = nullptr;
  if (!state) return 0;
  int error = 0;
  if (state->handle != INVALID_HANDLE_VALUE && !::FindClose(state->handle))
    error = windows::last_error_number();
  delete state;
  return error;
}

}  // namespace Velk::os
