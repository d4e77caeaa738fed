// What an exception says, in the words of the driver's reports: "Velk
// runtime lib error: " and the library's message, "vc runtime lib error: "
// and the standard exception's text, or "unknown system error".
#pragma once

#include <exception>

#include "support/core/basic_buffer.h"

namespace Velk {

narrow_buffer DescribeException(const std::exception_ptr& error);

}  // namespace Velk
