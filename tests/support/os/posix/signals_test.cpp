#include <gtest/gtest.h>
#include <signal.h>

#include "support/os/posix/fault_codes.h"

namespace Velk::os::posix {
namespace {

TEST(FaultCodesTest, SignalAndCodeMapOntoTheTable) {
  struct Case {
    int signal_number;
    int signal_code;
    bool in_stack_guard;
    std::uint32_t code;
  } cases[] = {
      {SIGSEGV, SEGV_MAPERR, false, 0xC0000005u},
      {SIGSEGV, SEGV_ACCERR, false, 0xC0000005u},
      {SIGSEGV, SEGV_MAPERR, true, 0xC00000FDu},
      {SIGBUS, BUS_ADRALN, false, 0x80000002u},
      {SIGBUS, BUS_ADRERR, false, 0xC0000006u},
      {SIGBUS, BUS_OBJERR, false, 0xC0000006u},
      {SIGILL, ILL_ILLOPC, false, 0xC000001Du},
      {SIGILL, ILL_ILLOPN, false, 0xC000001Du},
      {SIGILL, ILL_PRVOPC, false, 0xC0000096u},
      {SIGILL, ILL_PRVREG, false, 0xC0000096u},
      {SIGFPE, FPE_INTDIV, false, 0xC0000094u},
      {SIGFPE, FPE_INTOVF, false, 0xC0000095u},
      {SIGFPE, FPE_FLTDIV, false, 0xC000008Eu},
      {SIGFPE, FPE_FLTOVF, false, 0xC0000091u},
      {SIGFPE, FPE_FLTUND, false, 0xC0000093u},
      {SIGFPE, FPE_FLTRES, false, 0xC000008Fu},
      {SIGFPE, FPE_FLTINV, false, 0xC0000090u},
      {SIGFPE, FPE_FLTSUB, false, 0xC0000090u},
      {SIGFPE, SI_USER, false, 0xC0000090u},
      {SIGTRAP, TRAP_BRKPT, false, 0x80000003u},
      {SIGTRAP, SI_USER, false, 0x80000003u},
  };
  for (const Case& c : cases)
    EXPECT_EQ(fault_code(c.signal_number, c.signal_code, c.in_stack_guard), c.code)
        << "signal " << c.signal_number << " code " << c.signal_code;
}

TEST(FaultCodesTest, OnlyMemoryFaultsRaisedByTheKernelCarryAnAddress) {
  EXPECT_TRUE(carries_fault_address(SIGSEGV, SEGV_MAPERR));
  EXPECT_TRUE(carries_fault_address(SIGBUS, BUS_ADRERR));
  EXPECT_FALSE(carries_fault_address(SIGSEGV, SI_USER));
  EXPECT_FALSE(carries_fault_address(SIGFPE, FPE_INTDIV));
  EXPECT_FALSE(carries_fault_address(SIGTRAP, TRAP_BRKPT));
}

}  // namespace
}  // namespace Velk::os::posix
