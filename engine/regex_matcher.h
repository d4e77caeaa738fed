// TRegexMatcher: one compiled regular expression behind a Matcher, the
// interface every engine implements. The loops, find_next and the cached
// matcher are written once on top of it (match_walker.h); the Tcl binding
// (tcl_matcher.h) is the engine of record, and a faster engine may stand in
// front of it only for patterns on which it provably agrees.
//
// find() is the one operation: the leftmost match that begins at or after
// start. The implementation sees the whole subject, so the context before
// start is its own to read: "^" may match at start > 0 exactly when the
// expression is newline-sensitive and the byte before start is a line
// feed, whatever the caller did to the text since; at offset 0 the
// REGEX_NOTBOL execution flag decides. REGEX_NOTEOL says the end of the text
// is not a line end.
//
// spans receive min(wanted, group_count() + 1) entries (wanted is 1 ..
// REGEX_MAX_RANGES), as absolute offsets; a group that took no part is
// { start, 0 }. Other entries are not touched. regex_status::error means no
// result at all (an engine failure), never a partial one.
//
// Compiled once, searched from the thread that compiled it (an
// implementation may allow more). Throws only std::bad_alloc.
#pragma once

#include <cstdint>

#include "engine/match_span.h"
#include "engine/match_subject.h"
#include "engine/regex_engine.h"

namespace Velk {

class TRegexMatcher {
 public:
  virtual ~TRegexMatcher() = default;

  virtual std::uint32_t group_count() const noexcept = 0;
  virtual regex_status find(match_subject& subject, std::uint32_t start,
                            std::uint32_t exec_flags, std::uint32_t wanted,
                            MatchSpan* spans) const = 0;
  // The engine that runs the searches ("tcl", "pcre2"), for tests and
  // diagnostics.
  virtual const char* engine_name() const noexcept = 0;
};

}  // namespace Velk
