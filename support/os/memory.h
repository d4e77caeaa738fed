// Memory advice for large blocks.
#pragma once

#include <cstddef>

namespace Velk::os {

// Blocks at least this large are worth the advice below.
constexpr std::size_t kLargeBlockBytes = std::size_t(8) << 20;

// Asks the system to back the heap block (from malloc or realloc) with huge
// pages where it can: a whole-file buffer is then faulted in a few hundred
// times instead of once per 4 KiB. Advice only; failure changes nothing.
void advise_large_block(void* block, std::size_t bytes) noexcept;

// The same for a range inside a block that another library allocated: only
// the whole pages within the range are advised. The system may split the
// block's mapping, so the block should not be grown afterwards.
void advise_large_range(void* start, std::size_t bytes) noexcept;

// Keeps freed heap memory for reuse instead of returning it to the system at
// once, and serves blocks of 1 MiB and more from mappings of their own. A
// library that allocates and frees a large working area on every call (the
// regular-expression engine does) then stops paying a system call and a TLB
// flush per call.
void keep_freed_heap_memory() noexcept;

}  // namespace Velk::os
