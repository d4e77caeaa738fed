// find_next: the one search of the regular-expression finds. Searches the
// subject from start to its end and fills spans with the match and up to
// nine sub-expressions (byte offsets from the beginning of the subject).
//
// notbol/noteol say that start is not a line beginning / the end is not a
// line end. With derive_bol the not-at-line-beginning flag is decided from
// the byte before start instead (a line feed counts only for a
// newline-sensitive expression). skip steps over that many further matches
// first; after an empty match the next search begins one byte on.
//
// Returns false (spans not to be read) for an empty Matcher, a start at or
// beyond the end, no match or an engine error. Never throws, except
// std::bad_alloc from the span list.
#pragma once

#include <cstdint>

#include "engine/find_method.h"
#include "engine/regex_engine.h"
#include "support/core/basic_buffer.h"

namespace Velk {

bool find_next(const narrow_buffer& subject, SpanList& spans, const Matcher& matcher,
               std::uint32_t skip, std::uint32_t start, bool notbol, bool noteol,
               bool derive_bol);

// The same over a subject already converted for the engine (kept by a loop
// for the whole text). max_spans limits the entries reported (at least 1).
bool find_next(regex_subject& subject, SpanList& spans, const Matcher& matcher,
               std::uint32_t skip, std::uint32_t start, bool notbol, bool noteol,
               bool derive_bol, std::uint32_t max_spans = REGEX_MAX_RANGES);

// The core, for any compiled expression; newline_sensitive decides whether
// a line feed before start makes start a line beginning.
bool find_next_compiled(const regex_handle* compiled, bool newline_sensitive,
                        regex_subject& subject, SpanList& spans, std::uint32_t skip,
                        std::uint32_t start, bool notbol, bool noteol, bool derive_bol,
                        std::uint32_t max_spans = REGEX_MAX_RANGES);

}  // namespace Velk
