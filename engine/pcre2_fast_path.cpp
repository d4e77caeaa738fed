#include "engine/pcre2_fast_path.h"

#include <algorithm>

namespace Velk {

regex_status CPcre2FastPath::find(match_subject& subject, std::uint32_t start,
                                  std::uint32_t exec_flags, std::uint32_t wanted,
                                  MatchSpan* spans) const {
  if (subject.wide() || start < subject.window_start())
    return tcl_->find(subject, start, exec_flags, wanted, spans);
  // PCRE2 reads the byte before start, and nothing before it: the text it
  // gets begins there (or at offset 0), so that position 0 of its text is a
  // line beginning only when it is the subject's own start.
  const std::uint32_t window_start = subject.window_start();
  const std::uint32_t base = window_start ? window_start - 1 : 0;
  const char* text = subject.window() - (window_start - base);
  const bool notbol = base != 0 || (exec_flags & REGEX_NOTBOL);
  const regex_status status =
      fast_->find(text, subject.length() - base, start - base, notbol, wanted, spans,
                  (exec_flags & REGEX_NOTEOL) != 0);
  if (status == regex_status::error) return tcl_->find(subject, start, exec_flags, wanted, spans);
  if (status == regex_status::match && base != 0) {
    // Only the entries the matcher filled (as many as it reports at most):
    // the others belong to the caller.
    const std::uint32_t filled =
        std::min({wanted, fast_->group_count() + 1, REGEX_MAX_RANGES});
    for (std::uint32_t k = 0; k < filled; ++k) spans[k].start += base;
  }
  return status;
}

}  // namespace Velk
