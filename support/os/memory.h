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

}  // namespace Velk::os
