// POSIX implementation of the memory advice.
#include "support/os/memory.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

namespace Velk::os {

void advise_large_block(void* block, std::size_t bytes) noexcept {
#ifdef MADV_HUGEPAGE
  // A large block is a mapping of its own. The advice must cover all of it:
  // advising part of a mapping splits it, and the allocator can then no
  // longer grow the block by remapping and copies it instead.
  const std::uintptr_t page = std::uintptr_t(sysconf(_SC_PAGESIZE));
  const std::size_t usable = std::max(bytes, malloc_usable_size(block));
  const std::uintptr_t begin = std::uintptr_t(block) & ~(page - 1);
  const std::uintptr_t end = (std::uintptr_t(block) + usable + page - 1) & ~(page - 1);
  madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)block;
  (void)bytes;
#endif
}

void advise_large_range(void* start, std::size_t bytes) noexcept {
#ifdef MADV_HUGEPAGE
  const std::uintptr_t page = std::uintptr_t(sysconf(_SC_PAGESIZE));
  const std::uintptr_t begin = (std::uintptr_t(start) + page - 1) & ~(page - 1);
  const std::uintptr_t end = (std::uintptr_t(start) + bytes) & ~(page - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)start;
  (void)bytes;
#endif
}

void keep_freed_heap_memory() noexcept {
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
}

}  // namespace Velk::os
