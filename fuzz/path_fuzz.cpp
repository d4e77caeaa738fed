// Fuzzes the path operations of the folder layer on one path. Checks the
// relations they promise: NormalizePath is idempotent and keeps no run of
// "/" at the end except the root; the folder part ends with "/"; the name
// holds no "/" and ends the path; a full path starts at the root and holds
// no "." or ".." component; an empty path throws.
#include <cstdint>
#include <string_view>

#include "support/core/exceptions.h"
#include "support/fs/dir.h"

namespace {

using Velk::narrow_buffer;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

bool Contains(const narrow_buffer& text, std::string_view part) {
  return std::string_view(text.c_str(), text.length()).find(part) != std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const narrow_buffer path(reinterpret_cast<const char*>(data), std::uint32_t(size));
  if (path.empty()) {
    narrow_buffer empty;
    try {
      Velk::CDir::GetPathDir(empty);
      __builtin_trap();
    } catch (const Velk::byExp&) {
    }
    return 0;
  }

  const narrow_buffer normal = Velk::CDir::NormalizePath(path);
  Check(Velk::CDir::NormalizePath(normal) == normal);
  if (normal.length() > 1) Check(normal[normal.length() - 1] != '/' ||
                                 normal[normal.length() - 2] != '/');
  const narrow_buffer with_separator = Velk::CDir::AppendSeparator(path);
  if (!with_separator.empty()) Check(with_separator[with_separator.length() - 1] == '/');

  narrow_buffer dir = path;
  Velk::CDir::GetPathDir(dir);
  Check(!dir.empty() && dir[dir.length() - 1] == '/');
  narrow_buffer name = path;
  Velk::CDir::GetPathFilename(name);
  Check(!Contains(name, "/"));
  Check(name.length() <= path.length() &&
        path.compare(path.length() - name.length(), name.length(), name.c_str(),
                     name.length()) == 0);

  if (!Contains(path, std::string_view("", 1))) {
    narrow_buffer full = path;
    try {
      Velk::CDir::ConvToFullPath(full);
    } catch (const Velk::byExp&) {
      return 0;  // an empty path, or no current directory
    }
    Check(!full.empty() && full[0] == '/');
    Check(!Contains(full, "/./"));
    Check(!Contains(full, "/../"));
  }
  return 0;
}
