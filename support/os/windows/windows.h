// Private to the Windows units: the system header with the rarely used
// parts left out, and the helpers every unit shares.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>

namespace Velk::os::windows {

// GetLastError as the library's error number.
inline int last_error_number() { return static_cast<int>(::GetLastError()); }

// Stores error_number as the thread's last error and reports failure.
inline bool fail(int error_number) {
  ::SetLastError(static_cast<DWORD>(error_number));
  return false;
}

// A FILETIME (100 ns steps) in nanoseconds.
inline std::int64_t filetime_ns(const FILETIME& time) {
  return std::int64_t((std::uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime) * 100;
}

// The last change of the contents or the attributes of an open file, where
// the file system keeps it (NTFS does, FAT does not: then the last write).
inline std::int64_t change_time_ns(HANDLE file, const BY_HANDLE_FILE_INFORMATION& info) {
  FILE_BASIC_INFO basic;
  if (::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) &&
      basic.ChangeTime.QuadPart != 0)
    return std::int64_t(basic.ChangeTime.QuadPart) * 100;
  return filetime_ns(info.ftLastWriteTime);
}

}  // namespace Velk::os::windows
