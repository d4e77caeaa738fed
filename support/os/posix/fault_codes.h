// The mapping of a POSIX fault signal and its si_code onto the exception
// codes of the library's fault table. Private to the POSIX fault handling
// (and its tests).
#pragma once

#include <cstdint>

namespace Velk::os::posix {

// in_stack_guard: a SIGSEGV whose fault address lies in the guard region
// just below the main thread's stack, that is, a stack overflow.
std::uint32_t fault_code(int signal_number, int signal_code, bool in_stack_guard) noexcept;

// Whether a signal of this kind carries a faulting data address (as
// opposed to the address of the instruction, which is the pc).
bool carries_fault_address(int signal_number, int signal_code) noexcept;

}  // namespace Velk::os::posix
