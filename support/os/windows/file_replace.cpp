// Safe replacement of a file's contents on Windows.
//
// The file is opened by name (a symbolic link is followed) for reading and
// writing and shared with nobody, and compared with the file as it was read:
// volume serial number, file index, size, last write time and change time.
// A file removed, replaced or changed meanwhile is left alone (`changed`).
// The handle is held until the new contents take the file's place, so from
// the check on no other process can write, rename or remove the file.
//
// The new contents go to a temporary file in the folder of the file itself
// (the link's target, found from the open handle, when the name is a link),
// which takes the original's owner, group, DACL (and SACL where the process
// holds the privilege), attributes and creation time, and is then moved over
// it in one step (MoveFileExA with MOVEFILE_REPLACE_EXISTING |
// MOVEFILE_WRITE_THROUGH). The security descriptor is copied with
// GetSecurityInfo/SetSecurityInfo rather than left to ReplaceFileA: every
// part that cannot be kept is then known before anything is moved, and
// ReplaceFileA's partial failures can leave the original under another name.
//
// Where a move would change what others rely on, the file is rewritten in
// place through the held handle instead, with the new size set before the
// first byte changes and the file cut only at the end: a file with several
// hard links, one with alternate data streams, a name that is a link whose
// target cannot be told, a file whose security cannot be copied or that the
// process may not delete (a move over it would be refused), and a folder that
// refuses the temporary file or the move.
//
// Windows has no unnamed files: every temporary file is named. A console
// control handler (Ctrl+C, Ctrl+Break, closing the console) removes every
// live temporary file of every thread before the process ends, and first
// waits for in-place rewrites under way to finish. The temporary files are
// opened with delete sharing so that the handler can remove one while it
// is still open; the one lock keeps the handler and a move from acting on
// the same file at once.
#include "support/os/file_replace.h"

#include <aclapi.h>

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <string>

#include "support/os/wind_down.h"
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

// The run's wind-down: the first Ctrl+C or Ctrl+Break recorded, as the
// signal number it stands for.
wind_down_state g_wind_down;

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
  if (event != CTRL_CLOSE_EVENT && g_wind_down.record(event == CTRL_C_EVENT ? 2 : 21))
    return TRUE;
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

  // Creates "<folder>\<name>.rplc-<pid>-<n>" exclusively, open for
  // writing and for setting its security (access, e.g. ACCESS_SYSTEM_SECURITY
  // for a SACL, comes on top). False when the folder refuses it.
  bool create(const std::string& target, DWORD access) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
      char suffix[48];
      std::snprintf(suffix, sizeof suffix, ".rplc-%lx-%x", ::GetCurrentProcessId(),
                    counter.fetch_add(1));
      const std::string path = target + suffix;
      temp_locked hold;
      const int slot = claim_slot(path);
      if (slot < 0) return false;
      HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE | access, FILE_SHARE_DELETE,
                                  nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
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

// Enables a privilege the process's token holds (none is ever added);
// false when it does not hold it.
bool enable_privilege(const char* name) {
  HANDLE token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
    return false;
  TOKEN_PRIVILEGES privileges;
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  bool enabled = ::LookupPrivilegeValueA(nullptr, name, &privileges.Privileges[0].Luid) &&
                 ::AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
                 ::GetLastError() == ERROR_SUCCESS;  // not ERROR_NOT_ALL_ASSIGNED
  ::CloseHandle(token);
  return enabled;
}

// Whether the SACL can be read and set: only with the security privilege
// (administrators hold it). The restore privilege, where held, lets the
// owner be set to another account than the process's own.
bool may_copy_sacl() {
  static const bool allowed = [] {
    enable_privilege("SeRestorePrivilege");
    return enable_privilege("SeSecurityPrivilege");
  }();
  return allowed;
}

// The owner, group, DACL and (where allowed) SACL of a file, and whether its
// ACLs inherit from the folder.
class security_copy {
 public:
  ~security_copy() {
    if (descriptor_) ::LocalFree(descriptor_);
  }

  bool take(HANDLE file, bool with_sacl) {
    what_ = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
            (with_sacl ? SACL_SECURITY_INFORMATION : 0);
    if (::GetSecurityInfo(file, SE_FILE_OBJECT, what_, &owner_, &group_, &dacl_,
                          with_sacl ? &sacl_ : nullptr, &descriptor_) != ERROR_SUCCESS)
      return false;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!::GetSecurityDescriptorControl(descriptor_, &control, &revision)) return false;
    // Inherited entries are not copied as they stand: the temporary file, in
    // the same folder, inherits the same ones, unless the original is
    // protected from inheritance.
    what_ |= control & SE_DACL_PROTECTED ? PROTECTED_DACL_SECURITY_INFORMATION
                                         : UNPROTECTED_DACL_SECURITY_INFORMATION;
    if (with_sacl)
      what_ |= control & SE_SACL_PROTECTED ? PROTECTED_SACL_SECURITY_INFORMATION
                                           : UNPROTECTED_SACL_SECURITY_INFORMATION;
    return true;
  }

  // 0, or the error of a part that cannot be set. An owner or group the
  // file has already is not set again: setting either needs WRITE_OWNER,
  // which a folder's "modify" right does not give.
  DWORD give(HANDLE file) const {
    SECURITY_INFORMATION what = what_;
    PSID owner = nullptr, group = nullptr;
    PSECURITY_DESCRIPTOR own = nullptr;
    if (::GetSecurityInfo(file, SE_FILE_OBJECT,
                          OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION, &owner, &group,
                          nullptr, nullptr, &own) == ERROR_SUCCESS) {
      if (owner && owner_ && ::EqualSid(owner, owner_)) what &= ~OWNER_SECURITY_INFORMATION;
      if (group && group_ && ::EqualSid(group, group_)) what &= ~GROUP_SECURITY_INFORMATION;
      ::LocalFree(own);
    }
    return ::SetSecurityInfo(file, SE_FILE_OBJECT, what, owner_, group_, dacl_, sacl_);
  }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_INFORMATION what_ = 0;
  PSID owner_ = nullptr;
  PSID group_ = nullptr;
  PACL dacl_ = nullptr;
  PACL sacl_ = nullptr;
};

// What the held handle tells about the file that is to be replaced.
struct TARGET {
  HANDLE file = INVALID_HANDLE_VALUE;
  BY_HANDLE_FILE_INFORMATION info{};
  bool may_delete = false;  // the handle was granted DELETE: a move over it is allowed
  bool with_sacl = false;
};

bool is_missing(int error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// Opens path (following a link) for reading and writing, shared with
// nobody, and compares it with the file as it was read. DELETE is asked
// for too, and READ_CONTROL (ACCESS_SYSTEM_SECURITY where allowed) to read
// its security; a file that grants no DELETE is opened without it.
replace_result open_unchanged(const char* path, const file_identity& read, TARGET& target,
                              replace_failure& failure) {
  target.with_sacl = may_copy_sacl();
  const DWORD base = GENERIC_READ | GENERIC_WRITE | READ_CONTROL;
  const DWORD wanted[] = {base | DELETE | (target.with_sacl ? ACCESS_SYSTEM_SECURITY : 0),
                          base | DELETE, base};
  int error = 0;
  for (const DWORD access : wanted) {
    target.file = ::CreateFileA(path, access, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    if (target.file != INVALID_HANDLE_VALUE) {
      target.may_delete = access & DELETE;
      target.with_sacl = access & ACCESS_SYSTEM_SECURITY;
      break;
    }
    error = windows::last_error_number();
    if (error != ERROR_ACCESS_DENIED && error != ERROR_PRIVILEGE_NOT_HELD) break;
  }
  if (target.file == INVALID_HANDLE_VALUE) {
    if (is_missing(error)) {
      failure = {"check the file", 0, "it was removed"};
      return replace_result::changed;
    }
    failure = {"open the file", error};
    return replace_result::failed;
  }
  const BY_HANDLE_FILE_INFORMATION& info = target.info;
  if (!::GetFileInformationByHandle(target.file, &target.info)) {
    failure = {"check the file", windows::last_error_number()};
  } else {
    const std::uint64_t index = (std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    const std::uint64_t size = (std::uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    const char* change = nullptr;
    if (info.dwVolumeSerialNumber != read.volume || index != read.file_number)
      change = "it was replaced by another file";
    else if (size != read.size)
      change = "its size changed";
    else if (windows::filetime_ns(info.ftLastWriteTime) != read.modified_ns)
      change = "its contents changed";
    else if (windows::change_time_ns(target.file, info) != read.changed_ns)
      change = "its attributes changed";
    if (!change) return replace_result::replaced;
    failure = {"check the file", 0, change};
  }
  ::CloseHandle(target.file);
  target.file = INVALID_HANDLE_VALUE;
  return failure.error ? replace_result::failed : replace_result::changed;
}

// The full path of the open file itself, links resolved (a link's target);
// empty when the system cannot tell.
std::string final_path(HANDLE file) {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = ::GetFinalPathNameByHandleA(file, &path[0], DWORD(path.size()),
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return std::string();
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(length + 1);
  }
  // "\\?\C:\..." or "\\?\UNC\server\share\...": the plain forms.
  if (path.compare(0, 8, "\\\\?\\UNC\\") == 0) {
    path.erase(0, 6);  // keeps "\\server\share\..."
    path[0] = '\\';
    return path;
  }
  if (path.compare(0, 4, "\\\\?\\") == 0) return path.substr(4);
  return path;
}

// True when the file has named (alternate) data streams, which a file
// moved into its place would not have.
bool has_named_streams(const std::string& path) {
  std::wstring wide(path.size() + 1, L'\0');
  const int length = ::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &wide[0],
                                           int(wide.size()));
  if (length == 0) return true;  // cannot tell: keep them, whatever they are
  WIN32_FIND_STREAM_DATA stream;
  HANDLE find = ::FindFirstStreamW(wide.c_str(), FindStreamInfoStandard, &stream, 0);
  if (find == INVALID_HANDLE_VALUE) return false;  // none, or no streams on this file system
  bool named = false;
  do {
    named = std::wcscmp(stream.cStreamName, L"::$DATA") != 0;
  } while (!named && ::FindNextStreamW(find, &stream));
  ::FindClose(find);
  return named;
}

enum class outcome { ready, failed, use_in_place };

// Writes the new contents to a complete temporary file beside target that
// carries the original's security, attributes and creation time.
outcome prepare_temp(temp_file& temp, const TARGET& original, const std::string& target,
                     const void* data, std::size_t size, bool flush,
                     replace_failure& failure) {
  security_copy security;
  if (!security.take(original.file, original.with_sacl)) return outcome::use_in_place;
  const DWORD access =
      READ_CONTROL | WRITE_DAC | (original.with_sacl ? ACCESS_SYSTEM_SECURITY : 0);
  if (!temp.create(target, access | WRITE_OWNER) && !temp.create(target, access))
    return outcome::use_in_place;
  if (const int error = write_all(temp.handle(), data, size)) {
    failure = {"write the new contents to a temporary file", error};
    return outcome::failed;
  }
  // The original's attributes (hidden, system, archive, ...) and creation
  // time go with the new contents; zero times are left as they are.
  FILE_BASIC_INFO basic{};
  basic.CreationTime.LowPart = original.info.ftCreationTime.dwLowDateTime;
  basic.CreationTime.HighPart = LONG(original.info.ftCreationTime.dwHighDateTime);
  const DWORD kept = original.info.dwFileAttributes &
                     ~DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT |
                            FILE_ATTRIBUTE_COMPRESSED | FILE_ATTRIBUTE_ENCRYPTED |
                            FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SPARSE_FILE);
  basic.FileAttributes = kept ? kept : FILE_ATTRIBUTE_NORMAL;
  if (!::SetFileInformationByHandle(temp.handle(), FileBasicInfo, &basic, sizeof basic) ||
      security.give(temp.handle()) != ERROR_SUCCESS) {
    temp.discard();
    return outcome::use_in_place;
  }
  if (flush && !::FlushFileBuffers(temp.handle())) {
    failure = {"flush the temporary file", windows::last_error_number()};
    return outcome::failed;
  }
  if (const int error = temp.close()) {
    failure = {"close the temporary file", error};
    return outcome::failed;
  }
  return outcome::ready;
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
                                     bool flush, replace_failure& failure,
                                     const opened_in& /*where: never, no folder handles*/) {
  probe(replace_moment::before_check);
  TARGET target;
  const replace_result check = open_unchanged(path, read, target, failure);
  if (check != replace_result::replaced) return check;
  struct closer {
    HANDLE& file;
    ~closer() {
      if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
    }
  } close_target{target.file};

  // A read-only file is not written, even where the open for writing let
  // it through (an administrator, or wine running as root).
  if (target.info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
    failure = {"write a read-only file", ERROR_ACCESS_DENIED};
    return replace_result::failed;
  }
  // The file itself, also when path names a link to it.
  std::string file = final_path(target.file);
  const DWORD attributes = ::GetFileAttributesA(path);
  const bool is_link =
      attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  if (file.empty() && !is_link) file = path;
  const bool move = !file.empty() && target.info.nNumberOfLinks <= 1 && target.may_delete &&
                    !has_named_streams(file);
  if (move) {
    temp_file temp;
    switch (prepare_temp(temp, target, file, data, size, flush, failure)) {
      case outcome::failed: return replace_result::failed;
      case outcome::use_in_place: break;
      case outcome::ready:
        ::CloseHandle(target.file);
        target.file = INVALID_HANDLE_VALUE;
        if (temp.move_over(file) == 0) return replace_result::replaced;
        // The move was refused: the contents are written over the file
        // instead, if it is still the one that was read.
        temp.discard();
        const replace_result again = open_unchanged(file.c_str(), read, target, failure);
        if (again != replace_result::replaced) return again;
        break;
    }
  }
  const bool done = rewrite_in_place(target.file, data, size, flush, failure);
  const HANDLE held = target.file;
  target.file = INVALID_HANDLE_VALUE;
  if (!::CloseHandle(held) && done) {
    failure = {"close the file", windows::last_error_number()};
    return replace_result::failed;
  }
  return done ? replace_result::replaced : replace_result::failed;
}

bool replace_needs_closed_file() { return true; }

void install_replace_signal_handlers() { ::SetConsoleCtrlHandler(on_console_control, TRUE); }

void arm_wind_down() { g_wind_down.arm(); }

int wind_down_signal() { return g_wind_down.recorded(); }

int end_wind_down() { return g_wind_down.end(); }

void end_by_signal(int) {
  remove_temps();
  ::ExitProcess(0xC000013Au);  // STATUS_CONTROL_C_EXIT, as the default handler ends
}

void set_replace_probe(replace_probe probe) { g_probe = probe; }

// Windows has no unnamed files: every temporary file is named already.
void allow_unnamed_temp_files(bool) {}

}  // namespace Velk::os
