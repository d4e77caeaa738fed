// Wildcard matching of one file-name component: "*" matches any run of
// bytes (also an empty one), "?" exactly one byte, every other byte only
// itself (brackets and backslashes included). Case-sensitive, like the file
// systems it serves. Pure function, no allocation.
#pragma once

#include <cstdint>

#include "support/core/basic_buffer.h"

namespace Velk {

bool MatchWildcard(const char* pattern, std::uint32_t pattern_length,
                   const char* name, std::uint32_t name_length);

inline bool MatchWildcard(const narrow_buffer& pattern, const char* name,
                          std::uint32_t name_length) {
  return MatchWildcard(pattern.c_str(), pattern.length(), name, name_length);
}

}  // namespace Velk
