// Small blocks of a machine (strings, tables, closures, small arrays) come from its own arenas,
// in 16-byte size classes with a free list each. Compared with the C heap this keeps objects
// made one after another side by side and makes allocation and freeing a few instructions.
// Arenas go back only when the machine closes.
#pragma once

#include <cstddef>

#include "vm/host.h"

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
#define QV_POOL_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define QV_POOL_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define QV_POOL_POISON(p, n) ((void)(p), (void)(n))
#define QV_POOL_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace qv {

constexpr size_t kPoolGranule = 16;  // block alignment; userdata data relies on it
constexpr size_t kPoolMaxBlock = 256;
constexpr size_t kPoolClasses = kPoolMaxBlock / kPoolGranule;

struct qvPool {
  void* freeList[kPoolClasses];
  char* next;  // unused space of the newest arena, up to `end`
  // Where blocks are handed out to: the newest arena's end (`limit`), or before it where the
  // arena's pages are made resident a stretch at a time (see PoolGrow).
  char* end;
  char* limit;
  void* arenas;  // every arena, newest first, linked through its first word
  void* spare;   // a large block the machine gave up, to be the next arena (see PoolDrop)
  size_t spareSize;
  qvLargeBlocks large;  // where the blocks of kLargeBlock bytes and more come from
  // The host's request that makes pages resident in one go (null: none).
  bool (*populate)(void* block, size_t size);
};

// Blocks larger than the pool's, for the machine and for the pool's own arenas: from the large
// block hooks from kLargeBlock bytes on, else from the C heap. A block is given back or resized
// with the size it was made with, which tells which of the two it came from. Null when there is
// no memory; a block that cannot be resized stays as it was.
bool HeapMapped(const qvPool* pool, size_t size);  // whether such blocks come from the hooks
void* HeapAlloc(const qvPool* pool, size_t size, bool zeroed);
void* HeapRealloc(const qvPool* pool, void* block, size_t oldSize, size_t newSize);
void HeapFree(const qvPool* pool, void* block, size_t size);

inline size_t PoolClass(size_t size) { return (size + kPoolGranule - 1) / kPoolGranule - 1; }
inline size_t PoolClassBytes(size_t c) { return (c + 1) * kPoolGranule; }

// More room for the pool: the next stretch of the newest arena, or a new arena; false when none
// can be had.
bool PoolGrow(qvPool* pool);

// Gives up a large block of the machine (made by HeapAlloc with `size` bytes). One of them, the
// largest, is kept to be the pool's next arena: a table or the string table that doubles frees
// its old block while the strings that fill the new one need new arenas, and pages the machine
// already touched cost no fault. The rest are freed.
void PoolDrop(qvPool* pool, void* block, size_t size);

// A block of 1 .. kPoolMaxBlock bytes from its class's free list or the newest arena, or null
// when neither has one: a path that must make no call leaves taking a new arena to PoolAlloc.
inline void* PoolTake(qvPool* pool, size_t size) {
  const size_t c = PoolClass(size);
  void* block = pool->freeList[c];
  if (block != nullptr) {
    QV_POOL_UNPOISON(block, PoolClassBytes(c));
    void* next = *static_cast<void**>(block);
    pool->freeList[c] = next;
    // The next block of the class is wanted soon and its link read at once: a list that a
    // collection filled in its own order would otherwise cost a wait on memory per block.
    if (next != nullptr) __builtin_prefetch(next, 1);
    return block;
  }
  if (pool->end - pool->next < ptrdiff_t(PoolClassBytes(c))) return nullptr;
  block = pool->next;
  pool->next += PoolClassBytes(c);
  QV_POOL_UNPOISON(block, PoolClassBytes(c));
  return block;
}

// A block of 1 .. kPoolMaxBlock bytes, or null when no room can be had.
inline void* PoolAlloc(qvPool* pool, size_t size) {
  void* block = PoolTake(pool, size);
  if (block != nullptr || !PoolGrow(pool)) return block;
  return PoolTake(pool, size);  // from the new room: the class's list is still empty
}

// Returns a block of that size to its class.
inline void PoolFree(qvPool* pool, void* block, size_t size) {
  const size_t c = PoolClass(size);
  QV_POOL_UNPOISON(block, sizeof(void*));
  *static_cast<void**>(block) = pool->freeList[c];
  pool->freeList[c] = block;
  QV_POOL_POISON(block, PoolClassBytes(c));
}

inline bool PoolSameClass(size_t a, size_t b) { return PoolClass(a) == PoolClass(b); }

// Frees every arena; the blocks in them are gone.
void PoolRelease(qvPool* pool);

}  // namespace qv
