// find_next: one search of the regular-expression finds. Searches the
// subject from start to its end and fills spans with the match and up to
// nine sub-expressions (byte offsets from the beginning of the subject).
//
// The options of a search (SEARCH_OPTIONS): with derive_bol the text
// before start is the search's context: "^" may match at start > 0 only
// when the expression is newline-sensitive and the byte before start is a
// line feed, and notbol applies to offset 0 alone.
// Without it the text is searched as if it began at start, and notbol says
// whether start is a line beginning. noteol says the end is not a line end.
// skip steps over that many further matches first, counting distinct
// matches as the replace loops meet them (match_walker.h).
//
// Returns false (spans not to be read) for an empty Matcher, a start at or
// beyond the end, no match or an engine error. Never throws, except
// std::bad_alloc.
#pragma once

#include <cstdint>

#include "engine/find_method.h"
#include "engine/regex_engine.h"
#include "support/core/basic_buffer.h"

namespace Velk {

// The defaults: the first match, the subject's start a line beginning and
// its end a line end, the text before start cut off, every span.
struct SEARCH_OPTIONS {
  std::uint32_t skip = 0;  // further matches to step over first
  bool notbol = false;
  bool noteol = false;
  bool derive_bol = false;
  std::uint32_t max_spans = REGEX_MAX_RANGES;  // entries reported (at least 1)
};

bool find_next(const narrow_buffer& subject, SpanList& spans, const Matcher& matcher,
               std::uint32_t start, const SEARCH_OPTIONS& options = {});

// The same over any implementation and a text of bytes (T = char) or of
// 16-bit units (T = char16_t, the cached matcher's wide form).
template <class T>
bool find_next_in(const TRegexMatcher& engine, const T* text, std::uint32_t length, SpanList& spans,
                  std::uint32_t start, const SEARCH_OPTIONS& options = {});

extern template bool find_next_in(const TRegexMatcher&, const char*, std::uint32_t, SpanList&,
                                  std::uint32_t, const SEARCH_OPTIONS&);
extern template bool find_next_in(const TRegexMatcher&, const char16_t*, std::uint32_t, SpanList&,
                                  std::uint32_t, const SEARCH_OPTIONS&);

}  // namespace Velk
