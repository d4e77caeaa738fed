// The match record of the regular-expression finds: a SpanList holds the
// whole match in entry 0 and the k-th parenthesised sub-expression in entry
// k (1..9); a sub-expression that took no part has length 0. Offsets and
// lengths count bytes from the beginning of the subject.
#pragma once

#include <cstdint>
#include <vector>

namespace Velk {

struct MatchSpan {
  std::uint32_t start;
  std::uint32_t length;
};

// Owned by the loop that searches and reused for every match, so its
// storage is allocated once per loop, not once per match.
using SpanList = std::vector<MatchSpan>;

}  // namespace Velk
