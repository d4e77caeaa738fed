// Two-way string matching (Crochemore-Perrin): a substring search that makes
// at most about two byte comparisons per haystack byte whatever the needle
// and the text, with constant extra space. The literal searches fall back to
// it when their fast candidate scan starts to do more work than that.
#pragma once

#include <cstddef>

namespace Velk {

// What a search did, for tests and measurements: the byte comparisons made
// while verifying candidates, and whether the two-way search took over.
struct search_work {
  std::size_t compared = 0;
  bool two_way = false;
};

// First occurrence of needle[0, count) in hay[0, len), bytes compared exactly
// or with ASCII letters folded; null when none. count must not be 0. When
// work is given, the comparisons are added to it.
const char* two_way_find(const char* hay, std::size_t len, const char* needle,
                         std::size_t count, bool folded,
                         search_work* work = nullptr) noexcept;

}  // namespace Velk
