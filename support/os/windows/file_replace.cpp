// Safe replacement of a file's contents on Windows: the new contents go to
// a temporary file in the same folder, which takes the original's
// attributes and is then moved over it in one step (MoveFileExA with
// MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH). An open file cannot
// be replaced, so the caller has closed its handle. Where the folder
// refuses the temporary file or the move, the file is rewritten in place
// instead, with the new size set before the first byte changes.
//
// A console control handler (Ctrl+C, Ctrl+Break, closing the console)
// removes a live temporary file before the process ends. The temporary
// file is opened with delete sharing so that the handler can remove it
// while it is still open; the one lock keeps the handler and the move from
// acting on the same file at once.
#include "support/os/file_replace.h"

#include <cstdio>
#include <string>

#include "support/os/windows/windows.h"

namespace Velk::os {
namespace {

// --- the one live temporary file, known to the control handler -------------

CRITICAL_SECTION* temp_lock() {
  static CRITICAL_SECTION* lock = [] {
    static CRITICAL_SECTION section;
    ::InitializeCriticalSection(&section);
    return &section;
  }();
  return lock;
}

char g_temp_path[MAX_PATH * 4];
bool g_temp_live = false;

struct temp_locked {
  temp_locked() { ::EnterCriticalSection(temp_lock()); }
  ~temp_locked() { ::LeaveCriticalSection(temp_lock()); }
};

BOOL WINAPI on_console_control(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
    return FALSE;
  // Taken and kept: the process ends while this handler holds the lock,
  // so the main thread cannot move a temporary file that is being removed.
  ::EnterCriticalSection(temp_lock());
  if (g_temp_live) ::DeleteFileA(g_temp_path);
  g_temp_live = false;
  return FALSE;  // the default handler ends the process
}

int write_all(HANDLE file, const void* data, std::size_t size) {
  const char* at = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD chunk = size > (std::size_t(1) << 30) ? DWORD(1) << 30 : DWORD(size);
    DWORD put = 0;
    if (!::WriteFile(file, at, chunk, &put, nullptr)) return windows::last_error_number();
    if (put == 0) return ERROR_WRITE_FAULT;
    at += put;
    size -= put;
  }
  return 0;
}

enum class outcome { replaced, failed, use_in_place };

class temp_file {
 public:
  ~temp_file() { discard(); }

  // Creates "<folder>\<name>.rplc-<pid>-<n>" exclusively. False when the
  // folder refuses it.
  bool create(const std::string& target) {
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
      char suffix[48];
      std::snprintf(suffix, sizeof suffix, ".rplc-%lx-%x", ::GetCurrentProcessId(), counter++);
      const std::string path = target + suffix;
      if (path.size() >= sizeof g_temp_path) return false;
      temp_locked hold;
      HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file != INVALID_HANDLE_VALUE) {
        path.copy(g_temp_path, path.size());
        g_temp_path[path.size()] = '\0';
        g_temp_live = true;
        file_ = file;
        path_ = path;
        return true;
      }
      if (::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    }
    return false;
  }

  HANDLE handle() const { return file_; }
  const std::string& path() const { return path_; }

  int close() {
    HANDLE file = file_;
    file_ = INVALID_HANDLE_VALUE;
    return ::CloseHandle(file) ? 0 : windows::last_error_number();
  }

  // Moves over target in one step; the temporary name is gone on success.
  int move_over(const std::string& target) {
    temp_locked hold;
    if (!::MoveFileExA(path_.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return windows::last_error_number();
    g_temp_live = false;
    path_.clear();
    return 0;
  }

  void discard() {
    if (file_ != INVALID_HANDLE_VALUE) close();
    if (path_.empty()) return;
    temp_locked hold;
    if (!::DeleteFileA(path_.c_str())) {
      // Attributes given to it (read-only) may stand in the way.
      ::SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
      ::DeleteFileA(path_.c_str());
    }
    g_temp_live = false;
    path_.clear();
  }

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
  std::string path_;
};

outcome replace_by_move(DWORD attributes, const std::string& target, const void* data,
                        std::size_t size, bool flush, replace_failure& failure) {
  temp_file temp;
  if (!temp.create(target)) return outcome::use_in_place;
  if (const int error = write_all(temp.handle(), data, size)) {
    failure = {"write the new contents to a temporary file", error};
    return outcome::failed;
  }
  if (flush && !::FlushFileBuffers(temp.handle())) {
    failure = {"flush the temporary file", windows::last_error_number()};
    return outcome::failed;
  }
  if (const int error = temp.close()) {
    failure = {"close the temporary file", error};
    return outcome::failed;
  }
  // The original's attributes (hidden, system, archive, ...) go with the
  // new contents.
  const DWORD kept = attributes & ~DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT |
                                         FILE_ATTRIBUTE_COMPRESSED | FILE_ATTRIBUTE_ENCRYPTED |
                                         FILE_ATTRIBUTE_READONLY);
  if (!::SetFileAttributesA(temp.path().c_str(), kept ? kept : FILE_ATTRIBUTE_NORMAL))
    return outcome::use_in_place;
  if (temp.move_over(target) != 0) return outcome::use_in_place;
  return outcome::replaced;
}

bool rewrite_in_place(HANDLE file, const void* data, std::size_t size, bool flush,
                      replace_failure& failure) {
  LARGE_INTEGER length;
  length.QuadPart = LONGLONG(size);
  // Setting the new length first claims the space, so a full disk is
  // reported before any byte of the file changes.
  LARGE_INTEGER current;
  if (!::GetFileSizeEx(file, &current)) {
    failure = {"inspect the file", windows::last_error_number()};
    return false;
  }
  if (length.QuadPart > current.QuadPart &&
      (!::SetFilePointerEx(file, length, nullptr, FILE_BEGIN) || !::SetEndOfFile(file))) {
    failure = {"reserve space for the new contents", windows::last_error_number()};
    return false;
  }
  LARGE_INTEGER start;
  start.QuadPart = 0;
  if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
    failure = {"write the new contents over the file", windows::last_error_number()};
    return false;
  }
  if (const int error = write_all(file, data, size)) {
    failure = {"write the new contents over the file", error};
    return false;
  }
  if (!::SetEndOfFile(file)) {
    failure = {"cut the file to its new length", windows::last_error_number()};
    return false;
  }
  if (flush && !::FlushFileBuffers(file)) {
    failure = {"flush the file", windows::last_error_number()};
    return false;
  }
  return true;
}

}  // namespace

bool replace_file_contents(file_handle original, const char* path, const void* data,
                           std::size_t size, bool flush, replace_failure& failure) {
  const DWORD attributes = ::GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    failure = {"inspect the file", windows::last_error_number()};
    return false;
  }
  // A read-only file is not written, even where the open for writing let
  // it through (an administrator, or wine running as root).
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    failure = {"write a read-only file", ERROR_ACCESS_DENIED};
    return false;
  }
  switch (replace_by_move(attributes, path, data, size, flush, failure)) {
    case outcome::replaced: return true;
    case outcome::failed: return false;
    case outcome::use_in_place: break;
  }
  if (original != invalid_file_handle)
    return rewrite_in_place(reinterpret_cast<HANDLE>(original), data, size, flush, failure);
  HANDLE file = ::CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    failure = {"open the file to rewrite it", windows::last_error_number()};
    return false;
  }
  const bool done = rewrite_in_place(file, data, size, flush, failure);
  if (!::CloseHandle(file) && done) {
    failure = {"close the file", windows::last_error_number()};
    return false;
  }
  return done;
}

bool replace_needs_closed_file() { return true; }

void install_replace_signal_handlers() { ::SetConsoleCtrlHandler(on_console_control, TRUE); }

}  // namespace Velk::os
