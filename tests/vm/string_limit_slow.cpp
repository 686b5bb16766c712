// Strings above 2 GiB: the concatenation buffer may not double past what the allocator accepts,
// and the length limit keeps its own error. Needs about 5 GB of memory.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "base/errors.h"
#include "tests/vm/state_fixture.h"

namespace qv::testing {
namespace {

// MemAvailable from the kernel, in bytes; 0 when unknown.
uint64_t AvailableMemory() {
  std::ifstream in("/proc/meminfo");
  std::string key;
  uint64_t kb = 0;
  std::string unit;
  while (in >> key >> kb >> unit) {
    if (key == "MemAvailable:") return kb << 10;
  }
  return 0;
}

class StringLimitTest : public StateTest {};

TEST_F(StringLimitTest, StringsAboveTwoGigabytesAreBuiltAndTheLimitIsItsOwnError) {
  if (AvailableMemory() < (uint64_t(6) << 30)) GTEST_SKIP() << "needs 6 GB of free memory";
  constexpr size_t kPiece = size_t(4) << 20;
  const std::string piece(kPiece, 'q');
  VmSetGCThreshold(L, 0xFFFFFFFFu);  // no collection halves the buffer between the steps

  // 512 pieces fill 2 GiB of the buffer; one more byte used to double it past the allocator's
  // largest block and failed with ERR_MEM.
  size_t length = 0;
  char first = 0, last = 0;
  int32_t status = Protected([&](qvScriptState* L) {
    ASSERT_TRUE(VmCheckStack(L, 520));
    for (int i = 0; i < 512; ++i) VmPushLString(L, piece.data(), piece.size());
    VmPushString(L, "x");
    VmConcat(L, 513);
    length = VmStrLen(L, -1);
    const char* s = VmToString(L, -1);
    first = s[0];
    last = s[length - 1];
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(length, (size_t(2) << 30) + 1);
  EXPECT_EQ(first, 'q');
  EXPECT_EQ(last, 'x');
  VmSetGCThreshold(L, 0);

  // 1024 pieces are 4294967296 bytes, above the limit of 4294967293.
  status = Protected([&](qvScriptState* L) {
    ASSERT_TRUE(VmCheckStack(L, 1030));
    for (int i = 0; i < 1024; ++i) VmPushLString(L, piece.data(), piece.size());
    VmConcat(L, 1024);
  });
  EXPECT_EQ(status, ERR_INTERNAL);
  VmSetGCThreshold(L, 0);
}

}  // namespace
}  // namespace qv::testing
