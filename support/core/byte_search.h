// Fast exact and ASCII-case-folded substring search over bytes.
//
// Every search returns the first occurrence, exactly as a left-to-right scan
// that compares every candidate would. Candidates are found by a filter on
// two of the needle's bytes, the two rarest in typical text and logs (not
// the first, so that a needle starting with a common letter does not stop at
// every such letter): on x86 AVX2 (where the processor has it) or SSE2
// compares both at 32 or 16 candidate positions at once; elsewhere memchr
// scans for the rarest. When verifying candidates grows costly (a periodic
// needle over text that repeats it, say), the rest of the text goes to the
// two-way search, so the worst case stays linear.
// No search reads a byte outside hay[0, len).
#pragma once

#include <cstddef>

#include "support/core/two_way_search.h"

namespace Velk {

// A search for one needle, prepared once and used for any number of texts
// (the replace loops search the same needle once per match). It keeps a
// pointer to the needle, which must outlive it.
class byte_finder {
 public:
  // needle[0, count) (an empty needle is found at the text's start); folded: ASCII letters match either case
  // (bytes 0x80-0xFF compare exactly).
  byte_finder(const char* needle, std::size_t count, bool folded) noexcept;

  // First occurrence in hay[0, len); null when none. When work is given, the
  // comparisons made are added to it.
  const char* find(const char* hay, std::size_t len, search_work* work = nullptr) const noexcept;

 private:
  // The filter byte at offset `at`: a candidate's byte b passes when
  // (b | fold) == value; fold is 0x20 for a letter of a folded search.
  struct filter_byte {
    std::size_t at = 0;
    unsigned char value = 0;
    unsigned char fold = 0;
    bool passes(const char* candidate) const {
      return (static_cast<unsigned char>(candidate[at]) | fold) == value;
    }
  };
  const char* scan_with_memchr(const char* hay, std::size_t len, search_work* work) const;

  const char* needle_;
  std::size_t count_;
  bool folded_;
  filter_byte rare_;    // the rarest byte
  filter_byte second_;  // the next rarest of another value (or offset)
  // rare_.value, rare_.fold, second_.value, second_.fold, each repeated
  // for the block filter's compares.
  alignas(16) unsigned char lanes_[4][16] = {};
};

// First occurrence of needle[0, count) in hay[0, len); null when none.
// count must not be 0. When work is given, the comparisons made are added
// to it.
const char* find_bytes(const char* hay, std::size_t len, const char* needle,
                       std::size_t count, search_work* work = nullptr) noexcept;

// The same with ASCII letters folded (bytes 0x80-0xFF compare exactly).
const char* find_bytes_folded(const char* hay, std::size_t len, const char* needle,
                              std::size_t count, search_work* work = nullptr) noexcept;

}  // namespace Velk
