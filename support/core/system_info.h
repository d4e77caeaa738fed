// Two small system queries for the library's threads: how many processors
// this process may run on, and giving up the rest of a time slice. Neither
// fails.
#pragma once

namespace Velk {

// At least 1.
unsigned GetProcessorCount();

// Lets another ready thread run (used while waiting for a state to change).
void YieldThread();

}  // namespace Velk
