// Small blocks of a machine from its own arenas.
#include "vm/pool.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include <sys/mman.h>

#if defined(__SANITIZE_ADDRESS__)
#define QV_POOL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QV_POOL_ASAN 1
#endif
#endif
#ifdef QV_POOL_ASAN
#include <sanitizer/asan_interface.h>
// Free pool space stays poisoned, so that the sanitizer still sees uses of freed objects.
#define QV_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define QV_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define QV_POISON(p, n) ((void)(p), (void)(n))
#define QV_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace qv {

namespace {

constexpr size_t kFirstArena = size_t(64) << 10;  // small machines stay small
constexpr size_t kHugeArena = size_t(2) << 20;    // one huge page

size_t ClassOf(size_t size) { return (size + kPoolGranule - 1) / kPoolGranule - 1; }
size_t ClassBytes(size_t c) { return (c + 1) * kPoolGranule; }

// A new arena, twice the size of the last one up to a huge page, aligned to its size.
bool NewArena(qvPool* pool) {
  size_t size = kFirstArena;
  if (pool->arenas != nullptr) {
    size = 2 * size_t(pool->end - static_cast<char*>(pool->arenas));
    if (size > kHugeArena) size = kHugeArena;
  }
  void* arena = std::aligned_alloc(size, size);
  if (arena == nullptr) return false;
#ifdef MADV_HUGEPAGE
  if (size == kHugeArena) madvise(arena, size, MADV_HUGEPAGE);
#endif
  // The space left in the previous arena goes to the free lists, largest classes first.
  while (pool->end - pool->next >= ptrdiff_t(kPoolGranule)) {
    size_t c = ClassOf(std::min(size_t(pool->end - pool->next), kPoolMaxBlock));
    void* block = pool->next;
    pool->next += ClassBytes(c);
    PoolFree(pool, block, ClassBytes(c));
  }
  *static_cast<void**>(arena) = pool->arenas;
  pool->arenas = arena;
  pool->next = static_cast<char*>(arena) + kPoolGranule;  // after the link
  pool->end = static_cast<char*>(arena) + size;
  QV_POISON(pool->next, size_t(pool->end - pool->next));
  return true;
}

}  // namespace

void* PoolAlloc(qvPool* pool, size_t size) {
  const size_t c = ClassOf(size);
  void* block = pool->freeList[c];
  if (block != nullptr) {
    QV_UNPOISON(block, ClassBytes(c));
    pool->freeList[c] = *static_cast<void**>(block);
    return block;
  }
  if (pool->end - pool->next < ptrdiff_t(ClassBytes(c)) && !NewArena(pool)) return nullptr;
  block = pool->next;
  pool->next += ClassBytes(c);
  QV_UNPOISON(block, ClassBytes(c));
  return block;
}

void PoolFree(qvPool* pool, void* block, size_t size) {
  const size_t c = ClassOf(size);
  QV_UNPOISON(block, sizeof(void*));
  *static_cast<void**>(block) = pool->freeList[c];
  pool->freeList[c] = block;
  QV_POISON(block, ClassBytes(c));
}

void PoolRelease(qvPool* pool) {
  for (void* arena = pool->arenas; arena != nullptr;) {
    void* next = *static_cast<void**>(arena);
    std::free(arena);
    arena = next;
  }
  *pool = qvPool{};
}

}  // namespace qv
