// Windows path rules: the backslash separates and the forward slash is
// accepted, a colon ends a drive prefix, GetFullPathNameA makes paths full
// and FindFirstFileA matches wildcards.
#include "support/os/path_rules.h"

#include "support/os/windows/windows.h"

namespace Velk::os {

const char path_separator[] = "\\";
const char slash_set[] = "\\/";
const char path_delimiters[] = "\\/:";

bool is_absolute_path(const char* path, std::size_t length) {
  return (length > 0 && (path[0] == '\\' || path[0] == '/')) || (length > 1 && path[1] == ':');
}

int full_path(const char* path, std::string& out) {
  const DWORD size = ::GetFullPathNameA(path, 0, nullptr, nullptr);
  if (size == 0) return windows::last_error_number();
  std::string buffer(size + 1, '\0');
  const DWORD length = ::GetFullPathNameA(path, size + 1, &buffer[0], nullptr);
  if (length == 0) return windows::last_error_number();
  buffer.resize(length);
  out = buffer;
  return 0;
}

bool system_matches_wildcards() { return true; }

}  // namespace Velk::os
