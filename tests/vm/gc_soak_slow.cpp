// The collector under load: ten million short-lived tables with a small threshold.
#include <gtest/gtest.h>

#include <algorithm>

#include "vm/state.h"
#include "vm/vm.h"

namespace qv::testing {
namespace {

TEST(GcSoak, TenMillionShortLivedTablesKeepMemoryBounded) {
  qvScriptState* L = VmOpenState();
  ASSERT_NE(L, nullptr);
  VmSetGCThreshold(L, 0);  // collect now: the baseline is the live data
  const uint64_t baseline = G(L)->nblocks;
  VmSetGCThreshold(L, 64);
  uint64_t peak = 0;
  for (int i = 0; i < 10'000'000; ++i) {
    VmNewTable(L);
    VmPushNumber(L, i);
    VmRawSetI(L, -2, 1);
    VmSetTop(L, -2);
    peak = std::max(peak, G(L)->nblocks);
  }
  EXPECT_LE(peak, 64u * 1024 + 1024);
  VmSetGCThreshold(L, 0);
  EXPECT_EQ(G(L)->nblocks, baseline);
  EXPECT_EQ(VmCloseStateResidue(L), sizeof(qvScriptState) + sizeof(qvScriptGlobal));
}

}  // namespace
}  // namespace qv::testing
