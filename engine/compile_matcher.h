// Compiling a find pattern into a Matcher, once per run.
//
// A pattern that begins with "***" is the engine's own prefix syntax: it is
// not escape-translated and is newline-insensitive unless an option group
// "***:(?...)" says otherwise, its letters applied in order from the
// switch's default (pattern_director.h). Other patterns get the Perl-style
// class escapes rewritten and the default newline sensitivity. The
// Matcher's flags carry the newline bits the engine ends with.
//
// A rejected pattern gives an empty Matcher, which finds nothing; nothing is
// printed or thrown, and error_reason (when given) receives the engine's
// reason. Throws only std::bad_alloc.
#pragma once

#include <cstdint>

#include "engine/find_method.h"
#include "support/core/basic_buffer.h"

namespace Velk {

// How a pattern is compiled; the defaults are those of the "-r" find.
struct COMPILE_OPTIONS {
  bool ignore_case = false;
  bool newline_sensitive = true;  // the default, which "***:(?...)" may change
  bool extended = true;           // POSIX extended syntax, else basic
  bool translate_escapes = true;  // Perl-style class escapes (never after "***")
};

Matcher compile_matcher(narrow_buffer pattern, const COMPILE_OPTIONS& options,
                        narrow_buffer* error_reason = nullptr);

// The newline bits (REGEX_NLSTOP, REGEX_NLANCH) a pattern ends with, given
// the switch's default.
template <class T>
std::uint32_t pattern_newline_flags(const basic_buffer<T>& pattern, bool by_default);

// True when the pattern begins with "***" (no escape translation).
template <class T>
bool has_director_prefix(const basic_buffer<T>& pattern);

extern template std::uint32_t pattern_newline_flags(const basic_buffer<char>&, bool);
extern template std::uint32_t pattern_newline_flags(const basic_buffer<char16_t>&, bool);
extern template bool has_director_prefix(const basic_buffer<char>&);
extern template bool has_director_prefix(const basic_buffer<char16_t>&);

}  // namespace Velk
