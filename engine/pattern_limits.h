// The bounds a pattern must keep before the regular-expression engine
// compiles it. The engine's compiler recurses once per nesting level (deep
// nesting overflows the stack) and its compile time grows steeply with the
// number of groups and repetitions; these bounds lie far above any real
// pattern and keep every compile short.
//
// Apart from these bounds the engine refuses by itself a pattern whose
// automaton would need more than its fixed number of states, about 15,000:
// about one per character or bracket expression, a few more per group, each
// counted repetition making that many copies. A pattern of plain characters
// compiles up to 15,001 of them. Which pattern passes that limit only the
// engine knows; describe_size_refusal gives the reason for it.
//
// check_pattern_limits reads the pattern in the syntax the engine will use
// (the "***:" and "***=" prefixes, the extended flag, an ARE's leading
// option group) and counts groups and quantifiers, each repeat of a counted
// repetition counted once: "(a*){3}" counts 3 x 2 + 1. The reading is
// approximate where that errs towards counting more. Returns true when the
// pattern is within the bounds, else false with reason receiving what is
// wrong. Throws only std::bad_alloc.
#pragma once

#include <cstdint>

#include "support/core/basic_buffer.h"

namespace Velk {

constexpr std::uint32_t MAX_PATTERN_LENGTH = 16384;  // units given to the engine
constexpr std::uint32_t MAX_PATTERN_NESTING = 100;   // levels of parentheses
constexpr std::uint32_t MAX_PATTERN_COMPLEXITY = 256;  // groups + repetitions
constexpr std::uint32_t ENGINE_STATES_ABOUT = 15000;  // the engine's own limit

// pattern as the engine receives it (after escape translation); extended
// is the REGEX_EXTENDED compile flag.
bool check_pattern_limits(const wide_buffer& pattern, bool extended, narrow_buffer* reason);

// Sets reason to the explanation of the engine's refusal of a pattern for
// the size of its automaton.
void describe_size_refusal(narrow_buffer* reason);

// True when the pattern may hold a back-reference ("\1" to "\9" outside a
// bracket expression, in any syntax but a literal one): the one construct
// that makes the engine's search back-track, with a time that can grow
// without useful bound.
bool pattern_has_back_references(const wide_buffer& pattern, bool extended);

}  // namespace Velk
