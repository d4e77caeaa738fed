// The find methods and the compiled expression of the find-and-replace
// engine.
//
// FindMethod is the kind of find the driver chose. A match is a SpanList
// (match_span.h).
//
// Matcher is a counted handle to one compiled expression (an implementation
// of regex_matcher.h) and the compile flags it was built with; copies share
// it and the last one releases it. An empty Matcher (empty pattern, or a
// pattern the engine rejected) finds nothing. A Matcher is searched from the
// thread that compiled it.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/match_span.h"
#include "engine/regex_engine.h"
#include "engine/regex_matcher.h"
#include "support/core/shared_ref.h"

namespace Velk {

enum class FindMethod { None = 0, Literal = 1, LiteralNoCase = 2, Regex = 3 };

// The compiled-expression record behind a Matcher.
struct MATCHER_RECORD {
  MATCHER_RECORD(std::unique_ptr<TRegexMatcher> compiled, std::uint32_t compile_flags,
                 bool within_lines = false)
      : engine(std::move(compiled)), flags(compile_flags), line_bounded(within_lines) {}

  std::unique_ptr<TRegexMatcher> engine;
  std::uint32_t flags;
  bool line_bounded;  // no match can contain a line feed (proven at compile time)
};

class Matcher {
 public:
  Matcher() = default;
  explicit Matcher(shared_ref<MATCHER_RECORD> record) : record_(std::move(record)) {}

  bool empty() const { return !record_; }
  // The compile flags (REGEX_* bits); 0 for an empty Matcher.
  std::uint32_t flags() const { return record_ ? record_->flags : 0; }
  bool newline_sensitive() const { return (flags() & REGEX_NEWLINE) != 0; }
  // Proven at compile time: no match can contain a line feed, and "^" and
  // "$" stand only at the pattern's ends, so the text may be searched in
  // blocks of whole lines (stream_replacer.h).
  bool line_bounded() const { return record_ && record_->line_bounded; }
  // The compiled expression; null for an empty Matcher.
  const TRegexMatcher* engine() const { return record_ ? record_->engine.get() : nullptr; }
  // Number of parenthesised sub-expressions; 0 for an empty Matcher.
  std::uint32_t group_count() const { return record_ ? record_->engine->group_count() : 0; }

 private:
  shared_ref<MATCHER_RECORD> record_;
};

}  // namespace Velk
