// The identity narrow pass through which command-line arguments and file
// names travel on their way into the library. It returns an identical copy
// of the text: no byte ever changes.
#pragma once

#include "support/core/basic_buffer.h"

namespace Velk {

inline narrow_buffer PassArgumentText(const narrow_buffer& text) { return text; }

}  // namespace Velk
