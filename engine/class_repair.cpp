#include "engine/class_repair.h"

#include "engine/pattern_director.h"

namespace Velk {
namespace {

template <class T>
bool text_at(const basic_buffer<T>& text, std::uint32_t pos, const char* word) {
  for (std::uint32_t i = 0; word[i]; ++i)
    if (pos + i >= text.length() || text[pos + i] != T(word[i])) return false;
  return true;
}

template <class T>
basic_buffer<T> widen(const char* text) {
  basic_buffer<T> result;
  while (*text) result.push_back(T(*text++));
  return result;
}

struct SYNTAX {
  bool literal = false;
  bool bracket_escapes = false;  // backslash escapes inside brackets (advanced syntax)
  bool ignore_case = false;
  std::uint32_t body = 0;        // where the expression proper begins
};

// Reads the "***" director and an advanced pattern's embedded options.
template <class T>
SYNTAX read_syntax(const basic_buffer<T>& pattern, bool ignore_case) {
  const PATTERN_DIRECTOR director = read_pattern_director(pattern, true, ignore_case, 0);
  SYNTAX syntax;
  syntax.literal = director.syntax == pattern_syntax::literal;
  syntax.bracket_escapes = director.syntax == pattern_syntax::advanced;
  syntax.ignore_case = director.ignore_case;
  syntax.body = director.body;
  return syntax;
}

}  // namespace

template <class T>
void repair_class_names(basic_buffer<T>& pattern, bool ignore_case) {
  const SYNTAX syntax = read_syntax(pattern, ignore_case);
  if (syntax.literal) return;
  static const basic_buffer<T> alpha = widen<T>("alpha");
  static const basic_buffer<T> punct_symbols = widen<T>("$+<=>`|~^");
  std::uint32_t pos = syntax.body;
  while (pos < pattern.length()) {
    const T ch = pattern[pos];
    if (ch == T('\\')) {
      pos += 2;
      continue;
    }
    if (ch != T('[')) {
      ++pos;
      continue;
    }
    // A bracket expression: "[", optional "^", a leading "]" is literal.
    ++pos;
    if (pos < pattern.length() && pattern[pos] == T('^')) ++pos;
    const std::uint32_t first = pos;
    if (pos < pattern.length() && pattern[pos] == T(']')) ++pos;
    while (pos < pattern.length() && pattern[pos] != T(']')) {
      const T c = pattern[pos];
      if (c == T('\\') && syntax.bracket_escapes) {
        pos += 2;
        continue;
      }
      const bool element = c == T('[') && pos + 1 < pattern.length() &&
                           (pattern[pos + 1] == T(':') || pattern[pos + 1] == T('.') ||
                            pattern[pos + 1] == T('='));
      if (!element) {
        ++pos;
        continue;
      }
      // "[:name:]", "[.x.]" or "[=x=]": find its closing pair.
      const T kind = pattern[pos + 1];
      std::uint32_t close = pos + 2;
      while (close + 1 < pattern.length() &&
             !(pattern[close] == kind && pattern[close + 1] == T(']')))
        ++close;
      if (close + 1 >= pattern.length()) return;  // unterminated: the engine reports it
      if (kind == T(':')) {
        const bool range_end = pos - 1 > first && pattern[pos - 1] == T('-');
        if (syntax.ignore_case && close - pos == 7 &&
            (text_at(pattern, pos, "[:lower:]") || text_at(pattern, pos, "[:upper:]"))) {
          pattern.own();
          pattern.replace(pos + 2, 5, alpha);
        } else if (!range_end && text_at(pattern, pos, "[:punct:]") && close - pos == 7) {
          pattern.own();
          pattern.replace(pos, 0, punct_symbols);
          pos += punct_symbols.length();
          close += punct_symbols.length();
        }
      }
      pos = close + 2;
    }
    ++pos;  // past the closing "]"
  }
}

template void repair_class_names(basic_buffer<char>&, bool);
template void repair_class_names(basic_buffer<char16_t>&, bool);

}  // namespace Velk
