#include "engine/tcl_matcher.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/compile_matcher.h"
#include "engine/pattern_director.h"

namespace Velk {
namespace {

// The engine's copy of a subject's text from offset base on.
struct TCL_TEXT final : TSubjectState {
  regex_subject units;
  std::uint32_t base = 0;
};

TCL_TEXT& text_of(match_subject& subject) {
  if (auto* kept = dynamic_cast<TCL_TEXT*>(subject.state())) return *kept;
  auto made = std::make_unique<TCL_TEXT>();
  if (subject.wide()) {
    made->units.assign(subject.units(), subject.length());
  } else {
    // From the byte before the window on: the context of a search there.
    const std::uint32_t start = subject.window_start();
    made->base = start ? start - 1 : 0;
    made->units.assign(subject.window() - (start - made->base), subject.length() - made->base);
  }
  TCL_TEXT& text = *made;
  subject.set_state(std::move(made));
  return text;
}


// Characters that stand for themselves at the top level of an extended
// expression.
bool is_plain_literal(char ch) {
  const unsigned char u = static_cast<unsigned char>(ch);
  if (u >= 0x80) return false;
  if ((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9'))
    return true;
  return std::strchr(" !\"#%&',-/:;<=>@_`~", ch) != nullptr;
}

// The literal bytes every match of an extended expression must begin with:
// its leading plain characters, less the last one when a quantifier follows
// it. Only a pattern without alternation qualifies (a branch could begin
// otherwise), and not under ignore case or with a "***" director.
narrow_buffer required_literal_prefix(const narrow_buffer& pattern, std::uint32_t flags) {
  if ((flags & REGEX_NOCASE) || !(flags & REGEX_EXTENDED) || has_director_prefix(pattern))
    return narrow_buffer();
  for (std::uint32_t i = 0; i < pattern.length(); ++i)
    if (pattern[i] == '|') return narrow_buffer();
  std::uint32_t run = 0;
  while (run < pattern.length() && is_plain_literal(pattern[run])) ++run;
  if (run > 0 && run < pattern.length()) {
    const char next = pattern[run];
    if (next == '*' || next == '+' || next == '?' || next == '{') --run;
  }
  narrow_buffer prefix = pattern.substr(0, run);
  prefix.own();
  return prefix;
}
narrow_buffer required_literal_prefix(const wide_buffer&, std::uint32_t) {
  return narrow_buffer();
}

// The left-context variant of an advanced expression that reads the
// character before a match: "***:(?opts)" + an atom that matches any one
// character + "(?:" + the rest + ")". Searched from one character before
// the wanted start, its leftmost match is the expression's leftmost match
// at or after that start, seen with its real left context; the groups keep
// their numbers. Empty when the expression needs no left context, or is not
// an advanced one (basic, extended and literal option letters).
template <class T>
basic_buffer<T> left_context_variant(const basic_buffer<T>& pattern) {
  const PATTERN_DIRECTOR director = read_pattern_director(pattern, true, false, 0);
  if (director.syntax != pattern_syntax::advanced || director.bad_options)
    return basic_buffer<T>();
  const std::uint32_t body = director.body;
  const bool expanded = director.expanded;
  bool reads_context = false;
  for (std::uint32_t i = body; i + 1 < pattern.length(); ++i) {
    if (pattern[i] != T('\\')) continue;
    const T next = pattern[++i];
    if (next == T('m') || next == T('M') || next == T('y') || next == T('Y') || next == T('A'))
      reads_context = true;
  }
  if (!reads_context) return basic_buffer<T>();
  basic_buffer<T> variant = pattern.substr(0, body);
  variant.own();
  for (const char* p = "[\\u0000-\\uffff](?:"; *p; ++p) variant.push_back(T(*p));
  variant.append(pattern, body, basic_buffer<T>::npos);
  // In the expanded syntax a comment runs to the end of the line.
  if (expanded) variant.push_back(T('\n'));
  variant.push_back(T(')'));
  return variant;
}

}  // namespace

template <class T>
std::unique_ptr<CTclMatcher> CTclMatcher::compile(const basic_buffer<T>& pattern,
                                                  std::uint32_t flags,
                                                  bool line_feed_starts_line,
                                                  narrow_buffer* reason) {
  regex_handle* compiled = compile_regex(pattern, flags, reason);
  if (!compiled) return nullptr;
  regex_handle* with_context = nullptr;
  const basic_buffer<T> variant = left_context_variant(pattern);
  // Without its variant such an expression would be searched cut off at
  // each start, which can match where it must not: one whose variant is
  // refused (one group more, a few states more) is refused itself.
  if (!variant.empty()) {
    narrow_buffer why;
    with_context = compile_regex(variant, flags, reason ? &why : nullptr);
    if (!with_context) {
      free_regex(compiled);
      if (reason)
        *reason = why + " once searched from the character before its start (\\m \\M \\y "
                        "\\Y \\A take a group and a few states more)";
      return nullptr;
    }
  }
  std::unique_ptr<CTclMatcher> matcher(
      new (std::nothrow) CTclMatcher(compiled, with_context, line_feed_starts_line,
                                     required_literal_prefix(pattern, flags)));
  if (!matcher) {
    free_regex(compiled);
    free_regex(with_context);
    throw std::bad_alloc();
  }
  return matcher;
}

template std::unique_ptr<CTclMatcher> CTclMatcher::compile(const basic_buffer<char>&,
                                                           std::uint32_t, bool, narrow_buffer*);
template std::unique_ptr<CTclMatcher> CTclMatcher::compile(const basic_buffer<char16_t>&,
                                                           std::uint32_t, bool, narrow_buffer*);

CTclMatcher::CTclMatcher(regex_handle* compiled, regex_handle* with_context,
                         bool line_feed_starts_line, narrow_buffer literal_prefix) noexcept
    : compiled_(compiled),
      with_context_(with_context),
      line_feed_starts_line_(line_feed_starts_line),
      literal_prefix_(std::move(literal_prefix)) {}

CTclMatcher::~CTclMatcher() {
  free_regex(compiled_);
  free_regex(with_context_);
}

std::uint32_t CTclMatcher::group_count() const noexcept { return regex_group_count(compiled_); }

regex_status CTclMatcher::find(match_subject& subject, std::uint32_t start,
                               std::uint32_t exec_flags, std::uint32_t wanted,
                               MatchSpan* spans) const {
  const std::uint32_t asked = start;
  if (!literal_prefix_.empty() && !subject.wide()) {
    // No match begins before the next place of its first bytes, and "^"
    // cannot matter there: the expression begins with a plain character.
    narrow_buffer rest;
    rest.attach(subject.window() + (start - subject.window_start()), subject.length() - start);
    const std::uint32_t at = rest.find(literal_prefix_);
    if (at == narrow_buffer::npos) return regex_status::no_match;
    start += at;
  }
  TCL_TEXT& text = text_of(subject);
  const regex_handle* expression = compiled_;
  std::uint32_t from = start;
  std::uint32_t flags = exec_flags & REGEX_NOTEOL;
  if (start == 0) {
    flags |= exec_flags & REGEX_NOTBOL;
  } else if (with_context_) {
    // The variant's first atom takes the character before start; "^" in
    // the rest is judged by the engine from that character.
    expression = with_context_;
    from = start - 1;
    flags |= REGEX_NOTBOL;
  } else if (!(line_feed_starts_line_ && subject.is_line_feed(start - 1))) {
    flags |= REGEX_NOTBOL;
  }
  const std::uint32_t count = std::min({wanted, group_count() + 1, REGEX_MAX_RANGES});
  REGEX_RANGE ranges[REGEX_MAX_RANGES];
  const regex_status status =
      exec_regex(expression, text.units, from - text.base, flags, count, ranges);
  if (status != regex_status::match) return status;
  for (std::uint32_t k = 0; k < count; ++k) {
    if (ranges[k].start < 0)
      spans[k] = {asked, 0};  // the group took no part: empty text
    else
      spans[k] = {from + std::uint32_t(ranges[k].start),
                  std::uint32_t(ranges[k].end - ranges[k].start)};
  }
  if (expression == with_context_) {
    ++spans[0].start;  // less the character before
    --spans[0].length;
  }
  return regex_status::match;
}

}  // namespace Velk
