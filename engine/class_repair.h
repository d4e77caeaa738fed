// Mends two faults of the regular-expression engine's character classes by
// rewriting class names inside bracket expressions just before a pattern is
// compiled:
//   - under ignore case the engine widens [:lower:] and [:upper:] to letters
//     AND digits; they become [:alpha:], which under ignore case is exactly
//     what lower or upper should match;
//   - the engine's [:punct:] lacks the ASCII symbols $+<=>^`|~ that the C
//     library's ispunct includes; they are added in front of the class
//     within the same bracket expression.
// Nothing outside a bracket expression changes, nor a pattern in literal
// mode ("***=" or the embedded option q). ignore_case is the compile flag;
// the embedded options i and c of an advanced pattern override it. A
// [:punct:] written as the end of a range (an error the engine reports) is
// left as it is, so that it stays an error.
#pragma once

#include "support/core/basic_buffer.h"

namespace Velk {

template <class T>
void repair_class_names(basic_buffer<T>& pattern, bool ignore_case);

extern template void repair_class_names(basic_buffer<char>&, bool);
extern template void repair_class_names(basic_buffer<char16_t>&, bool);

}  // namespace Velk
