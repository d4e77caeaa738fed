// POSIX implementation of the immediate process exit.
#include "support/os/process.h"

#include <unistd.h>

namespace Velk::os {

void exit_now(int status) noexcept { _exit(status); }

}  // namespace Velk::os
