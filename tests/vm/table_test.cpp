// Tables: key rules, array sizing and migration on rehash, traversal, metamethods and their
// absence cache, checked against a model under random operations.
#include "vm/table.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <string>
#include <variant>

#include "base/errors.h"
#include "tests/vm/state_fixture.h"
#include "vm/ops.h"

namespace qv::testing {
namespace {

class TableTest : public StateTest {
 protected:
  qvTable* TableAt(int index) { return TableOf(VmIndexToAddress(L, index)); }

  void SetNumberKey(int t, double key, double value) {
    VmPushNumber(L, key);
    VmPushNumber(L, value);
    VmRawSet(L, t);
  }
  double GetNumberKey(int t, double key) {
    VmPushNumber(L, key);
    VmRawGet(L, t);
    double v = VmType(L, -1) == kTypeNil ? -1 : VmToNumber(L, -1);
    VmSetTop(L, -2);
    return v;
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
  // The traversal of the table at index t, numbers by their bits.
  std::vector<std::string> Traverse(int t) {
    auto text = [this](int i) {
      switch (VmType(L, i)) {
        case kTypeNumber:
          return "n" + std::to_string(std::bit_cast<uint64_t>(VmToNumber(L, i)));
        case kTypeString:
          return "s" + std::string(VmToString(L, i));
        default:
          return "t" + std::to_string(VmType(L, i));
      }
    };
    std::vector<std::string> entries;
    VmPushNil(L);
    while (VmNext(L, t)) {
      entries.push_back(text(-2) + "=" + text(-1));
      VmSetTop(L, -2);
    }
    return entries;
  }
};

const double kReserved = std::bit_cast<double>(kReservedNaN);

TEST_F(TableTest, NilAndMinusZeroAreKeyZero) {
  VmNewTable(L);
  VmPushNil(L);
  VmPushNumber(L, 5);
  VmRawSet(L, 1);
  EXPECT_EQ(GetNumberKey(1, 0), 5);
  VmPushNil(L);
  VmRawGet(L, 1);
  EXPECT_EQ(VmToNumber(L, -1), 5);
  VmSetTop(L, 1);
  SetNumberKey(1, -0.0, 6);
  EXPECT_EQ(GetNumberKey(1, 0), 6);
  EXPECT_EQ(CountEntries(1), 1);
  VmPushNil(L);
  ASSERT_EQ(VmNext(L, 1), 1);
  EXPECT_FALSE(std::signbit(VmToNumber(L, -2)));  // stored as 0, not -0
}

TEST_F(TableTest, NaNKeysRaiseOnWriteAndReadAsNil) {
  EXPECT_EQ(Protected([](qvScriptState* L) {
              VmNewTable(L);
              VmPushNumber(L, NAN);
              VmPushNumber(L, 1);
              VmRawSet(L, -3);
            }),
            ERR_TABLEINDEX);
  EXPECT_EQ(Protected([](qvScriptState* L) {
              VmNewTable(L);
              VmPushNumber(L, NAN);
              VmPushNumber(L, 1);
              VmSetTable(L, -3);
            }),
            ERR_TABLEINDEX);
  VmNewTable(L);
  VmPushNumber(L, NAN);
  VmGetTable(L, 1);
  EXPECT_EQ(VmType(L, -1), kTypeNil);
}

TEST_F(TableTest, ArraySizeFollowsTheIntegerKeys) {
  struct Case {
    std::vector<double> keys;  // inserted in this order
    uint32_t array;
    uint32_t nodes;  // 1 means the shared empty node
  };
  const Case cases[] = {
      {{1, 2, 3, 4, 5, 6, 7, 8}, 8, 1},
      {{0}, 0, 2},  // key 0 always lives in the hash part
      {{1, 2, 100}, 2, 2},
      {{1, 3}, 4, 1},
      {{4, 3, 2, 1}, 4, 1},  // 4 and 3 start in the hash part and migrate
      {{1.5, 2.5}, 0, 2},
      {{-1, 1}, 0, 2},  // sizes change only when a rehash runs
      {{-1, 1, 2}, 2, 2},
      {{16777217, 1, 2}, 2, 2},  // beyond 2^24: never in the array part
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.keys));
    VmNewTable(L);
    for (size_t i = 0; i < c.keys.size(); ++i) SetNumberKey(1, c.keys[i], double(i));
    EXPECT_EQ(TableAt(1)->sizearray, c.array);
    EXPECT_EQ(NodeCount(TableAt(1)), c.nodes);
    for (size_t i = 0; i < c.keys.size(); ++i) EXPECT_EQ(GetNumberKey(1, c.keys[i]), double(i));
    VmSetTop(L, 0);
  }
}

TEST_F(TableTest, RehashMovesKeysBetweenTheParts) {
  VmNewTable(L);
  for (int i = 1; i <= 64; ++i) SetNumberKey(1, i, i * 10);
  ASSERT_EQ(TableAt(1)->sizearray, 64u);
  for (int i = 2; i <= 64; ++i) {
    VmPushNumber(L, i);
    VmPushNil(L);
    VmRawSet(L, 1);
  }
  // New string keys force rehashes that shrink the array part to the one key left.
  for (int i = 0; i < 40; ++i) {
    VmPushString(L, ("k" + std::to_string(i)).c_str());
    VmPushNumber(L, i);
    VmRawSet(L, 1);
  }
  EXPECT_EQ(TableAt(1)->sizearray, 1u);
  EXPECT_EQ(GetNumberKey(1, 1), 10);
  EXPECT_EQ(GetNumberKey(1, 2), -1);
  EXPECT_EQ(CountEntries(1), 41);
}

TEST_F(TableTest, TraversalSurvivesAssignmentToExistingKeys) {
  VmNewTable(L);
  for (int i = 0; i < 50; ++i) SetNumberKey(1, i, i);
  for (int i = 0; i < 50; ++i) {
    VmPushString(L, ("s" + std::to_string(i)).c_str());
    VmPushNumber(L, i);
    VmRawSet(L, 1);
  }
  std::set<std::string> seen;
  int visits = 0;
  VmPushNil(L);
  while (VmNext(L, 1)) {
    ++visits;
    VmPushValue(L, -2);
    seen.insert(VmToString(L, -1));  // a copy: converting the key itself would break next
    VmSetTop(L, -2);
    // Overwrite the current entry, or clear it.
    VmPushValue(L, -2);
    if (visits % 3 == 0)
      VmPushNil(L);
    else
      VmPushNumber(L, -1);
    VmRawSet(L, 1);
    VmSetTop(L, -2);
  }
  EXPECT_EQ(visits, 100);
  EXPECT_EQ(seen.size(), 100u);
  EXPECT_EQ(CountEntries(1), 100 - 100 / 3);
}

TEST_F(TableTest, TraversalWithAForeignKeyRaises) {
  EXPECT_EQ(Protected([](qvScriptState* L) {
              VmNewTable(L);
              VmPushNumber(L, 1);
              VmPushNumber(L, 1);
              VmRawSet(L, -3);
              VmPushString(L, "never there");
              VmNext(L, -2);
            }),
            ERR_INVNEXTKEY);
}

TEST_F(TableTest, OversizedTablesRaise) {
  EXPECT_EQ(Protected([](qvScriptState* L) { VmNewTableObject(L, 0, 25); }), ERR_TABLEOVERFLOW);
  EXPECT_EQ(Protected([](qvScriptState* L) { VmNewTableObject(L, (1u << 24) + 1, 0); }),
            ERR_TABLEOVERFLOW);
}

// Random sets, clears and reads against a model.
TEST_F(TableTest, AgreesWithAModelUnderRandomOperations) {
  using Key = std::variant<double, std::string>;
  std::map<Key, double> model;
  std::mt19937 rng(12345);
  auto randomKey = [&]() -> Key {
    switch (rng() % 4) {
      case 0:
        return double(int(rng() % 70) - 5);
      case 1:
        return double(rng() % 3000);
      case 2:
        return double(rng() % 100) + 0.5;
      default:
        return "k" + std::to_string(rng() % 200);
    }
  };
  auto pushKey = [&](const Key& k) {
    if (auto* d = std::get_if<double>(&k))
      VmPushNumber(L, *d);
    else
      VmPushString(L, std::get<std::string>(k).c_str());
  };
  VmNewTable(L);
  for (int step = 0; step < 20000; ++step) {
    Key k = randomKey();
    pushKey(k);
    if (rng() % 4 == 0) {
      VmPushNil(L);
      model.erase(k);
    } else {
      double v = step;
      VmPushNumber(L, v);
      model[k] = v;
    }
    VmRawSet(L, 1);
    if (step % 1000 == 999) {
      ASSERT_EQ(CountEntries(1), int(model.size())) << step;
      for (const auto& [key, value] : model) {
        pushKey(key);
        VmRawGet(L, 1);
        ASSERT_EQ(VmToNumber(L, -1), value);
        VmSetTop(L, 1);
      }
    }
  }
}

// The array part holds numbers as words until a value without one arrives; the values, their
// bits and the traversal come out the same either way.
TEST_F(TableTest, AValueWithoutAWordTurnsTheNumericArrayPartIntoSlotsForGood) {
  struct Case {
    const char* name;
    void (*push)(qvScriptState* L);
    bool numeric;  // after the value is stored under key 2
  };
  const Case cases[] = {
      {"a number", [](qvScriptState* L) { VmPushNumber(L, 7); }, true},
      {"nil", [](qvScriptState* L) { VmPushNil(L); }, true},
      {"minus zero", [](qvScriptState* L) { VmPushNumber(L, -0.0); }, true},
      {"a NaN", [](qvScriptState* L) { VmPushNumber(L, -std::nan("")); }, true},
      {"infinity", [](qvScriptState* L) { VmPushNumber(L, HUGE_VAL); }, true},
      {"the reserved NaN", [](qvScriptState* L) { VmPushNumber(L, kReserved); }, false},
      {"a string", [](qvScriptState* L) { VmPushString(L, "two"); }, false},
      {"a light userdata", [](qvScriptState* L) { VmPushLightUserdata(L, L); }, false},
  };
  // Small parts turn into slots in their own block, large ones into a new one.
  for (const Case& c : cases)
    for (int size : {4, 100}) {
      SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(size) + " keys");
      VmNewTable(L);  // 1: the table, numeric
      VmNewTable(L);  // 2: the same entries kept in a table whose array part is slots
      for (int t : {1, 2}) {
        for (int i = 1; i <= size; ++i) SetNumberKey(t, i, i * 1.5);
        c.push(L);
        VmRawSetI(L, t, 2);
      }
      EXPECT_EQ(TableAt(1)->sizearray, size == 4 ? 4u : 128u);
      EXPECT_EQ(TableAt(1)->numeric, c.numeric ? 1 : 0);
      c.push(L);
      VmRawGetI(L, 1, 2);
      EXPECT_EQ(VmRawEqual(L, -1, -2) || VmToNumber(L, -1) != VmToNumber(L, -1), 1);
      if (VmType(L, -1) == kTypeNumber) {  // the bits of what was stored, NaNs included
        EXPECT_EQ(std::bit_cast<uint64_t>(VmToNumber(L, -1)),
                  std::bit_cast<uint64_t>(VmToNumber(L, -2)));
      }
      VmSetTop(L, 2);
      // Table 2 into slots through a string stored and taken back: both traverse alike.
      VmPushString(L, "x");
      VmRawSetI(L, 2, 1);
      SetNumberKey(2, 1, 1.5);
      ASSERT_EQ(TableAt(2)->numeric, 0);
      EXPECT_EQ(Traverse(1), Traverse(2));
      for (int i = 1; i <= size; ++i) {
        if (i != 2) {
          EXPECT_EQ(GetNumberKey(1, i), i * 1.5) << i;
        }
      }
      EXPECT_EQ(CountEntries(1), c.numeric && std::string(c.name) == "nil" ? size - 1 : size);
      // Slots stay slots when numbers come back.
      SetNumberKey(1, 2, 3);
      EXPECT_EQ(TableAt(1)->numeric, c.numeric ? 1 : 0);
      EXPECT_EQ(GetNumberKey(1, 2), 3);
      VmSetTop(L, 0);
    }
}

TEST_F(TableTest, KeysMovingIntoTheArrayPartKeepItNumericOnlyWhenAllAreNumbers) {
  struct Case {
    bool withString;
    bool numeric;
  };
  for (const Case c : {Case{false, true}, Case{true, false}}) {
    SCOPED_TRACE(c.withString);
    VmNewTable(L);
    // 4 and 3 start in the hash part; the rehash for 1 moves them into the array part.
    for (double key : {4.0, 3.0, 2.0, 1.0}) {
      VmPushNumber(L, key);
      if (c.withString && key == 3)
        VmPushString(L, "three");
      else
        VmPushNumber(L, key * 10);
      VmRawSet(L, 1);
    }
    ASSERT_EQ(TableAt(1)->sizearray, 4u);
    EXPECT_EQ(TableAt(1)->numeric, c.numeric ? 1 : 0);
    EXPECT_EQ(Traverse(1),
              (std::vector<std::string>{
                  "n" + std::to_string(std::bit_cast<uint64_t>(1.0)) + "=n" +
                      std::to_string(std::bit_cast<uint64_t>(10.0)),
                  "n" + std::to_string(std::bit_cast<uint64_t>(2.0)) + "=n" +
                      std::to_string(std::bit_cast<uint64_t>(20.0)),
                  "n" + std::to_string(std::bit_cast<uint64_t>(3.0)) + "=" +
                      (c.withString ? std::string("sthree")
                                    : "n" + std::to_string(std::bit_cast<uint64_t>(30.0))),
                  "n" + std::to_string(std::bit_cast<uint64_t>(4.0)) + "=n" +
                      std::to_string(std::bit_cast<uint64_t>(40.0))}));
    VmSetTop(L, 0);
  }
}

// Twin tables under the same random writes, one with a numeric array part and one whose part
// was turned into slots: the same traversal, entry for entry, and the model's values, across
// rehashes that grow and shrink the array part and collections in between.
TEST_F(TableTest, NumericAndSlotArrayPartsAgreeUnderRandomOperations) {
  std::map<double, double> model;
  std::mt19937 rng(2025);
  VmNewTable(L);  // 1: numeric
  VmNewTable(L);  // 2: slots once its array part exists
  bool twinInSlots = false;
  for (int step = 0; step < 30000; ++step) {
    // Mostly keys of a growing and shrinking array part, some in the hash part.
    const double key = (rng() % 8 == 0) ? double(int(rng() % 20) - 10)
                                        : double(1 + rng() % (step < 15000 ? 300 : 40));
    const bool clear = rng() % 3 == 0;
    const double value = (rng() % 50 == 0) ? (rng() % 2 ? -0.0 : std::nan(""))
                                           : double(int(rng() % 1000));
    for (int t : {1, 2}) {
      VmPushNumber(L, key);
      if (clear)
        VmPushNil(L);
      else
        VmPushNumber(L, value);
      VmRawSet(L, t);
    }
    if (clear)
      model.erase(key == 0 ? 0.0 : key);
    else
      model[key == 0 ? 0.0 : key] = value;
    if (!twinInSlots && TableAt(2)->sizearray > 0) {
      // A string under key 1 and back: the twin's array part becomes slots.
      VmPushString(L, "s");
      VmRawSetI(L, 2, 1);
      VmRawGetI(L, 1, 1);
      VmRawSetI(L, 2, 1);
      twinInSlots = true;
      ASSERT_EQ(TableAt(2)->numeric, 0);
    }
    if (step % 1000 == 999) {
      ASSERT_EQ(TableAt(1)->numeric, 1) << step;
      ASSERT_EQ(TableAt(1)->sizearray, TableAt(2)->sizearray) << step;
      ASSERT_EQ(Traverse(1), Traverse(2)) << step;
      ASSERT_EQ(CountEntries(1), int(model.size())) << step;
      for (const auto& [k, v] : model) {
        VmPushNumber(L, k);
        VmRawGet(L, 1);
        ASSERT_EQ(std::bit_cast<uint64_t>(VmToNumber(L, -1)), std::bit_cast<uint64_t>(v)) << k;
        VmSetTop(L, 2);
      }
      if (step % 5000 == 4999) VmSetGCThreshold(L, 0);  // a full collection
    }
  }
  ASSERT_TRUE(twinInSlots);
}

// Where each key lands (main positions, the collision move, the free node moving down, rehash
// sizes, the reinsertion order) decides the traversal order, which scripts see: it is pinned for
// a fixed mix of keys that grows, shrinks its array part and reuses cleared keys (the order the
// placement rules' model in table_order_test.cpp gives).
TEST_F(TableTest, TraversalOrderOfAFixedMixOfKeysIsPinned) {
  VmNewTable(L);
  for (int i = 1; i <= 8; ++i) SetNumberKey(1, i, i);
  auto setString = [&](int i, bool clear) {
    VmPushString(L, ("k" + std::to_string(i)).c_str());
    if (clear)
      VmPushNil(L);
    else
      VmPushNumber(L, i);
    VmRawSet(L, 1);
  };
  for (int i = 0; i < 30; ++i) setString(i, false);
  for (int i : {1, 2, 3, 5, 6, 7}) {  // 4 and 8 leave the array part at the next rehash
    VmPushNumber(L, i);
    VmPushNil(L);
    VmRawSet(L, 1);
  }
  for (double d : {0.5, -3.0, 1e9, 2.25, 0.0}) SetNumberKey(1, d, 1);
  for (int i = 0; i < 30; i += 3) setString(i, true);
  for (int i = 30; i < 45; ++i) setString(i, false);
  for (int i = 0; i < 30; i += 6) setString(i, false);  // cleared keys come back
  std::string order;
  VmPushNil(L);
  while (VmNext(L, 1)) {
    char number[32];
    std::snprintf(number, sizeof number, "%g", VmToNumber(L, -2));
    order += (VmType(L, -2) == kTypeString ? std::string(VmToString(L, -2)) : number) + " ";
    VmSetTop(L, -2);
  }
  EXPECT_EQ(order,
            "k16 k32 k19 4 k39 k31 k11 1e+09 k30 k38 k14 k1 k43 k34 k18 k7 k5 0 k26 k35 k22 k40 "
            "0.5 k36 k41 8 k25 k23 k42 2.25 k12 -3 k28 k20 k37 k8 k24 k0 k17 k2 k44 k13 k29 k33 "
            "k6 k4 k10 ");
  // The same over thousands of keys and several growths, as a digest of the order.
  for (int i = 45; i < 4000; ++i) setString(i, i % 7 == 3);
  for (int i = 0; i < 1500; ++i) SetNumberKey(1, i * 3.5 - 200, i);
  uint64_t digest = 14695981039346656037u;
  VmPushNil(L);
  while (VmNext(L, 1)) {
    const std::string key = VmType(L, -2) == kTypeString
                                ? std::string(VmToString(L, -2))
                                : std::to_string(std::bit_cast<uint64_t>(VmToNumber(L, -2)));
    for (char c : key + " ") digest = (digest ^ uint8_t(c)) * 1099511628211u;
    VmSetTop(L, -2);
  }
  EXPECT_EQ(digest, 16017898379867584349u);
}

// A twin map under random writes of colliding string and number keys: the table grows to
// thousands of keys and shrinks back through rehashes, with collections in between. Every read,
// the traversal and `next` from every position agree with the map.
TEST_F(TableTest, HashPartAgreesWithAMapThroughGrowthShrinkAndCollections) {
  using Key = std::variant<double, std::string>;
  std::map<Key, double> model;
  std::mt19937 rng(77);
  auto pushKey = [&](const Key& k) {
    if (auto* d = std::get_if<double>(&k))
      VmPushNumber(L, *d);
    else
      VmPushString(L, std::get<std::string>(k).c_str());
  };
  auto keyAt = [&](int i) -> Key {
    if (i < 0) return std::to_string(i);
    if (i % 3 == 0) return double(i) * 7.5 - 1000;  // numbers mostly outside any array part
    return "s" + std::to_string(i);
  };
  VmNewTable(L);
  const int phases[] = {4000, 60, 2500, 10, 300};  // the key range of each phase
  int step = 0;
  for (int range : phases) {
    for (int n = 0; n < 6000; ++n, ++step) {
      const Key k = keyAt(int(rng() % range) - 3);
      pushKey(k);
      // Shrinking phases mostly clear, so that rehashes find few live keys.
      if (rng() % (range < 100 ? 2 : 5) == 0) {
        VmPushNil(L);
        model.erase(k);
      } else {
        VmPushNumber(L, step);
        model[k] = step;
      }
      VmRawSet(L, 1);
      if (step % 2000 == 1999) VmSetGCThreshold(L, 0);  // a full collection
    }
    SCOPED_TRACE(range);
    for (const auto& [key, value] : model) {
      pushKey(key);
      VmRawGet(L, 1);
      ASSERT_EQ(VmToNumber(L, -1), value);
      VmSetTop(L, 1);
    }
    // The traversal holds each key once with its value; `next` from each key gives its
    // successor in that traversal.
    std::vector<std::string> order = Traverse(1);
    ASSERT_EQ(order.size(), model.size());
    ASSERT_EQ(std::set<std::string>(order.begin(), order.end()).size(), order.size());
    std::vector<Key> keys;
    VmPushNil(L);
    while (VmNext(L, 1)) {
      if (VmType(L, -2) == kTypeNumber)
        keys.emplace_back(VmToNumber(L, -2));
      else
        keys.emplace_back(std::string(VmToString(L, -2)));
      ASSERT_EQ(model.at(keys.back()), VmToNumber(L, -1));
      VmSetTop(L, -2);
    }
    for (size_t i = 0; i < keys.size(); ++i) {
      pushKey(keys[i]);
      if (i + 1 == keys.size()) {
        EXPECT_EQ(VmNext(L, 1), 0);
        continue;
      }
      ASSERT_EQ(VmNext(L, 1), 1);
      VmSetTop(L, -2);
      pushKey(keys[i + 1]);
      ASSERT_EQ(VmRawEqual(L, -1, -2), 1) << i;
      VmSetTop(L, 1);
    }
  }
}

// A string constant's hint goes stale as the table grows, shrinks, clears keys and gives their
// entries to other keys, and starts out as anything: every lookup through it gives the slot that
// the chain gives.
TEST_F(TableTest, ConstantHintsAnswerAsTheChainThroughGrowthClearingAndReuse) {
  VmNewTable(L);  // 1
  constexpr int kKeys = 48;
  std::vector<qvScriptValue> constants(kKeys);
  for (int i = 0; i < kKeys; ++i) {
    VmPushString(L, ("g" + std::to_string(i)).c_str());  // 2 + i: keeps the string alive
    constants[i] = *VmIndexToAddress(L, -1);
    SetConstantHint(&constants[i], i % 2 != 0 ? UINT32_MAX : uint32_t(7 * i));
  }
  std::mt19937 rng(11);
  int step = 0;
  for (int range : {kKeys, 6, kKeys, 3, kKeys}) {  // a few keys between: rehashes shrink
    for (int n = 0; n < 5000; ++n, ++step) {
      VmPushValue(L, 2 + int(rng() % uint32_t(range)));
      if (rng() % (range < kKeys ? 2 : 4) == 0)
        VmPushNil(L);
      else
        VmPushNumber(L, step);
      VmRawSet(L, 1);
      if (step % 3000 == 2999) VmSetGCThreshold(L, 0);  // a full collection
      for (int probe : {int(rng() % kKeys), int(rng() % uint32_t(range))}) {
        qvTable* t = TableAt(1);
        ASSERT_EQ(VmTableGetConstantString(t, &constants[probe]),
                  VmTableGetString(t, StringOf(&constants[probe])))
            << "step " << step << " key " << probe;
      }
    }
  }
}

// Weak keys die in the middle of chains: the live keys behind them stay reachable, traversal
// and `next` step over them, and new keys reuse their nodes.
TEST_F(TableTest, DeadWeakKeysMidChainKeepTheChainsWhole) {
  VmNewTable(L);  // 1: the weak-keyed table
  VmNewTable(L);
  VmPushString(L, "__mode");
  VmPushString(L, "k");
  VmRawSet(L, -3);
  VmSetMetaTable(L, 1);
  VmNewTable(L);  // 2: keeps every third table key alive
  for (int i = 0; i < 300; ++i) {
    VmNewTable(L);
    VmPushValue(L, -1);
    VmPushNumber(L, i);
    VmRawSet(L, 1);  // [table] = i
    if (i % 3 == 0) {
      VmRawSetI(L, 2, i / 3 + 1);
    } else {
      VmSetTop(L, 2);
    }
    VmPushString(L, ("s" + std::to_string(i)).c_str());
    VmPushNumber(L, -i);
    VmRawSet(L, 1);
  }
  const uint32_t nodes = NodeCount(TableAt(1));
  VmSetGCThreshold(L, 0);
  auto check = [&](int strings) {
    for (int i = 0; i < 300; i += 3) {
      VmRawGetI(L, 2, i / 3 + 1);
      VmRawGet(L, 1);
      ASSERT_EQ(VmToNumber(L, -1), i);
      VmSetTop(L, 2);
    }
    for (int i = 0; i < strings; ++i) {
      VmPushString(L, ("s" + std::to_string(i)).c_str());
      VmRawGet(L, 1);
      ASSERT_EQ(VmToNumber(L, -1), -i);
      VmSetTop(L, 2);
    }
    EXPECT_EQ(CountEntries(1), 100 + strings);
  };
  check(300);
  ASSERT_EQ(NodeCount(TableAt(1)), nodes);  // the dead keys still sit in their nodes
  // New keys fill the nodes of dead ones before any rehash.
  for (int i = 300; i < 400; ++i) {
    VmPushString(L, ("s" + std::to_string(i)).c_str());
    VmPushNumber(L, -i);
    VmRawSet(L, 1);
  }
  EXPECT_EQ(NodeCount(TableAt(1)), nodes);
  check(400);
  for (int i = 400; i < 1000; ++i) {  // rehashes drop the dead keys
    VmPushString(L, ("s" + std::to_string(i)).c_str());
    VmPushNumber(L, -i);
    VmRawSet(L, 1);
  }
  check(1000);
}

// A rehash keeps only keys whose values are not nil, with their values, and sizes the hash part
// for them alone.
TEST_F(TableTest, RehashDropsClearedKeysAndKeepsTheOthersValues) {
  VmNewTable(L);
  for (int i = 0; i < 64; ++i) {
    VmPushString(L, ("k" + std::to_string(i)).c_str());
    VmPushNumber(L, i);
    VmRawSet(L, 1);
  }
  ASSERT_EQ(NodeCount(TableAt(1)), 64u);
  for (int i = 0; i < 64; ++i) {
    if (i % 4 == 0) continue;
    VmPushString(L, ("k" + std::to_string(i)).c_str());
    VmPushNil(L);
    VmRawSet(L, 1);
  }
  int added = 0;  // new keys take the cleared keys' nodes while their main positions are free
  while (NodeCount(TableAt(1)) == 64u) {
    VmPushString(L, ("n" + std::to_string(added)).c_str());
    VmPushNumber(L, 1000 + added);
    VmRawSet(L, 1);
    ++added;
  }
  // Sized for the live keys and the one that did not fit: the smallest power of two above them.
  EXPECT_EQ(NodeCount(TableAt(1)), std::bit_ceil(uint32_t(16 + added + 1)));
  for (int i = 0; i < 64; i += 4) {
    VmPushString(L, ("k" + std::to_string(i)).c_str());
    VmRawGet(L, 1);
    EXPECT_EQ(VmToNumber(L, -1), i);
    VmSetTop(L, 1);
  }
  for (int i = 0; i < added; ++i) {
    VmPushString(L, ("n" + std::to_string(i)).c_str());
    VmRawGet(L, 1);
    EXPECT_EQ(VmToNumber(L, -1), 1000 + i);
    VmSetTop(L, 1);
  }
  EXPECT_EQ(CountEntries(1), 16 + added);
}

// A string that no table has taken as a key is found in none without a look at its node; the
// first table that takes it makes it a key that every table then looks for, also after it was
// cleared, and strings of the same text made later are the same string.
TEST_F(TableTest, AStringNeverTakenAsAKeyIsInNoTableUntilOneTakesIt) {
  VmNewTable(L);                                             // 1
  VmNewTable(L);                                             // 2
  for (int i = 0; i < 40; ++i) SetNumberKey(1, i + 0.5, i);  // a hash part to look in
  auto get = [this](int t, const char* key) {
    VmPushString(L, key);
    VmRawGet(L, t);
    const double v = VmType(L, -1) == kTypeNil ? -1 : VmToNumber(L, -1);
    VmSetTop(L, 2);
    return v;
  };
  auto set = [this](int t, const char* key, bool nil, double v) {
    VmPushString(L, key);
    if (nil)
      VmPushNil(L);
    else
      VmPushNumber(L, v);
    VmRawSet(L, t);
  };
  VmPushString(L, "fresh");  // 3: kept alive
  EXPECT_EQ(get(1, "fresh"), -1);
  EXPECT_EQ(get(2, "fresh"), -1);
  set(1, "fresh", false, 7);
  EXPECT_EQ(get(1, "fresh"), 7);
  EXPECT_EQ(get(2, "fresh"), -1);
  set(2, "fresh", false, 8);
  EXPECT_EQ(get(2, "fresh"), 8);
  set(1, "fresh", true, 0);
  EXPECT_EQ(get(1, "fresh"), -1);
  set(1, "fresh", false, 9);
  EXPECT_EQ(get(1, "fresh"), 9);
  // Made by a concatenation, the same text is the same key.
  VmPushString(L, "fre");
  VmPushString(L, "sh");
  VmConcat(L, 2);
  VmRawGet(L, 2);
  EXPECT_EQ(VmToNumber(L, -1), 8);
  VmSetTop(L, 2);
  // A string collected while no table held it, made again, is again in no table.
  VmPushString(L, "gone");
  VmSetTop(L, 2);
  VmSetGCThreshold(L, 0);  // a full collection
  EXPECT_EQ(get(1, "gone"), -1);
  set(2, "gone", false, 3);
  EXPECT_EQ(get(2, "gone"), 3);
}

// A table frees exactly what it took, through every growth and shrink of both parts.
TEST_F(TableTest, MemoryComesBackToItsStartWhenATableGoes) {
  VmNewTable(L);  // 1: the key strings, alive throughout
  for (int i = 0; i < 3000; ++i) {
    VmPushString(L, ("k" + std::to_string(i)).c_str());
    VmRawSetI(L, 1, i + 1);
  }
  VmSetGCThreshold(L, 0);
  const uint64_t start = G(L)->nblocks;
  VmNewTable(L);  // 2
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 3000; ++i) {
      VmRawGetI(L, 1, i + 1);
      VmPushNumber(L, i);
      VmRawSet(L, 2);
      SetNumberKey(2, i % 500 + 1, i);
    }
    for (int i = 0; i < 3000; ++i) {
      if (i % 10 == 0) continue;
      VmRawGetI(L, 1, i + 1);
      VmPushNil(L);
      VmRawSet(L, 2);
      VmPushNumber(L, i % 500 + 1);
      VmPushNil(L);
      VmRawSet(L, 2);
    }
  }
  VmSetTop(L, 1);
  VmSetGCThreshold(L, 0);
  EXPECT_EQ(G(L)->nblocks, start);
}

TEST_F(TableTest, WeakValuedTablesWithANumericArrayPartKeepTheirNumbers) {
  VmNewTable(L);
  for (int i = 1; i <= 8; ++i) SetNumberKey(1, i, i);
  VmNewTable(L);
  VmPushString(L, "__mode");
  VmPushString(L, "kv");
  VmRawSet(L, 2);
  VmSetMetaTable(L, 1);
  VmPushString(L, "gone");
  VmNewTable(L);
  VmRawSet(L, 1);
  ASSERT_EQ(TableAt(1)->numeric, 1);
  VmSetGCThreshold(L, 0);
  EXPECT_EQ(CountEntries(1), 8);
  for (int i = 1; i <= 8; ++i) EXPECT_EQ(GetNumberKey(1, i), i);
}

int32_t IndexFunction(qvScriptState* L) {
  // (table, key) -> "got:" .. key
  VmPushString(L, "got:");
  VmPushValue(L, 2);
  VmConcat(L, 2);
  return 1;
}

TEST_F(TableTest, IndexMetamethodsAndTheAbsenceCache) {
  VmNewTable(L);  // 1: t
  VmNewTable(L);  // 2: mt
  VmPushValue(L, 2);
  VmSetMetaTable(L, 1);
  VmPushString(L, "x");
  VmGetTable(L, 1);
  EXPECT_EQ(VmType(L, -1), kTypeNil);  // missing, no "__index": nil through the interface
  VmSetTop(L, 2);
  EXPECT_TRUE(TableAt(2)->flags & (1u << kEventIndex));  // the miss was cached
  VmPushString(L, "__index");
  VmPushCClosure(L, IndexFunction, 0);
  VmRawSet(L, 2);
  EXPECT_EQ(TableAt(2)->flags, 0);  // any write clears the cache
  VmPushString(L, "x");
  VmGetTable(L, 1);
  EXPECT_STREQ(VmToString(L, -1), "got:x");
  VmSetTop(L, 2);
  // A table as "__index" is indexed in turn.
  VmPushString(L, "__index");
  VmNewTable(L);
  VmPushString(L, "y");
  VmPushNumber(L, 7);
  VmRawSet(L, -3);
  VmRawSet(L, 2);
  VmPushString(L, "y");
  VmGetTable(L, 1);
  EXPECT_EQ(VmToNumber(L, -1), 7);
}

TEST_F(TableTest, MissingFieldsRaiseForTheInterpreterWithTheKeyInTheText) {
  struct Case {
    bool stringKey;
    double n;
    const char* s;
    const char* text;
  };
  const Case cases[] = {
      {true, 0, "name", "\"name\""}, {false, 2.5, nullptr, "2.5"}, {false, 1e20, nullptr, "1e+20"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Protected([&](qvScriptState* L) {
                VmNewTable(L);
                if (c.stringKey)
                  VmPushString(L, c.s);
                else
                  VmPushNumber(L, c.n);
                VmGetTableValue(L, VmIndexToAddress(L, -2), VmIndexToAddress(L, -1),
                                qvMissing::kRaise);
              }),
              ERR_FIELDINIT);
    EXPECT_STREQ(GetErrorString(), c.text);
  }
}

TEST_F(TableTest, EndlessIndexChainsRaise) {
  // t.__index = t and t.__newindex = t, with t reachable as the global "t".
  VmPushString(L, "t");
  VmNewTable(L);
  VmRawSet(L, kGlobalsIndex);
  EXPECT_EQ(Protected([](qvScriptState* L) {
              VmPushString(L, "t");
              VmGetTable(L, kGlobalsIndex);
              VmNewTable(L);
              for (const char* event : {"__index", "__newindex"}) {
                VmPushString(L, event);
                VmPushValue(L, 1);
                VmRawSet(L, 2);
              }
              VmSetMetaTable(L, 1);
            }),
            0);
  EXPECT_EQ(Protected([](qvScriptState* L) {
              VmPushString(L, "t");
              VmGetTable(L, kGlobalsIndex);
              VmPushString(L, "x");
              VmGetTable(L, 1);
            }),
            ERR_INTERNAL1);
  EXPECT_STREQ(GetErrorString(), "#1");
  EXPECT_EQ(Protected([](qvScriptState* L) {
              VmPushString(L, "t");
              VmGetTable(L, kGlobalsIndex);
              VmPushString(L, "x");
              VmPushNumber(L, 1);
              VmSetTable(L, 1);
            }),
            ERR_INTERNAL1);
  EXPECT_STREQ(GetErrorString(), "#2");
}

int32_t RecordNewIndex(qvScriptState* L) {
  // (t, k, v): stores v .. "!" raw under k
  VmPushValue(L, 2);
  VmPushValue(L, 3);
  VmPushString(L, "!");
  VmConcat(L, 2);
  VmRawSet(L, 1);
  return 0;
}

TEST_F(TableTest, NewIndexRunsOnlyForMissingKeys) {
  VmNewTable(L);
  VmPushString(L, "a");
  VmPushString(L, "old");
  VmRawSet(L, 1);
  VmNewTable(L);
  VmPushString(L, "__newindex");
  VmPushCClosure(L, RecordNewIndex, 0);
  VmRawSet(L, 2);
  VmSetMetaTable(L, 1);
  for (const char* k : {"a", "b"}) {
    VmPushString(L, k);
    VmPushString(L, "new");
    VmSetTable(L, 1);
  }
  VmPushString(L, "a");
  VmRawGet(L, 1);
  EXPECT_STREQ(VmToString(L, -1), "new");  // present: written raw
  VmPushString(L, "b");
  VmRawGet(L, 1);
  EXPECT_STREQ(VmToString(L, -1), "new!");  // missing: through the metamethod
}

}  // namespace
}  // namespace qv::testing
