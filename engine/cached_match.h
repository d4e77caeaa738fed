// cached_match: a one-call regular-expression search that compiles its
// pattern itself and keeps the compiled expression in a per-thread cache,
// so a thread that searches again and again with the same pattern compiles
// it once. The find-and-replace path does not use it (it compiles one
// Matcher per run); it is the library's convenience entry.
//
// Two forms: narrow (bytes, one byte per character, as the engine binding
// maps them) and wide (16-bit units passed to the engine as they are). Each
// form keeps one record per thread: the last pattern (before escape
// translation), its compile flags, the translate flag and the compiled
// expression. A call with another pattern, flags or translate flag
// recompiles in place.
//
// Lifetime: a thread's record lives until release_cached_match<T>() (the
// call with an empty pattern). Threads of TThread release both forms when
// they end (thread-exit hooks); any other thread that used cached_match
// releases them itself before ending.
//
// Errors: a pattern the engine rejects gives false (the next call compiles
// again); nothing is printed. A failure of the thread-local slot throws
// tlsExp; otherwise only std::bad_alloc.
#pragma once

#include <cstdint>

#include "engine/compile_matcher.h"
#include "engine/find_method.h"
#include "engine/find_next.h"
#include "support/core/basic_buffer.h"

namespace Velk {

// Searches subject from start as find_next does with the search options
// (spans receive the match and up to nine sub-expressions), with pattern
// compiled by the compile options: Perl-style class escapes are rewritten
// first when translate_escapes is set, except in a pattern that begins with
// "***". An empty pattern releases the calling thread's record of this form
// and returns false. A start at or beyond the end of the subject returns
// false without touching the cache.
bool cached_match(const narrow_buffer& subject, SpanList& spans, std::uint32_t start,
                  const narrow_buffer& pattern, const COMPILE_OPTIONS& compile,
                  const SEARCH_OPTIONS& search = {});
bool cached_match(const wide_buffer& subject, SpanList& spans, std::uint32_t start,
                  const wide_buffer& pattern, const COMPILE_OPTIONS& compile,
                  const SEARCH_OPTIONS& search = {});

// Releases the calling thread's record of one form: T is char (narrow) or
// char16_t (wide).
template <class T>
void release_cached_match();

// Diagnostics for tests: how many compilations cached_match has made and
// how many records exist, over all threads of the process and both forms.
std::uint64_t cached_match_compilations() noexcept;
std::int64_t cached_match_live_records() noexcept;

}  // namespace Velk
