// POSIX implementation of hardware-fault delivery: sigaction handlers for
// SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGTRAP on an alternate signal stack.
#include "support/os/signals.h"

#include <pthread.h>
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstddef>

#include "support/os/posix/fault_codes.h"

namespace Velk::os {

namespace posix {

std::uint32_t fault_code(int signal_number, int signal_code, bool in_stack_guard) noexcept {
  switch (signal_number) {
    case SIGSEGV:
      return in_stack_guard ? 0xC00000FDu : 0xC0000005u;
    case SIGBUS:
      return signal_code == BUS_ADRALN ? 0x80000002u : 0xC0000006u;
    case SIGILL:
      return signal_code == ILL_PRVOPC || signal_code == ILL_PRVREG ? 0xC0000096u
                                                                    : 0xC000001Du;
    case SIGFPE:
      switch (signal_code) {
        case FPE_INTDIV: return 0xC0000094u;
        case FPE_INTOVF: return 0xC0000095u;
        case FPE_FLTDIV: return 0xC000008Eu;
        case FPE_FLTOVF: return 0xC0000091u;
        case FPE_FLTUND: return 0xC0000093u;
        case FPE_FLTRES: return 0xC000008Fu;
        default: return 0xC0000090u;  // FPE_FLTINV and the rest
      }
    case SIGTRAP:
      return 0x80000003u;
    default:
      return 0;
  }
}

bool carries_fault_address(int signal_number, int signal_code) noexcept {
  // A positive si_code means the kernel raised the signal for a fault; a
  // signal sent by kill or raise carries no address.
  return (signal_number == SIGSEGV || signal_number == SIGBUS) && signal_code > 0;
}

}  // namespace posix

namespace {

constexpr int fault_signals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP};

// Large enough for the handler and, with a logger installed, composing
// and writing one message.
constexpr std::size_t alternate_stack_size = 64 * 1024;
alignas(16) char alternate_stack[alternate_stack_size];

std::atomic<fault_handler> installed_handler{nullptr};

// The lowest address of the calling thread's stack: the main thread's is
// taken when the handler is installed (during static initialisation, on
// the main thread), another thread's by its thread_fault_stack; zero when
// unknown.
thread_local std::uintptr_t stack_low = 0;

// A stack overflow faults below the lowest address the stack may grow to;
// a large frame can skip up to the kernel's guard gap (1 MiB by default).
constexpr std::uintptr_t stack_guard_size = 1024 * 1024;

bool in_stack_guard(std::uintptr_t address) noexcept {
  if (stack_low == 0) return false;
  const std::uintptr_t guard_low = stack_low > stack_guard_size ? stack_low - stack_guard_size : 0;
  return address >= guard_low && address < stack_low;
}

std::uintptr_t context_pc(void* context) noexcept {
  const ucontext_t* uc = static_cast<const ucontext_t*>(context);
  if (!uc) return 0;
#if defined(__x86_64__)
  return std::uintptr_t(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
  return std::uintptr_t(uc->uc_mcontext.gregs[REG_EIP]);
#elif defined(__aarch64__)
  return std::uintptr_t(uc->uc_mcontext.pc);
#elif defined(__arm__)
  return std::uintptr_t(uc->uc_mcontext.arm_pc);
#else
  return 0;
#endif
}

void on_fault(int signal_number, siginfo_t* info, void* context) {
  FAULT_RECORD fault{};
  const int signal_code = info ? info->si_code : 0;
  fault.has_address = info && posix::carries_fault_address(signal_number, signal_code);
  fault.address = fault.has_address ? std::uintptr_t(info->si_addr) : 0;
  fault.code = posix::fault_code(signal_number, signal_code,
                                 fault.has_address && in_stack_guard(fault.address));
  fault.pc = context_pc(context);
  if (fault_handler handler = installed_handler.load()) handler(fault);
  // The handler must not return; if it does, end as it would have.
  _exit(-1);
}

void note_own_stack() noexcept {
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return;
  void* base = nullptr;
  std::size_t size = 0;
  if (pthread_attr_getstack(&attributes, &base, &size) == 0)
    stack_low = std::uintptr_t(base);
  pthread_attr_destroy(&attributes);
}

}  // namespace

bool install_fault_handler(fault_handler handler) noexcept {
  installed_handler.store(handler);
  note_own_stack();

  stack_t stack{};
  stack.ss_sp = alternate_stack;
  stack.ss_size = alternate_stack_size;
  stack.ss_flags = 0;
  if (sigaltstack(&stack, nullptr) != 0) return false;

  struct sigaction action {};
  action.sa_sigaction = on_fault;
  // SA_NODEFER: a fault inside the handler enters it again (and ends the
  // process with the handler's status) instead of killing it by the signal.
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  for (int signal_number : fault_signals)
    if (sigaction(signal_number, &action, nullptr) != 0) return false;
  return true;
}

thread_fault_stack::thread_fault_stack() noexcept {
  note_own_stack();
  stack_ = std::malloc(alternate_stack_size);
  if (!stack_) return;
  stack_t stack{};
  stack.ss_sp = stack_;
  stack.ss_size = alternate_stack_size;
  if (sigaltstack(&stack, nullptr) != 0) {
    std::free(stack_);
    stack_ = nullptr;
  }
}

thread_fault_stack::~thread_fault_stack() {
  if (!stack_) return;
  stack_t off{};
  off.ss_flags = SS_DISABLE;
  sigaltstack(&off, nullptr);
  std::free(stack_);
}

}  // namespace Velk::os
