// The pool's arenas: a large block the machine gives up becomes the next arena, so that a
// growing table's old parts hold the strings made after them instead of fresh pages.
#include "vm/pool.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace qv {
namespace {

constexpr size_t kKiB = 1024;

bool Within(const void* p, const void* block, size_t size) {
  const auto* c = static_cast<const char*>(p);
  const auto* b = static_cast<const char*>(block);
  return c >= b && c < b + size;
}

// Takes blocks of one class until one comes from a new arena; returns that block.
void* FirstBlockOfNextArena(qvPool* pool) {
  void* const newest = pool->arenas;
  for (;;) {
    void* p = PoolAlloc(pool, 32);
    if (p == nullptr || pool->arenas != newest) return p;
  }
}

TEST(PoolTest, TheLargestGivenUpBlockIsTheNextArena) {
  qvPool pool{};
  ASSERT_NE(PoolAlloc(&pool, 32), nullptr);  // the first arena

  // Too small or too large for an arena: back to the C heap (the sanitizer build sees no leak).
  PoolDrop(&pool, std::malloc(16 * kKiB), 16 * kKiB);
  EXPECT_EQ(pool.spare, nullptr);
  PoolDrop(&pool, std::malloc(17 * kKiB * kKiB), 17 * kKiB * kKiB);
  EXPECT_EQ(pool.spare, nullptr);

  // Of several, the largest is kept; the others go back at once.
  void* middle = std::malloc(128 * kKiB);
  PoolDrop(&pool, middle, 128 * kKiB);
  EXPECT_EQ(pool.spare, middle);
  PoolDrop(&pool, std::malloc(64 * kKiB), 64 * kKiB);
  EXPECT_EQ(pool.spare, middle);
  void* large = std::malloc(512 * kKiB);
  std::memset(large, 0x5A, 512 * kKiB);  // a table part's old contents
  PoolDrop(&pool, large, 512 * kKiB);
  EXPECT_EQ(pool.spare, large);

  // The kept block is the next arena, whole: blocks come from it until it is used up.
  void* p = FirstBlockOfNextArena(&pool);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(pool.arenas, large);
  EXPECT_TRUE(Within(p, large, 512 * kKiB));
  EXPECT_EQ(pool.spare, nullptr);
  EXPECT_EQ(pool.end, static_cast<char*>(large) + 512 * kKiB);
  std::memset(p, 0, 32);

  // With nothing kept, the next arena comes from the C heap again.
  void* q = FirstBlockOfNextArena(&pool);
  ASSERT_NE(q, nullptr);
  EXPECT_FALSE(Within(q, large, 512 * kKiB));

  // A kept block the pool never took goes back with the arenas.
  PoolDrop(&pool, std::malloc(256 * kKiB), 256 * kKiB);
  EXPECT_NE(pool.spare, nullptr);
  PoolRelease(&pool);
  EXPECT_EQ(pool.spare, nullptr);
  EXPECT_EQ(pool.arenas, nullptr);
}

}  // namespace
}  // namespace qv
