// The pool's arenas: a large block the machine gives up becomes the next arena, so that a
// growing table's old parts hold the strings made after them instead of fresh pages.
#include "vm/pool.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

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

// Large blocks from mapping hooks go back to them, and a kept block goes back without the poison
// that the sanitizer build gives it while kept: what is mapped at its place next is plain memory.
void* MapForTest(size_t size) {
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}
void* RemapForTest(void* block, size_t oldSize, size_t newSize) {
  void* p = mremap(block, oldSize, newSize, MREMAP_MAYMOVE);
  return p == MAP_FAILED ? nullptr : p;
}
void UnmapForTest(void* block, size_t size) { munmap(block, size); }

TEST(PoolTest, AKeptMappedBlockGoesBackPlain) {
  qvPool pool{};
  pool.large = {MapForTest, RemapForTest, UnmapForTest};
  void* kept = HeapAlloc(&pool, kLargeBlock, false);
  ASSERT_NE(kept, nullptr);
  PoolDrop(&pool, kept, kLargeBlock);
  EXPECT_EQ(pool.spare, kept);
  void* larger = HeapAlloc(&pool, 2 * kLargeBlock, false);
  ASSERT_NE(larger, nullptr);
  PoolDrop(&pool, larger, 2 * kLargeBlock);  // the smaller one goes back
  EXPECT_EQ(pool.spare, larger);
  void* again = mmap(kept, kLargeBlock, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  if (again == kept) {  // the place was still free
    std::memset(again, 1, kLargeBlock);
    munmap(again, kLargeBlock);
  }
  PoolRelease(&pool);  // the larger one, never an arena, goes back too
  EXPECT_EQ(pool.spare, nullptr);
}

// The stretches the host was asked to make resident, in order.
std::vector<std::pair<const char*, size_t>> gStretches;
bool RecordStretch(void* block, size_t size) {
  gStretches.emplace_back(static_cast<const char*>(block), size);
  return true;
}

// With the host's request, a fresh arena is made resident a stretch at a time just ahead of the
// blocks handed out from it: every block lies in a stretch asked for before it was handed out,
// every stretch lies in an arena and holds (part of) a block, so none was asked for nothing. A
// kept block, touched before, is taken whole.
TEST(PoolTest, FreshArenasAreMadeResidentAheadOfTheirBlocks) {
  gStretches.clear();
  qvPool pool{};
  pool.populate = RecordStretch;
  struct Block {
    const char* p;
    size_t size;
  };
  std::vector<Block> blocks;
  auto asked = [](const char* c) {
    for (const auto& [from, n] : gStretches)
      if (c >= from && c < from + n) return true;
    return false;
  };
  // Its first and last bytes (a block may run from one stretch into the next).
  auto inAskedStretch = [&](const Block& b) { return asked(b.p) && asked(b.p + b.size - 1); };
  // Three arenas' worth (64, 128 and 256 KiB) of blocks of mixed classes.
  size_t taken = 0;
  for (int i = 0; taken < 300 * kKiB; ++i) {
    const size_t size = 16 + size_t(i % 7) * 32;
    auto* p = static_cast<char*>(PoolAlloc(&pool, size));
    ASSERT_NE(p, nullptr);
    blocks.push_back({p, size});
    ASSERT_TRUE(inAskedStretch(blocks.back())) << "block " << i;
    std::memset(p, 0x33, size);
    taken += size;
  }
  ASSERT_GE(gStretches.size(), 5u);
  for (const auto& [from, n] : gStretches) {
    EXPECT_LE(n, 64 * kKiB);
    bool inArena = false;
    for (void* a = pool.arenas; a != nullptr; a = static_cast<void**>(a)[0])
      inArena = inArena || (Within(from, a, static_cast<size_t*>(a)[1]) &&
                            from + n <= static_cast<char*>(a) + static_cast<size_t*>(a)[1]);
    EXPECT_TRUE(inArena);
    bool used = false;
    for (const Block& b : blocks) used = used || (b.p < from + n && b.p + b.size > from);
    EXPECT_TRUE(used);
  }

  // A kept block becomes the next arena without a request.
  void* kept = std::malloc(512 * kKiB);
  PoolDrop(&pool, kept, 512 * kKiB);
  void* p = FirstBlockOfNextArena(&pool);
  ASSERT_TRUE(Within(p, kept, 512 * kKiB));
  for (const auto& [from, n] : gStretches) EXPECT_FALSE(Within(from, kept, 512 * kKiB));
  EXPECT_EQ(pool.end, static_cast<char*>(kept) + 512 * kKiB);
  PoolRelease(&pool);
}

}  // namespace
}  // namespace qv
