// Large blocks from the host: every block of kLargeBlock bytes and more goes through its hooks and
// comes back with the size it was made or last resized with, whatever made it (a table's parts,
// the string table, the pool's arenas, a long string), and a refused one is an out-of-memory
// error that leaves the machine whole.
#include <cstdlib>
#include <cstring>
#include <map>

#include "base/errors.h"
#include "tests/vm/vm_fixture.h"

namespace qv::testing {
namespace {

// The hooks' own record: the live blocks and their sizes, and what went wrong.
struct Ledger {
  std::map<void*, size_t> live;
  int maps = 0, resizes = 0, unmaps = 0;
  int wrongSizes = 0, small = 0;
  bool refuse = false;
};
Ledger gLedger;

void* Map(size_t size) {
  if (gLedger.refuse) return nullptr;
  if (size < kLargeBlock) ++gLedger.small;
  void* p = std::calloc(1, size);
  if (p != nullptr) {
    gLedger.live[p] = size;
    ++gLedger.maps;
  }
  return p;
}

void* Resize(void* block, size_t oldSize, size_t newSize) {
  if (gLedger.refuse) return nullptr;
  auto it = gLedger.live.find(block);
  if (it == gLedger.live.end() || it->second != oldSize) ++gLedger.wrongSizes;
  if (newSize < kLargeBlock) ++gLedger.small;
  if (it != gLedger.live.end()) gLedger.live.erase(it);
  void* p = std::realloc(block, newSize);
  if (p == nullptr) {
    gLedger.live[block] = oldSize;
    return nullptr;
  }
  gLedger.live[p] = newSize;
  ++gLedger.resizes;
  return p;
}

void Unmap(void* block, size_t size) {
  auto it = gLedger.live.find(block);
  if (it == gLedger.live.end() || it->second != size) ++gLedger.wrongSizes;
  if (it != gLedger.live.end()) gLedger.live.erase(it);
  ++gLedger.unmaps;
  std::free(block);
}

// 70 000 string keys (their table's nodes, entries and string table all past kLargeBlock, and
// the strings filling large arenas), a numeric array of 2 MB, and a string doubled to 4 MB.
const char* const kLargeWork = R"qv(
.function main params=0
  NEWTABLE R1, 0, 0
  LOADCONST R2, 0
  LOADCONST R3, 70000
  LOADCONST R4, 1
  JUMP @t1
insert:
  LOADCONST R5, "k"
  MOVE R6, R2
  CONCAT R5, R5, R6
  SETTABLE R1, R5, R2
t1:
  FORLOOP R2, @insert
  LOADCONST R7, 0
  LOADCONST R2, 0
  LOADCONST R3, 70000
  LOADCONST R4, 1
  JUMP @t2
lookup:
  LOADCONST R5, "k"
  MOVE R6, R2
  CONCAT R5, R5, R6
  GETTABLE R8, R1, R5
  ADD R7, R7, R8
t2:
  FORLOOP R2, @lookup
  NEWTABLE R9, arr=262144 hashlog=0
  LOADCONST R2, 0
  LOADCONST R3, 262144
  LOADCONST R4, 1
  JUMP @t3
fill:
  SETTABLE R9, R2, R2
t3:
  FORLOOP R2, @fill
  GETTABLE R10, R9, 262144
  LOADCONST R11, "ab"
  LOADCONST R2, 0
  LOADCONST R3, 21
  LOADCONST R4, 1
  JUMP @t4
double:
  MOVE R12, R11
  MOVE R13, R11
  CONCAT R11, R12, R13
t4:
  FORLOOP R2, @double
  MOVE R8, R10
  MOVE R9, R11
  RETURN R7, n=3
.end
)qv";

class LargeBlockTest : public VmTest {
 protected:
  void SetUp() override {
    gLedger = Ledger{};
    host_ = *VmDefaultHost();
    host_.largeBlocks = {.map = Map, .remap = Resize, .unmap = Unmap};
    VmTest::SetUp();
  }
  const qvVmHost* Host() const override { return &host_; }

  // Closes the machine; every large block must be back by then.
  void Close() {
    EXPECT_EQ(VmCloseStateResidue(L), sizeof(qvScriptState) + sizeof(qvScriptGlobal));
    L = nullptr;
    EXPECT_TRUE(gLedger.live.empty()) << gLedger.live.size() << " large blocks never given back";
    EXPECT_EQ(gLedger.wrongSizes, 0);
    EXPECT_EQ(gLedger.small, 0);
  }

  qvVmHost host_{};
};

TEST_F(LargeBlockTest, EveryLargeBlockComesBackWithItsSize) {
  RunResult r = Run(kLargeWork);
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r.num(0), 70000.0 * 70001.0 / 2);
  EXPECT_EQ(r.num(1), 262144.0);
  EXPECT_EQ(r.str(2).size(), size_t(2) << 21);
  EXPECT_EQ(r.str(2).substr(0, 6), "ababab");
  EXPECT_GT(gLedger.maps, 5);
  EXPECT_GT(gLedger.resizes, 0);  // the entries grow where they lie
  VmSetGCThreshold(L, 0);         // a full collection: the long strings and the tables go
  EXPECT_GT(gLedger.unmaps, 0);
  Close();
}

TEST_F(LargeBlockTest, ARefusedLargeBlockIsOutOfMemory) {
  gLedger.refuse = true;
  RunResult r = Run(kLargeWork);
  EXPECT_EQ(r.status, ERR_MEM);
  gLedger.refuse = false;
  r = Run(kLargeWork);  // the machine is whole and goes on
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.num(0), 70000.0 * 70001.0 / 2);
  Close();
}

}  // namespace
}  // namespace qv::testing
