// Windows path rules: the backslash separates and the forward slash is
// accepted, a colon ends a drive prefix, GetFullPathNameA makes paths full
// and names ignore the case of ASCII letters.
#include "support/os/path_rules.h"

#include <cstring>

#include "support/os/windows/windows.h"

namespace Velk::os {

const char path_separator[] = "\\";
const char slash_set[] = "\\/";
const char path_delimiters[] = "\\/:";

bool is_absolute_path(const char* path, std::size_t length) {
  return (length > 0 && (path[0] == '\\' || path[0] == '/')) || (length > 1 && path[1] == ':');
}

int full_path(const char* path, const char* base, std::string& out) {
  std::string joined;
  if (base && !is_absolute_path(path, std::strlen(path))) {
    joined = base;
    if (!joined.empty() && joined.back() != '\\' && joined.back() != '/') joined += '\\';
    joined += path;
    path = joined.c_str();
  }
  const DWORD size = ::GetFullPathNameA(path, 0, nullptr, nullptr);
  if (size == 0) return windows::last_error_number();
  std::string buffer(size + 1, '\0');
  const DWORD length = ::GetFullPathNameA(path, size + 1, &buffer[0], nullptr);
  if (length == 0) return windows::last_error_number();
  buffer.resize(length);
  out = buffer;
  return 0;
}

bool names_ignore_case() { return true; }

}  // namespace Velk::os
