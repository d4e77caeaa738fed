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

namespace Velk::os::windows {

// GetLastError as the library's error number.
inline int last_error_number() { return static_cast<int>(::GetLastError()); }

// Stores error_number as the thread's last error and reports failure.
inline bool fail(int error_number) {
  ::SetLastError(static_cast<DWORD>(error_number));
  return false;
}

}  // namespace Velk::os::windows
