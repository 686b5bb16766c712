// Strings grown by appending: a long left string is appended to in its text block, and every
// string stays what it was, the one string of its text, accounted byte for byte.
#include <cstring>
#include <string>

#include "tests/vm/state_fixture.h"
#include "vm/ops.h"

namespace qv::testing {
namespace {

class AppendTest : public StateTest {
 protected:
  void SetUp() override {
    StateTest::SetUp();
    ASSERT_TRUE(VmCheckStack(L, 20));  // the stack never grows, nor shrinks at a collection
  }
  void Collect() { VmSetGCThreshold(L, 0); }
  // The bytes of the objects: the count without the string table's places and the join
  // buffer, which a collection may shrink.
  uint64_t ObjectBytes() {
    return G(L)->nblocks - uint64_t(G(L)->strt.size) * kStringPlaceBytes - G(L)->buffsize;
  }
  qvString* Str(int index) { return StringOf(&At(index)); }
  // The text without lending it out as a C string (which VmToString does).
  std::string Text(int index) { return std::string(Str(index)->data(), Str(index)->len); }
  // s = s .. "item" .. i .. "," for the string at `index`.
  static void AppendItem(qvScriptState* L, int index, int i) {
    VmPushValue(L, index);
    VmPushString(L, "item");
    VmPushNumber(L, i);
    VmPushString(L, ",");
    VmConcat(L, 4);
    VmReplace(L, index);
  }
  static void Append(qvScriptState* L, int index, const std::string& piece) {
    VmPushValue(L, index);
    VmPushLString(L, piece.data(), piece.size());
    VmConcat(L, 2);
    VmReplace(L, index);
  }
  static std::string Items(int from, int to) {
    std::string text;
    for (int i = from; i <= to; ++i) text += "item" + std::to_string(i) + ",";
    return text;
  }
};

TEST_F(AppendTest, AGrownStringIsTheStringOfItsTextAndOnesKeptOnTheWayStayAsTheyWere) {
  EXPECT_EQ(Protected([&](qvScriptState* L) {
              VmPushString(L, "");  // 1: the growing string
              VmPushNil(L);         // 2: kept from the middle of the growth
              const std::string early = Items(1, 2000);
              VmPushLString(L, early.data(), early.size());  // 3: made before the growth
              for (int i = 1; i <= 3000; ++i) {
                AppendItem(L, 1, i);
                if (i == 2000) {  // the text is there already: that string is the result
                  EXPECT_EQ(At(1).value.gc, At(3).value.gc);
                  VmSetTop(L, 2);
                }
                if (i == 1500) {
                  VmPushValue(L, 1);
                  VmReplace(L, 2);
                }
                if (i % 400 == 0) Collect();  // blocks and kept strings live on
              }
              const std::string text = Items(1, 3000), kept = Items(1, 1500);
              ASSERT_TRUE(InTextBlock(Str(1)));
              ASSERT_TRUE(InTextBlock(Str(2)));
              EXPECT_EQ(Text(1), text);
              EXPECT_EQ(Text(2), kept);

              // The same texts built at once are the same strings.
              VmPushLString(L, text.data(), text.size());  // 3
              VmPushLString(L, kept.data(), kept.size());  // 4
              EXPECT_EQ(At(3).value.gc, At(1).value.gc);
              EXPECT_EQ(At(4).value.gc, At(2).value.gc);
              EXPECT_TRUE(VmRawEqual(L, 1, 3));
              EXPECT_FALSE(VmRawEqual(L, 1, 2));

              // A key stored by the grown string is found by the text built at once.
              VmNewTable(L);  // 5
              VmPushValue(L, 1);
              VmPushNumber(L, 7);
              VmSetTable(L, 5);
              VmPushValue(L, 3);
              VmGetTable(L, 5);
              EXPECT_EQ(VmToNumber(L, -1), 7);
              VmSetTop(L, 5);

              // Ordered by bytes and without case, the kept prefix first.
              EXPECT_TRUE(VmLessThan(L, 2, 1, 1));
              EXPECT_FALSE(VmLessThan(L, 1, 2, 1));
              EXPECT_TRUE(VmLessThan(L, 2, 1, 0));
              EXPECT_FALSE(VmLessThan(L, 1, 2, 0));

              // As C strings each ends at its own end, the kept one too (its block goes on).
              EXPECT_EQ(std::string(VmToString(L, 2)), kept);
              EXPECT_EQ(std::string(VmToString(L, 1)), text);
              EXPECT_EQ(Text(2), kept);
            }),
            0);
}

TEST_F(AppendTest, AppendsToOneValueGoTheirOwnWays) {
  EXPECT_EQ(Protected([&](qvScriptState* L) {
              const std::string base(1000, 'a');
              VmPushString(L, "");  // 1
              for (int i = 0; i < 100; ++i) Append(L, 1, std::string(10, 'a'));
              ASSERT_TRUE(InTextBlock(Str(1)));
              VmPushValue(L, 1);  // 2: s .. "x" .. "zz"
              Append(L, 2, "x");
              VmPushValue(L, 1);  // 3: s .. "y"
              Append(L, 3, "y");
              Append(L, 2, "zz");
              VmPushValue(L, 1);  // 4: s .. s
              VmPushValue(L, 1);
              VmConcat(L, 2);
              Append(L, 3, "w");
              EXPECT_EQ(Text(1), base);
              EXPECT_EQ(Text(2), base + "xzz");
              EXPECT_EQ(Text(3), base + "yw");
              EXPECT_EQ(Text(4), base + base);
              const std::string twice = base + base;
              VmPushLString(L, twice.data(), twice.size());
              EXPECT_EQ(At(5).value.gc, At(4).value.gc);
            }),
            0);
}

// A C string lent out ends where its string ends while the string lives, whatever is appended
// to the string afterwards.
TEST_F(AppendTest, ATextLentAsACStringKeepsItsEnd) {
  EXPECT_EQ(Protected([&](qvScriptState* L) {
              VmPushString(L, "");
              for (int i = 1; i <= 100; ++i) AppendItem(L, 1, i);
              ASSERT_TRUE(InTextBlock(Str(1)));
              const char* lent = VmToString(L, 1);
              VmPushValue(L, 1);
              AppendItem(L, 2, 101);
              Collect();
              EXPECT_EQ(std::strlen(lent), Items(1, 100).size());
              EXPECT_EQ(std::string(lent), Items(1, 100));
              EXPECT_EQ(Text(2), Items(1, 101));
            }),
            0);
}

// After a collection a grown string costs exactly its own block and its text block, one that has
// room up to twice its length; gone, it leaves the count where it was, and the same text built
// at once costs its block.
TEST_F(AppendTest, AGrownStringIsAccountedExactly) {
  EXPECT_EQ(Protected([&](qvScriptState* L) {
              Collect();
              const uint64_t before = ObjectBytes();
              VmPushString(L, "");  // 1
              for (int i = 1; i <= 5000; ++i) AppendItem(L, 1, i);
              Collect();
              const size_t len = Str(1)->len;
              ASSERT_TRUE(InTextBlock(Str(1)));
              const size_t block = BlockOf(Str(1))->size;
              EXPECT_EQ(ObjectBytes() - before, kBlockStringBytes + block);
              EXPECT_LE(block, sizeof(qvTextBlock) + 2 * (len + kNumberBufferSize) + 1);
              const std::string text = Items(1, 5000);
              VmSetTop(L, 0);
              Collect();
              EXPECT_EQ(ObjectBytes(), before);
              VmPushLString(L, text.data(), text.size());
              Collect();
              EXPECT_FALSE(InTextBlock(Str(1)));
              EXPECT_EQ(ObjectBytes() - before, StringBlockSize(len));
              VmSetTop(L, 0);
              Collect();
              EXPECT_EQ(ObjectBytes(), before);
            }),
            0);
}

}  // namespace
}  // namespace qv::testing
