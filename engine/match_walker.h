// match_walker: the matches of one compiled expression in one subject,
// left to right and without overlap, from a start offset on. This is the
// one place of the rule for empty matches: after an empty match the next
// search begins one byte on (else it would find the same empty match
// again), and no search begins at the end of the text, so an empty match
// there is reported only by a search that began before it.
//
// exec_flags (REGEX_NOTBOL, REGEX_NOTEOL) describe the text's own start and
// end; whether "^" may match where a later search begins is judged from the
// text before it (regex_matcher.h), never from what a loop wrote.
#pragma once

#include <cstdint>

#include "engine/match_span.h"
#include "engine/match_subject.h"
#include "engine/regex_matcher.h"

namespace Velk {

class match_walker {
 public:
  // wanted: the span entries the caller reads (at least the whole match).
  match_walker(const TRegexMatcher& engine, match_subject& subject, std::uint32_t start,
               std::uint32_t exec_flags, std::uint32_t wanted) noexcept;

  // Finds the next match and fills spans; false when there is none (or the
  // engine failed: that reads as no match), and spans are then not to be
  // read.
  bool next(SpanList& spans);

 private:
  const TRegexMatcher& engine_;
  match_subject& subject_;
  std::uint32_t next_;  // where the next search begins
  std::uint32_t exec_flags_;
  std::uint32_t wanted_;
};

}  // namespace Velk
