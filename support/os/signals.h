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
// the handler; every other thread gets its own for as long as a
// thread_fault_stack lives on it (the library's threads hold one for their
// whole run), so that a stack overflow there reaches the handler too.
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

// Gives the calling thread an alternate stack for the fault handler and
// notes its stack's bounds, for the lifetime of the object.
class thread_fault_stack {
 public:
  thread_fault_stack() noexcept;
  ~thread_fault_stack();
  thread_fault_stack(const thread_fault_stack&) = delete;
  thread_fault_stack& operator=(const thread_fault_stack&) = delete;

 private:
  void* stack_ = nullptr;
};

}  // namespace Velk::os
