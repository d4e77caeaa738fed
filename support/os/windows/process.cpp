// Windows implementation of the immediate process exit.
#include "support/os/process.h"

#include "support/os/windows/windows.h"

namespace Velk::os {

// TerminateProcess runs no DLL detach code and no runtime clean-up, which
// is what an exit from a fault handler needs.
void exit_now(int status) noexcept {
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(status));
  ::ExitProcess(static_cast<UINT>(status));
}

}  // namespace Velk::os
