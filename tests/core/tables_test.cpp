// Tables as arrays: the sort's fast path for numbers against the general path, inconsistent
// orders that must never take the scans past the array, and the nesting limit of deep copies.
#include "core/tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "base/errors.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {
namespace {

class TablesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    L = VmOpenState();
    ASSERT_NE(L, nullptr);
  }
  void TearDown() override { VmCloseState(L); }

  void PushArray(const std::vector<double>& items) {
    VmNewTable(L);
    for (size_t i = 0; i < items.size(); ++i) {
      VmPushNumber(L, items[i]);
      VmRawSetI(L, -2, static_cast<int>(i));
    }
  }
  std::vector<double> ReadArray(int index, int n) {
    std::vector<double> out;
    for (int i = 0; i < n; ++i) {
      VmRawGetI(L, index, i);
      out.push_back(VmToNumber(L, -1));
      VmSetTop(L, -2);
    }
    return out;
  }

  qvScriptState* L = nullptr;
};

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

TEST_F(TablesTest, NumberFastPathMatchesTheGeneralPathBitForBit) {
  std::mt19937 rng(1234);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const double specials[] = {nan, -0.0, 0.0, inf, -inf, 1, 1, -1};
  for (int round = 0; round < 300; ++round) {
    int n = round < 250 ? round % 60 : 3000;
    std::vector<double> items;
    for (int i = 0; i < n; ++i) {
      uint32_t pick = rng();
      // Few distinct values in some rounds (many ties), NaNs and signed zeros in others.
      if (round % 3 == 0)
        items.push_back(pick % 5);
      else if (round % 3 == 1 && pick % 7 == 0)
        items.push_back(specials[pick % 8]);
      else
        items.push_back(static_cast<double>(pick) / 7.0 - 3e8);
    }
    PushArray(items);
    PushArray(items);
    ASSERT_EQ(SortTable(L, -2, 0), 0);
    ASSERT_EQ(SortTableReference(L, -1, 0), 0);
    EXPECT_TRUE(SameBits(ReadArray(-2, n), ReadArray(-1, n))) << "round " << round << " n " << n;
    VmSetTop(L, 0);
  }
}

// Orders that contradict themselves: the scans must stop at the array's ends. The order function
// reports any value that is not an item: the Nil after the last item, the sentinels beyond.
int gSentinelSeen;
std::mt19937 gOrderRng;
int gOrderKind;

int32_t ChaoticOrder(qvScriptState* L) {
  for (int i = 1; i <= 2; ++i) {
    if (VmType(L, i) != kTypeNumber) gSentinelSeen++;
  }
  double a = VmToNumber(L, 1);
  double b = VmToNumber(L, 2);
  int result;
  switch (gOrderKind) {
    case 0:
      result = 1;
      break;  // everything comes first
    case 1:
      result = static_cast<int>(gOrderRng() & 1);
      break;  // coin tosses
    case 2:
      result = a <= b;
      break;  // "or equal" puts a pivot before itself
    default:
      result = a > 50 ? 1 : a < b;
      break;  // large items claim to come first
  }
  VmPushNumber(L, result);
  return 1;
}

struct SortRun {
  int n;
  int32_t code;
};

void SortWithOrder(qvScriptState* L, void* arg) {
  auto* run = static_cast<SortRun*>(arg);
  run->code = SortTable(L, 1, 2);
}

TEST_F(TablesTest, InconsistentOrdersNeverLeaveTheArray) {
  gOrderRng.seed(99);
  int failures = 0;
  for (gOrderKind = 0; gOrderKind < 4; ++gOrderKind) {
    for (int n = 2; n < 120; n += 3) {
      VmSetTop(L, 0);
      VmNewTable(L);
      VmPushString(L, "below");
      VmRawSetI(L, 1, -1);
      VmPushString(L, "above");  // item n is Nil: the array ends before it
      VmRawSetI(L, 1, n + 1);
      std::vector<int> perm(n);
      for (int i = 0; i < n; ++i) perm[i] = i;
      std::shuffle(perm.begin(), perm.end(), gOrderRng);
      for (int i = 0; i < n; ++i) {
        VmPushNumber(L, perm[i]);
        VmRawSetI(L, 1, i);
      }
      VmPushCClosure(L, ChaoticOrder, 0);
      gSentinelSeen = 0;
      SortRun run{n, -1};
      ASSERT_EQ(VmRunProtected(L, SortWithOrder, &run), 0);
      EXPECT_TRUE(run.code == 0 || run.code == ERR_SORTFUNC) << run.code;
      if (run.code == ERR_SORTFUNC) failures++;
      EXPECT_EQ(gSentinelSeen, 0) << "order " << gOrderKind << " n " << n;
      // Every item is still there once.
      std::vector<int> seen(n, 0);
      for (int i = 0; i < n; ++i) {
        VmRawGetI(L, 1, i);
        ASSERT_EQ(VmType(L, -1), kTypeNumber) << i;
        seen[static_cast<int>(VmToNumber(L, -1))]++;
        VmSetTop(L, -2);
      }
      for (int i = 0; i < n; ++i) EXPECT_EQ(seen[i], 1) << "n " << n << " item " << i;
    }
  }
  EXPECT_GT(failures, 0);  // the contradictions are noticed, not only survived
}

TEST_F(TablesTest, CopyNestingHasALimit) {
  for (int depth : {100, 100000}) {
    VmSetTop(L, 0);
    VmNewTable(L);
    VmPushValue(L, 1);
    for (int i = 0; i < depth; ++i) {
      VmNewTable(L);
      VmPushString(L, "next");
      VmPushValue(L, -2);
      VmRawSet(L, -4);
      VmRemove(L, -2);
    }
    VmSetTop(L, 1);
    int32_t code = CopyTable(L, 1);
    if (depth == 100) {
      ASSERT_EQ(code, 0);
      EXPECT_EQ(VmGetTop(L), 2);
      EXPECT_FALSE(VmRawEqual(L, 1, 2));
    } else {
      EXPECT_EQ(code, ERR_STACK);
      EXPECT_EQ(VmGetTop(L), 1);
    }
  }
}

}  // namespace
}  // namespace qv
