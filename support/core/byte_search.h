// Fast exact and ASCII-case-folded substring search over bytes.
//
// Both return the first occurrence, exactly as a left-to-right scan that
// compares every candidate would. They find candidates by scanning (memchr)
// for the needle byte that is rarest in typical text and logs, instead of
// its first byte, so that a needle that starts with a common letter does not
// stop at every such letter. The exact search falls back to the library's
// linear-time memmem when candidates turn out to be dense.
#pragma once

#include <cstddef>

namespace Velk {

// First occurrence of needle[0, count) in hay[0, len); null when none.
// count must not be 0.
const char* find_bytes(const char* hay, std::size_t len, const char* needle,
                       std::size_t count) noexcept;

// The same with ASCII letters folded (bytes 0x80-0xFF compare exactly).
const char* find_bytes_folded(const char* hay, std::size_t len, const char* needle,
                              std::size_t count) noexcept;

}  // namespace Velk
