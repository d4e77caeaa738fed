// Hardware-fault delivery: invalid memory access, bus error, illegal
// instruction, arithmetic fault and trap reach one handler as a
// FAULT_RECORD, described with the exception codes of the library's fault
// table (0xC0000005 for an access violation, 0xC00000FD for a stack
// overflow, ...).
//
// The handler runs in signal context on an alternate stack (so a stack
// overflow reaches it as well): it must use async-signal-safe operations
// only, and it must not return (returning would re-run the faulting
// instruction). The alternate stack belongs to the thread that installed
// the handler; a stack overflow on another thread cannot be handled and
// ends the process by the signal.
#pragma once

#include <cstdint>

namespace Velk::os {

struct FAULT_RECORD {
  std::uint32_t code;       // exception code of the fault table
  std::uintptr_t pc;        // address of the faulting instruction, 0 if unknown
  std::uintptr_t address;   // faulting data address, when has_address
  bool has_address;
};

using fault_handler = void (*)(const FAULT_RECORD& fault);

// Installs handler for all fault kinds. Returns false when the system
// refused (errno holds the cause); kinds installed before the failure stay.
bool install_fault_handler(fault_handler handler) noexcept;

}  // namespace Velk::os
