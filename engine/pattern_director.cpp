#include "engine/pattern_director.h"

#include "engine/regex_engine.h"

namespace Velk {
namespace {

template <class T>
bool at(const basic_buffer<T>& text, std::uint32_t pos, char ch) {
  return pos < text.length() && text[pos] == T(ch);
}

template <class T>
bool is_letter(T ch) {
  return (ch >= T('a') && ch <= T('z')) || (ch >= T('A') && ch <= T('Z'));
}

// Applies one option letter; false for a letter the engine does not know.
bool apply_letter(char letter, PATTERN_DIRECTOR& d) {
  switch (letter) {
    case 'b': d.syntax = pattern_syntax::basic; break;
    case 'e': d.syntax = pattern_syntax::extended; break;
    case 'q': d.syntax = pattern_syntax::literal; break;
    case 'i': d.ignore_case = true; break;
    case 'c': d.ignore_case = false; break;
    case 'm':
    case 'n': d.newline = REGEX_NEWLINE; break;
    case 's': d.newline = 0; break;
    case 'p': d.newline = REGEX_NLSTOP; break;
    case 'w': d.newline = REGEX_NLANCH; break;
    case 'x': d.expanded = true; break;
    case 't': d.expanded = false; break;
    default: return false;
  }
  return true;
}

}  // namespace

template <class T>
PATTERN_DIRECTOR read_pattern_director(const basic_buffer<T>& pattern, bool extended,
                                       bool ignore_case, std::uint32_t newline) {
  PATTERN_DIRECTOR d;
  d.syntax = extended ? pattern_syntax::extended : pattern_syntax::basic;
  d.ignore_case = ignore_case;
  d.newline = newline & REGEX_NEWLINE;
  if (!(at(pattern, 0, '*') && at(pattern, 1, '*') && at(pattern, 2, '*'))) return d;
  d.director = true;
  d.newline = 0;
  d.body = 4;
  if (at(pattern, 3, '=')) {
    d.syntax = pattern_syntax::literal;
    return d;
  }
  // "***:" (anything else after "***" is an error of the engine's).
  d.syntax = pattern_syntax::advanced;
  if (!(at(pattern, 4, '(') && at(pattern, 5, '?') && pattern.length() > 6 &&
        is_letter(pattern[6])))
    return d;
  PATTERN_DIRECTOR options = d;
  options.newline = newline & REGEX_NEWLINE;
  std::uint32_t pos = 6;
  for (; pos < pattern.length() && is_letter(pattern[pos]); ++pos)
    if (!apply_letter(char(pattern[pos]), options)) d.bad_options = true;
  if (d.bad_options || !at(pattern, pos, ')')) {
    d.bad_options = true;
    return d;
  }
  options.option_group = true;
  options.body = pos + 1;
  if (options.syntax == pattern_syntax::literal) {
    options.newline = 0;
    options.expanded = false;
  }
  return options;
}

template PATTERN_DIRECTOR read_pattern_director(const basic_buffer<char>&, bool, bool,
                                                std::uint32_t);
template PATTERN_DIRECTOR read_pattern_director(const basic_buffer<char16_t>&, bool, bool,
                                                std::uint32_t);

}  // namespace Velk
