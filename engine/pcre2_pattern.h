// Deciding whether an extended expression may run on PCRE2 instead of the
// Tcl engine, and writing it in PCRE2's syntax when it may.
//
// Tcl finds the leftmost-longest match and gives each group, earlier groups
// first, the longest text that keeps the whole match; PCRE2 backtracks and
// takes the leftmost-first. The two agree only on patterns that leave the
// backtracking search no choice, so a pattern is taken only when it passes
// every rule below (each has a counterexample that breaks agreement without
// it):
//   - deterministic: the position automaton over byte sets is deterministic,
//     so a matched span has one parse and greedy search finds the longest;
//   - one empty parse: no quantifier over a body that can match empty, no
//     two alternatives that can match empty;
//   - star normal form: no step that is both inside an iteration and from
//     one iteration to the next;
//   - every group under a repetition takes part in every iteration;
//   - an alternative that can match empty comes last;
//   - no unbounded repetition of a group (PCRE2's search would then be
//     quadratic where Tcl's is linear), and S{m,} is written as S{m}S*.
// Besides: "***" patterns, back-references, {0}, anchors other than a
// leading "^" and a trailing "$" of the whole pattern, patterns larger than
// FAST_PATH_MAX_POSITIONS once counted repetitions are unrolled, and
// anything the reader does not fully understand stay with Tcl.
//
// Every atom (a character, an escaped character, ".", a bracket expression)
// is written as an explicit set of bytes, obtained by asking the Tcl engine
// about each of the 256 bytes with the atom compiled alone under the same
// flags. So classes, the class repairs of compile_regex and ignore case are
// exactly Tcl's, and the PCRE2 pattern needs neither its caseless mode nor
// its classes.
//
// Compiles with the Tcl engine on the calling thread; throws only
// std::bad_alloc.
#pragma once

#include <cstdint>
#include <string>

#include "support/core/basic_buffer.h"

namespace Velk {

// Why a pattern stays with Tcl; a rejection can carry several bits.
constexpr std::uint32_t FAST_PATH_MODE = 1u << 0;         // flags, "***" or empty pattern
constexpr std::uint32_t FAST_PATH_SYNTAX = 1u << 1;       // not fully understood
constexpr std::uint32_t FAST_PATH_BACK_REFERENCE = 1u << 2;
constexpr std::uint32_t FAST_PATH_ZERO_REPEAT = 1u << 3;  // {0} or {0,0}
constexpr std::uint32_t FAST_PATH_TOO_LARGE = 1u << 4;
constexpr std::uint32_t FAST_PATH_NONDETERMINISTIC = 1u << 5;
constexpr std::uint32_t FAST_PATH_EMPTY_PARSES = 1u << 6;
constexpr std::uint32_t FAST_PATH_STAR_FORM = 1u << 7;
constexpr std::uint32_t FAST_PATH_SKIPPED_GROUP = 1u << 8;
constexpr std::uint32_t FAST_PATH_EMPTY_NOT_LAST = 1u << 9;
constexpr std::uint32_t FAST_PATH_REPEATED_GROUP = 1u << 10;

// Positions of the unrolled pattern, at most.
constexpr std::uint32_t FAST_PATH_MAX_POSITIONS = 1000;

struct PCRE2_TRANSLATION {
  std::uint32_t rejections = 0;  // FAST_PATH_* bits; 0 when the pattern is taken
  std::string pattern;           // the pattern in PCRE2 syntax, when taken
  std::uint32_t groups = 0;      // parenthesised groups, when taken
};

// pattern as compile_regex receives it for the Tcl engine; regex_flags its
// REGEX_* compile flags. Only extended expressions with both newline bits
// or neither qualify.
PCRE2_TRANSLATION translate_for_pcre2(const narrow_buffer& pattern, std::uint32_t regex_flags);

// True when no match of the newline-sensitive extended pattern can contain
// a line feed, read with the same reader and byte sets as above (patterns
// the reader does not fully understand are false). Its only anchors are
// then a leading "^" and a trailing "$", so a text may be searched line
// block by line block: a block that ends after a line feed and is searched
// with REGEX_NOTEOL gives the matches of the whole text. engine_groups: the
// group count of the pattern compiled by the Tcl engine, which the reading
// here must agree with.
bool pattern_stays_within_lines(const narrow_buffer& pattern, std::uint32_t regex_flags,
                                std::uint32_t engine_groups);

}  // namespace Velk
