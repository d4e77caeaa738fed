// The identity narrow pass through which command-line arguments and file
// names travel on their way into the library. It returns an identical copy
// of the text: no byte ever changes, and it never throws.
#pragma once

#include "support/core/basic_buffer.h"
#include "support/text/text_conv.h"

namespace Velk {

inline narrow_buffer PassArgumentText(const narrow_buffer& text) noexcept {
  return TTextConv::Conv(text);
}

}  // namespace Velk
