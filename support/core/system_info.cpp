#include "support/core/system_info.h"

#include "support/os/sync.h"
#include "support/os/thread.h"

namespace Velk {

unsigned GetProcessorCount() { return os::processor_count(); }

void YieldThread() { os::yield_thread(); }

}  // namespace Velk
