// POSIX implementation of the memory advice.
#include "support/os/memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace Velk::os {

void advise_large_block(void* block, std::size_t bytes) noexcept {
#ifdef MADV_HUGEPAGE
  const std::uintptr_t page = std::uintptr_t(sysconf(_SC_PAGESIZE));
  const std::uintptr_t begin = (std::uintptr_t(block) + page - 1) & ~(page - 1);
  const std::uintptr_t end = (std::uintptr_t(block) + bytes) & ~(page - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)block;
  (void)bytes;
#endif
}

}  // namespace Velk::os
