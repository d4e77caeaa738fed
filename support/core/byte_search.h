// Fast exact and ASCII-case-folded substring search over bytes.
//
// Both return the first occurrence, exactly as a left-to-right scan that
// compares every candidate would. They find candidates by scanning (memchr)
// for the needle byte that is rarest in typical text and logs, instead of
// its first byte, so that a needle that starts with a common letter does not
// stop at every such letter. When verifying candidates grows costly (a
// periodic needle over text that repeats it, say), both hand the rest of the
// text to the two-way search, so the worst case stays linear in the text.
#pragma once

#include <cstddef>

#include "support/core/two_way_search.h"

namespace Velk {

// First occurrence of needle[0, count) in hay[0, len); null when none.
// count must not be 0. When work is given, the comparisons made are added
// to it.
const char* find_bytes(const char* hay, std::size_t len, const char* needle,
                       std::size_t count, search_work* work = nullptr) noexcept;

// The same with ASCII letters folded (bytes 0x80-0xFF compare exactly).
const char* find_bytes_folded(const char* hay, std::size_t len, const char* needle,
                              std::size_t count, search_work* work = nullptr) noexcept;

}  // namespace Velk
