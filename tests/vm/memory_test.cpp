// Memory exhaustion: with the test builds' allocation limit every allocation point can fail;
// each failure is ERR_MEM, leaves the machine consistent and loses no accounted byte.
#include <string>

#include "base/errors.h"
#include "tests/vm/vm_fixture.h"
#include "vm/table.h"

namespace qv::testing {
namespace {

class MemoryTest : public VmTest {
 protected:
  void TearDown() override {
    gAllocationLimit = UINT64_MAX;
    VmTest::TearDown();
  }
  // Runs `attempt` with the limit at every step above the current count until it succeeds;
  // every failure must be ERR_MEM. Returns the number of failures.
  template <typename F>
  int FailEverywhere(F attempt, uint64_t step) {
    VmSetGCThreshold(L, 0);
    const uint64_t base = G(L)->nblocks;
    int failures = 0;
    for (uint64_t extra = 0;; extra += step) {
      gAllocationLimit = base + extra;
      int32_t status = attempt();
      gAllocationLimit = UINT64_MAX;
      VmSetTop(L, 0);
      if (status == 0) break;
      EXPECT_EQ(status, ERR_MEM) << extra;
      if (status != ERR_MEM) break;
      ++failures;
    }
    return failures;
  }
};

const char* const kWork = R"qv(
.function main params=0 vararg
  .source "@work.qvs"
  NEWTABLE R1, 0, 0
  LOADCONST R2, 0
  LOADCONST R3, 40
  LOADCONST R4, 1
  JUMP @test
body:
  LOADCONST R5, "key "
  MOVE R6, R2
  CONCAT R5, R5, R6
  CLOSURE R7, keep [R5]
  SETTABLE R1, R5, R7
  SETTABLE R1, R2, R5
  CLOSE R5
  GOSUB @sub
test:
  FORLOOP R2, @body
  GETTABLE R8, R1, "key 7"
  CALL R8, nargs=0, nres=1
  RETURN R8, n=1
sub:
  NEWTABLE R9, 2, 1
  RETSUB
  .function keep
    .upvalue "v"
    GETUPVAL R0, U0
    RETURN R0, n=1
  .end
.end
)qv";

TEST_F(MemoryTest, LoadingFailsCleanlyAtEveryAllocation) {
  std::vector<uint8_t> bytes = Assemble(kWork);
  int failures = FailEverywhere([&] { return Load(bytes, 5); }, 16);
  EXPECT_GT(failures, 20);
  EXPECT_EQ(Load(bytes), 0);
}

TEST_F(MemoryTest, RunningFailsCleanlyAtEveryAllocation) {
  std::vector<uint8_t> bytes = Assemble(kWork);
  ASSERT_EQ(Load(bytes), 0);
  VmSetTop(L, 0);
  int failures = FailEverywhere(
      [&] {
        int32_t status = Load(bytes);
        if (status != 0) return status;
        for (int i = 0; i < 5; ++i) VmPushNumber(L, i);  // the vararg table
        return VmPCall(L, 5, 1, 0);
      },
      64);
  EXPECT_GT(failures, 20);
  RunResult r = Run(kWork);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.str(0), "key 7");
  EXPECT_EQ(L->ci, L->baseCi);
  EXPECT_EQ(G(L)->gosubTop, 0);
}

// Appending to a long string fails at every allocation (a new text block, the new string's
// block, the string table's growth) with ERR_MEM and loses no accounted byte (the close counts
// them); with room the same appends make the text.
TEST_F(MemoryTest, AppendingFailsCleanlyAtEveryAllocation) {
  struct Work {
    std::string start;
    std::string text;
  } work{std::string(300, 's'), {}};
  const auto grow = [](qvScriptState* L, void* arg) {
    auto* w = static_cast<Work*>(arg);
    VmPushLString(L, w->start.data(), w->start.size());
    for (int i = 0; i < 300; ++i) {
      VmPushString(L, "item");
      VmPushNumber(L, i);
      VmConcat(L, 3);
    }
    w->text = std::string(VmToString(L, -1), VmStrLen(L, -1));
  };
  std::string expected = work.start;
  for (int i = 0; i < 300; ++i) expected += "item" + std::to_string(i);
  int failures = FailEverywhere([&] { return VmRunProtected(L, grow, &work); }, 16);
  EXPECT_GT(failures, 20);
  EXPECT_EQ(work.text, expected);
}

// Whichever of a rehash's blocks the limit refuses (the nodes, the entries growing where they lie,
// the array part), the table keeps every key it had.
TEST_F(MemoryTest, AFailedRehashKeepsTheTable) {
  for (const uint64_t room : {16u << 10, 64u << 10, 200u << 10, 1u << 20}) {
    SCOPED_TRACE(room);
    VmNewTable(L);
    int inserted = 0;
    gAllocationLimit = G(L)->nblocks + room;
    int32_t status = VmRunProtected(
        L,
        [](qvScriptState* L, void* arg) {
          int* count = static_cast<int*>(arg);
          for (int i = 0; i < 100000; ++i, ++*count) {
            VmPushNumber(L, i * 7 + 0.5);  // hash keys
            VmPushNumber(L, i);
            VmRawSet(L, 1);
          }
        },
        &inserted);
    gAllocationLimit = UINT64_MAX;
    EXPECT_EQ(status, ERR_MEM);
    ASSERT_GT(inserted, 100);
    VmSetTop(L, 1);
    for (int i = 0; i < inserted; ++i) {
      VmPushNumber(L, i * 7 + 0.5);
      VmRawGet(L, 1);
      ASSERT_EQ(VmToNumber(L, -1), i) << i;
      VmSetTop(L, -2);
    }
    VmSetTop(L, 0);
  }
}

// A new string that the limit refuses, its block or the string table's growth before it, leaves
// the string table and the byte count as they were; with room, the same characters make it.
TEST_F(MemoryTest, ARefusedStringLeavesTheStringTable) {
  struct Text {
    const std::string* text;
  };
  const auto intern = [](qvScriptState* L, void* arg) {
    const std::string& text = *static_cast<Text*>(arg)->text;
    VmInternString(L, text.data(), text.size());
  };
  int number = 0;
  for (size_t len : {1, 7, 16, 40, 300}) {
    // Below the growth, then with the table full up to it: the refused growth comes first.
    for (const bool atGrowth : {false, true}) {
      SCOPED_TRACE(::testing::Message() << len << " " << atGrowth);
      qvStringTable* tb = &G(L)->strt;
      while (atGrowth && uint64_t(tb->nuse + 1) * 4 <= uint64_t(tb->size) * 3) {
        const std::string filler = "filler " + std::to_string(number++);
        VmPushLString(L, filler.data(), filler.size());  // kept on the stack
      }
      std::string text(len, 'x');
      text += std::to_string(number++);
      Text arg{&text};
      const uint32_t nuse = tb->nuse, size = tb->size;
      const uint64_t bytes = tb->bytes, nblocks = G(L)->nblocks;
      gAllocationLimit = nblocks;
      EXPECT_EQ(VmRunProtected(L, intern, &arg), ERR_MEM);
      gAllocationLimit = UINT64_MAX;
      EXPECT_EQ(tb->nuse, nuse);
      EXPECT_EQ(tb->size, size);
      EXPECT_EQ(tb->bytes, bytes);
      EXPECT_EQ(G(L)->nblocks, nblocks);
      qvString* s = VmInternString(L, text.data(), text.size());
      EXPECT_EQ(std::string(s->data(), s->len), text);
      EXPECT_EQ(tb->nuse, nuse + 1);
      EXPECT_EQ(VmInternString(L, text.data(), text.size()), s);
    }
    VmSetTop(L, 0);
  }
}

}  // namespace
}  // namespace qv::testing
