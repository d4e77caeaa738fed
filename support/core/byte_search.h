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

  // Where copy_replacing writes: out[0, room), each occurrence becoming
  // with[0, with_length).
  struct copy_target {
    char* out;
    std::size_t room;
    const char* with;
    std::size_t with_length;
  };
  // How far copy_replacing got: hay[0, read) became out[0, written), with
  // `count` occurrences replaced; read is the end of the last occurrence
  // (the text after it is not copied). Why it stopped: no occurrence is
  // left, the next one would not fit in the room, or the rest is for find
  // (verifying candidates grew costly, or the processor has no block
  // filter).
  struct copy_done {
    std::size_t read = 0;
    std::size_t written = 0;
    std::size_t count = 0;
    enum reason { no_more, no_room, handed_back } why = no_more;
  };
  // One scan over hay[0, len) that copies it through the occurrences find
  // would give one after another, each replaced, so that a replace loop
  // does not search again for every match. The needle must not be empty.
  copy_done copy_replacing(const char* hay, std::size_t len, const copy_target& to) const noexcept;

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
  // Hands each candidate of hay[0, positions + count_ - 1) to visit; false
  // when the processor has no block filter (nothing was visited).
  template <class Visit>
  bool visit_candidates(const char* hay, std::size_t positions, Visit& visit) const;

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
