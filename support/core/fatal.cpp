#include "support/core/fatal.h"

#include "support/core/logger.h"
#include "support/os/process.h"

namespace Velk {

void AbortProcess(bool flush_log) noexcept {
  if (flush_log) {
    try {
      FlushLog();
    } catch (...) {
    }
  }
  os::exit_now(-1);
}

}  // namespace Velk
