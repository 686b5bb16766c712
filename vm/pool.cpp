// Small blocks of a machine from its own arenas.
#include "vm/pool.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace qv {

namespace {
constexpr size_t kFirstArena = size_t(64) << 10;  // small machines stay small
constexpr size_t kLargestArena = size_t(2) << 20;
// A kept block is at most this large: the pool keeps its arenas until the machine closes, and a
// machine that never needs the space again holds it no longer than it held the block.
constexpr size_t kLargestSpare = size_t(16) << 20;
// An arena of the C heap is made resident this much at a time as blocks are handed out from it:
// one request for many pages costs about half as much as a fault per page, and an arena that is
// never filled has no more than a stretch made resident for nothing.
constexpr size_t kResidentStretch = size_t(64) << 10;

// Moves the end of the handed-out room a stretch on, the pages of the stretch made resident.
void OpenStretch(qvPool* pool) {
  char* const from = pool->end;
  pool->end = size_t(pool->limit - from) > kResidentStretch ? from + kResidentStretch : pool->limit;
  pool->populate(from, size_t(pool->end - from));
}
}  // namespace

bool HeapMapped(const qvPool* pool, size_t size) {
  return size >= kLargeBlock && pool->large.map != nullptr;
}

void* HeapAlloc(const qvPool* pool, size_t size, bool zeroed) {
  if (HeapMapped(pool, size)) return pool->large.map(size);
  return zeroed ? std::calloc(1, size) : std::malloc(size);
}

void* HeapRealloc(const qvPool* pool, void* block, size_t oldSize, size_t newSize) {
  const bool was = HeapMapped(pool, oldSize), now = HeapMapped(pool, newSize);
  if (was && now) return pool->large.remap(block, oldSize, newSize);
  if (!was && !now) return std::realloc(block, newSize);
  void* p = HeapAlloc(pool, newSize, false);
  if (p == nullptr) return nullptr;
  std::memcpy(p, block, std::min(oldSize, newSize));
  HeapFree(pool, block, oldSize);
  return p;
}

void HeapFree(const qvPool* pool, void* block, size_t size) {
  if (block == nullptr) return;
  if (HeapMapped(pool, size)) {
    // The sanitizer forgets nothing of pages given back: a kept block or an arena goes back
    // poisoned, and whatever is mapped there next would read as poisoned.
    QV_POOL_UNPOISON(block, size);
    pool->large.unmap(block, size);
  } else {
    std::free(block);
  }
}

void PoolDrop(qvPool* pool, void* block, size_t size) {
  if (size < kFirstArena || size > kLargestSpare || size <= pool->spareSize) {
    HeapFree(pool, block, size);
    return;
  }
  HeapFree(pool, pool->spare, pool->spareSize);
  pool->spare = block;
  pool->spareSize = size;
  QV_POOL_POISON(block, size);
}

// The next stretch of the newest arena while it has one; else a new arena, twice the size of the
// last one up to kLargestArena (the largest ones are large blocks, from the host where it has
// them).
bool PoolGrow(qvPool* pool) {
  if (pool->end != pool->limit) {
    OpenStretch(pool);
    return true;
  }
  size_t size = kFirstArena;
  if (pool->arenas != nullptr) {
    size = 2 * size_t(pool->limit - static_cast<char*>(pool->arenas));
    if (size > kLargestArena) size = kLargestArena;
  }
  bool fresh = false;  // new memory of the C heap, whose pages nothing touched yet
  void* arena = pool->spare;
  if (arena != nullptr) {
    size = pool->spareSize;
    pool->spare = nullptr;
    pool->spareSize = 0;
    QV_POOL_UNPOISON(arena, kPoolGranule);  // the link and the size
  } else {
    arena = HeapAlloc(pool, size, false);
    if (arena == nullptr) return false;
    // A mapped arena's first touch brings in a whole huge page at once.
    fresh = !HeapMapped(pool, size);
  }
  // The space left in the previous arena goes to the free lists, largest classes first.
  while (pool->end - pool->next >= ptrdiff_t(kPoolGranule)) {
    const size_t c = PoolClass(std::min(size_t(pool->end - pool->next), kPoolMaxBlock));
    void* block = pool->next;
    pool->next += PoolClassBytes(c);
    PoolFree(pool, block, PoolClassBytes(c));
  }
  pool->limit = static_cast<char*>(arena) + size;
  if (fresh && pool->populate != nullptr) {
    pool->end = static_cast<char*>(arena);
    OpenStretch(pool);  // before the first write, which would fault its page in alone
  } else {
    pool->end = pool->limit;
  }
  // The arena's first granule: the link to the previous arena and its own size.
  static_assert(kPoolGranule >= sizeof(void*) + sizeof(size_t));
  static_cast<void**>(arena)[0] = pool->arenas;
  static_cast<size_t*>(arena)[1] = size;
  pool->arenas = arena;
  pool->next = static_cast<char*>(arena) + kPoolGranule;  // after the link and the size
  QV_POOL_POISON(pool->next, size_t(pool->limit - pool->next));
  return true;
}

void PoolRelease(qvPool* pool) {
  for (void* arena = pool->arenas; arena != nullptr;) {
    void* next = static_cast<void**>(arena)[0];
    HeapFree(pool, arena, static_cast<size_t*>(arena)[1]);
    arena = next;
  }
  HeapFree(pool, pool->spare, pool->spareSize);
  *pool = qvPool{};
}

}  // namespace qv
