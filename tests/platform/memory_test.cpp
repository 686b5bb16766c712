// The memory requests: pages made resident ahead of use keep what the block holds, whatever
// page boundaries the block starts and ends on.
#include "platform/memory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
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
