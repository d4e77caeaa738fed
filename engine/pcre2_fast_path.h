// CPcre2FastPath: the PCRE2 implementation (pcre2_matcher.h) as a
// TRegexMatcher, standing in front of the Tcl implementation of the same
// pattern. compile_matcher builds one only for the extended finds that
// pcre2_matcher accepts, whose matches and groups provably equal Tcl's.
//
// Every search the fast path cannot make exactly is made by the Tcl
// implementation instead, so the choice never changes a result: the wide
// form, a search with REGEX_NOTEOL (never set by the loops), and any PCRE2
// failure at run time (JIT stack or match limit), which PCRE2 reports before
// anything is written to the spans.
#pragma once

#include <memory>

#include "engine/pcre2_matcher.h"
#include "engine/regex_matcher.h"
#include "engine/tcl_matcher.h"

namespace Velk {

class CPcre2FastPath final : public TRegexMatcher {
 public:
  CPcre2FastPath(std::unique_ptr<pcre2_matcher> fast, std::unique_ptr<TRegexMatcher> tcl) noexcept
      : fast_(std::move(fast)), tcl_(std::move(tcl)) {}

  std::uint32_t group_count() const noexcept override { return tcl_->group_count(); }
  regex_status find(match_subject& subject, std::uint32_t start, std::uint32_t exec_flags,
                    std::uint32_t wanted, MatchSpan* spans) const override;
  const char* engine_name() const noexcept override { return "pcre2"; }

 private:
  std::unique_ptr<pcre2_matcher> fast_;
  std::unique_ptr<TRegexMatcher> tcl_;
};

}  // namespace Velk
