// The find methods and the match record of the find-and-replace engine.
//
// FindMethod is the kind of find the driver chose. A match is a SpanList:
// entry 0 is the whole match, entry k (1..9) the k-th parenthesised
// sub-expression; a sub-expression that took no part has length 0. Offsets
// and lengths count bytes from the beginning of the subject.
//
// Matcher is a counted handle to one compiled expression and the compile
// flags it was built with; copies share it and the last one frees the
// engine's compiled form. An empty Matcher (empty pattern, or a pattern the
// engine rejected) finds nothing. A Matcher is used on the thread that
// compiled it.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/regex_engine.h"
#include "support/core/shared_ref.h"

namespace Velk {

enum class FindMethod { None = 0, Literal = 1, LiteralNoCase = 2, Regex = 3 };

struct MatchSpan {
  std::uint32_t start;
  std::uint32_t length;
};

// Owned by the loop that searches; cleared by every search and reused, so
// its storage is allocated once per loop, not once per match.
using SpanList = std::vector<MatchSpan>;

// The compiled-expression record behind a Matcher.
struct MATCHER_RECORD {
  MATCHER_RECORD(regex_handle* compiled_expression, std::uint32_t compile_flags)
      : compiled(compiled_expression), flags(compile_flags) {}
  ~MATCHER_RECORD() { free_regex(compiled); }
  MATCHER_RECORD(const MATCHER_RECORD&) = delete;
  MATCHER_RECORD& operator=(const MATCHER_RECORD&) = delete;

  regex_handle* compiled;
  std::uint32_t flags;
  // Bytes every match must begin with (empty when that is not known): the
  // loops skip ahead to them with a fast scan before calling the engine.
  narrow_buffer literal_prefix;
};

class Matcher {
 public:
  Matcher() = default;
  explicit Matcher(shared_ref<MATCHER_RECORD> record) : record_(std::move(record)) {}

  bool empty() const { return !record_; }
  // The compile flags (REGEX_* bits); 0 for an empty Matcher.
  std::uint32_t flags() const { return record_ ? record_->flags : 0; }
  bool newline_sensitive() const { return (flags() & REGEX_NEWLINE) != 0; }
  const regex_handle* compiled() const { return record_ ? record_->compiled : nullptr; }
  const narrow_buffer& literal_prefix() const {
    static const narrow_buffer none;
    return record_ ? record_->literal_prefix : none;
  }
  // Number of parenthesised sub-expressions; 0 for an empty Matcher.
  std::uint32_t group_count() const {
    return record_ ? regex_group_count(record_->compiled) : 0;
  }

 private:
  shared_ref<MATCHER_RECORD> record_;
};

}  // namespace Velk
