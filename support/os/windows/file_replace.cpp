// Safe replacement of a file's contents on Windows: the new contents go to
// a temporary file in the same folder, which takes the original's
// attributes and is then moved over it in one step (MoveFileExA with
// MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH). Where the folder
// refuses the temporary file or the move, the file is rewritten in place
// instead, with the new size set before the first byte changes.
//
// An open file cannot be replaced, so the caller has closed the handle it
// read by (replace_needs_closed_file). Just before the move the file is
// opened afresh by path and its identity (volume serial number, file
// index, size, last write time) compared with the one taken at the read: a
// file removed, replaced or changed meanwhile is left alone (`changed`).
// The fresh handle is closed only just before the move; a change made in
// that short gap cannot be seen.
//
// Windows has no unnamed files: every temporary file is named. A console
// control handler (Ctrl+C, Ctrl+Break, closing the console) removes every
// live temporary file of every thread before the process ends, and first
// waits for in-place rewrites under way to finish. The temporary files are
// opened with delete sharing so that the handler can remove one while it
// is still open; the one lock keeps the handler and a move from acting on
// the same file at once.
#include "support/os/file_replace.h"

#include <atomic>
#include <cstdio>
#include <string>

#include "support/os/windows/windows.h"

namespace Velk::os {
namespace {

// --- the live temporary files, known to the control handler ---------------

CRITICAL_SECTION* temp_lock() {
  static CRITICAL_SECTION* lock = [] {
    static CRITICAL_SECTION section;
    ::InitializeCriticalSection(&section);
    return &section;
  }();
  return lock;
}

struct temp_locked {
  temp_locked() { ::EnterCriticalSection(temp_lock()); }
  ~temp_locked() { ::LeaveCriticalSection(temp_lock()); }
};

// One slot per temporary file alive at once: one per worker thread.
constexpr int kTempSlots = 128;
struct temp_slot {
  bool live = false;
  char path[MAX_PATH * 4];
};
temp_slot g_temp_slots[kTempSlots];

// Claims a slot for path; -1 when all are taken (the file is then not made).
int claim_slot(const std::string& path) {
  if (path.size() >= sizeof g_temp_slots[0].path) return -1;
  for (int i = 0; i < kTempSlots; ++i) {
    if (g_temp_slots[i].live) continue;
    path.copy(g_temp_slots[i].path, path.size());
    g_temp_slots[i].path[path.size()] = '\0';
    g_temp_slots[i].live = true;
    return i;
  }
  return -1;
}

std::atomic<int> g_in_place_writers{0};
std::atomic<bool> g_ending{false};
std::atomic<replace_probe> g_probe{nullptr};

void probe(replace_moment moment) {
  if (const replace_probe p = g_probe.load()) p(moment);
}

// The run's wind-down: 0 while not armed, -1 while the first Ctrl+C or
// Ctrl+Break would only be recorded, then the signal number it stands for.
std::atomic<int> g_wind_down{0};

// A file being rewritten in place is let finish first (it is whole only at
// the end); then every live temporary file is removed, and the lock is
// kept: the process ends while it is held, so no thread can move a
// temporary file that is being removed.
void remove_temps() {
  g_ending = true;
  while (g_in_place_writers.load() > 0) ::Sleep(1);
  ::EnterCriticalSection(temp_lock());
  for (temp_slot& slot : g_temp_slots) {
    if (slot.live) ::DeleteFileA(slot.path);
    slot.live = false;
  }
}

BOOL WINAPI on_console_control(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
    return FALSE;
  // While the run winds down, the first Ctrl+C or Ctrl+Break only asks it
  // to stop (a closed console ends the process regardless).
  if (event != CTRL_CLOSE_EVENT) {
    int armed = -1;
    if (g_wind_down.compare_exchange_strong(armed, event == CTRL_C_EVENT ? 2 : 21)) return TRUE;
  }
  remove_temps();
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

class temp_file {
 public:
  ~temp_file() { discard(); }

  // Creates "<folder>\<name>.rplc-<pid>-<n>" exclusively. False when the
  // folder refuses it.
  bool create(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
      char suffix[48];
      std::snprintf(suffix, sizeof suffix, ".rplc-%lx-%x", ::GetCurrentProcessId(),
                    counter.fetch_add(1));
      const std::string path = target + suffix;
      temp_locked hold;
      const int slot = claim_slot(path);
      if (slot < 0) return false;
      HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file != INVALID_HANDLE_VALUE) {
        file_ = file;
        path_ = path;
        slot_ = slot;
        return true;
      }
      g_temp_slots[slot].live = false;
      if (::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    }
    return false;
  }

  bool ready() const { return !path_.empty(); }
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
    release_slot();
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
    release_slot();
    path_.clear();
  }

 private:
  void release_slot() {
    if (slot_ >= 0) g_temp_slots[slot_].live = false;
    slot_ = -1;
  }

  HANDLE file_ = INVALID_HANDLE_VALUE;
  std::string path_;
  int slot_ = -1;
};

enum class outcome { ready, failed, use_in_place };

// Writes the new contents to a complete temporary file that carries the
// original's attributes.
outcome prepare_temp(temp_file& temp, DWORD attributes, const std::string& target,
                     const void* data, std::size_t size, bool flush,
                     replace_failure& failure) {
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
  if (!::SetFileAttributesA(temp.path().c_str(), kept ? kept : FILE_ATTRIBUTE_NORMAL)) {
    temp.discard();
    return outcome::use_in_place;
  }
  return outcome::ready;
}

bool is_missing(int error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// Opens path afresh for writing (which also proves the right to write it)
// and compares it with the file as it was read.
replace_result open_unchanged(const char* path, const file_identity& read, HANDLE& out,
                              replace_failure& failure) {
  out = ::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) {
    const int error = windows::last_error_number();
    if (is_missing(error)) {
      failure = {"check the file", 0, "it was removed"};
      return replace_result::changed;
    }
    failure = {"open the file", error};
    return replace_result::failed;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(out, &info)) {
    failure = {"check the file", windows::last_error_number()};
  } else {
    const std::uint64_t index = (std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    const std::uint64_t size = (std::uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    const std::int64_t written =
        std::int64_t((std::uint64_t(info.ftLastWriteTime.dwHighDateTime) << 32) |
                     info.ftLastWriteTime.dwLowDateTime) * 100;
    const char* change = nullptr;
    if (info.dwVolumeSerialNumber != read.volume || index != read.file_number)
      change = "it was replaced by another file";
    else if (size != read.size)
      change = "its size changed";
    else if (written != read.modified_ns)
      change = "its contents changed";
    if (!change) return replace_result::replaced;
    failure = {"check the file", 0, change};
  }
  ::CloseHandle(out);
  out = INVALID_HANDLE_VALUE;
  return failure.error ? replace_result::failed : replace_result::changed;
}

// Tells the control handler to wait while a file is rewritten in place.
class in_place_writer {
 public:
  in_place_writer() { ++g_in_place_writers; }
  ~in_place_writer() { --g_in_place_writers; }
  bool ending() const { return g_ending.load(); }
};

bool rewrite_in_place(HANDLE file, const void* data, std::size_t size, bool flush,
                      replace_failure& failure) {
  in_place_writer writer;
  if (writer.ending()) {
    failure = {"rewrite the file in place", ERROR_OPERATION_ABORTED};
    return false;
  }
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
  probe(replace_moment::in_place_reserved);
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
  probe(replace_moment::in_place_written);
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

replace_result replace_file_contents(file_handle /*read_handle*/, const file_identity& read,
                                     const char* path, const void* data, std::size_t size,
                                     bool flush, replace_failure& failure) {
  const DWORD attributes = ::GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const int error = windows::last_error_number();
    if (is_missing(error)) {
      failure = {"check the file", 0, "it was removed"};
      return replace_result::changed;
    }
    failure = {"inspect the file", error};
    return replace_result::failed;
  }
  // A read-only file is not written, even where the open for writing would
  // let it through (an administrator, or wine running as root).
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    failure = {"write a read-only file", ERROR_ACCESS_DENIED};
    return replace_result::failed;
  }
  temp_file temp;
  switch (prepare_temp(temp, attributes, path, data, size, flush, failure)) {
    case outcome::failed: return replace_result::failed;
    case outcome::ready:
    case outcome::use_in_place: break;
  }
  probe(replace_moment::before_check);
  HANDLE file = INVALID_HANDLE_VALUE;
  const replace_result check = open_unchanged(path, read, file, failure);
  if (check != replace_result::replaced) return check;
  if (temp.ready()) {
    ::CloseHandle(file);
    if (temp.move_over(path) == 0) return replace_result::replaced;
    // The move was refused: the contents are written over the file instead.
    temp.discard();
    const replace_result again = open_unchanged(path, read, file, failure);
    if (again != replace_result::replaced) return again;
  }
  const bool done = rewrite_in_place(file, data, size, flush, failure);
  if (!::CloseHandle(file) && done) {
    failure = {"close the file", windows::last_error_number()};
    return replace_result::failed;
  }
  return done ? replace_result::replaced : replace_result::failed;
}

bool replace_needs_closed_file() { return true; }

void install_replace_signal_handlers() { ::SetConsoleCtrlHandler(on_console_control, TRUE); }

void arm_wind_down() { g_wind_down.store(-1); }

int wind_down_signal() {
  const int state = g_wind_down.load();
  return state > 0 ? state : 0;
}

int end_wind_down() {
  const int state = g_wind_down.exchange(0);
  return state > 0 ? state : 0;
}

void end_by_signal(int) {
  remove_temps();
  ::ExitProcess(0xC000013Au);  // STATUS_CONTROL_C_EXIT, as the default handler ends
}

void set_replace_probe(replace_probe probe) { g_probe = probe; }

// Windows has no unnamed files: every temporary file is named already.
void allow_unnamed_temp_files(bool) {}

}  // namespace Velk::os
