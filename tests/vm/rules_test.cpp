// The interpreter's value rules, one operation per assembled main function.
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "base/errors.h"
#include "tests/vm/vm_fixture.h"

namespace qv::testing {
namespace {

using RulesTest = VmTest;

std::string Main(const std::string& body) { return ".function main\n" + body + "\n.end\n"; }

struct BinaryCase {
  const char* op;
  const char* b;
  const char* c;
  double want;
  int32_t code;  // nonzero: the error expected instead
};

void CheckBinary(VmTest* t, RunResult r, const BinaryCase& k) {
  SCOPED_TRACE(std::string(k.op) + " " + k.b + ", " + k.c);
  if (k.code != 0) {
    EXPECT_EQ(r.status, k.code);
    return;
  }
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.type(0), kTypeNumber);
  EXPECT_EQ(r.num(0), k.want);
  (void)t;
}

TEST_F(RulesTest, ArithmeticAndBitOperations) {
  const BinaryCase cases[] = {
      {"ADD", "nil", "5", 5, 0},
      {"MUL", "\"10\"", "2", 20, 0},
      {"ADD", "\"$ff\"", "0", 255, 0},
      {"ADD", "\"0x10\"", "0", 16, 0},
      {"SUB", "\" 12 \"", "2", 10, 0},
      {"ADD", "0.1", "0.2", 0.1 + 0.2, 0},
      {"DIV", "7", "2", 3.5, 0},
      {"POW", "2", "10", 1024, 0},
      {"INTDIV", "7", "-2", -3, 0},
      {"MOD", "7", "-2", 1, 0},
      {"INTDIV", "-7", "2", -3, 0},
      {"MOD", "-7", "2", -1, 0},
      {"INTDIV", "7.9", "2", 3, 0},
      {"INTDIV", "-2147483648", "-1", 2147483648.0, 0},
      {"MOD", "-2147483648", "-1", 0, 0},
      {"SHL", "1", "31", 2147483648.0, 0},
      {"SHL", "1", "33", 2, 0},
      {"SHR", "-1", "28", 15, 0},
      {"SHR", "4294967295", "28", 15, 0},
      {"BITOR", "1", "2", 3, 0},
      {"BITAND", "-1", "4294967295", 4294967295.0, 0},
      {"BITXOR", "6", "3", 5, 0},
      {"BITOR", "4294967296", "1", 1, 0},  // low 32 bits
      // Integer division and remainder truncate each operand to an int; what does not fit
      // (NaN and the infinities too) becomes INT_MIN.
      {"MOD", "7", "4294967296", 7, 0},
      {"INTDIV", "7", "4294967296", 0, 0},
      {"MOD", "7", "-4294967296", 7, 0},
      {"INTDIV", "4294967295", "1", -2147483648.0, 0},
      {"MOD", "2147483648", "10", -8, 0},
      {"INTDIV", "2147483647.9", "1", 2147483647, 0},
      {"INTDIV", "-2147483648.9", "1", -2147483648.0, 0},
      {"INTDIV", "-2147483649", "1", -2147483648.0, 0},
      {"INTDIV", "nan", "1", -2147483648.0, 0},
      {"INTDIV", "inf", "1", -2147483648.0, 0},
      {"INTDIV", "-inf", "1", -2147483648.0, 0},
      {"MOD", "5", "nan", 5, 0},
      {"INTDIV", "\"4294967296\"", "2", -1073741824, 0},  // converted from text, then truncated
      {"DIV", "1", "0", 0, ERR_ZERODIVISION},
      {"DIV", "nil", "nil", 0, ERR_ZERODIVISION},
      {"INTDIV", "1", "0.5", 0, ERR_ZERODIVISION},
      {"MOD", "5", "0", 0, ERR_ZERODIVISION},
      {"ADD", "\"abc\"", "1", 0, ERR_WRONGOP},
      {"SHL", "1", "\"x\"", 0, ERR_WRONGOP},
  };
  for (const BinaryCase& k : cases)
    CheckBinary(this, Run(Main(std::string(k.op) + " R0, " + k.b + ", " + k.c + "\nRETURN R0, 2")),
                k);
}

TEST_F(RulesTest, UnaryOperationsAndTruth) {
  struct Case {
    const char* op;
    const char* load;  // sets R1
    double want;
  };
  const Case cases[] = {
      {"NEG", "LOADCONST R1, \"5\"", -5},
      {"NEG", "LOADNIL R1, R1", 0},
      {"BITNOT", "LOADCONST R1, 0", 4294967295.0},
      {"BITNOT", "LOADCONST R1, -1", 0},
      {"NOT", "LOADCONST R1, 0", 1},
      {"NOT", "LOADCONST R1, -0", 1},
      {"NOT", "LOADCONST R1, \"\"", 1},
      {"NOT", "LOADNIL R1, R1", 1},
      {"NOT", "LOADCONST R1, \"0\"", 0},
      {"NOT", "NEWTABLE R1, 0, 0", 0},
      {"NOT", "LOADCONST R1, 5", 0},
      {"NOT", "LOADBOOL R1, 0, 0", 1},  // LOADBOOL loads the number 0
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.op) + " after " + k.load);
    RunResult r = Run(Main(std::string(k.load) + "\n" + k.op + " R0, R1\nRETURN R0, 2"));
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.type(0), kTypeNumber);
    EXPECT_EQ(r.num(0), k.want);
  }
  EXPECT_EQ(Run(Main("NEWTABLE R1, 0, 0\nNEG R0, R1\nRETURN R0, 2")).status, ERR_WRONGOP);
}

// TEST with C = 0 copies a false value and jumps; a true value skips the jump.
TEST_F(RulesTest, TestCopiesAndJumps) {
  const char* text = R"(
.function main params=1
  LOADCONST R1, "true"
  TEST R2, R0, 0
  JUMP @false
  RETURN R1, n=1
false:
  RETURN R2, n=1
.end
)";
  EXPECT_EQ(Run(text, 7).str(0), "true");
  EXPECT_EQ(Run(text, "0").str(0), "true");
  RunResult r = Run(text, 0);
  EXPECT_EQ(r.type(0), kTypeNumber);
  EXPECT_EQ(r.num(0), 0);
  r = Run(text, "");
  EXPECT_EQ(r.type(0), kTypeString);
  EXPECT_EQ(r.str(0), "");
  EXPECT_EQ(Run(text, nullptr).type(0), kTypeNil);
}

// The result is 1 when the relation holds.
std::string Relation(const char* op, const char* setup, const char* b, const char* c) {
  return Main(std::string(setup) + "\nLOADBOOL R0, 1, 0\n" + op + " 1, " + b + ", " + c +
              "\nJUMP @yes\nLOADBOOL R0, 0, 0\nyes:\nRETURN R0, 2");
}

TEST_F(RulesTest, EqualityAndOrdering) {
  struct Case {
    const char* op;
    const char* setup;  // R1, R2 for values that are no constants
    const char* b;
    const char* c;
    double want;
    int32_t code;
  };
  const char* tables = "NEWTABLE R1, 0, 0\nNEWTABLE R2, 0, 0";
  const Case cases[] = {
      {"EQ", "", "nil", "0", 1, 0},
      {"EQ", "", "0", "nil", 1, 0},
      {"EQ", "", "nil", "\"\"", 1, 0},
      {"EQ", "", "nil", "nil", 1, 0},
      {"EQ", "", "nil", "\"0\"", 0, 0},
      {"EQ", "", "nil", "1", 0, 0},
      {"EQ", tables, "nil", "R1", 0, 0},
      {"EQ", "", "1", "1", 1, 0},
      {"EQ", "", "\"a\"", "\"a\"", 1, 0},
      {"EQ", tables, "R1", "R1", 1, 0},
      {"EQ", tables, "R1", "R2", 0, 0},
      {"EQ", "", "0", "\"\"", 0, ERR_NUMSTRCMP},
      {"EQ", "", "1", "\"1\"", 0, ERR_NUMSTRCMP},
      {"EQ", tables, "R1", "\"x\"", 0, ERR_WRONGOP},
      {"LT", "", "1", "2", 1, 0},
      {"LT", "", "\"a\"", "\"b\"", 1, 0},
      {"LT", "", "\"B\"", "\"a\"", 1, 0},  // byte order
      {"LT", "", "\"ab\"", "\"abc\"", 1, 0},
      {"LE", "", "2", "2", 1, 0},
      {"LT", "", "nil", "1", 1, 0},
      {"LT", "", "nil", "-1", 0, 0},
      {"LE", "", "nil", "0", 1, 0},
      {"LT", "", "nil", "nil", 0, 0},
      {"LE", "", "nil", "nil", 1, 0},
      {"LT", "", "nil", "\"a\"", 0, 0},
      {"LT", "", "\"a\"", "nil", 0, 0},
      {"LE", "", "nil", "\"a\"", 0, 0},
      {"LT", "", "1", "\"1\"", 0, ERR_NUMSTRCMP},
      {"LE", "", "\"1\"", "1", 0, ERR_NUMSTRCMP},
      {"LT", tables, "R1", "1", 0, ERR_WRONGOP},
      {"LT", tables, "nil", "R1", 0, ERR_WRONGOP},
      {"LE", tables, "R1", "R2", 0, ERR_WRONGOP},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.op) + " " + k.b + ", " + k.c);
    RunResult r = Run(Relation(k.op, k.setup, k.b, k.c));
    if (k.code != 0) {
      EXPECT_EQ(r.status, k.code);
    } else {
      ASSERT_EQ(r.status, 0);
      EXPECT_EQ(r.num(0), k.want);
    }
  }
}

TEST_F(RulesTest, ConcatenationConvertsNumbersAndNil) {
  RunResult r = Run(Main(R"(
  LOADCONST R1, "a"
  LOADCONST R2, 1.5
  LOADNIL R3, R3
  LOADCONST R4, 100000000000000000000
  DIV R5, 1, 3
  CONCAT R0, R1, R5
  RETURN R0, 2)"));
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.str(0), "a1.51e+200.33333333333333");
  EXPECT_EQ(
      Run(Main("LOADCONST R1, \"a\"\nNEWTABLE R2, 0, 0\nCONCAT R0, R1, R2\nRETURN R0, 2")).status,
      ERR_CONCAT);
}

TEST_F(RulesTest, TableReadsAndWrites) {
  // A missing key read through GETTABLE raises, with the key in the error text.
  EXPECT_EQ(Run(Main("NEWTABLE R1, 0, 0\nGETTABLE R0, R1, \"x\"\nRETURN R0, 2")).status,
            ERR_FIELDINIT);
  EXPECT_STREQ(GetErrorString(), "\"x\"");
  EXPECT_EQ(Run(Main("NEWTABLE R1, 0, 0\nGETTABLE R0, R1, 2.5\nRETURN R0, 2")).status,
            ERR_FIELDINIT);
  EXPECT_STREQ(GetErrorString(), "2.5");
  // A missing global and a missing method are nil.
  EXPECT_EQ(Run(Main("GETGLOBAL R0, \"nothing\"\nRETURN R0, 2")).type(0), kTypeNil);
  EXPECT_EQ(Run(Main("NEWTABLE R1, 0, 0\nSELF R0, R1, \"m\"\nRETURN R0, 3")).type(0), kTypeNil);
  // Indexing a value that is no table names it.
  EXPECT_EQ(Run(Main("GETGLOBAL R1, \"nothing\"\nGETTABLE R0, R1, 1\nRETURN R0, 2")).status,
            ERR_TABLEDECLA);
  EXPECT_STREQ(GetErrorString(), "nothing{}");
  EXPECT_EQ(Run(Main("LOADCONST R1, 1\nSETTABLE R1, 1, 2\nRETURN R0, 1")).status, ERR_TABLEDECLA);
  // NaN keys, and nil keys that mean 0.
  EXPECT_EQ(Run(Main("NEWTABLE R1, 0, 0\nSETTABLE R1, nan, 1\nRETURN R0, 1")).status,
            ERR_TABLEINDEX);
  RunResult r = Run(
      Main("NEWTABLE R1, 0, 0\nSETTABLE R1, nil, 5\nGETTABLE R0, R1, 0\nRETURN R0, 2"));
  EXPECT_EQ(r.num(0), 5);
  // Constructors store lists from key 0.
  r = Run(Main(R"(
  NEWTABLE R0, 3, 0
  LOADCONST R1, "a"
  LOADCONST R2, "b"
  LOADCONST R3, "c"
  SETLIST R0, first=0 count=3
  GETTABLE R1, R0, 0
  GETTABLE R2, R0, 1
  GETTABLE R3, R0, 2
  RETURN R1, n=3)"));
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.str(0) + r.str(1) + r.str(2), "abc");
  // Oversized constructors.
  EXPECT_EQ(Run(Main("NEWTABLE R0, 0, 25\nRETURN R0, 2")).status, ERR_TABLEOVERFLOW);
  EXPECT_EQ(Run(Main("NEWTABLE R0, B=511, C=0\nRETURN R0, 2")).status, ERR_TABLEOVERFLOW);
  EXPECT_EQ(Run(Main("NEWTABLE R0, B=187, C=0\nRETURN R0, 2")).status,
            ERR_TABLEOVERFLOW);  // 3 << 23
}

// Integer keys inside the array part are read and written in place; the rules stay those of
// any key: an empty slot is a missing key, and a "__newindex" table receives writes to it.
TEST_F(RulesTest, IntegerKeysInsideTheArrayPart) {
  const std::string fill = "NEWTABLE R1, arr=4 hashlog=0\nSETTABLE R1, 1, 10\nSETTABLE R1, 4, 40\n";
  RunResult r = Run(Main(fill + "GETTABLE R0, R1, 1\nGETTABLE R2, R1, 4\nADD R0, R0, R2\n"
                                "RETURN R0, 2"));
  EXPECT_EQ(r.num(0), 50);
  EXPECT_EQ(Run(Main(fill + "GETTABLE R0, R1, 2\nRETURN R0, 2")).status, ERR_FIELDINIT);
  EXPECT_STREQ(GetErrorString(), "2");
  EXPECT_EQ(Run(Main(fill + "SETTABLE R1, 4, nil\nGETTABLE R0, R1, 4\nRETURN R0, 2")).status,
            ERR_FIELDINIT);
  // Keys beside the array part: 0, fractions, beyond its end.
  r = Run(Main(fill + R"(
  SETTABLE R1, 0, 1
  SETTABLE R1, 1.5, 2
  SETTABLE R1, 5, 3
  GETTABLE R0, R1, 0
  GETTABLE R2, R1, 1.5
  ADD R0, R0, R2
  GETTABLE R2, R1, 5
  ADD R0, R0, R2
  RETURN R0, 2)"));
  EXPECT_EQ(r.num(0), 6);
  RegisterNative("setmetatable", [](qvScriptState* L) -> int32_t {
    VmPushValue(L, 2);
    VmSetMetaTable(L, 1);
    return 0;
  });
  // With "__newindex": a present slot is written raw, an empty one goes to the other table.
  r = Run(Main(fill + R"(
  NEWTABLE R2, 0, 0
  NEWTABLE R3, 0, 0
  SETTABLE R3, "__newindex", R2
  GETGLOBAL R4, "setmetatable"
  MOVE R5, R1
  MOVE R6, R3
  CALL R4, nargs=2, nres=0
  SETTABLE R1, 1, 11
  SETTABLE R1, 2, 22
  GETTABLE R0, R1, 1
  GETTABLE R1, R2, 2
  RETURN R0, n=2
  )"));
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.num(0), 11);
  EXPECT_EQ(r.num(1), 22);
  // An empty slot written while the metatable has no "__newindex" is written raw; once the
  // metatable gains one, the next empty slot goes to it.
  r = Run(Main(fill + R"(
  NEWTABLE R2, 0, 0
  NEWTABLE R3, 0, 0
  GETGLOBAL R4, "setmetatable"
  MOVE R5, R1
  MOVE R6, R3
  CALL R4, nargs=2, nres=0
  SETTABLE R1, 2, 22
  SETTABLE R3, "__newindex", R2
  SETTABLE R1, 3, 33
  GETTABLE R0, R1, 2
  GETTABLE R1, R2, 3
  RETURN R0, n=2
  )"));
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.num(0), 22);
  EXPECT_EQ(r.num(1), 33);
}

// A constructor that ends in a call: SETLISTTOP's Bx is the compiler's count of items so far
// minus one, so its low five bits are no key; the items go from key Bx & ~31 up to the top.
TEST_F(RulesTest, ConstructorsEndingInACall) {
  struct Case {
    std::vector<const char*> items;  // in R1, R2, ... before the call
    const char* operand;             // SETLISTTOP R0, <operand>
    int results;                     // of the call: "x", "y" or none
    const char* want;                // the table's keys and values, in key order
  };
  const Case cases[] = {
      {{"a", "b"}, "2", 2, "0=a 1=b 2=x 3=y"},  // {a, b, f()}
      {{}, "0", 2, "0=x 1=y"},                  // {f()}
      {{"a", "b"}, "2", 0, "0=a 1=b"},          // a call without results
      {{"a"}, "33", 2, "32=a 33=x 34=y"},       // the end of a second block of 32
      {{"a"}, "first=32", 2, "32=a 33=x 34=y"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string("SETLISTTOP R0, ") + k.operand + " with " + std::to_string(k.results) +
                 " results");
    std::string text = ".function main\nNEWTABLE R0, 0, 0\nSETGLOBAL R0, \"t\"\n";
    int reg = 1;
    for (const char* item : k.items)
      text += "LOADCONST R" + std::to_string(reg++) + ", \"" + item + "\"\n";
    const std::string call = "R" + std::to_string(reg);
    text +=
        "CLOSURE " + call + ", f\nCALL " + call + ", nargs=0, nres=all\nSETLISTTOP R0, " +
        k.operand +
        "\nRETURN R0, n=0\n.function f\nLOADCONST R0, \"x\"\nLOADCONST R1, \"y\"\nRETURN R0, n=" +
        std::to_string(k.results) + "\n.end\n.end\n";
    ASSERT_EQ(Run(text).status, 0);
    std::map<double, std::string> items;
    VmPushString(L, "t");
    VmGetTable(L, kGlobalsIndex);
    VmPushNil(L);
    while (VmNext(L, -2)) {
      items[VmToNumber(L, -2)] = VmToString(L, -1);
      VmSetTop(L, -2);
    }
    VmSetTop(L, 0);
    std::string got;
    for (const auto& [key, value] : items)
      got += (got.empty() ? "" : " ") + std::to_string(int(key)) + "=" + value;
    EXPECT_EQ(got, k.want);
  }
}

TEST_F(RulesTest, NumericLoops) {
  struct Case {
    const char* start;  // already minus one step
    const char* limit;
    const char* step;
    double sum;
    int32_t code;
  };
  const Case cases[] = {
      {"0", "10", "1", 55, 0},        // 1 .. 10
      {"11", "1", "-1", 55, 0},       // 10 .. 1
      {"0", "\"3\"", "1", 6, 0},      // a numeric string limit
      {"-2", "nil", "1", -1 + 0, 0},  // nil limit counts as 0: -1, 0
      {"0", "0.5", "0.25", 0.75, 0},  // 0.25 .. 0.5
      {"\"0\"", "3", "1", 0, ERR_VALUEEXPECTED},
      {"0", "\"x\"", "1", 0, ERR_VALUEEXPECTED},
      {"0", "3", "{}", 0, ERR_VALUEEXPECTED},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.start) + " " + k.limit + " " + k.step);
    std::string step = std::string(k.step) == "{}" ? "NEWTABLE R3, 0, 0"
                                                   : std::string("LOADCONST R3, ") + k.step;
    std::string limit = std::string(k.limit) == "nil" ? "LOADNIL R2, R2"
                                                      : std::string("LOADCONST R2, ") + k.limit;
    RunResult r = Run(
        Main(std::string("LOADCONST R0, 0\nLOADCONST R1, ") + k.start + "\n" + limit + "\n" + step +
             "\nJUMP @test\nbody:\nADD R0, R0, R1\ntest:\nFORLOOP R1, @body\nRETURN R0, 2"));
    if (k.code != 0) {
      EXPECT_EQ(r.status, k.code);
    } else {
      ASSERT_EQ(r.status, 0);
      EXPECT_EQ(r.num(0), k.sum);
    }
  }
}

// A generic loop over a table: the built-in iterator when the global "next" is nil.
TEST_F(RulesTest, GenericLoopOverATable) {
  const char* text = R"(
.function main
  NEWTABLE R0, 0, 0
  SETTABLE R0, "a", 1
  SETTABLE R0, "b", 2
  SETTABLE R0, 1, 4
  SETTABLE R0, 0, 8
  LOADCONST R8, 0       ; keys seen
  LOADCONST R9, 0       ; sum
  MOVE R1, R0           ; R1 function/table, R2 state, R3 control; R4-R6 the call
  LOADNIL R2, R3
  FORINPREP R1, @test
body:
  ADD R8, R8, 1
  ADD R9, R9, R4
test:
  FORINLOOP R1, vars=2
  JUMP @body
  RETURN R8, n=2
.end
)";
  RunResult r = Run(text);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.num(0), 4);
  EXPECT_EQ(r.num(1), 15);
}

TEST_F(RulesTest, GosubAndItsLimits) {
  // The design note's example: a closure, a numeric loop and a GOSUB.
  const char* example = qvasm::kExampleProgram;
  RunResult r = Run(example);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.num(0), 20);
  // A return at depth 0.
  EXPECT_EQ(Run(Main("RETSUB\nRETURN R0, 1")).status, ERR_RETWOGOSUB);
  // 4097 nested GOSUBs.
  EXPECT_EQ(Run(Main("again:\nGOSUB @again\nRETURN R0, 1")).status, ERR_INTERNAL);
  // A failed call leaves the GOSUB stack as it found it: the next run starts at depth 0.
  EXPECT_EQ(Run(Main("RETSUB\nRETURN R0, 1")).status, ERR_RETWOGOSUB);
  // A return pops only an entry of the running function.
  const char* foreign = R"(
.function main
  GOSUB @sub
  RETURN R0, 1
sub:
  CLOSURE R0, f
  CALL R0, nargs=0, nres=0
  RETSUB
  .function f
    RETSUB
    RETURN R0, 1
  .end
.end
)";
  EXPECT_EQ(Run(foreign).status, ERR_RETWOGOSUB);
}

TEST_F(RulesTest, NoOpOpcodesAreSkipped) {
  RunResult r = Run(Main("LOADCONST R0, 3\n.word 0x0000002B\n.word 0x0000003F\nRETURN R0, 2"));
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.num(0), 3);
}

}  // namespace
}  // namespace qv::testing
