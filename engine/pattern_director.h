// The "***" director of a pattern and the embedded options of an advanced
// expression, read as the engine reads them.
//
// "***=" makes the rest a literal string; "***:" makes it an advanced
// expression, which may open with an option group "(?letters)". The letters
// apply in order, each changing the state the ones before it left (so
// "(?ns)" ends newline-insensitive and "(?qb)" ends basic, not literal):
//   b basic syntax   e extended syntax   q literal   (b and e also end q)
//   i ignore case    c case-sensitive
//   n, m newline-sensitive   s not   p only "." and "[^" stop at a line
//   feed   w only "^" and "$" anchor at line feeds
//   x expanded syntax   t tight syntax
// and a literal result is never newline-sensitive. A group is "(?", at
// least one letter and ")": "(?:" opens a group as usual; an unknown letter
// or a missing ")" is an error the engine reports when it compiles.
//
// Newline sensitivity starts from the caller's default when the pattern has
// no director or an option group, and from none for the other "***"
// patterns.
#pragma once

#include <cstdint>

#include "support/core/basic_buffer.h"

namespace Velk {

enum class pattern_syntax { basic, extended, advanced, literal };

struct PATTERN_DIRECTOR {
  bool director = false;      // the pattern begins with "***"
  bool option_group = false;  // "***:" is followed by a valid "(?letters)"
  bool bad_options = false;   // "(?letters" with an unknown letter or no ")"
  pattern_syntax syntax = pattern_syntax::extended;
  bool ignore_case = false;
  bool expanded = false;
  std::uint32_t newline = 0;  // REGEX_NLSTOP and REGEX_NLANCH bits
  std::uint32_t body = 0;     // where the expression proper begins
};

// extended, ignore_case and newline are what the compile flags ask for
// (newline: the REGEX_NLSTOP/REGEX_NLANCH bits).
template <class T>
PATTERN_DIRECTOR read_pattern_director(const basic_buffer<T>& pattern, bool extended,
                                       bool ignore_case, std::uint32_t newline);

extern template PATTERN_DIRECTOR read_pattern_director(const basic_buffer<char>&, bool, bool,
                                                       std::uint32_t);
extern template PATTERN_DIRECTOR read_pattern_director(const basic_buffer<char16_t>&, bool,
                                                       bool, std::uint32_t);

}  // namespace Velk
