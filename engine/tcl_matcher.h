// CTclMatcher: the Tcl engine as an implementation of regex_matcher.h, and
// the engine of record: every pattern can run on it.
//
// The engine works on a 16-bit copy of the text (regex_engine.h), made on a
// subject's first search from the window onward and kept in the subject for
// the searches that follow, so a loop converts its text once.
//
// The engine's public interface cuts the text at the search start. "^" at a
// start > 0 is therefore decided here from the byte before it. An advanced
// expression whose match depends on the character before its start (the
// word constraints \m \M \y \Y, and \A) is searched from one character
// earlier through a variant compiled with one leading any-character atom,
// so the engine sees the real character before every candidate start.
//
// Compiled expressions belong to the thread that compiled them.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/regex_matcher.h"
#include "support/core/basic_buffer.h"

namespace Velk {

class CTclMatcher final : public TRegexMatcher {
 public:
  // Compiles pattern (escape translation already done) with the compile
  // flags. line_feed_starts_line says whether a line feed before a search
  // start makes the start a line beginning (the newline sensitivity the
  // pattern asks for). Returns null when the engine rejects the pattern,
  // or its left-context variant; reason (when given) then receives why.
  template <class T>
  static std::unique_ptr<CTclMatcher> compile(const basic_buffer<T>& pattern,
                                              std::uint32_t flags, bool line_feed_starts_line,
                                              narrow_buffer* reason = nullptr);
  ~CTclMatcher() override;
  CTclMatcher(const CTclMatcher&) = delete;
  CTclMatcher& operator=(const CTclMatcher&) = delete;

  std::uint32_t group_count() const noexcept override;
  regex_status find(match_subject& subject, std::uint32_t start, std::uint32_t exec_flags,
                    std::uint32_t wanted, MatchSpan* spans) const override;
  const char* engine_name() const noexcept override { return "tcl"; }


 private:
  CTclMatcher(regex_handle* compiled, regex_handle* with_context, bool line_feed_starts_line,
              narrow_buffer literal_prefix) noexcept;

  regex_handle* compiled_;
  regex_handle* with_context_;  // null when no left context is needed
  bool line_feed_starts_line_;
  // Bytes every match must begin with (empty when not known): a search
  // skips ahead to them with a fast scan before calling the engine.
  narrow_buffer literal_prefix_;
};

extern template std::unique_ptr<CTclMatcher> CTclMatcher::compile(const basic_buffer<char>&,
                                                                  std::uint32_t, bool,
                                                                  narrow_buffer*);
extern template std::unique_ptr<CTclMatcher> CTclMatcher::compile(
    const basic_buffer<char16_t>&, std::uint32_t, bool, narrow_buffer*);

}  // namespace Velk
