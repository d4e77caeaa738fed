#include "engine/find_next.h"

#include "engine/match_walker.h"

namespace Velk {

template <class T>
bool find_next_in(const TRegexMatcher& engine, const T* text, std::uint32_t length, SpanList& spans,
                  std::uint32_t start, const SEARCH_OPTIONS& options) {
  spans.clear();
  if (start >= length) return false;
  // Without derive_bol the text before start is no context: it is cut off.
  const std::uint32_t from = options.derive_bol ? 0 : start;
  match_subject subject(text + from, length - from);
  const std::uint32_t flags =
      (options.notbol ? REGEX_NOTBOL : 0) | (options.noteol ? REGEX_NOTEOL : 0);
  match_walker walker(engine, subject, start - from, flags, options.max_spans);
  for (std::uint32_t pass = 0; pass <= options.skip; ++pass) {
    if (!walker.next(spans)) {
      spans.clear();
      return false;
    }
  }
  for (MatchSpan& span : spans) span.start += from;
  return true;
}

template bool find_next_in(const TRegexMatcher&, const char*, std::uint32_t, SpanList&,
                           std::uint32_t, const SEARCH_OPTIONS&);
template bool find_next_in(const TRegexMatcher&, const char16_t*, std::uint32_t, SpanList&,
                           std::uint32_t, const SEARCH_OPTIONS&);

bool find_next(const narrow_buffer& subject, SpanList& spans, const Matcher& matcher,
               std::uint32_t start, const SEARCH_OPTIONS& options) {
  spans.clear();
  if (matcher.empty()) return false;
  return find_next_in(*matcher.engine(), subject.c_str(), subject.length(), spans, start, options);
}

}  // namespace Velk
