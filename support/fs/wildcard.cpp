#include "support/fs/wildcard.h"

#include "support/core/ascii.h"

namespace Velk {

// Greedy scan with one backtrack point: on a mismatch after a "*", that star
// takes one more byte and the rest is tried again. Only the last star ever
// needs revisiting, so the work stays linear times the pattern length.
bool MatchWildcard(const char* pattern, std::uint32_t pattern_length,
                   const char* name, std::uint32_t name_length, bool fold_case) {
  const auto same = [fold_case](char a, char b) {
    return a == b || (fold_case && ascii::to_lower(a) == ascii::to_lower(b));
  };
  std::uint32_t p = 0, n = 0;
  bool seen_star = false;
  std::uint32_t after_star = 0;  // pattern position after the last "*"
  std::uint32_t resume = 0;      // name position that star has reached
  while (n < name_length) {
    if (p < pattern_length && pattern[p] == '*') {
      seen_star = true;
      after_star = ++p;
      resume = n;
    } else if (p < pattern_length &&
               (pattern[p] == '?' || same(pattern[p], name[n]))) {
      ++p;
      ++n;
    } else if (seen_star) {
      p = after_star;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern_length && pattern[p] == '*') ++p;
  return p == pattern_length;
}

}  // namespace Velk
