#include "engine/find_next.h"

#include "engine/match_walker.h"

namespace Velk {

template <class T>
bool find_next_in(const TRegexMatcher& engine, const T* text, std::uint32_t length,
                  SpanList& spans, std::uint32_t skip, std::uint32_t start, bool notbol,
                  bool noteol, bool derive_bol, std::uint32_t max_spans) {
  spans.clear();
  if (start >= length) return false;
  // Without derive_bol the text before start is no context: it is cut off.
  const std::uint32_t from = derive_bol ? 0 : start;
  match_subject subject(text + from, length - from);
  const std::uint32_t flags = (notbol ? REGEX_NOTBOL : 0) | (noteol ? REGEX_NOTEOL : 0);
  match_walker walker(engine, subject, start - from, flags, max_spans);
  for (std::uint32_t pass = 0; pass <= skip; ++pass) {
    if (!walker.next(spans)) {
      spans.clear();
      return false;
    }
  }
  for (MatchSpan& span : spans) span.start += from;
  return true;
}

template bool find_next_in(const TRegexMatcher&, const char*, std::uint32_t, SpanList&,
                           std::uint32_t, std::uint32_t, bool, bool, bool, std::uint32_t);
template bool find_next_in(const TRegexMatcher&, const char16_t*, std::uint32_t, SpanList&,
                           std::uint32_t, std::uint32_t, bool, bool, bool, std::uint32_t);

bool find_next(const narrow_buffer& subject, SpanList& spans, const Matcher& matcher,
               std::uint32_t skip, std::uint32_t start, bool notbol, bool noteol,
               bool derive_bol, std::uint32_t max_spans) {
  spans.clear();
  if (matcher.empty()) return false;
  return find_next_in(*matcher.engine(), subject.c_str(), subject.length(), spans, skip, start,
                      notbol, noteol, derive_bol, max_spans);
}

}  // namespace Velk
