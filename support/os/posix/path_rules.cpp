// POSIX path rules: "/" only, full paths by text.
#include "support/os/path_rules.h"

#include <vector>

#include "support/os/dir.h"

namespace Velk::os {

const char path_separator[] = "/";
const char slash_set[] = "/";
const char path_delimiters[] = "/";

bool is_absolute_path(const char* path, std::size_t length) {
  return length > 0 && path[0] == '/';
}

// Joins a relative path to the base folder and resolves "." and ".."
// by text, the way the Windows call does: links are not followed, ".." at
// the root stays at the root, doubled separators collapse, a trailing
// separator is kept.
int full_path(const char* path, const char* base, std::string& out) {
  std::string joined;
  if (path[0] != '/') {
    if (base)
      joined = base;
    else if (const int error = current_dir(joined))
      return error;
    joined += '/';
  }
  joined += path;
  const bool trailing = !joined.empty() && joined.back() == '/';

  out.clear();
  out.reserve(joined.size() + 2);
  std::vector<std::size_t> starts;  // where each component's "/" is
  const std::size_t length = joined.size();
  for (std::size_t at = 0; at < length;) {
    std::size_t end = at;
    while (end < length && joined[end] != '/') ++end;
    const std::size_t count = end - at;
    if (count == 2 && joined[at] == '.' && joined[at + 1] == '.') {
      if (!starts.empty()) {
        out.erase(starts.back());
        starts.pop_back();
      }
    } else if (count != 0 && !(count == 1 && joined[at] == '.')) {
      starts.push_back(out.size());
      out += '/';
      out.append(joined, at, count);
    }
    at = end + 1;
  }
  if (out.empty() || trailing) out += '/';
  return 0;
}

bool names_ignore_case() { return false; }

}  // namespace Velk::os
