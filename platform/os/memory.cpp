// Memory hints to the kernel.
#include "platform/memory.h"

#include <sys/mman.h>

#include <cstdint>

namespace qv {

void AdviseHugePages(void* block, size_t size) {
#ifdef MADV_HUGEPAGE
  constexpr uintptr_t kHugePage = uintptr_t(2) << 20;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(block) + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + size) & ~(kHugePage - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)block;
  (void)size;
#endif
}

bool PopulatePages(void* block, size_t size) {
#ifdef MADV_POPULATE_WRITE
  constexpr uintptr_t kPage = 4096;
  const uintptr_t begin = reinterpret_cast<uintptr_t>(block) & ~(kPage - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + size + kPage - 1) & ~(kPage - 1);
  return size > 0 && madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE) == 0;
#else
  (void)block;
  (void)size;
  return false;
#endif
}

}  // namespace qv
