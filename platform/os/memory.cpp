// Memory hints to the kernel.
#include "platform/memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace qv {

namespace {

constexpr size_t kHugePage = size_t(2) << 20;

size_t MappedBytes(size_t size) { return (size + kHugePage - 1) & ~(kHugePage - 1); }

}  // namespace

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

bool PagesNeverTouched(const void* block, size_t size) {
  if (size == 0) return false;
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pageSize <= 0) return false;
  const uintptr_t page = uintptr_t(pageSize);
  const uintptr_t first = reinterpret_cast<uintptr_t>(block) / page;
  const uintptr_t last = (reinterpret_cast<uintptr_t>(block) + size - 1) / page;
  const int fd = open("/proc/self/pagemap", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  // One 64-bit entry per page: bit 63 resident, bit 62 swapped out.
  constexpr uint64_t kResidentOrSwapped = uint64_t(3) << 62;
  uint64_t entries[512];
  bool untouched = true;
  for (uintptr_t at = first; untouched && at <= last;) {
    const size_t want = size_t(std::min<uintptr_t>(last - at + 1, std::size(entries)));
    const ssize_t got = pread(fd, entries, want * sizeof entries[0], off_t(at * sizeof entries[0]));
    if (got != ssize_t(want * sizeof entries[0])) {
      untouched = false;
      break;
    }
    for (size_t i = 0; i < want; ++i)
      untouched = untouched && (entries[i] & kResidentOrSwapped) == 0;
    at += want;
  }
  close(fd);
  return untouched;
}

void* MapBlock(size_t size) {
  if (size == 0 || size > SIZE_MAX - 2 * kHugePage) return nullptr;
  const size_t bytes = MappedBytes(size);
  constexpr int kProt = PROT_READ | PROT_WRITE, kFlags = MAP_PRIVATE | MAP_ANONYMOUS;
  void* p = mmap(nullptr, bytes, kProt, kFlags, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  if (reinterpret_cast<uintptr_t>(p) % kHugePage != 0) {
    // A kernel that places such a mapping anywhere: map a huge page more and cut off both ends.
    munmap(p, bytes);
    auto* q = static_cast<char*>(mmap(nullptr, bytes + kHugePage, kProt, kFlags, -1, 0));
    if (q == MAP_FAILED) return nullptr;
    const size_t head = (kHugePage - reinterpret_cast<uintptr_t>(q) % kHugePage) % kHugePage;
    if (head != 0) munmap(q, head);
    if (head != kHugePage) munmap(q + head + bytes, kHugePage - head);
    p = q + head;
  }
#ifdef MADV_HUGEPAGE
  madvise(p, bytes, MADV_HUGEPAGE);
#endif
  return p;
}

void* ResizeMappedBlock(void* block, size_t oldSize, size_t newSize) {
  if (newSize == 0 || newSize > SIZE_MAX - 2 * kHugePage) return nullptr;
  const size_t oldBytes = MappedBytes(oldSize), newBytes = MappedBytes(newSize);
  if (oldBytes == newBytes) return block;
  // Moved, the pages keep their contents and the mapping its huge-page advice.
  void* p = mremap(block, oldBytes, newBytes, MREMAP_MAYMOVE);
  return p == MAP_FAILED ? nullptr : p;
}

void UnmapBlock(void* block, size_t size) {
  if (block != nullptr) munmap(block, MappedBytes(size));
}

void* AllocHugePageBlock(size_t size, bool clear) {
  if (size == 0 || size > SIZE_MAX - 2 * kHugePage) return nullptr;
  const size_t bytes = MappedBytes(size);
  void* p = std::aligned_alloc(kHugePage, bytes);
  if (p == nullptr) return nullptr;
  // Cleared by giving its pages back: the next touch of each is a fresh zeroed page, so a block
  // that is never written costs nothing, as with calloc, whether the C heap had used its memory
  // before or not. The block is whole pages of its own, clear of the C heap's records.
  if (clear && madvise(p, bytes, MADV_DONTNEED) != 0) std::memset(p, 0, size);
  AdviseHugePages(p, bytes);
  return p;
}

}  // namespace qv
