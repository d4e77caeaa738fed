// Windows implementation of the memory advice: the heap of the runtime
// offers none of it, so every call is a no-op.
#include "support/os/memory.h"

namespace Velk::os {

void advise_large_block(void*, std::size_t) noexcept {}
void advise_large_range(void*, std::size_t) noexcept {}
void keep_freed_heap_memory() noexcept {}

}  // namespace Velk::os
