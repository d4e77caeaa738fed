// find_next: one search of the regular-expression finds. Searches the
// subject from start to its end and fills spans with the match and up to
// nine sub-expressions (byte offsets from the beginning of the subject).
//
// With derive_bol the text before start is the search's context: "^" may
// match at start > 0 only when the expression is newline-sensitive and the
// byte before start is a line feed, and notbol applies to offset 0 alone.
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

// max_spans limits the entries reported (at least 1).
bool find_next(const narrow_buffer& subject, SpanList& spans, const Matcher& matcher,
               std::uint32_t skip, std::uint32_t start, bool notbol, bool noteol,
               bool derive_bol, std::uint32_t max_spans = REGEX_MAX_RANGES);

// The same over any implementation and a text of bytes (T = char) or of
// 16-bit units (T = char16_t, the cached matcher's wide form).
template <class T>
bool find_next_in(const TRegexMatcher& engine, const T* text, std::uint32_t length,
                  SpanList& spans, std::uint32_t skip, std::uint32_t start, bool notbol,
                  bool noteol, bool derive_bol, std::uint32_t max_spans = REGEX_MAX_RANGES);

extern template bool find_next_in(const TRegexMatcher&, const char*, std::uint32_t, SpanList&,
                                  std::uint32_t, std::uint32_t, bool, bool, bool,
                                  std::uint32_t);
extern template bool find_next_in(const TRegexMatcher&, const char16_t*, std::uint32_t,
                                  SpanList&, std::uint32_t, std::uint32_t, bool, bool, bool,
                                  std::uint32_t);

}  // namespace Velk
