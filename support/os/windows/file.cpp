// File handles on Windows: CreateFileA, ReadFile, WriteFile, SetFilePointer,
// SetEndOfFile, FlushFileBuffers, GetFileSize and CloseHandle.
//
// Share modes: a file opened only for reading lets others read it too; a
// file opened for writing is shared with nobody except a rename or delete,
// so that its safe replacement (file_replace.h) can put the new contents in
// its place while the handle still proves and holds the right to write it.
#include "support/os/file.h"

#include "support/os/windows/windows.h"

namespace Velk::os {

namespace {

HANDLE native(file_handle handle) { return reinterpret_cast<HANDLE>(handle); }

// ReadFile and WriteFile move at most a DWORD per call.
constexpr std::size_t kMaxTransfer = std::size_t(1) << 30;

}  // namespace

int open_file(const char* path, bool read, bool write, file_creation creation,
              file_handle& out, bool follow_link) {
  (void)follow_link;  // a walk never lists a link here (dir_reader::current_type)
  DWORD access = (read ? GENERIC_READ : 0) | (write ? GENERIC_WRITE : 0);
  DWORD share = write ? FILE_SHARE_DELETE : FILE_SHARE_READ;
  DWORD disposition = OPEN_EXISTING;
  switch (creation) {
    case file_creation::open_existing: disposition = OPEN_EXISTING; break;
    case file_creation::open_always: disposition = OPEN_ALWAYS; break;
    case file_creation::create_new: disposition = CREATE_NEW; break;
    case file_creation::create_always: disposition = CREATE_ALWAYS; break;
    case file_creation::truncate_existing: disposition = TRUNCATE_EXISTING; break;
  }
  HANDLE handle = ::CreateFileA(path, access, share, nullptr, disposition,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  out = reinterpret_cast<file_handle>(handle);
  return handle == INVALID_HANDLE_VALUE ? windows::last_error_number() : 0;
}

// Windows has no folder handles to open from (dir.h): never called.
int open_file_in(int, const char*, bool, bool, file_creation, file_handle& out, bool) {
  out = invalid_file_handle;
  return ERROR_NOT_SUPPORTED;
}

int close_file(file_handle handle) {
  return ::CloseHandle(native(handle)) ? 0 : windows::last_error_number();
}

int read_file(file_handle handle, void* dest, std::size_t count, std::size_t& done) {
  done = 0;
  char* at = static_cast<char*>(dest);
  while (done < count) {
    const std::size_t rest = count - done;
    DWORD got = 0;
    if (!::ReadFile(native(handle), at + done,
                    DWORD(rest > kMaxTransfer ? kMaxTransfer : rest), &got, nullptr)) {
      const int error = windows::last_error_number();
      if (error == ERROR_MORE_DATA) {
        done += got;
        continue;
      }
      return error;
    }
    if (got == 0) break;  // end of the data
    done += got;
  }
  return 0;
}

int write_file(file_handle handle, const void* src, std::size_t count, std::size_t& done) {
  done = 0;
  const char* at = static_cast<const char*>(src);
  while (done < count) {
    const std::size_t rest = count - done;
    DWORD put = 0;
    if (!::WriteFile(native(handle), at + done,
                     DWORD(rest > kMaxTransfer ? kMaxTransfer : rest), &put, nullptr))
      return windows::last_error_number();
    if (put == 0) return ERROR_WRITE_FAULT;  // no progress: never spin
    done += put;
  }
  return 0;
}

int seek_file(file_handle handle, std::int64_t distance, int origin, std::uint64_t& position) {
  const DWORD method = origin == 0 ? FILE_BEGIN : origin == 1 ? FILE_CURRENT : FILE_END;
  LONG high = LONG(distance >> 32);
  ::SetLastError(0);
  const DWORD low = ::SetFilePointer(native(handle), LONG(distance & 0xFFFFFFFF), &high, method);
  // All bits set is a valid low part; only a set error number says failure.
  if (low == INVALID_SET_FILE_POINTER && ::GetLastError() != 0)
    return windows::last_error_number();
  position = (std::uint64_t(std::uint32_t(high)) << 32) | low;
  return 0;
}

int truncate_at_position(file_handle handle) {
  return ::SetEndOfFile(native(handle)) ? 0 : windows::last_error_number();
}

int sync_file(file_handle handle) {
  return ::FlushFileBuffers(native(handle)) ? 0 : windows::last_error_number();
}

int get_file_status(file_handle handle, file_status& out) {
  out.size = 0;
  out.identity = file_identity();
  ::SetLastError(0);
  switch (::GetFileType(native(handle))) {
    case FILE_TYPE_DISK: {
      BY_HANDLE_FILE_INFORMATION info;
      if (!::GetFileInformationByHandle(native(handle), &info))
        return windows::last_error_number();
      out.kind = info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? file_kind::directory
                                                                  : file_kind::regular;
      out.size = (std::uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
      out.links = info.nNumberOfLinks;
      out.identity.volume = info.dwVolumeSerialNumber;
      out.identity.file_number = (std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
      out.identity.size = out.size;
      out.identity.modified_ns = windows::filetime_ns(info.ftLastWriteTime);
      out.identity.changed_ns = windows::change_time_ns(native(handle), info);
      return 0;
    }
    case FILE_TYPE_PIPE: out.kind = file_kind::fifo; return 0;
    case FILE_TYPE_CHAR: out.kind = file_kind::character_device; return 0;
    default:
      if (::GetLastError() != 0) return windows::last_error_number();
      out.kind = file_kind::other;
      return 0;
  }
}

int lock_file(file_handle) { return 0; }


int broken_pipe_error() { return ERROR_BROKEN_PIPE; }
int file_too_big_error() { return ERROR_FILE_TOO_LARGE; }

}  // namespace Velk::os
