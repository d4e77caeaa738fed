// Wildcard matching of one file-name component: "*" matches any run of
// bytes (also an empty one), "?" exactly one byte, every other byte only
// itself (brackets and backslashes included). Case-sensitive unless
// fold_case, which ignores the case of ASCII letters as Windows names do.
// Pure functions, no allocation.
#pragma once

#include <cstdint>

#include "support/core/basic_buffer.h"

namespace Velk {

bool MatchWildcard(const char* pattern, std::uint32_t pattern_length,
                   const char* name, std::uint32_t name_length, bool fold_case = false);

// True when pattern holds "*" or "?", so that it names files by matching.
inline bool HasWildcard(const narrow_buffer& pattern) {
  return pattern.find_first_of(narrow_buffer::literal("*?")) != narrow_buffer::npos;
}

inline bool MatchWildcard(const narrow_buffer& pattern, const char* name,
                          std::uint32_t name_length, bool fold_case = false) {
  return MatchWildcard(pattern.c_str(), pattern.length(), name, name_length, fold_case);
}

}  // namespace Velk
