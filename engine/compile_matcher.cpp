#include "engine/compile_matcher.h"

#if RPLC_WITH_PCRE2
#include "engine/pcre2_fast_path.h"
#include "engine/pcre2_pattern.h"
#endif
#include "engine/tcl_matcher.h"
#include "engine/translate.h"

namespace Velk {
namespace {

template <class T>
bool starts_with(const basic_buffer<T>& text, const char* prefix) {
  std::uint32_t i = 0;
  for (; prefix[i]; ++i)
    if (i >= text.length() || text[i] != T(prefix[i])) return false;
  return true;
}

template <class T>
bool contains(const basic_buffer<T>& text, std::uint32_t from, std::uint32_t to, char letter) {
  for (std::uint32_t i = from; i < to; ++i)
    if (text[i] == T(letter)) return true;
  return false;
}

}  // namespace

template <class T>
bool has_director_prefix(const basic_buffer<T>& pattern) {
  return starts_with(pattern, "***");
}

template <class T>
bool pattern_newline_sensitive(const basic_buffer<T>& pattern, bool by_default) {
  if (!has_director_prefix(pattern)) return by_default;
  if (!starts_with(pattern, "***:(?")) return false;
  // The option letters run from the prefix to the first ")" (none without one).
  const std::uint32_t from = 6;
  std::uint32_t to = from;
  while (to < pattern.length() && pattern[to] != T(')')) ++to;
  if (to == pattern.length()) to = from;
  if (contains(pattern, from, to, 'n')) return true;
  if (contains(pattern, from, to, 'm')) return true;
  if (contains(pattern, from, to, 'w')) return true;
  if (contains(pattern, from, to, 'p')) return false;
  if (contains(pattern, from, to, 's')) return false;
  return by_default;
}

template bool pattern_newline_sensitive(const basic_buffer<char>&, bool);
template bool pattern_newline_sensitive(const basic_buffer<char16_t>&, bool);
template bool has_director_prefix(const basic_buffer<char>&);
template bool has_director_prefix(const basic_buffer<char16_t>&);

Matcher compile_matcher(narrow_buffer pattern, bool ignore_case, bool newline_sensitive,
                        bool extended, bool translate_escapes, narrow_buffer* error_reason) {
  if (error_reason) error_reason->clear();
  if (pattern.empty()) return Matcher();
  if (has_director_prefix(pattern)) translate_escapes = false;
  const bool nl = pattern_newline_sensitive(pattern, newline_sensitive);
  const std::uint32_t flags = (nl ? REGEX_NEWLINE : 0) | (ignore_case ? REGEX_NOCASE : 0) |
                              (extended ? REGEX_EXTENDED : 0);
  if (translate_escapes)
    Velk::translate_escapes(pattern, '\\', class_escape_table(), false, true);
  std::unique_ptr<TRegexMatcher> engine = CTclMatcher::compile(pattern, flags, nl, error_reason);
  if (!engine) return Matcher();
  bool line_bounded = false;
#if RPLC_WITH_PCRE2
  // The extended finds run on PCRE2 where it provably agrees with Tcl.
  if (extended && !has_director_prefix(pattern)) {
    line_bounded = pattern_stays_within_lines(pattern, flags);
    if (std::unique_ptr<pcre2_matcher> fast = pcre2_matcher::try_compile(pattern, flags))
      engine = std::make_unique<CPcre2FastPath>(std::move(fast), std::move(engine));
  }
#endif
  return Matcher(make_shared_ref<MATCHER_RECORD>(std::move(engine), flags, line_bounded));
}

}  // namespace Velk
