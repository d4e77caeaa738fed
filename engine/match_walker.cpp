#include "engine/match_walker.h"

#include <algorithm>

namespace Velk {

match_walker::match_walker(const TRegexMatcher& engine, match_subject& subject,
                           std::uint32_t start, std::uint32_t exec_flags,
                           std::uint32_t wanted) noexcept
    : engine_(engine),
      subject_(subject),
      next_(start),
      exec_flags_(exec_flags),
      wanted_(std::max<std::uint32_t>(
          1, std::min({wanted, engine.group_count() + 1, REGEX_MAX_RANGES}))) {}

bool match_walker::next(SpanList& spans) {
  const std::uint32_t length = subject_.length();
  if (next_ >= length) return false;
  spans.resize(wanted_);
  if (engine_.find(subject_, next_, exec_flags_, wanted_, spans.data()) != regex_status::match) {
    next_ = length;
    return false;
  }
  const MatchSpan match = spans[0];
  next_ = match.start + match.length + (match.length == 0 ? 1 : 0);
  return true;
}

}  // namespace Velk
