// The PCRE2 implementation of a regular-expression search, used for the
// extended expressions that translate_for_pcre2 (pcre2_pattern.h) shows to
// give exactly the Tcl engine's matches and groups. PCRE2 runs in 8-bit mode
// without UTF, with its JIT: one byte is one character, NUL and 0x80-0xFF
// are ordinary bytes.
//
// Newline-sensitive expressions (both REGEX_NEWLINE bits) let "^" match at
// the start and after every line feed, also a final one, and "$" before
// every line feed and at the end; otherwise "^" matches only at the start of
// the text and "$" only at its very end. The dot and negated brackets need
// no PCRE2 option: every atom is an explicit byte set.
//
// A compiled object is immutable; find may run on several threads at once.
// Each thread keeps one set of match data and JIT stack for all objects, so
// a search allocates nothing after the thread's first. The only file that
// includes pcre2.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/match_span.h"
#include "engine/regex_engine.h"
#include "support/core/basic_buffer.h"

struct pcre2_real_code_8;

namespace Velk {

class pcre2_matcher {
 public:
  // pattern as compile_regex receives it for the Tcl engine, regex_flags its
  // REGEX_* compile flags. Null when the pattern is not provably equivalent
  // on PCRE2 or PCRE2 cannot compile or JIT-compile it; the caller then uses
  // the Tcl engine. Throws only std::bad_alloc.
  static std::unique_ptr<pcre2_matcher> try_compile(const narrow_buffer& pattern,
                                                    std::uint32_t regex_flags);
  ~pcre2_matcher();
  pcre2_matcher(const pcre2_matcher&) = delete;
  pcre2_matcher& operator=(const pcre2_matcher&) = delete;

  std::uint32_t group_count() const noexcept { return groups_; }

  // Searches text[start .. length) for the leftmost-longest match, with
  // text[0 .. start) as context (only the byte before start is read, for
  // "^"); notbol says that position 0 of text is not a line beginning.
  // Fills spans[0 .. min(wanted, group_count() + 1, REGEX_MAX_RANGES)) with
  // absolute byte offsets and touches no other entry; a group that took no
  // part is { start, 0 }, as the Tcl path reports it. Any PCRE2 failure, a JIT stack or match limit included,
  // is regex_status::error, so that the caller can search with Tcl instead.
  regex_status find(const char* text, std::size_t length, std::size_t start, bool notbol,
                    std::uint32_t wanted, MatchSpan* spans) const;

 private:
  pcre2_matcher(pcre2_real_code_8* code, std::uint32_t groups) : code_(code), groups_(groups) {}

  pcre2_real_code_8* code_;
  std::uint32_t groups_;
};

// Frees the calling thread's match data and JIT stack where they are not
// freed with the thread (Windows); part of release_regex_thread_state.
void release_pcre2_thread_state() noexcept;

}  // namespace Velk
