// The collector: weak tables, "__gc" finalisers, the threshold rule, shrinking and exact
// accounting.
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/errors.h"
#include "tests/vm/state_fixture.h"
#include "vm/table.h"

namespace qv::testing {
namespace {

int gFinalised;

int32_t CountFinaliser(qvScriptState*) {
  ++gFinalised;
  return 0;
}

// Keeps its userdata alive in the registry under "saved".
int32_t ResurrectingFinaliser(qvScriptState* L) {
  ++gFinalised;
  VmPushString(L, "saved");
  VmPushValue(L, 1);
  VmRawSet(L, kRegistryIndex);
  return 0;
}

int32_t FailingFinaliser(qvScriptState* L) {
  ++gFinalised;
  VmRaiseError(L, ERR_WRONGOP);
}

class GcTest : public StateTest {
 protected:
  void SetUp() override {
    StateTest::SetUp();
    gFinalised = 0;
  }
  void Collect() { VmSetGCThreshold(L, 0); }
  uint64_t Bytes() { return G(L)->nblocks; }

  // Pushes a table whose metatable has "__mode" = mode.
  void PushWeakTable(const char* mode) {
    VmNewTable(L);
    VmNewTable(L);
    VmPushString(L, "__mode");
    VmPushString(L, mode);
    VmRawSet(L, -3);
    VmSetMetaTable(L, -2);
  }
  // Pushes a userdata whose metatable's "__gc" is fn.
  void PushUserdata(qvCFunction fn, size_t size = 24) {
    VmNewUserdata(L, size);
    VmNewTable(L);
    VmPushString(L, "__gc");
    VmPushCClosure(L, fn, 0);
    VmRawSet(L, -3);
    VmSetMetaTable(L, -2);
  }
  int CountEntries(int t) {
    int n = 0;
    VmPushNil(L);
    while (VmNext(L, t)) {
      ++n;
      VmSetTop(L, -2);
    }
    return n;
  }
};

TEST_F(GcTest, WeakEntriesVanishWithTheirObjects) {
  struct Case {
    const char* mode;
    int left;  // entries left of: [table key] = 1, "s" = {table}, "t" = "text", [n] = userdata
  };
  const Case cases[] = {{"k", 3}, {"v", 2}, {"kv", 1}, {"", 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    PushWeakTable(c.mode);
    VmNewTable(L);
    VmPushNumber(L, 1);
    VmRawSet(L, 1);  // [table] = 1: the key is referenced only here
    VmPushString(L, "s");
    VmNewTable(L);
    VmRawSet(L, 1);  // "s" = {}: the value is referenced only here
    VmPushString(L, "t");
    VmPushString(L, "text");
    VmRawSet(L, 1);  // strings never vanish
    VmPushNumber(L, 7);
    VmNewUserdata(L, 8);
    VmRawSet(L, 1);
    Collect();
    EXPECT_EQ(CountEntries(1), c.left);
    VmPushString(L, "t");
    VmRawGet(L, 1);
    EXPECT_STREQ(VmToString(L, -1), "text");
    VmSetTop(L, 0);
  }
}

TEST_F(GcTest, AFinaliserRunsOnceAndTheUserdataGoesAtTheNextCollection) {
  Collect();
  const uint64_t baseline = Bytes();
  PushUserdata(CountFinaliser, 1000);
  VmSetTop(L, 0);
  Collect();
  EXPECT_EQ(gFinalised, 1);
  EXPECT_GT(Bytes(), baseline + 1000);  // finalised, not yet freed
  Collect();
  EXPECT_EQ(gFinalised, 1);
  EXPECT_EQ(Bytes(), baseline);
}

TEST_F(GcTest, AResurrectedUserdataIsNotFinalisedTwice) {
  Collect();
  const uint64_t baseline = Bytes();
  PushUserdata(ResurrectingFinaliser);
  VmSetTop(L, 0);
  Collect();
  EXPECT_EQ(gFinalised, 1);
  VmPushString(L, "saved");
  VmRawGet(L, kRegistryIndex);
  EXPECT_EQ(VmType(L, -1), kTypeUserdata);
  VmSetTop(L, 0);
  Collect();  // still reachable from the registry
  EXPECT_EQ(gFinalised, 1);
  VmPushString(L, "saved");
  VmPushNil(L);
  VmRawSet(L, kRegistryIndex);
  Collect();
  Collect();
  EXPECT_EQ(gFinalised, 1);
  EXPECT_EQ(Bytes(), baseline);
}

TEST_F(GcTest, AnErrorInAFinaliserPropagatesAndTheOthersRunLater) {
  PushUserdata(FailingFinaliser);
  PushUserdata(CountFinaliser);
  VmSetTop(L, 0);
  // Newest first on the userdata list: the counting one is finalised first.
  EXPECT_EQ(Protected([](qvScriptState* L) { VmSetGCThreshold(L, 0); }), ERR_WRONGOP);
  EXPECT_EQ(gFinalised, 2);
  PushUserdata(CountFinaliser);
  PushUserdata(FailingFinaliser);
  VmSetTop(L, 0);
  EXPECT_EQ(Protected([](qvScriptState* L) { VmSetGCThreshold(L, 0); }), ERR_WRONGOP);
  EXPECT_EQ(gFinalised, 3);  // the failure stopped the run
  EXPECT_EQ(Protected([](qvScriptState* L) { VmSetGCThreshold(L, 0); }), 0);
  EXPECT_EQ(gFinalised, 4);  // the one left over runs at the next collection
}

TEST_F(GcTest, ClosingRunsEachPendingFinaliserOnce) {
  PushUserdata(FailingFinaliser);
  PushUserdata(CountFinaliser);
  PushUserdata(FailingFinaliser);
  VmSetTop(L, 0);
  PushUserdata(CountFinaliser);  // still referenced at close
  qvScriptState* state = L;
  L = nullptr;
  EXPECT_EQ(VmCloseStateResidue(state), sizeof(qvScriptState) + sizeof(qvScriptGlobal));
  EXPECT_EQ(gFinalised, 4);
}

TEST_F(GcTest, TheThresholdIsTwiceTheLiveBytesMinusThoseAwaitingFinalisation) {
  PushUserdata(CountFinaliser, 5000);
  VmSetTop(L, 0);
  Collect();
  const uint64_t dead = sizeof(qvUserdata) + 5000;
  EXPECT_EQ(G(L)->threshold, 2 * Bytes() - dead);
  EXPECT_EQ(VmGetGCThreshold(L), uint32_t((2 * Bytes() - dead) >> 10));
  EXPECT_EQ(VmGetGCCount(L), uint32_t(Bytes() >> 10));
}

TEST_F(GcTest, ALargeThresholdDisablesAutomaticCollection) {
  VmSetGCThreshold(L, 0x400000);
  EXPECT_EQ(G(L)->threshold, 0xFFFFFFFFu);
  for (int i = 0; i < 2000; ++i) {
    PushUserdata(CountFinaliser, 1024);
    VmSetTop(L, 0);
  }
  EXPECT_EQ(gFinalised, 0);
  EXPECT_GT(Bytes(), 2000u * 1024);
  VmSetGCThreshold(L, 100);  // the count is above 100 KB: collects at once
  EXPECT_EQ(gFinalised, 2000);
}

// Closing hands back the pooled strings' bytes without walking them while no string is too long
// for the pool, and frees the long ones when there are any: the count ends exact either way, and
// the leak check of the sanitizer build sees every long string freed.
TEST_F(GcTest, ClosingAccountsForShortAndLongStringsExactly) {
  const std::string longText(kPoolMaxBlock, 'x');
  struct Case {
    const char* name;
    int shortKept, longKept, shortDropped, longDropped;
  };
  const Case kCases[] = {
      {"short strings only", 300, 0, 200, 0},
      {"long strings only", 0, 3, 0, 2},
      {"both kept", 300, 3, 0, 0},
      {"long ones all collected", 300, 0, 0, 4},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    qvScriptState* state = VmOpenState();
    ASSERT_NE(state, nullptr);
    VmCheckStack(state, c.shortKept + c.longKept + 8);
    auto push = [&](int count, bool isLong, const char* tag) {
      for (int i = 0; i < count; ++i) {
        std::string text = (isLong ? longText : std::string()) + tag + std::to_string(i);
        VmPushLString(state, text.data(), text.size());
      }
    };
    push(c.shortDropped, false, "dropped ");
    push(c.longDropped, true, "dropped ");
    VmSetTop(state, 0);
    push(c.shortKept, false, "kept ");
    push(c.longKept, true, "kept ");
    VmSetGCThreshold(state, 0);  // the dropped ones go now, the kept ones at the close
    EXPECT_EQ(G(state)->strt.nlong, uint32_t(c.longKept));
    EXPECT_EQ(VmCloseStateResidue(state), sizeof(qvScriptState) + sizeof(qvScriptGlobal));
  }
}

// A collected string leaves its slot to the strings behind it in the table, also in runs that
// wrap past the table's end: every kept string is still found (interning its text gives it back,
// not a second copy), and the count is exact after each of many collections and resizes.
TEST_F(GcTest, CollectedStringsLeaveTheOthersFindable) {
  const uint32_t fixed = G(L)->strt.nuse;
  std::vector<std::string> kept;
  VmNewTable(L);
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    for (int i = 0; i < 400 + 50 * round; ++i) {
      const std::string text = std::to_string(round) + "/" + std::to_string(i * 7919 % 1000);
      VmPushLString(L, text.data(), text.size());
      if ((i + round) % 3 == 0 && round % 5 != 4) {  // every fifth round keeps nothing
        kept.push_back(text);
        VmRawSetI(L, 1, int(kept.size()));
      } else {
        VmSetTop(L, 1);
      }
    }
    Collect();
    ASSERT_EQ(G(L)->strt.nuse, fixed + kept.size());
    for (size_t j = 0; j < kept.size(); ++j) {
      VmRawGetI(L, 1, int(j + 1));
      ASSERT_EQ(VmInternString(L, kept[j].data(), kept[j].size()), StringOf(&At(-1)));
      VmSetTop(L, 1);
    }
    if (round % 7 == 6) {  // drop most of them: the table shrinks
      VmSetTop(L, 0);
      VmNewTable(L);
      kept.clear();
    }
  }
}

// After collections that free most strings, every string left is in the run of full slots that
// starts at its own place, and its slot gives that place from the hash bits it keeps, for tables
// small enough for them, or from the string itself, for larger ones, as its characters do.
TEST_F(GcTest, EveryStringStaysInTheRunFromItsPlace) {
  VmNewTable(L);
  for (int round = 0; round < 4; ++round) {
    for (int i = 0; i < 3000; ++i) {
      VmPushString(L, ("s" + std::to_string(round) + "/" + std::to_string(i)).c_str());
      if (i % 7 == 0)
        VmRawSetI(L, 1, round * 3000 + i + 1);
      else
        VmSetTop(L, 1);
    }
    Collect();
  }
  const qvStringTable* tb = &G(L)->strt;
  const uint32_t mask = tb->size - 1;
  uint32_t strings = 0;
  for (uint32_t i = 0; i < tb->size; ++i) {
    if (tb->checks[i] == 0) continue;
    const qvStringSlot slot = tb->slots[i];
    ++strings;
    qvString* s = SlotString(slot);
    SCOPED_TRACE(s->data());
    const uint32_t scrambled = StringScramble(VmInternHash(s->data(), s->len));
    ASSERT_EQ(tb->checks[i], StringCheck(scrambled));
    for (uint32_t shift = 1; shift <= 32; ++shift)
      ASSERT_EQ(SlotHome(slot, shift), StringHome(scrambled, shift)) << "shift " << shift;
    for (uint32_t j = SlotHome(slot, tb->shift); j != i; j = (j + 1) & mask)
      ASSERT_NE(tb->checks[j], 0) << "a free place between the string's first place and its own";
  }
  EXPECT_EQ(strings, tb->nuse);
}

// The string table's places as slot words, 0 where a place is free.
std::vector<uint64_t> PlacesOf(const qvStringTable* tb) {
  std::vector<uint64_t> places(tb->size);
  for (uint32_t i = 0; i < tb->size; ++i) places[i] = tb->checks[i] != 0 ? tb->slots[i].word : 0;
  return places;
}

// The plain way to place strings: each into the first free place from its own in a table of
// `size` places, in the order given.
std::vector<uint64_t> PlacedInOrder(const std::vector<uint64_t>& words, uint32_t size) {
  std::vector<uint64_t> places(size);
  const uint32_t shift = 32 - uint32_t(__builtin_ctz(size));
  for (uint64_t word : words) {
    uint32_t j = SlotHome(qvStringSlot{word}, shift);
    while (places[j] != 0) j = (j + 1) & (size - 1);
    places[j] = word;
  }
  return places;
}

// The plain sweep: a walk from a free place that empties each place and puts each survivor back
// into the first free place from its own.
std::vector<uint64_t> SweptPlaces(std::vector<uint64_t> places, const std::set<uint64_t>& dead) {
  const uint32_t size = uint32_t(places.size());
  const uint32_t shift = 32 - uint32_t(__builtin_ctz(size));
  uint32_t start = 0;
  while (places[start] != 0) ++start;
  for (uint32_t k = 1; k < size; ++k) {
    const uint32_t i = (start + k) & (size - 1);
    const uint64_t word = places[i];
    if (word == 0) continue;
    places[i] = 0;
    if (dead.count(word) != 0) continue;
    uint32_t j = SlotHome(qvStringSlot{word}, shift);
    while (places[j] != 0) j = (j + 1) & (size - 1);
    places[j] = word;
  }
  return places;
}

// Tables of every size from the smallest up, filled to their load limit, then strings chosen by
// their places die: alternating, in pairs, at the table's start or end (where runs wrap past
// it). The sweep leaves the places the plain walk does, the kept strings are found, and growing
// and halving the table again places the strings as putting them in one by one in slot order.
TEST(GcStringTableTest, SweepsAndResizesPlaceAsThePlainWalks) {
  struct Pattern {
    const char* name;
    bool (*dies)(uint32_t place, uint32_t size);
  };
  const Pattern kPatterns[] = {
      {"none die", [](uint32_t, uint32_t) { return false; }},
      {"all die", [](uint32_t, uint32_t) { return true; }},
      {"every other dies", [](uint32_t j, uint32_t) { return j % 2 == 0; }},
      {"two die, two stay", [](uint32_t j, uint32_t) { return j % 4 < 2; }},
      {"one in three stays", [](uint32_t j, uint32_t) { return j % 3 != 0; }},
      {"the first places die", [](uint32_t j, uint32_t) { return j < 8; }},
      {"the last places die", [](uint32_t j, uint32_t size) { return j + 8 >= size; }},
  };
  int wrapped = 0;  // strings placed before their own place: runs past the table's end
  for (uint32_t size = 64; size <= 16384; size *= 2) {
    for (const Pattern& p : kPatterns) {
      SCOPED_TRACE(std::string(p.name) + ", " + std::to_string(size) + " places");
      qvScriptState* L = VmOpenState();
      ASSERT_NE(L, nullptr);
      VmSetGCThreshold(L, 0);         // what is left is alive
      VmSetGCThreshold(L, 0x400000);  // no collection until asked
      qvStringTable* tb = &G(L)->strt;
      VmNewTable(L);  // every new string, by its number
      int made = 0;
      while (tb->nuse < size / 4 * 3) {
        VmPushString(L, ("s" + std::to_string(made)).c_str());
        VmRawSetI(L, 1, ++made);
      }
      ASSERT_EQ(tb->size, size);
      const std::vector<uint64_t> before = PlacesOf(tb);
      std::map<const qvString*, uint32_t> placeOf;
      for (uint32_t j = 0; j < size; ++j)
        if (before[j] != 0) {
          placeOf[SlotString(qvStringSlot{before[j]})] = j;
          if (j < SlotHome(qvStringSlot{before[j]}, tb->shift)) ++wrapped;
        }
      std::set<uint64_t> dead;
      std::vector<std::pair<std::string, const qvString*>> kept;
      VmNewTable(L);  // the strings that stay
      for (int i = 1; i <= made; ++i) {
        VmRawGetI(L, 1, i);
        const uint32_t j = placeOf.at(StringOf(VmIndexToAddress(L, -1)));
        if (p.dies(j, size)) {
          dead.insert(before[j]);
          VmSetTop(L, 2);
        } else {
          kept.emplace_back(VmToString(L, -1), StringOf(VmIndexToAddress(L, -1)));
          VmRawSetI(L, 2, int(kept.size()));
        }
      }
      VmRemove(L, 1);
      VmSetGCThreshold(L, 0);
      ASSERT_EQ(tb->size, size) << "the places the strings used before stay";
      std::vector<uint64_t> after = PlacesOf(tb);
      EXPECT_EQ(after, SweptPlaces(before, dead));
      EXPECT_EQ(size_t(tb->nuse), size - std::count(before.begin(), before.end(), 0) - dead.size());
      for (const auto& [text, s] : kept) {
        ASSERT_EQ(s->marked & kMarkBit, 0) << text;
        ASSERT_EQ(VmInternString(L, text.data(), text.size()), s) << text;
      }
      std::vector<uint64_t> inOrder;
      for (uint64_t word : after)
        if (word != 0) inOrder.push_back(word);
      VmResizeStringTable(L, size * 2);
      EXPECT_EQ(PlacesOf(tb), PlacedInOrder(inOrder, size * 2));
      inOrder.clear();
      for (uint64_t word : PlacesOf(tb))
        if (word != 0) inOrder.push_back(word);
      VmResizeStringTable(L, size);
      EXPECT_EQ(PlacesOf(tb), PlacedInOrder(inOrder, size));
      VmSetTop(L, 0);
      EXPECT_EQ(VmCloseStateResidue(L), sizeof(qvScriptState) + sizeof(qvScriptGlobal));
    }
  }
  EXPECT_GT(wrapped, 0) << "no run wrapped past the table's end";
}

TEST_F(GcTest, StorageShrinksWhenMostlyUnused) {
  VmSetGCThreshold(L, 0x400000);  // grow without collecting
  // A deep native frame grows the stack; strings grow the string table.
  EXPECT_EQ(Protected([](qvScriptState* L) {
              VmCheckStack(L, 2000);
              for (int i = 0; i < 2000; ++i) VmPushNumber(L, i);
            }),
            0);
  for (int i = 0; i < 5000; ++i) {
    VmPushString(L, ("string " + std::to_string(i)).c_str());
    VmSetTop(L, 0);
  }
  const int grownStack = L->stacksize;
  EXPECT_GT(grownStack, 2000);
  EXPECT_GE(G(L)->strt.size, 4096u);
  Collect();
  EXPECT_EQ(L->stacksize, grownStack / 2);  // one halving per collection
  for (int i = 0; i < 12; ++i) Collect();
  EXPECT_LE(L->stacksize, 2 * kBasicStackSize);
  EXPECT_EQ(G(L)->strt.size, 64u);
}

// Many short-lived strings between collections: the string table keeps the size they need
// instead of halving at each collection and doubling again before the next.
TEST_F(GcTest, ShortLivedStringsBetweenCollectionsKeepTheStringTableSize) {
  uint32_t size = 0;
  for (int round = 0; round < 6; ++round) {
    SCOPED_TRACE(round);
    VmSetGCThreshold(L, 0x400000);  // only the collections below
    for (int i = 0; i < 3000; ++i) {
      VmPushString(L, ("item " + std::to_string(round) + "," + std::to_string(i)).c_str());
      VmSetTop(L, 0);
    }
    if (round > 0) {
      EXPECT_EQ(G(L)->strt.size, size) << "grew again between collections";
    }
    Collect();
    if (round > 0) {
      EXPECT_EQ(G(L)->strt.size, size) << "halved by a collection";
    }
    size = G(L)->strt.size;
  }
  EXPECT_GE(size, 4096u);
}

TEST_F(GcTest, ObjectsReachableOnlyFromTheStackSurvive) {
  VmNewTable(L);
  VmPushString(L, "child");
  VmNewTable(L);
  VmRawSet(L, 1);
  VmPushCClosure(L, CountFinaliser, 0);
  VmNewUserdata(L, 16);
  Collect();
  VmPushString(L, "child");
  VmRawGet(L, 1);
  EXPECT_EQ(VmType(L, -1), kTypeTable);
  EXPECT_EQ(VmType(L, 2), kTypeFunction);
  EXPECT_EQ(VmType(L, 3), kTypeUserdata);
}

}  // namespace
}  // namespace qv::testing
