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

bool is_no_folder_error(int error) {
  return error == ERROR_CANT_ACCESS_FILE || error == ERROR_DIRECTORY;
}

bool is_not_found_error(int error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

int make_dir(const char* path) {
  if (::CreateDirectoryA(path, nullptr)) return 0;
  const int error = windows::last_error_number();
  return error == ERROR_ALREADY_EXISTS ? 0 : error;
}

// The identity of a file is not known from a listing or an attribute
// query here (it needs the file opened): left unknown, so that names are
// told apart by text instead.
int path_type(const char* path, entry_type& type, file_id* identity) {
  const DWORD attributes = ::GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return windows::last_error_number();
  type = attributes & FILE_ATTRIBUTE_DIRECTORY ? entry_type::directory : entry_type::file;
  if (identity) *identity = file_id();
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

int dir_reader::__Opened(void*) { return 0; }

int dir_reader::open_parent(const dir_reader& child) {
  const FIND_STATE* state = static_cast<const FIND_STATE*>(child.stream_);
  if (!state) return ERROR_INVALID_HANDLE;
  std::string path = state->folder;  // ends in a separator
  if (!path.empty()) path.pop_back();
  const std::string::size_type last = path.find_last_of("\\/");
  if (last == std::string::npos) return ERROR_PATH_NOT_FOUND;
  return open(path.substr(0, last + 1).c_str());
}

file_id dir_reader::current_id() const { return file_id(); }

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
  if (!data) return entry_type::file;
  // A link (a junction or a symbolic link, to a folder or a file) is
  // neither listed nor descended into, as on POSIX.
  if ((data->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
      (data->dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT ||
       data->dwReserved0 == IO_REPARSE_TAG_SYMLINK))
    return entry_type::link;
  if (data->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return entry_type::directory;
  if (data->dwFileAttributes & FILE_ATTRIBUTE_DEVICE) return entry_type::other;
  return entry_type::file;
}

bool dir_reader::current_hidden() const {
  const WIN32_FIND_DATAA* data = static_cast<const WIN32_FIND_DATAA*>(entry_);
  return data && (data->dwFileAttributes & FILE_ATTRIBUTE_HIDDEN);
}

// A search handle cannot open files: they are opened by their paths.
// No lock here is shared with another run's renames: listings go unlocked.
void dir_reader::begin_listing() {}
void dir_reader::end_listing() {}

folder_handle dir_reader::share_folder(int& error) const {
  error = ERROR_NOT_SUPPORTED;
  return invalid_folder_handle;
}

int close_folder(folder_handle) { return 0; }

std::size_t handle_limit() { return 0; }

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
