// Small blocks of a machine (strings, tables, closures, small arrays) come from its own arenas,
// in 16-byte size classes with a free list each. Compared with the C heap this keeps objects
// made one after another side by side, on huge pages where the system gives them, and makes
// allocation and freeing a few instructions. Arenas go back only when the machine closes.
#pragma once

#include <cstddef>

namespace qv {

constexpr size_t kPoolGranule = 16;  // block alignment; userdata data relies on it
constexpr size_t kPoolMaxBlock = 256;
constexpr size_t kPoolClasses = kPoolMaxBlock / kPoolGranule;

struct qvPool {
  void* freeList[kPoolClasses];
  char* next;    // unused space of the newest arena
  char* end;
  void* arenas;  // every arena, newest first, linked through its first word
};

inline bool PoolSameClass(size_t a, size_t b) { return (a + kPoolGranule - 1) / kPoolGranule == (b + kPoolGranule - 1) / kPoolGranule; }

// A block of 1 .. kPoolMaxBlock bytes, or null when no arena can be had.
void* PoolAlloc(qvPool* pool, size_t size);
// Returns a block of that size to its class.
void PoolFree(qvPool* pool, void* block, size_t size);
// Frees every arena; the blocks in them are gone.
void PoolRelease(qvPool* pool);

}  // namespace qv
