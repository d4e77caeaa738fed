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

int path_type(const char* path, entry_type& type) {
  const DWORD attributes = ::GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return windows::last_error_number();
  type = attributes & FILE_ATTRIBUTE_DIRECTORY ? entry_type::directory : entry_type::file;
  return 0;
}

// The search state: the folder's path (sub-folders are searched from it),
// the handle, the entry last found, and whether that entry has been handed
// out yet (FindFirstFileA finds the first one).
struct FIND_STATE {
  std::string folder;
  HANDLE handle = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAA data;
  bool pending = false;
};

dir_reader::~dir_reader() { close(); }

int dir_reader::open(const char* path) {
  close();
  FIND_STATE* state = new FIND_STATE;
  state->folder = path;
  if (!state->folder.empty() && state->folder.back() != '\\' && state->folder.back() != '/')
    state->folder += '\\';
  state->handle = ::FindFirstFileA((state->folder + "*").c_str(), &state->data);
  if (state->handle == INVALID_HANDLE_VALUE) {
    const int error = windows::last_error_number();
    // Nothing to find (a drive root has no "." entry): an empty listing.
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_NO_MORE_FILES) {
      delete state;
      return error;
    }
  } else {
    state->pending = true;
  }
  stream_ = state;
  return 0;
}

int dir_reader::open_sub(const dir_reader& parent, const char* name) {
  const FIND_STATE* state = static_cast<const FIND_STATE*>(parent.stream_);
  if (!state) return ERROR_INVALID_HANDLE;
  const std::string path = state->folder + name;
  // A folder link is not followed, as on POSIX.
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return ERROR_CANT_ACCESS_FILE;
  return open(path.c_str());
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

// A search handle cannot open files: they are opened by their paths.
folder_handle dir_reader::share_folder(int& error) const {
  error = ERROR_NOT_SUPPORTED;
  return invalid_folder_handle;
}

int close_folder(folder_handle) { return 0; }

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
