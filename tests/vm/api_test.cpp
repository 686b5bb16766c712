// The stack interface: conversions (and how they differ from the interpreter's rules), stack
// manipulation, pseudo-indices and protected calls of natives.
#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "base/errors.h"
#include "tests/vm/state_fixture.h"
#include "vm/ops.h"
#include "vm/table.h"

namespace qv::testing {
namespace {

using ApiTest = StateTest;

enum class Kind { kNil, kNumber, kString, kTable, kLight };
struct Value {
  Kind kind;
  double n;
  const char* s;
};

void Push(qvScriptState* L, const Value& v) {
  switch (v.kind) {
    case Kind::kNil:
      VmPushNil(L);
      break;
    case Kind::kNumber:
      VmPushNumber(L, v.n);
      break;
    case Kind::kString:
      VmPushString(L, v.s);
      break;
    case Kind::kTable:
      VmNewTable(L);
      break;
    case Kind::kLight:
      VmPushLightUserdata(L, L);
      break;
  }
}

// The interface converts differently from the interpreter: VmToBoolean calls only nil (and
// false) false, while the interpreter's truth rule also treats 0 and "" as false.
TEST_F(ApiTest, ConversionRulesOfTheInterfaceAndTheInterpreter) {
  struct Case {
    Value v;
    int toBoolean;
    bool interpreterTrue;
    int isNumber;
    double toNumber;
    int isString;
    const char* toString;  // null: not convertible
  };
  const Case cases[] = {
      {{Kind::kNil, 0, nullptr}, 0, false, 1, 0, 0, ""},
      {{Kind::kNumber, 0, nullptr}, 1, false, 1, 0, 1, "0"},
      {{Kind::kNumber, -0.0, nullptr}, 1, false, 1, 0, 1, "-0"},
      {{Kind::kString, 0, ""}, 1, false, 0, 0, 1, ""},
      {{Kind::kString, 0, "0"}, 1, true, 1, 0, 1, "0"},
      {{Kind::kString, 0, "abc"}, 1, true, 0, 0, 1, "abc"},
      {{Kind::kString, 0, "$ff"}, 1, true, 1, 255, 1, "$ff"},
      {{Kind::kString, 0, "0x10"}, 1, true, 1, 16, 1, "0x10"},
      {{Kind::kString, 0, " 12 "}, 1, true, 1, 12, 1, " 12 "},
      {{Kind::kNumber, 3, nullptr}, 1, true, 1, 3, 1, "3"},
      {{Kind::kNumber, 0.1, nullptr}, 1, true, 1, 0.1, 1, "0.1"},
      {{Kind::kNumber, 1.0 / 3, nullptr}, 1, true, 1, 1.0 / 3, 1, "0.33333333333333"},
      {{Kind::kNumber, 9007199254740992.0, nullptr},
       1,
       true,
       1,
       9007199254740992.0,
       1,
       "9.007199254741e+15"},
      {{Kind::kTable, 0, nullptr}, 1, true, 0, 0, 0, nullptr},
      {{Kind::kLight, 0, nullptr}, 1, true, 0, 0, 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.toString != nullptr ? c.toString : "(no text)");
    Push(L, c.v);
    EXPECT_EQ(VmToBoolean(L, -1), c.toBoolean);
    EXPECT_EQ(!IsFalse(VmIndexToAddress(L, -1)), c.interpreterTrue);
    EXPECT_EQ(VmIsNumber(L, -1), c.isNumber);
    EXPECT_EQ(VmToNumber(L, -1), c.toNumber);
    EXPECT_EQ(VmIsString(L, -1), c.isString);
    const char* s = VmToString(L, -1);
    if (c.toString == nullptr) {
      EXPECT_EQ(s, nullptr);
    } else {
      ASSERT_NE(s, nullptr);
      EXPECT_STREQ(s, c.toString);
      EXPECT_EQ(VmType(L, -1), kTypeString);  // converted in place
      EXPECT_EQ(VmStrLen(L, -1), std::strlen(c.toString));
    }
    VmSetTop(L, 0);
  }
}

TEST_F(ApiTest, IndicesBeyondTheTopReadAsNone) {
  VmPushNumber(L, 7);
  EXPECT_EQ(VmType(L, 2), kTypeNone);
  EXPECT_EQ(VmIsNumber(L, 2), 0);  // nil would convert; none does not
  EXPECT_EQ(VmToNumber(L, 2), 0);
  EXPECT_EQ(VmToString(L, 2), nullptr);
  EXPECT_EQ(VmToBoolean(L, 2), 0);
  EXPECT_EQ(VmRawEqual(L, 1, 2), 0);
  EXPECT_EQ(VmEqual(L, 1, 2), 0);
  EXPECT_EQ(VmLessThan(L, 1, 2, 1), 0);
  EXPECT_EQ(VmType(L, -2), kTypeNone);
  VmPushValue(L, 5);  // pushes nil
  EXPECT_EQ(VmType(L, -1), kTypeNil);
}

TEST_F(ApiTest, EqualityDiffersFromTheInterpreterAcrossTypes) {
  VmPushNil(L);
  VmPushNumber(L, 0);
  VmPushString(L, "");
  EXPECT_EQ(VmEqual(L, 1, 2), 0);  // different types
  EXPECT_EQ(VmEqual(L, 1, 3), 0);
  EXPECT_TRUE(VmEqualValue(L, VmIndexToAddress(L, 1), VmIndexToAddress(L, 2)));
  EXPECT_TRUE(VmEqualValue(L, VmIndexToAddress(L, 1), VmIndexToAddress(L, 3)));
  EXPECT_EQ(VmRawEqual(L, 1, 2), 0);
  VmPushNumber(L, 0);
  EXPECT_EQ(VmEqual(L, 2, 4), 1);
  EXPECT_EQ(VmRawEqual(L, 2, 4), 1);
}

TEST_F(ApiTest, LessThanOrdersStringsByBytesOrWithoutCase) {
  struct Case {
    const char* a;
    size_t alen;
    const char* b;
    size_t blen;
    int byteOrder;
    int caseless;
  };
  const Case cases[] = {
      {"a", 1, "B", 1, 0, 1},        {"B", 1, "a", 1, 1, 0},
      {"abc", 3, "abd", 3, 1, 1},    {"ab", 2, "abc", 3, 1, 1},  // a prefix is smaller
      {"\xe4", 1, "\xc4z", 2, 0, 1},  // Latin-1 folding: a-umlaut equals A-umlaut
      {"a\0b", 3, "a\0c", 3, 1, 1},   // compared across the embedded NUL
      {"a\0B", 3, "a\0b", 3, 1, 0},  {"a", 1, "a\0", 2, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a, c.alen) + " vs " + std::string(c.b, c.blen));
    VmPushLString(L, c.a, c.alen);
    VmPushLString(L, c.b, c.blen);
    EXPECT_EQ(VmLessThan(L, 1, 2, 1), c.byteOrder);
    EXPECT_EQ(VmLessThan(L, 1, 2, 0), c.caseless);
    VmSetTop(L, 0);
  }
}

TEST_F(ApiTest, MixedComparisonsRaise) {
  EXPECT_EQ(Protected([](qvScriptState* L) {
              VmPushNumber(L, 1);
              VmPushString(L, "1");
              VmLessThan(L, -2, -1, 1);
            }),
            ERR_NUMSTRCMP);
  EXPECT_EQ(Protected([](qvScriptState* L) {
              VmNewTable(L);
              VmPushString(L, "x");
              VmLessThan(L, -2, -1, 1);
            }),
            ERR_WRONGOP);
}

TEST_F(ApiTest, StringToNumberIsStrict) {
  struct Case {
    const char* text;
    size_t len;
    bool ok;
    double value;
  };
  const Case cases[] = {
      {"12", 2, true, 12},
      {" 12 ", 4, true, 12},
      {"\t7\n", 3, true, 7},
      {"-2.5", 4, true, -2.5},
      {"+5", 2, true, 5},
      {".5", 2, true, 0.5},
      {"5.", 2, true, 5},
      {"1e3", 3, true, 1000},
      {"1E-2", 4, true, 0.01},
      {"$ff", 3, true, 255},
      {"$FF", 3, true, 255},
      {" $10", 4, true, 16},
      {"0x1F", 4, true, 31},
      {"0X1f", 4, true, 31},
      {"0x10 ", 5, true, 16},
      {"0x100000000", 11, true, 4294967295.0},
      {"$ffffffffffffffffff", 19, true, 4294967295.0},
      {"1e999", 5, true, HUGE_VAL},
      {"-1e999", 6, true, -HUGE_VAL},
      {"1e-999", 6, true, 0},
      {"", 0, false, 0},
      {" ", 1, false, 0},
      {"12abc", 5, false, 0},
      {"1e", 2, false, 0},
      {".", 1, false, 0},
      {"$", 1, false, 0},
      {"$g", 2, false, 0},
      {"0x", 2, false, 0},
      {"0xg", 3, false, 0},
      {"$-1", 3, false, 0},
      {"inf", 3, false, 0},
      {"nan", 3, false, 0},
      {"12\0", 3, false, 0},
      {"-0x10", 5, false, 0},
      {"1 2", 3, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text, c.len));
    double v = -1;
    EXPECT_EQ(VmStringToNumber(c.text, c.len, &v), c.ok);
    if (c.ok) {
      EXPECT_EQ(v, c.value);
    }
  }
}

TEST_F(ApiTest, StackManipulation) {
  for (int i = 1; i <= 5; ++i) VmPushNumber(L, i);  // 1 2 3 4 5
  VmRemove(L, 2);                                   // 1 3 4 5
  VmInsert(L, 1);                                   // 5 1 3 4
  VmPushNumber(L, 9);
  VmReplace(L, -3);    // 5 1 9 4
  VmPushValue(L, -4);  // 5 1 9 4 5
  const double want[] = {5, 1, 9, 4, 5};
  ASSERT_EQ(VmGetTop(L), 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(VmToNumber(L, i + 1), want[i]) << i;
  VmSetTop(L, -3);  // drops two
  EXPECT_EQ(VmGetTop(L), 3);
  VmSetTop(L, 6);  // fills with nil
  EXPECT_EQ(VmGetTop(L), 6);
  EXPECT_EQ(VmType(L, 6), kTypeNil);
  VmSetTop(L, -100);  // cannot drop below the frame
  EXPECT_EQ(VmGetTop(L), 0);
}

TEST_F(ApiTest, CheckStackLimitsTheFrameAndGrowthKeepsValues) {
  EXPECT_EQ(VmCheckStack(L, 2049), 0);
  ASSERT_EQ(VmCheckStack(L, 2000), 1);
  for (int i = 0; i < 2000; ++i) VmPushNumber(L, i);
  for (int i = 0; i < 2000; i += 97) EXPECT_EQ(VmToNumber(L, i + 1), i);
  EXPECT_EQ(VmCheckStack(L, 49), 0);
}

TEST_F(ApiTest, PushesBeyondTheCheckedStackGrowIt) {
  for (int i = 0; i < 5000; ++i) VmPushNumber(L, i);
  EXPECT_EQ(VmGetTop(L), 5000);
  EXPECT_EQ(VmToNumber(L, 4321), 4320);
}

int32_t UpvalueReader(qvScriptState* L) {
  VmPushNumber(L, VmType(L, VmUpvalueIndex(1)));
  VmPushNumber(L, VmToNumber(L, VmUpvalueIndex(1)));
  VmPushNumber(L, VmType(L, VmUpvalueIndex(2)));
  VmPushNumber(L, VmIndexToAddress(L, VmUpvalueIndex(2)) == nullptr);
  return 4;
}

TEST_F(ApiTest, UpvaluePseudoIndicesOfANativeClosure) {
  VmPushNumber(L, 42);
  VmPushCClosure(L, UpvalueReader, 1);
  EXPECT_EQ(VmGetUpvalue(L, -1, 1), std::string(""));
  EXPECT_EQ(VmToNumber(L, -1), 42);
  VmSetTop(L, -2);
  EXPECT_EQ(VmGetUpvalue(L, -1, 2), nullptr);
  ASSERT_EQ(VmPCall(L, 0, 4, 0), 0);
  EXPECT_EQ(VmToNumber(L, 1), kTypeNumber);
  EXPECT_EQ(VmToNumber(L, 2), 42);
  EXPECT_EQ(VmToNumber(L, 3), kTypeNone);
  EXPECT_EQ(VmToNumber(L, 4), 1);
  // Outside any native closure there are no upvalues.
  EXPECT_EQ(VmIndexToAddress(L, VmUpvalueIndex(1)), nullptr);
}

TEST_F(ApiTest, RegistryAndGlobalsAreTables) {
  EXPECT_EQ(VmType(L, kRegistryIndex), kTypeTable);
  EXPECT_EQ(VmType(L, kGlobalsIndex), kTypeTable);
  VmPushString(L, "answer");
  VmPushNumber(L, 42);
  VmSetTable(L, kGlobalsIndex);
  VmPushString(L, "answer");
  VmGetTable(L, kGlobalsIndex);
  EXPECT_EQ(VmToNumber(L, -1), 42);
}

int32_t ReturnCount(qvScriptState* L) {
  int n = int(VmToNumber(L, 1));
  VmSetTop(L, 0);
  VmCheckStack(L, n > 2000 ? 2000 : n);
  for (int i = 0; i < n && i < 2000; ++i) VmPushNumber(L, i);
  return n;
}

TEST_F(ApiTest, NativeResultsFollowTheCommandContract) {
  struct Case {
    int returned;
    int32_t word;
    int results;
  };
  // 0-999: that many results; 1000 and up: an error word and no results.
  const Case cases[] = {{0, 0, 0}, {2, 0, 2}, {999, 0, 999}, {1000, 1000, 0}, {1089, 1089, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.returned);
    VmPushCClosure(L, ReturnCount, 0);
    VmPushNumber(L, c.returned);
    EXPECT_EQ(VmCall(L, 1, kMultipleResults), c.word);
    EXPECT_EQ(VmGetTop(L), c.results);
    if (c.results > 1) {
      EXPECT_EQ(VmToNumber(L, c.results), c.results - 1);
    }
    VmSetTop(L, 0);
  }
  // Wanted counts pad with nil.
  VmPushCClosure(L, ReturnCount, 0);
  VmPushNumber(L, 1);
  EXPECT_EQ(VmCall(L, 1, 3), 0);
  EXPECT_EQ(VmGetTop(L), 3);
  EXPECT_EQ(VmType(L, 3), kTypeNil);
}

int32_t ClaimsTooMany(qvScriptState* L) {
  VmPushNumber(L, 1);
  return 50;
}

TEST_F(ApiTest, ANativeClaimingMoreResultsThanItPushedGetsOnlyItsFrame) {
  VmPushNumber(L, 123);  // below the callee: must not become a result
  VmPushCClosure(L, ClaimsTooMany, 0);
  EXPECT_EQ(VmCall(L, 0, kMultipleResults), 0);
  EXPECT_EQ(VmGetTop(L), 2);
  EXPECT_EQ(VmToNumber(L, 2), 1);
}

TEST_F(ApiTest, CallingANonFunctionUsesCallElseRaises) {
  EXPECT_EQ(Protected([](qvScriptState* L) {
              VmPushNumber(L, 1);
              VmCall(L, 0, 0);
            }),
            ERR_FUNCDECLA);
  // A table with "__call" receives itself as the first argument.
  VmNewTable(L);
  VmNewTable(L);
  VmPushString(L, "__call");
  VmPushCClosure(
      L,
      [](qvScriptState* L) -> int32_t {
        VmPushNumber(L, VmGetTop(L));
        VmPushNumber(L, VmType(L, 1));
        return 2;
      },
      0);
  VmRawSet(L, -3);
  VmSetMetaTable(L, -2);
  VmPushNumber(L, 5);
  ASSERT_EQ(VmPCall(L, 1, 2, 0), 0);
  EXPECT_EQ(VmToNumber(L, -2), 2);  // the table and 5
  EXPECT_EQ(VmToNumber(L, -1), kTypeTable);
}

TEST_F(ApiTest, ProtectedCallRestoresTheCallRecordsAndLeavesTheTop) {
  VmPushNumber(L, 1);
  VmPushCClosure(
      L,
      [](qvScriptState* L) -> int32_t {
        VmPushNumber(L, 10);
        VmPushNumber(L, 20);
        VmRaiseError(L, ERR_ZERODIVISION);
      },
      0);
  qvCallInfo* ci = L->ci;
  EXPECT_EQ(VmPCall(L, 0, 0, 0), ERR_ZERODIVISION);
  EXPECT_EQ(L->ci, ci);
  EXPECT_EQ(L->nCcalls, 0);
  EXPECT_EQ(VmGetTop(L), 4);  // the function slot and the two values the callee pushed
  EXPECT_EQ(VmToNumber(L, 4), 20);
  EXPECT_EQ(VmGetErrorLine(L), -1);  // raised in a native
}

int32_t Recurse(qvScriptState* L) {
  VmPushValue(L, VmUpvalueIndex(1));
  return VmCall(L, 0, 0);
}

TEST_F(ApiTest, NativeNestingIsLimited) {
  VmPushNil(L);
  VmPushCClosure(L, Recurse, 1);
  VmPushValue(L, -1);
  VmSetUpvalue(L, -2, 1);  // the closure calls itself
  EXPECT_EQ(VmPCall(L, 0, 0, 0), ERR_STACK);
  EXPECT_EQ(L->nCcalls, 0);
  VmSetTop(L, 0);
  // The state still works.
  VmPushCClosure(L, ReturnCount, 0);
  VmPushNumber(L, 3);
  EXPECT_EQ(VmPCall(L, 1, kMultipleResults, 0), 0);
  EXPECT_EQ(VmGetTop(L), 3);
}

TEST_F(ApiTest, ConcatenationOfValues) {
  VmPushString(L, "a");
  VmPushNumber(L, 2.5);
  VmPushNil(L);
  VmPushNumber(L, 3);
  VmConcat(L, 4);
  EXPECT_EQ(VmGetTop(L), 1);
  EXPECT_STREQ(VmToString(L, 1), "a2.53");
  VmConcat(L, 0);
  EXPECT_STREQ(VmToString(L, -1), "");
  VmConcat(L, 1);
  EXPECT_EQ(VmGetTop(L), 2);
  EXPECT_EQ(Protected([](qvScriptState* L) {
              VmPushString(L, "a");
              VmNewTable(L);
              VmConcat(L, 2);
            }),
            ERR_CONCAT);
}

// Numbers are formatted straight into the concatenation buffer, wherever its end falls: before
// it, across it and after the buffer has grown. The result is the one interned string.
TEST_F(ApiTest, NumbersJoinWhereverTheBufferEnds) {
  for (size_t prefix : {0, 1, 20, 31, 32, 47, 48, 63, 200, 5000}) {
    SCOPED_TRACE(prefix);
    const std::string head(prefix, 'a');
    VmPushLString(L, head.data(), head.size());
    VmPushNumber(L, 123456);
    VmPushString(L, "|");
    VmPushNumber(L, -0.0);
    VmPushNumber(L, 0.1);
    VmPushNumber(L, -98765432109876.0);
    VmPushNumber(L, 1e100);
    VmConcat(L, 7);
    const std::string want = head + "123456|-00.1-987654321098761e+100";
    EXPECT_EQ(std::string(VmToString(L, -1), VmStrLen(L, -1)), want);
    VmPushLString(L, want.data(), want.size());
    EXPECT_EQ(At(-1).value.gc, At(-2).value.gc);
    VmSetTop(L, 0);
  }
}

TEST_F(ApiTest, InternedStringsAreUnique) {
  VmPushString(L, "hello world");
  VmPushString(L, "hello ");
  VmPushString(L, "world");
  VmConcat(L, 2);
  EXPECT_EQ(At(1).value.gc, At(2).value.gc);
  VmPushLString(L, "hello\0world", 11);
  EXPECT_NE(At(1).value.gc, At(3).value.gc);
}

TEST_F(ApiTest, LongStringsHashASample) {
  // 32 characters: every second character (from the last) is hashed.
  std::string a(32, 'x');
  std::string b = a;
  b[0] = 'y';  // the first character is not sampled
  std::string c = a;
  c[31] = 'y';
  qvString* sa = VmInternString(L, a.data(), a.size());
  qvString* sb = VmInternString(L, b.data(), b.size());
  qvString* sc = VmInternString(L, c.data(), c.size());
  EXPECT_NE(sa, sb);
  EXPECT_EQ(StringHash(sa), StringHash(sb));
  EXPECT_NE(StringHash(sa), StringHash(sc));
  // 31 characters: every one is hashed.
  qvString* s31a = VmInternString(L, a.data(), 31);
  qvString* s31b = VmInternString(L, b.data(), 31);
  EXPECT_NE(StringHash(s31a), StringHash(s31b));
  // Sharing a hash does not make two strings one: each is found again by its characters.
  EXPECT_EQ(VmInternString(L, a.data(), a.size()), sa);
  EXPECT_EQ(VmInternString(L, b.data(), b.size()), sb);
}

// The table hash is the character chain from the last character back, every character below 32
// and a sample above; whatever way the loop is unrolled, the values (and so where keys land and
// the order `next` visits them) are the plain chain's. The interned copy keeps every byte.
TEST_F(ApiTest, EveryLengthHashesAndInternsItsExactBytes) {
  const auto chain = [](const std::string& s) {
    uint32_t h = uint32_t(s.size());
    const size_t step = (s.size() >> 5) + 1;
    for (size_t i = s.size(); i >= step; i -= step) h ^= (h << 5) + (h >> 2) + uint8_t(s[i - 1]);
    return h;
  };
  std::mt19937 random(7);
  for (size_t len = 0; len <= 100; ++len) {
    for (int round = 0; round < 8; ++round) {
      std::string text(len, '\0');
      for (char& c : text) c = char(random() % 256);  // NULs and bytes above 127 too
      SCOPED_TRACE(::testing::Message() << "length " << len << " round " << round);
      ASSERT_EQ(VmHashString(text.data(), len), chain(text));
      qvString* s = VmInternString(L, text.data(), len);
      ASSERT_EQ(std::string(s->data(), s->len), text);
      EXPECT_EQ(s->data()[len], '\0');
      EXPECT_EQ(StringHash(s), chain(text));
      EXPECT_EQ(VmInternString(L, text.data(), len), s);
    }
  }
}

// Two strings or numbers join on a path of their own while the strings are short; on either
// side of that length, in both orders, the text is the general join's and the string the one
// interned for it.
TEST_F(ApiTest, TwoValuesJoinIntoTheInternedString) {
  const std::string kNumbers[][2] = {{"0", "0"},
                                     {"-0", "-0"},
                                     {"7", "7"},
                                     {"-123456", "-123456"},
                                     {"0.5", "0.5"},
                                     {"1e+100", "1e+100"},
                                     {"10000000000003", "10000000000003"}};
  for (size_t len : {0, 1, 3, 4, 7, 8, 9, 16, 17, 63, 64, 65, 200}) {
    std::string text(len, 'a');
    if (len > 2) text[len / 2] = '\0';
    for (const auto& number : kNumbers) {
      const double n = std::stod(number[0]);
      for (bool numberFirst : {false, true}) {
        SCOPED_TRACE(::testing::Message() << len << " " << number[0] << " " << numberFirst);
        const std::string want = numberFirst ? number[1] + text : text + number[1];
        if (numberFirst) VmPushNumber(L, n);
        VmPushLString(L, text.data(), text.size());
        if (!numberFirst) VmPushNumber(L, n);
        VmConcat(L, 2);
        EXPECT_EQ(std::string(VmToString(L, -1), VmStrLen(L, -1)), want);
        VmPushLString(L, want.data(), want.size());
        EXPECT_EQ(At(-1).value.gc, At(-2).value.gc);
        VmSetTop(L, 0);
      }
    }
    VmPushLString(L, text.data(), text.size());
    VmPushLString(L, text.data(), text.size());
    VmConcat(L, 2);
    EXPECT_EQ(std::string(VmToString(L, -1), VmStrLen(L, -1)), text + text);
    VmSetTop(L, 0);
  }
}

// A string's hash is made when first asked for, or kept from the maker that already had it; a
// read may look for a string not yet hashed, which keys no table.
// Whichever way a string was made, it must key tables by VmHashString of its characters: a
// key stored under any other hash would not be found by a copy made another way, nor walked in
// the order the hash gives.
TEST_F(ApiTest, StringsFromEveryMakerKeyTablesByTheirHash) {
  struct Maker {
    const char* name;
    void (*make)(qvScriptState* L, int i);  // pushes a string new to the machine
  };
  const Maker kMakers[] = {
      {"pushed",
       [](qvScriptState* L, int i) {
         const std::string text = "pushed" + std::to_string(i);
         VmPushLString(L, text.data(), text.size());
       }},
      {"joined",
       [](qvScriptState* L, int i) {
         VmPushString(L, "joined");
         VmPushNumber(L, i);
         VmConcat(L, 2);
       }},
      {"joined as a key read from table 1",  // looked for in that table first, with its hash
       [](qvScriptState* L, int i) {
         VmPushString(L, "keyed");
         VmPushNumber(L, i);
         VmConcatValues(L, 2, int(L->top - L->base) - 1,
                        qvJoinedKey{TableOf(VmIndexToAddress(L, 1)), false});
         L->top -= 1;
       }},
      {"joined as a key stored into table 1",  // made at once unless the string table has it
       [](qvScriptState* L, int i) {
         VmPushString(L, "stored");
         VmPushNumber(L, i);
         VmConcatValues(L, 2, int(L->top - L->base) - 1,
                        qvJoinedKey{TableOf(VmIndexToAddress(L, 1)), true});
         L->top -= 1;
       }},
      {"number converted",
       [](qvScriptState* L, int i) {
         VmPushNumber(L, 1e6 + i);
         VmToStringInPlace(L, L->top - 1);
       }},
  };
  constexpr int kPerMaker = 40;
  VmNewTable(L);  // table 1: every string as a key, its value the string's number
  int number = 0;
  for (const Maker& m : kMakers) {
    SCOPED_TRACE(m.name);
    for (int i = 0; i < kPerMaker; ++i) {
      m.make(L, i);
      qvString* s = StringOf(&At(-1));
      // Half of them are asked for their hash before the first store: made then, or kept.
      if (i % 2 == 0) {
        EXPECT_EQ(StringHash(s), VmHashString(s->data(), s->len));
      } else {  // read before it keys anything: found nowhere, under whatever hash
        EXPECT_EQ(VmTableGetString(TableOf(&At(1)), s), &kNilValue);
      }
      VmPushNumber(L, ++number);
      VmSetTable(L, 1);
      EXPECT_EQ(StringHash(s), VmHashString(s->data(), s->len));
    }
  }
  // Each key is found by a copy of its characters, through the generic and the string read.
  int seen = 0;
  VmPushNil(L);
  while (VmNext(L, 1) != 0) {
    ++seen;
    const std::string text(VmToString(L, -2), VmStrLen(L, -2));
    VmPushLString(L, text.data(), text.size());
    EXPECT_EQ(At(-1).value.gc, At(-3).value.gc) << text;
    qvString* copy = StringOf(&At(-1));
    EXPECT_EQ(VmTableGetString(TableOf(&At(1)), copy)->value.n, At(-2).value.n) << text;
    VmGetTable(L, 1);
    EXPECT_EQ(VmToNumber(L, -1), VmToNumber(L, -2)) << text;
    VmSetTop(L, -3);
  }
  EXPECT_EQ(seen, number);
}

TEST_F(ApiTest, UserdataAndPointers) {
  auto* p = static_cast<double*>(VmNewUserdata(L, sizeof(double) * 4));
  p[3] = 1.5;
  EXPECT_EQ(VmType(L, -1), kTypeUserdata);
  EXPECT_EQ(VmIsUserdata(L, -1), 1);
  EXPECT_EQ(VmToUserdata(L, -1), p);
  EXPECT_EQ(VmToPointer(L, -1), p);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
  VmPushLightUserdata(L, &p);
  EXPECT_EQ(VmIsUserdata(L, -1), 1);
  EXPECT_EQ(VmToUserdata(L, -1), &p);
  VmNewTable(L);
  EXPECT_EQ(VmToPointer(L, -1), At(-1).value.gc);
  VmPushNumber(L, 1);
  EXPECT_EQ(VmToPointer(L, -1), nullptr);
  EXPECT_EQ(VmToThread(L, -1), nullptr);
  VmPushCClosure(L, ReturnCount, 0);
  EXPECT_EQ(VmIsCFunction(L, -1), 1);
  EXPECT_EQ(VmToCFunction(L, -1), &ReturnCount);
}

TEST_F(ApiTest, MetatablesAndTheDefault) {
  VmNewTable(L);
  EXPECT_EQ(VmGetMetaTable(L, 1), 0);  // the default metatable stands for none
  VmNewTable(L);
  EXPECT_EQ(VmSetMetaTable(L, 1), 1);
  ASSERT_EQ(VmGetMetaTable(L, 1), 1);
  VmPushNil(L);
  EXPECT_EQ(VmSetMetaTable(L, 1), 1);
  EXPECT_EQ(VmGetMetaTable(L, 1), 0);
  VmPushNumber(L, 1);
  VmNewTable(L);
  EXPECT_EQ(VmSetMetaTable(L, -2), 0);  // numbers have none
  EXPECT_EQ(VmGetTop(L), 3);
}

TEST_F(ApiTest, EnvironmentsOfNatives) {
  VmPushCClosure(L, ReturnCount, 0);
  VmGetFEnv(L, 1);
  EXPECT_EQ(VmRawEqual(L, -1, kGlobalsIndex), 1);
  VmNewTable(L);
  EXPECT_EQ(VmSetFEnv(L, 1), 0);
  EXPECT_EQ(VmGetTop(L), 2);
}

TEST_F(ApiTest, IndexingANonTableRaises) {
  EXPECT_EQ(Protected([](qvScriptState* L) {
              VmPushNumber(L, 1);
              VmPushString(L, "k");
              VmGetTable(L, -2);
            }),
            ERR_TABLEDECLA);
  EXPECT_EQ(Protected([](qvScriptState* L) {
              VmPushNumber(L, 1);
              VmPushString(L, "k");
              VmPushNumber(L, 2);
              VmSetTable(L, -3);
            }),
            ERR_TABLEDECLA);
}

}  // namespace
}  // namespace qv::testing
