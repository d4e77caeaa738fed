#include "engine/find_next.h"

#include <algorithm>

namespace Velk {

bool find_next_compiled(const regex_handle* compiled, bool newline_sensitive,
                        regex_subject& subject, SpanList& spans, std::uint32_t skip,
                        std::uint32_t start, bool notbol, bool noteol, bool derive_bol,
                        std::uint32_t max_spans) {
  spans.clear();
  const std::uint32_t length = subject.length();
  if (!compiled || start >= length) return false;
  std::uint32_t flags = (notbol ? REGEX_NOTBOL : 0) | (noteol ? REGEX_NOTEOL : 0) | REGEX_STARTEND;
  const std::uint32_t wanted =
      std::max<std::uint32_t>(1, std::min({max_spans, regex_group_count(compiled) + 1,
                                           REGEX_MAX_RANGES}));
  REGEX_RANGE ranges[REGEX_MAX_RANGES];
  std::uint32_t previous_end = 0;
  for (std::uint32_t pass = 0; pass <= skip; ++pass) {
    if (pass > 0) {
      start += previous_end;
      if (previous_end == 0) {  // an empty match at the pass's start: step over one byte
        ++start;
        if (start >= length) return false;
      }
    }
    if (start > 0 && (derive_bol || pass > 0)) {
      if (newline_sensitive && subject.unit(start - 1) == u'\n')
        flags &= ~REGEX_NOTBOL;
      else
        flags |= REGEX_NOTBOL;
    }
    if (exec_regex(compiled, subject, start, flags, wanted, ranges) != regex_status::match)
      return false;
    previous_end = std::uint32_t(ranges[0].end);
  }
  for (std::uint32_t k = 0; k < wanted; ++k) {
    if (ranges[k].start < 0)
      spans.push_back({start, 0});  // the group took no part: empty text
    else
      spans.push_back({start + std::uint32_t(ranges[k].start),
                       std::uint32_t(ranges[k].end - ranges[k].start)});
  }
  return true;
}

bool find_next(regex_subject& subject, SpanList& spans, const Matcher& matcher,
               std::uint32_t skip, std::uint32_t start, bool notbol, bool noteol,
               bool derive_bol, std::uint32_t max_spans) {
  return find_next_compiled(matcher.compiled(), matcher.newline_sensitive(), subject, spans,
                            skip, start, notbol, noteol, derive_bol, max_spans);
}

bool find_next(const narrow_buffer& subject, SpanList& spans, const Matcher& matcher,
               std::uint32_t skip, std::uint32_t start, bool notbol, bool noteol,
               bool derive_bol) {
  spans.clear();
  if (matcher.empty() || start >= subject.length()) return false;
  regex_subject units(subject);
  return find_next(units, spans, matcher, skip, start, notbol, noteol, derive_bol);
}

}  // namespace Velk
