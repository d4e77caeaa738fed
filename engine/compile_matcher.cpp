#include "engine/compile_matcher.h"

#if RPLC_WITH_PCRE2
#include "engine/pcre2_fast_path.h"
#include "engine/pcre2_pattern.h"
#endif
#include "engine/pattern_director.h"
#include "engine/regex_engine.h"
#include "engine/tcl_matcher.h"
#include "engine/translate.h"

namespace Velk {

template <class T>
bool has_director_prefix(const basic_buffer<T>& pattern) {
  return read_pattern_director(pattern, true, false, 0).director;
}

template <class T>
std::uint32_t pattern_newline_flags(const basic_buffer<T>& pattern, bool by_default) {
  return read_pattern_director(pattern, true, false, by_default ? REGEX_NEWLINE : 0).newline;
}

template std::uint32_t pattern_newline_flags(const basic_buffer<char>&, bool);
template std::uint32_t pattern_newline_flags(const basic_buffer<char16_t>&, bool);
template bool has_director_prefix(const basic_buffer<char>&);
template bool has_director_prefix(const basic_buffer<char16_t>&);

Matcher compile_matcher(narrow_buffer pattern, const COMPILE_OPTIONS& options,
                        narrow_buffer* error_reason) {
  if (error_reason) error_reason->clear();
  if (pattern.empty()) return Matcher();
  const bool extended = options.extended;
  // The newline bits the pattern's own options end with, so that the flags
  // kept with the expression say what the engine does.
  const std::uint32_t newline = pattern_newline_flags(pattern, options.newline_sensitive);
  const std::uint32_t flags =
      newline | (options.ignore_case ? REGEX_NOCASE : 0) | (extended ? REGEX_EXTENDED : 0);
  if (options.translate_escapes && !has_director_prefix(pattern))
    Velk::translate_escapes(pattern, '\\', class_escape_table(), false, true);
  std::unique_ptr<TRegexMatcher> engine = CTclMatcher::compile(pattern, flags, (newline & REGEX_NLANCH) != 0, error_reason);
  if (!engine) return Matcher();
  bool line_bounded = false;
#if RPLC_WITH_PCRE2
  // The extended finds run on PCRE2 where it provably agrees with Tcl.
  if (extended && !has_director_prefix(pattern)) {
    line_bounded = pattern_stays_within_lines(pattern, flags, engine->group_count());
    if (std::unique_ptr<pcre2_matcher> fast = pcre2_matcher::try_compile(pattern, flags))
      engine = std::make_unique<CPcre2FastPath>(std::move(fast), std::move(engine));
  }
#endif
  return Matcher(make_shared_ref<MATCHER_RECORD>(std::move(engine), flags, line_bounded));
}

}  // namespace Velk
