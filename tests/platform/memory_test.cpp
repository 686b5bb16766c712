// The memory requests: pages made resident ahead of use keep what the block holds, whatever
// page boundaries the block starts and ends on; large blocks mapped in whole huge pages.
#include "platform/memory.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

using namespace qv;

TEST(Memory, PopulatedPagesKeepTheirContents) {
  constexpr size_t kBlock = size_t(3) << 20;
  auto* block = static_cast<unsigned char*>(std::malloc(kBlock));
  ASSERT_NE(block, nullptr);
  for (size_t i = 0; i < kBlock; ++i) block[i] = static_cast<unsigned char>(i * 7 + 1);
  const std::vector<unsigned char> before(block, block + kBlock);
  struct Case {
    size_t offset, size;
  };
  // Inside one page, across a boundary, page-aligned, and most of the block.
  const Case kCases[] = {{5, 100}, {4000, 200}, {4096, 8192}, {1, kBlock - 2}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.offset);
    EXPECT_TRUE(PopulatePages(block + c.offset, c.size));  // the kernel has it since 5.14
    EXPECT_EQ(std::memcmp(block, before.data(), kBlock), 0);
  }
  std::free(block);

  auto* zeroed = static_cast<unsigned char*>(std::calloc(1, kBlock));
  ASSERT_NE(zeroed, nullptr);
  EXPECT_TRUE(PopulatePages(zeroed, kBlock));
  const std::vector<unsigned char> zeros(kBlock, 0);
  EXPECT_EQ(std::memcmp(zeroed, zeros.data(), kBlock), 0);
  std::free(zeroed);
}

namespace {

// The VmFlags line of the smaps entry of the mapping that holds `p`.
std::string MappingFlags(const void* p) {
  std::ifstream smaps("/proc/self/smaps");
  const auto address = reinterpret_cast<uintptr_t>(p);
  bool inside = false;
  for (std::string line; std::getline(smaps, line);) {
    uintptr_t begin = 0, end = 0;
    if (std::sscanf(line.c_str(), "%" SCNxPTR "-%" SCNxPTR " ", &begin, &end) == 2) {
      inside = address >= begin && address < end;
    } else if (inside && line.rfind("VmFlags:", 0) == 0) {
      return line;
    }
  }
  return "";
}

bool Mapped(const void* p, size_t size) {
  unsigned char pages[1];
  return mincore(const_cast<void*>(p), std::min<size_t>(size, 4096), pages) == 0;
}

}  // namespace

TEST(Memory, MappedBlocksAreZeroedAlignedAdvisedAndKeepTheirContents) {
  constexpr size_t kMiB = size_t(1) << 20;
  const size_t size = 3 * kMiB + 5;
  auto* block = static_cast<unsigned char*>(MapBlock(size));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % (2 * kMiB), 0u);  // whole huge pages
  const std::vector<unsigned char> zeros(size, 0);
  EXPECT_EQ(std::memcmp(block, zeros.data(), size), 0);
  // The advice, where the kernel has huge pages at all.
  const bool huge = std::ifstream("/sys/kernel/mm/transparent_hugepage/enabled").good();
  if (huge) {
    EXPECT_NE(MappingFlags(block).find(" hg"), std::string::npos) << MappingFlags(block);
  }
  for (size_t i = 0; i < size; ++i) block[i] = static_cast<unsigned char>(i * 13 + 7);
  const std::vector<unsigned char> before(block, block + size);

  // Within the same whole huge pages the block stays where it is.
  EXPECT_EQ(ResizeMappedBlock(block, size, 4 * kMiB), block);
  // Grown, it may move; its contents come along, and so does the advice.
  auto* grown = static_cast<unsigned char*>(ResizeMappedBlock(block, 4 * kMiB, 9 * kMiB));
  ASSERT_NE(grown, nullptr);
  EXPECT_EQ(std::memcmp(grown, before.data(), size), 0);
  grown[9 * kMiB - 1] = 1;  // the new end is writable
  if (huge) {
    EXPECT_NE(MappingFlags(grown).find(" hg"), std::string::npos);
  }
  // Shrunk, it keeps its first bytes.
  auto* shrunk = static_cast<unsigned char*>(ResizeMappedBlock(grown, 9 * kMiB, kMiB));
  ASSERT_NE(shrunk, nullptr);
  EXPECT_EQ(std::memcmp(shrunk, before.data(), kMiB), 0);

  ASSERT_TRUE(Mapped(shrunk, kMiB));
  UnmapBlock(shrunk, kMiB);
  EXPECT_FALSE(Mapped(shrunk, kMiB));

  EXPECT_EQ(MapBlock(0), nullptr);
  EXPECT_EQ(MapBlock(SIZE_MAX - 4096), nullptr);
}

TEST(Memory, HugePageBlocksFromTheCHeapStartOnAHugePage) {
  constexpr size_t kMiB = size_t(1) << 20;
  const size_t size = kMiB + 3;
  const std::vector<unsigned char> zeros(size, 0);
  // Written all over and given back, then taken again (most often the same memory): a cleared
  // block reads as zeros all the same.
  for (int round = 0; round < 3; ++round) {
    auto* dirty = static_cast<unsigned char*>(AllocHugePageBlock(size, false));
    ASSERT_NE(dirty, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(dirty) % (2 * kMiB), 0u);
    std::memset(dirty, 0xAB, size);
    std::free(dirty);  // a block of the C heap like any other
    auto* clean = static_cast<unsigned char*>(AllocHugePageBlock(size, true));
    ASSERT_NE(clean, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(clean) % (2 * kMiB), 0u);
    EXPECT_EQ(std::memcmp(clean, zeros.data(), size), 0);
    std::free(clean);
  }
  EXPECT_EQ(AllocHugePageBlock(0, true), nullptr);
}

// Whether a block was ever touched, page by page: a write and a mere read both count; pages given
// back are untouched again.
TEST(Memory, PagesNeverTouchedUntilWrittenOrRead) {
  constexpr size_t kPage = 4096, kPages = 40;
  auto* block = static_cast<unsigned char*>(
      mmap(nullptr, kPages * kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(block, MAP_FAILED);
  EXPECT_TRUE(PagesNeverTouched(block, kPages * kPage));
  EXPECT_TRUE(PagesNeverTouched(block + 5, 3 * kPage));  // page boundaries of its own

  block[20 * kPage + 100] = 1;
  EXPECT_FALSE(PagesNeverTouched(block, kPages * kPage));
  EXPECT_FALSE(PagesNeverTouched(block + 20 * kPage + 4000, 1));
  EXPECT_TRUE(PagesNeverTouched(block, 20 * kPage));               // the pages before it
  EXPECT_TRUE(PagesNeverTouched(block + 21 * kPage, 19 * kPage));  // and after it
  EXPECT_FALSE(PagesNeverTouched(block + 20 * kPage - 1, 2));  // the last byte before and its first

  volatile unsigned char read = block[3 * kPage];
  (void)read;
  EXPECT_FALSE(PagesNeverTouched(block, 4 * kPage));  // a read maps a page too

  ASSERT_EQ(madvise(block, kPages * kPage, MADV_DONTNEED), 0);
  EXPECT_TRUE(PagesNeverTouched(block, kPages * kPage));
  EXPECT_FALSE(PagesNeverTouched(block, 0));
  munmap(block, kPages * kPage);
}
