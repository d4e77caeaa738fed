// The description of a hardware or system fault as the last-resort fault
// handler logs it:
//
//   <text of the exception code>
//     exp. code  = 0x<code>
//     pc address = <faulting instruction address>
//     parameters = 0x<p1>; 0x<p2>        (only when there are parameters)
//
// Hexadecimal is upper case, most significant digit first; the code and the
// parameters have no leading zeros ("0" for 0), the pc address is padded
// with leading zeros to at least eight digits and has no prefix.
//
// Pure functions: no state, no OS calls. DescribeException allocates, so it
// is not async-signal-safe; callers in signal context use it only when
// somebody will read the result.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/core/basic_buffer.h"

namespace Velk {

// The table text for an exception code; "Unknown Value." for any other.
const char* ExceptionCodeText(std::uint32_t code) noexcept;

narrow_buffer DescribeException(std::uint32_t code, std::uint64_t pc_address,
                                const std::uint64_t* parameters, std::size_t count);

}  // namespace Velk
