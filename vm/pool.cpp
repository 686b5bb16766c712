// Small blocks of a machine from its own arenas.
#include "vm/pool.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace qv {

namespace {
constexpr size_t kFirstArena = size_t(64) << 10;  // small machines stay small
constexpr size_t kLargestArena = size_t(2) << 20;
// A kept block is at most this large: the pool keeps its arenas until the machine closes, and a
// machine that never needs the space again holds it no longer than it held the block.
constexpr size_t kLargestSpare = size_t(16) << 20;
}  // namespace

void PoolDrop(qvPool* pool, void* block, size_t size) {
  if (size < kFirstArena || size > kLargestSpare || size <= pool->spareSize) {
    std::free(block);
    return;
  }
  std::free(pool->spare);
  pool->spare = block;
  pool->spareSize = size;
  QV_POOL_POISON(block, size);
}

// A new arena, twice the size of the last one up to kLargestArena. Plain pages: a huge page
// costs a fault that clears all of it at once, and where the memory behind it is fresh to the
// machine's host that fault takes longer than the strings it would hold take to build.
bool PoolGrow(qvPool* pool) {
  size_t size = kFirstArena;
  if (pool->arenas != nullptr) {
    size = 2 * size_t(pool->end - static_cast<char*>(pool->arenas));
    if (size > kLargestArena) size = kLargestArena;
  }
  void* arena = pool->spare;
  if (arena != nullptr) {
    size = pool->spareSize;
    pool->spare = nullptr;
    pool->spareSize = 0;
    QV_POOL_UNPOISON(arena, kPoolGranule);  // the link
  } else {
    arena = std::malloc(size);
    if (arena == nullptr) return false;
  }
  // The space left in the previous arena goes to the free lists, largest classes first.
  while (pool->end - pool->next >= ptrdiff_t(kPoolGranule)) {
    const size_t c = PoolClass(std::min(size_t(pool->end - pool->next), kPoolMaxBlock));
    void* block = pool->next;
    pool->next += PoolClassBytes(c);
    PoolFree(pool, block, PoolClassBytes(c));
  }
  *static_cast<void**>(arena) = pool->arenas;
  pool->arenas = arena;
  pool->next = static_cast<char*>(arena) + kPoolGranule;  // after the link
  pool->end = static_cast<char*>(arena) + size;
  QV_POOL_POISON(pool->next, size_t(pool->end - pool->next));
  return true;
}

void PoolRelease(qvPool* pool) {
  for (void* arena = pool->arenas; arena != nullptr;) {
    void* next = *static_cast<void**>(arena);
    std::free(arena);
    arena = next;
  }
  std::free(pool->spare);
  *pool = qvPool{};
}

}  // namespace qv
