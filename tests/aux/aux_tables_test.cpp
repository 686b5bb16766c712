// References, array sizes, named metatables and the string buffer.
#include <string>
#include <vector>

#include "aux_fixture.h"
#include "vm/auxlib.h"

namespace qv::testing {
namespace {

using TablesTest = MachineTest;

TEST_F(TablesTest, ReferencesStartAtThreeAndReuseFreedOnes) {
  VmNewTable(L);
  const int t = 1;
  std::vector<int32_t> refs;
  for (int i = 0; i < 3; ++i) {
    VmPushNumber(L, 100 + i);
    refs.push_back(VmRef(L, t));
  }
  EXPECT_EQ(refs, (std::vector<int32_t>{3, 4, 5}));
  VmRawGetI(L, t, 4);
  EXPECT_EQ(VmToNumber(L, -1), 101);
  VmSetTop(L, 1);

  VmUnref(L, t, 4);
  VmPushString(L, "again");
  EXPECT_EQ(VmRef(L, -2), 4);  // a relative table index works too
  VmRawGetI(L, t, 4);
  EXPECT_STREQ(VmToString(L, -1), "again");
  VmSetTop(L, 1);

  VmPushNil(L);
  EXPECT_EQ(VmRef(L, t), kNoReference);
  EXPECT_EQ(VmGetTop(L), 1);
  VmPushNumber(L, 9);
  EXPECT_EQ(VmRef(L, t), 6);  // nil took no slot
  VmSetTop(L, 0);
}

TEST_F(TablesTest, UnrefOfValuesNeverHandedOutIsHarmless) {
  VmNewTable(L);
  const int t = 1;
  for (int i = 0; i < 3; ++i) {
    VmPushNumber(L, i);
    VmRef(L, t);
  }
  for (int32_t bad : {-1, 0, 1, 2, 6, 500}) VmUnref(L, t, bad);
  VmRawGetI(L, t, 1);
  EXPECT_EQ(VmType(L, -1), kTypeNil);  // the free list is still empty
  VmRawGetI(L, t, 2);
  EXPECT_EQ(VmType(L, -1), kTypeNil);
  VmSetTop(L, 1);
  VmPushNumber(L, 7);
  EXPECT_EQ(VmRef(L, t), 6);
  VmPushNumber(L, 8);
  EXPECT_EQ(VmRef(L, t), 7);

  // The registry as reference table keeps its sizes table at key 2.
  VmGetSizesTable(L);
  for (int32_t bad : {0, 1, 2}) VmUnref(L, kRegistryIndex, bad);
  VmRawGetI(L, kRegistryIndex, kSizesTableKey);
  EXPECT_TRUE(VmRawEqual(L, -1, -2));
  VmSetTop(L, 0);
}

TEST_F(TablesTest, ReferenceCyclesDoNotGrowTheTable) {
  // Settle the registry's reference bookkeeping, then measure.
  VmPushString(L, "warm-up");
  VmUnref(L, kRegistryIndex, VmRef(L, kRegistryIndex));
  VmSetGCThreshold(L, 0);
  uint32_t before = VmGetGCCount(L);
  int highest = VmGetN(L, kRegistryIndex);

  std::vector<int32_t> held;
  for (int i = 0; i < 100000; ++i) {
    VmNewTable(L);  // a fresh collectable value each time
    int32_t ref = VmRef(L, kRegistryIndex);
    ASSERT_GE(ref, kFirstReference);
    if (i % 1000 == 0) {
      held.push_back(ref);  // a few stay alive for a while, so the free list has depth
    } else {
      VmUnref(L, kRegistryIndex, ref);
    }
    if (held.size() == 20) {
      for (int32_t h : held) VmUnref(L, kRegistryIndex, h);
      held.clear();
    }
  }
  for (int32_t h : held) VmUnref(L, kRegistryIndex, h);
  EXPECT_LE(VmGetN(L, kRegistryIndex), highest + 21);
  VmSetGCThreshold(L, 0);
  EXPECT_LE(VmGetGCCount(L), before + 2);  // kilobytes
  EXPECT_EQ(VmGetTop(L), 0);
}

TEST_F(TablesTest, SizesPreferTheOwnFieldThenTheSizesTableThenCounting) {
  // A table with t.n >= 0 keeps its size there.
  VmNewTable(L);
  VmPushString(L, "n");
  VmPushNumber(L, 0);
  VmRawSet(L, 1);
  VmSetN(L, 1, 12);
  VmPushString(L, "n");
  VmRawGet(L, 1);
  EXPECT_EQ(VmToNumber(L, -1), 12);
  VmSetTop(L, 1);
  EXPECT_EQ(VmGetN(L, 1), 12);

  // Without one it goes to the weak sizes table.
  VmNewTable(L);
  for (int i = 1; i <= 4; ++i) {
    VmPushNumber(L, i);
    VmRawSetI(L, 2, i);
  }
  EXPECT_EQ(VmGetN(L, 2), 4);  // counted
  VmSetN(L, -1, 2);
  EXPECT_EQ(VmGetN(L, 2), 2);
  VmPushString(L, "n");
  VmRawGet(L, 2);
  EXPECT_EQ(VmType(L, -1), kTypeNil);
  VmSetTop(L, 2);

  // The sizes table is its own weak-keyed metatable at registry[2].
  VmGetSizesTable(L);
  EXPECT_EQ(VmGetMetaTable(L, -1), 1);
  EXPECT_TRUE(VmRawEqual(L, -1, -2));
  VmPushString(L, "__mode");
  VmRawGet(L, -2);
  EXPECT_STREQ(VmToString(L, -1), "k");
  VmSetTop(L, 0);
}

int32_t Describe(qvScriptState* L) {
  VmPushString(L, VmType(L, 1) == kTypeUserdata ? "a brush" : "something");
  return 1;
}

TEST_F(TablesTest, NamedMetatablesIdentifyTheirUserdata) {
  EXPECT_EQ(VmNewMetaTable(L, "qvbrush"), 1);
  VmPushString(L, "__describe");
  VmPushCClosure(L, Describe, 0);
  VmRawSet(L, -3);
  EXPECT_EQ(VmNewMetaTable(L, "qvbrush"), 0);
  EXPECT_TRUE(VmRawEqual(L, -1, -2));
  VmRawGet(L, kRegistryIndex);  // registry[table] is the name
  EXPECT_STREQ(VmToString(L, -1), "qvbrush");
  VmSetTop(L, 0);
  EXPECT_EQ(VmNewMetaTable(L, "qvother"), 1);
  VmSetTop(L, 0);

  void* block = VmNewUserdata(L, 16);
  VmGetNamedMetaTable(L, "qvbrush");
  VmSetMetaTable(L, 1);
  VmPushNumber(L, 3);  // something without a metatable

  EXPECT_EQ(VmCheckUdata(L, 1, "qvbrush"), block);
  EXPECT_EQ(VmCheckUdata(L, -2, "qvbrush"), block);
  EXPECT_EQ(VmCheckUdata(L, 1, "qvother"), nullptr);
  EXPECT_EQ(VmCheckUdata(L, 1, "unregistered"), nullptr);
  EXPECT_EQ(VmCheckUdata(L, 2, "qvbrush"), nullptr);
  EXPECT_EQ(VmGetTop(L), 2);

  EXPECT_EQ(VmGetMetaField(L, 1, "__missing"), 0);
  EXPECT_EQ(VmGetMetaField(L, 2, "__describe"), 0);
  EXPECT_EQ(VmGetTop(L), 2);
  EXPECT_EQ(VmGetMetaField(L, 1, "__describe"), 1);
  EXPECT_EQ(VmType(L, -1), kTypeFunction);
  VmSetTop(L, 2);

  int32_t status = Run([&] { VmPushValue(L, 1); },
                       [](qvScriptState* S) {
                         EXPECT_EQ(VmCallMeta(S, 1, "__describe"), 1);
                         EXPECT_STREQ(VmToString(S, -1), "a brush");
                         int top = VmGetTop(S);
                         EXPECT_EQ(VmCallMeta(S, 1, "__missing"), 0);
                         EXPECT_EQ(VmGetTop(S), top);
                       });
  EXPECT_EQ(status, 0);
  VmSetTop(L, 0);
}

TEST_F(TablesTest, StringBufferJoinsPiecesAndKeepsFewOnTheStack) {
  int32_t status = Run([](qvScriptState* S) {
    VmPushString(S, "below");  // the caller's own value stays under the pieces
    const int base = VmGetTop(S);
    qvStringBuffer b;
    VmBufferInit(S, &b);
    std::string expected;
    for (int i = 0; i < 3000; ++i) {
      std::string piece = "item" + std::to_string(i) + ";";
      switch (i % 7) {
        case 0:
          VmBufferAddString(&b, piece.c_str());
          break;
        case 1:
          VmPushString(S, piece.c_str());  // small value: copied inline
          VmBufferAddValue(&b);
          break;
        case 2:
          piece = std::string(1500 + i % 600, char('a' + i % 26));  // too big: becomes a piece
          VmPushString(S, piece.c_str());
          VmBufferAddValue(&b);
          break;
        case 3:
          VmPushNumber(S, i + 0.5);
          piece = std::to_string(i) + ".5";
          VmBufferAddValue(&b);
          break;
        case 4:
          piece = std::string("a\0b", 3);  // embedded NUL
          VmBufferAddLString(&b, piece.data(), piece.size());
          break;
        case 5:
          VmBufferFlush(&b);
          VmBufferAddString(&b, piece.c_str());
          break;
        default:
          piece = std::string(5000, 'z');  // spans several inline fills
          VmBufferAddLString(&b, piece.data(), piece.size());
          break;
      }
      expected += piece;
      ASSERT_LT(b.pieces, 10);
      ASSERT_EQ(VmGetTop(S), base + b.pieces);
    }
    VmBufferPushResult(&b);
    ASSERT_EQ(VmGetTop(S), base + 1);
    ASSERT_EQ(VmStrLen(S, -1), expected.size());
    EXPECT_TRUE(std::string(VmToString(S, -1), VmStrLen(S, -1)) == expected);
    EXPECT_STREQ(VmToString(S, base), "below");

    VmBufferInit(S, &b);
    VmBufferPushResult(&b);
    EXPECT_EQ(VmStrLen(S, -1), 0u);
    EXPECT_EQ(VmGetTop(S), base + 2);
  });
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace qv::testing
