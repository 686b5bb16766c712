// Whole assembled programs run through VmLoad and VmPCall.
#include "tests/vm/vm_fixture.h"

namespace qv::testing {
namespace {

class ProgramsTest : public VmTest {
 protected:
  void SetUp() override {
    VmTest::SetUp();
    RegisterNative("setmetatable", [](qvScriptState* L) -> int32_t {
      VmPushValue(L, 2);
      VmSetMetaTable(L, 1);
      VmPushValue(L, 1);
      return 1;
    });
    RegisterNative("pair", [](qvScriptState* L) -> int32_t {
      double a = VmToNumber(L, 1);
      double b = VmToNumber(L, 2);
      VmPushNumber(L, a + b);
      VmPushNumber(L, a * b);
      return 2;
    });
  }
};

TEST_F(ProgramsTest, RecursiveFibonacci) {
  RunResult r = Run(R"qv(
.function main params=1
  CLOSURE R1, fib
  SETGLOBAL R1, "fib"
  MOVE R2, R0
  CALL R1, nargs=1, nres=1
  RETURN R1, n=1
  .function fib params=1
    LT 0, R0, 2
    JUMP @rec
    RETURN R0, n=1
  rec:
    GETGLOBAL R1, "fib"
    SUB R2, R0, 1
    CALL R1, nargs=1, nres=1
    GETGLOBAL R2, "fib"
    SUB R3, R0, 2
    CALL R2, nargs=1, nres=1
    ADD R1, R1, R2
    RETURN R1, n=1
  .end
.end
)qv",
                    20);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.num(0), 6765);
}

TEST_F(ProgramsTest, CountersShareTheirUpvalue) {
  RunResult r = Run(R"qv(
.function main
  CLOSURE R0, make
  MOVE R1, R0
  CALL R1, nargs=0, nres=2     ; R1 inc, R2 get
  MOVE R3, R1
  CALL R3, nargs=0, nres=0
  MOVE R3, R1
  CALL R3, nargs=0, nres=0
  MOVE R3, R0
  CALL R3, nargs=0, nres=2     ; a second pair: R3 inc, R4 get
  MOVE R5, R3
  CALL R5, nargs=0, nres=0
  MOVE R5, R2
  CALL R5, nargs=0, nres=1
  MOVE R6, R4
  CALL R6, nargs=0, nres=1
  RETURN R5, n=2
  .function make
    LOADCONST R0, 0
    CLOSURE R1, inc [R0]
    CLOSURE R2, get [R0]
    RETURN R1, n=2
    .function inc
      .upvalue "n"
      GETUPVAL R0, U0
      ADD R0, R0, 1
      SETUPVAL R0, U0
      RETURN R0, n=0
    .end
    .function get
      .upvalue "n"
      GETUPVAL R0, U0
      RETURN R0, n=1
    .end
  .end
.end
)qv");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.num(0), 2);
  EXPECT_EQ(r.num(1), 1);
}

// CLOSE gives each loop iteration's closure its own variable.
TEST_F(ProgramsTest, ClosuresMadeInALoopKeepTheirOwnValue) {
  const char* text = R"qv(
.function main
  NEWTABLE R0, 0, 0
  LOADCONST R1, 0
  LOADCONST R2, 3
  LOADCONST R3, 1
  JUMP @test
body:
  MUL R4, R1, 10
  CLOSURE R5, get [R4]
  SETTABLE R0, R1, R5
  %CLOSE%
test:
  FORLOOP R1, @body
  LOADCONST R6, 0
  GETTABLE R7, R0, 1
  CALL R7, nargs=0, nres=1
  ADD R6, R6, R7
  GETTABLE R7, R0, 2
  CALL R7, nargs=0, nres=1
  ADD R6, R6, R7
  GETTABLE R7, R0, 3
  CALL R7, nargs=0, nres=1
  ADD R6, R6, R7
  RETURN R6, n=1
  .function get
    .upvalue "v"
    GETUPVAL R0, U0
    RETURN R0, n=1
  .end
.end
)qv";
  std::string closed = text;
  closed.replace(closed.find("%CLOSE%"), 7, "CLOSE R4");
  std::string shared = text;
  shared.replace(shared.find("%CLOSE%"), 7, "");
  EXPECT_EQ(Run(closed).num(0), 60);
  EXPECT_EQ(Run(shared).num(0), 90);  // without CLOSE all three see the last value
}

TEST_F(ProgramsTest, VariableArguments) {
  const char* text = R"qv(
.function main params=0 vararg
  CLOSURE R1, f
  GETTABLE R2, R0, 0
  GETTABLE R3, R0, 1
  GETTABLE R4, R0, 2
  GETTABLE R5, R0, 3
  GETTABLE R6, R0, 4
  CALL R1, nargs=5, nres=all
  RETURN R1, n=top
  .function f params=2 vararg
    GETTABLE R3, R2, "n"
    TEST R4, R3, 0     ; no extra arguments: return a, b, n only
    JUMP @short
    GETTABLE R4, R2, 0
    GETTABLE R5, R2, 2
    MOVE R6, R0
    MOVE R7, R1
    MOVE R8, R3
    MOVE R9, R4
    MOVE R10, R5
    RETURN R6, n=5
  short:
    MOVE R6, R0
    MOVE R7, R1
    MOVE R8, R3
    RETURN R6, n=3
  .end
.end
)qv";
  RunResult r = Run(text, 1, 2, 3, 4, 5);
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.size(), 5u);
  EXPECT_EQ(r.num(0), 1);
  EXPECT_EQ(r.num(1), 2);
  EXPECT_EQ(r.num(2), 3);  // "n": three extra arguments at keys 0, 1 and 2
  EXPECT_EQ(r.num(3), 3);
  EXPECT_EQ(r.num(4), 5);
}

TEST_F(ProgramsTest, SieveWithConstructors) {
  RunResult r = Run(R"qv(
.function main
  NEWTABLE R0, arr=128 hashlog=0
  LOADCONST R1, -1
  LOADCONST R2, 99
  LOADCONST R3, 1
  JUMP @init_test
init:
  SETTABLE R0, R1, 0
init_test:
  FORLOOP R1, @init
  NEWTABLE R10, 0, 0     ; the primes
  LOADCONST R11, 0       ; their count
  LOADCONST R12, 0       ; their sum
  LOADCONST R1, 1
  LOADCONST R2, 99
  LOADCONST R3, 1
  JUMP @outer_test
outer:
  GETTABLE R4, R0, R1
  EQ 0, R4, 0
  JUMP @outer_test
  SETTABLE R10, R11, R1
  ADD R11, R11, 1
  ADD R12, R12, R1
  MUL R5, R1, R1
  SUB R5, R5, R1
  LOADCONST R6, 99
  MOVE R7, R1
  JUMP @inner_test
inner:
  SETTABLE R0, R5, 1
inner_test:
  FORLOOP R5, @inner
outer_test:
  FORLOOP R1, @outer
  ; {p[0], p[1], p[2], p[3]} and {first4()}
  NEWTABLE R13, 4, 0
  GETTABLE R14, R10, 0
  GETTABLE R15, R10, 1
  GETTABLE R16, R10, 2
  GETTABLE R17, R10, 3
  SETLIST R13, first=0 count=4
  CLOSURE R18, first4 [R10]
  NEWTABLE R19, 0, 0
  MOVE R20, R18
  CALL R20, nargs=0, nres=all
  SETLISTTOP R19, first=0
  GETTABLE R20, R13, 3
  GETTABLE R21, R19, 2
  MOVE R22, R11
  MOVE R23, R12
  RETURN R20, n=4
  .function first4
    .upvalue "p"
    GETUPVAL R0, U0
    GETTABLE R1, R0, 0
    GETTABLE R2, R0, 1
    GETTABLE R3, R0, 2
    GETTABLE R4, R0, 3
    RETURN R1, n=4
  .end
.end
)qv");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.num(0), 7);
  EXPECT_EQ(r.num(1), 5);
  EXPECT_EQ(r.num(2), 25);
  EXPECT_EQ(r.num(3), 1060);
}

TEST_F(ProgramsTest, StringBuilder) {
  const char* text = R"qv(
.function main params=1
  LOADCONST R1, ""
  LOADCONST R2, 0
  MOVE R3, R0
  LOADCONST R4, 1
  JUMP @test
body:
  MOVE R5, R1
  MOVE R6, R2
  LOADCONST R7, ","
  CONCAT R1, R5, R7
test:
  FORLOOP R2, @body
  RETURN R1, n=1
.end
)qv";
  EXPECT_EQ(Run(text, 5).str(0), "1,2,3,4,5,");
  RunResult r = Run(text, 2000);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.str(0).size(), 9 * 2 + 90 * 3 + 900 * 4 + 1001 * 5u);
}

// Keys built by a concatenation and used at once are taken from the table when it holds them:
// they must be the interned strings themselves, and keys whose entries were removed (their
// strings collected since) must never be read there.
TEST_F(ProgramsTest, ConcatenatedKeysAreTheInternedStrings) {
  RegisterNative("collect", [](qvScriptState* L) -> int32_t {
    VmSetGCThreshold(L, 0);
    return 0;
  });
  const char* text = R"qv(
.function main params=1
  NEWTABLE R1, 0, 0
  LOADCONST R2, 0
  MOVE R3, R0
  LOADCONST R4, 1
  JUMP @t1
fill:
  LOADCONST R5, "k"
  MOVE R6, R2
  CONCAT R5, R5, R6
  SETTABLE R1, R5, R2
t1:
  FORLOOP R2, @fill
  LOADNIL R9, R9
  LOADCONST R2, 0
  MOVE R3, R0
  LOADCONST R4, 2
  JUMP @t2
drop:
  LOADCONST R5, "k"
  MOVE R6, R2
  CONCAT R5, R5, R6
  SETTABLE R1, R5, R9
t2:
  FORLOOP R2, @drop
  GETGLOBAL R10, "collect"
  CALL R10, nargs=0, nres=0
  LOADCONST R2, 0
  MOVE R3, R0
  LOADCONST R4, 2
  JUMP @t3
refill:
  MUL R7, R2, 10
  LOADCONST R5, "k"
  MOVE R6, R2
  CONCAT R5, R5, R6
  SETTABLE R1, R5, R7
t3:
  FORLOOP R2, @refill
  LOADCONST R7, 0
  LOADCONST R2, 0
  MOVE R3, R0
  LOADCONST R4, 1
  JUMP @t4
sum:
  LOADCONST R5, "k"
  MOVE R6, R2
  CONCAT R5, R5, R6
  GETTABLE R8, R1, R5
  ADD R7, R7, R8
t4:
  FORLOOP R2, @sum
  LOADCONST R11, 0
  LOADCONST R5, "k"
  LOADCONST R6, 2
  CONCAT R5, R5, R6
  GETTABLE R8, R1, R5
  EQ 1, R5, "k2"
  JUMP @same
  JUMP @done
same:
  LOADCONST R11, 1
done:
  MOVE R8, R11
  RETURN R7, n=2
.end
)qv";
  for (int n : {2, 9, 300, 5000}) {
    SCOPED_TRACE(n);
    RunResult r = Run(text, n);
    ASSERT_EQ(r.status, 0);
    double want = 0;
    for (int i = 1; i <= n; ++i) want += i % 2 ? i : 10.0 * i;
    EXPECT_EQ(r.num(0), want);
    EXPECT_EQ(r.num(1), 1) << "the key built again is not the constant \"k2\"";
  }
}

TEST_F(ProgramsTest, MetatableVector) {
  RunResult r = Run(R"qv(
.function main
  NEWTABLE R0, 0, 0
  CLOSURE R1, add
  SETTABLE R0, "__add", R1
  CLOSURE R1, eq
  SETTABLE R0, "__eq", R1
  CLOSURE R1, lt
  SETTABLE R0, "__lt", R1
  CLOSURE R1, index
  SETTABLE R0, "__index", R1
  CLOSURE R1, concat
  SETTABLE R0, "__concat", R1
  CLOSURE R1, call
  SETTABLE R0, "__call", R1
  SETGLOBAL R0, "VecMeta"
  CLOSURE R1, new
  SETGLOBAL R1, "new"
  GETGLOBAL R2, "new"
  LOADCONST R3, 1
  LOADCONST R4, 2
  CALL R2, nargs=2, nres=1      ; v1
  GETGLOBAL R3, "new"
  LOADCONST R4, 3
  LOADCONST R5, 4
  CALL R3, nargs=2, nres=1      ; v2
  ADD R4, R2, R3
  GETTABLE R20, R4, "x"
  GETTABLE R21, R4, "y"
  GETGLOBAL R7, "new"
  LOADCONST R8, 1
  LOADCONST R9, 2
  CALL R7, nargs=2, nres=1
  LOADBOOL R22, 0, 0
  EQ 0, R2, R7
  JUMP @noteq
  LOADBOOL R22, 1, 0
noteq:
  LOADBOOL R23, 0, 0
  LT 0, R2, R3
  JUMP @notlt
  LOADBOOL R23, 1, 0
notlt:
  GETTABLE R24, R2, "len"
  MOVE R11, R2
  LOADCONST R12, "!"
  CONCAT R25, R11, R12
  MOVE R12, R2
  LOADCONST R13, 10
  CALL R12, nargs=1, nres=1
  MOVE R26, R12
  RETURN R20, n=7
  .function new params=2
    NEWTABLE R2, 0, 1
    SETTABLE R2, "x", R0
    SETTABLE R2, "y", R1
    GETGLOBAL R3, "setmetatable"
    MOVE R4, R2
    GETGLOBAL R5, "VecMeta"
    CALL R3, nargs=2, nres=1
    RETURN R3, n=1
  .end
  .function add params=2
    GETTABLE R2, R0, "x"
    GETTABLE R3, R1, "x"
    ADD R2, R2, R3
    GETTABLE R3, R0, "y"
    GETTABLE R4, R1, "y"
    ADD R3, R3, R4
    GETGLOBAL R4, "new"
    MOVE R5, R2
    MOVE R6, R3
    TAILCALL R4, nargs=2, nres=all
    RETURN R4, n=top
  .end
  .function eq params=2
    LOADBOOL R2, 0, 0
    GETTABLE R3, R0, "x"
    GETTABLE R4, R1, "x"
    EQ 0, R3, R4
    JUMP @no
    GETTABLE R3, R0, "y"
    GETTABLE R4, R1, "y"
    EQ 0, R3, R4
    JUMP @no
    LOADBOOL R2, 1, 0
  no:
    RETURN R2, n=1
  .end
  .function lt params=2
    LOADBOOL R2, 1, 0
    GETTABLE R3, R0, "x"
    GETTABLE R4, R1, "x"
    LT 1, R3, R4
    JUMP @yes
    LOADBOOL R2, 0, 0
  yes:
    RETURN R2, n=1
  .end
  .function index params=2
    LOADCONST R2, "idx:"
    MOVE R3, R1
    CONCAT R2, R2, R3
    RETURN R2, n=1
  .end
  .function concat params=2
    LOADCONST R2, "vec("
    GETTABLE R3, R0, "x"
    LOADCONST R4, ","
    GETTABLE R5, R0, "y"
    LOADCONST R6, ")"
    MOVE R7, R1
    CONCAT R2, R2, R7
    RETURN R2, n=1
  .end
  .function call params=2
    GETTABLE R2, R0, "x"
    ADD R2, R2, R1
    RETURN R2, n=1
  .end
.end
)qv");
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.size(), 7u);
  EXPECT_EQ(r.num(0), 4);
  EXPECT_EQ(r.num(1), 6);
  EXPECT_EQ(r.num(2), 1);  // __eq
  EXPECT_EQ(r.num(3), 1);  // __lt
  EXPECT_EQ(r.str(4), "idx:len");
  EXPECT_EQ(r.str(5), "vec(1,2)!");
  EXPECT_EQ(r.num(6), 11);  // __call
}

TEST_F(ProgramsTest, GosubInsideALoop) {
  RunResult r = Run(R"qv(
.function main
  LOADCONST R0, 0
  LOADCONST R1, 0
  LOADCONST R2, 5
  LOADCONST R3, 1
  JUMP @test
body:
  GOSUB @twice
test:
  FORLOOP R1, @body
  RETURN R0, n=1
twice:
  GOSUB @one
  GOSUB @one
  RETSUB
one:
  ADD R0, R0, 1
  RETSUB
.end
)qv");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.num(0), 10);
}

TEST_F(ProgramsTest, TailCallsReuseTheirFrame) {
  RunResult r = Run(R"qv(
.function main params=1
  CLOSURE R1, loop
  SETGLOBAL R1, "loop"
  MOVE R2, R0
  LOADCONST R3, 0
  CALL R1, nargs=2, nres=1
  RETURN R1, n=1
  .function loop params=2
    EQ 0, R0, 0
    JUMP @rec
    RETURN R1, n=1
  rec:
    GETGLOBAL R2, "loop"
    SUB R3, R0, 1
    ADD R4, R1, R0
    TAILCALL R2, nargs=2, nres=all
    RETURN R2, n=top
  .end
.end
)qv",
                    100000);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.num(0), 5000050000.0);
  EXPECT_LE(L->sizeCi, 64);
}

// Arguments beyond a fixed-parameter function's parameters are dropped: its registers above
// the parameters start as nil, however it was called.
TEST_F(ProgramsTest, ExtraArgumentsLeaveTheRegistersAboveTheParametersNil) {
  const char* kCallee = R"qv(
  .function f params=1 maxstack=4
    RETURN R0, n=4
  .end
.end
)qv";
  struct Case {
    const char* how;
    std::string main;  // the calling code, then the callee
  };
  // s(2) calls s(1) with `nargs` arguments from registers that hold other values.
  auto SelfCall = [](int nargs) {
    return std::string(R"qv(.function main
  CLOSURE R0, s
  SETGLOBAL R0, "s"
  LOADCONST R1, 2
  CALL R0, nargs=1, nres=4
  RETURN R0, n=4
  .function s params=1 maxstack=6
    EQ 1, R0, 2
    JUMP @deep
    RETURN R0, n=4
  deep:
    GETGLOBAL R1, "s"
    LOADCONST R2, 1
    LOADCONST R3, 9
    LOADCONST R4, 10
    LOADCONST R5, 11
    CALL R1, nargs=)qv") +
           std::to_string(nargs) + R"qv(, nres=4
    RETURN R1, n=4
  .end
)qv";
  };
  const Case cases[] = {
      {"CALL", R"qv(.function main
  CLOSURE R0, f
  LOADCONST R1, 1
  LOADCONST R2, 2
  LOADCONST R3, 3
  CALL R0, nargs=3, nres=4
  RETURN R0, n=4
)qv"},
      {"TAILCALL", R"qv(.function main
  CLOSURE R0, f
  LOADCONST R1, 1
  LOADCONST R2, 2
  LOADCONST R3, 3
  TAILCALL R0, nargs=3, nres=all
  RETURN R0, n=top
)qv"},
      // A function calling itself: the callee's registers lie over the caller's, which hold
      // other values, and over the extra arguments.
      {"self, one argument", SelfCall(1)},
      {"self, three arguments", SelfCall(3)},
      {"native", R"qv(.function main
  GETGLOBAL R0, "calls"
  CLOSURE R1, f
  LOADCONST R2, 1
  LOADCONST R3, 2
  LOADCONST R4, 3
  CALL R0, nargs=4, nres=all
  RETURN R0, n=top
)qv"},
  };
  RegisterNative("calls", [](qvScriptState* L) -> int32_t {
    VmCall(L, VmGetTop(L) - 1, kMultipleResults);
    return VmGetTop(L);
  });
  for (const Case& k : cases) {
    SCOPED_TRACE(k.how);
    RunResult r = Run(k.main + kCallee);
    ASSERT_EQ(r.status, 0);
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r.num(0), 1);
    for (size_t i = 1; i < 4; ++i) EXPECT_EQ(r.type(i), kTypeNil) << "R" << i;
  }
}

TEST_F(ProgramsTest, MethodCallsAndNativeResults) {
  RunResult r = Run(R"qv(
.function main
  NEWTABLE R0, 0, 0
  SETTABLE R0, "v", 5
  CLOSURE R1, get
  SETTABLE R0, "get", R1
  SELF R1, R0, "get"
  LOADCONST R3, 10
  CALL R1, nargs=2, nres=1
  GETGLOBAL R2, "pair"
  GETGLOBAL R3, "pair"
  LOADCONST R4, 2
  LOADCONST R5, 3
  CALL R3, nargs=2, nres=all
  CALL R2, nargs=top, nres=all
  RETURN R1, n=top
  .function get params=2
    GETTABLE R2, R0, "v"
    ADD R2, R2, R1
    RETURN R2, n=1
  .end
.end
)qv");
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r.num(0), 15);
  EXPECT_EQ(r.num(1), 11);  // pair(5, 6)
  EXPECT_EQ(r.num(2), 30);
}

// A proxy whose metatable forwards reads and writes to a store table.
TEST_F(ProgramsTest, IndexAndNewIndexTables) {
  RunResult r = Run(R"qv(
.function main
  NEWTABLE R0, 0, 0
  NEWTABLE R1, 0, 0
  NEWTABLE R2, 0, 0
  SETTABLE R2, "__newindex", R1
  SETTABLE R2, "__index", R1
  GETGLOBAL R3, "setmetatable"
  MOVE R4, R0
  MOVE R5, R2
  CALL R3, nargs=2, nres=0
  SETTABLE R0, "a", 1
  SETTABLE R0, "a", 3
  GETTABLE R6, R0, "a"
  GETTABLE R7, R1, "a"
  SETGLOBAL R6, "g"
  GETGLOBAL R8, "g"
  RETURN R6, n=3
.end
)qv");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.num(0), 3);
  EXPECT_EQ(r.num(1), 3);
  EXPECT_EQ(r.num(2), 3);
}

// The interpreter's own array reads and writes: a hole is a missing key for "__newindex", a
// present key is written raw, and a string turns the numeric array part into slots.
TEST_F(ProgramsTest, ArrayPartHolesNewIndexAndAStringStored) {
  RunResult r = Run(R"qv(
.function main
  NEWTABLE R0, arr=4 hashlog=0
  SETTABLE R0, 1, 10
  SETTABLE R0, 2, 20
  SETTABLE R0, 4, 40     ; key 3 is a hole
  NEWTABLE R1, 0, 0      ; the metatable
  NEWTABLE R2, 0, 0      ; where missing keys go
  SETTABLE R1, "__newindex", R2
  GETGLOBAL R3, "setmetatable"
  MOVE R4, R0
  MOVE R5, R1
  CALL R3, nargs=2, nres=0
  SETTABLE R0, 2, 21
  SETTABLE R0, 3, 30
  SETTABLE R0, 4, "forty"
  SETTABLE R0, 1, 11
  GETTABLE R6, R0, 1
  GETTABLE R7, R0, 2
  GETTABLE R8, R2, 3
  GETTABLE R9, R0, 4
  RETURN R6, n=4
.end
)qv");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.num(0), 11);
  EXPECT_EQ(r.num(1), 21);
  EXPECT_EQ(r.num(2), 30);
  EXPECT_EQ(r.str(3), "forty");
}

TEST_F(ProgramsTest, ReadingAHoleOfTheArrayPartRaises) {
  for (const char* value : {"7", "\"seven\""}) {  // a numeric part, then one of slots
    SCOPED_TRACE(value);
    RunResult r = Run(std::string(R"qv(
.function main
  NEWTABLE R0, arr=4 hashlog=0
  SETTABLE R0, 1, )qv") +
                      value + R"qv(
  GETTABLE R1, R0, 1
  GETTABLE R2, R0, 2
  RETURN R1, n=2
.end
)qv");
    EXPECT_EQ(r.status, ERR_FIELDINIT);
    EXPECT_STREQ(GetErrorString(), "2");
  }
}

// Loops whose body is one store under the loop index: the numeric array part is written in
// place while it can be, and every other round (past the array part, a hole that "__newindex"
// answers, a key that is no integer, the index as the value) takes the general path.
TEST_F(ProgramsTest, StoresUnderTheLoopIndexLeaveTheArrayPartWhereTheyMust) {
  // R0 = {1, 1, 1, 1}; SETUP; for R1 = FROM, TO, STEP do R0[R1] = VALUE end; returns the final
  // R1 and the values that READS loads from R5 on (a count filled in below).
  auto program =
      [](const std::string& setup, const char* range, const char* value, const char* reads) {
        return std::string(R"qv(
.function main
  NEWTABLE R0, arr=4 hashlog=0
  LOADCONST R1, 0
  LOADCONST R2, 4
  LOADCONST R3, 1
  JUMP @fill_test
fill:
  SETTABLE R0, R1, 1
fill_test:
  FORLOOP R1, @fill
)qv") + setup + range +
               R"qv(
  JUMP @test
body:
  SETTABLE R0, R1, )qv" +
               value + R"qv(
test:
  FORLOOP R1, @body
  MOVE R4, R1
)qv" + reads + "  RETURN R4, n=COUNT\n.end\n";
      };
  const std::string holes = R"qv(
  LOADNIL R9, R9
  SETTABLE R0, 2, R9
  SETTABLE R0, 4, R9
  NEWTABLE R10, 0, 0
  NEWTABLE R11, 0, 0
  SETTABLE R10, "__newindex", R11
  GETGLOBAL R12, "setmetatable"
  MOVE R13, R0
  MOVE R14, R10
  CALL R12, nargs=2, nres=0
)qv";
  const char* const upTo4 = "  LOADCONST R1, 0\n  LOADCONST R2, 4\n  LOADCONST R3, 1";
  struct Case {
    const char* name;
    std::string text;
    std::vector<double> results;
  };
  const Case cases[] = {
      {"inside the array part",
       program("", upTo4, "5", "  GETTABLE R5, R0, 1\n  GETTABLE R6, R0, 4\n"),
       {4, 5, 5}},
      {"past its end",
       program("", "  LOADCONST R1, 0\n  LOADCONST R2, 40\n  LOADCONST R3, 1", "5",
               "  GETTABLE R5, R0, 4\n  GETTABLE R6, R0, 5\n  GETTABLE R7, R0, 40\n"),
       {40, 5, 5, 5}},
      {"holes answered by __newindex",
       program(holes, upTo4, "5",
               "  GETTABLE R5, R0, 1\n  GETTABLE R6, R0, 3\n  GETTABLE R7, R11, 2\n"
               "  GETTABLE R8, R11, 4\n"),
       {4, 5, 5, 5, 5}},
      {"downwards by halves",
       program("", "  LOADCONST R1, 4.5\n  LOADCONST R2, 1\n  LOADCONST R3, -0.5", "5",
               "  GETTABLE R5, R0, 4\n  GETTABLE R6, R0, 3.5\n  GETTABLE R7, R0, 1.5\n"
               "  GETTABLE R8, R0, 1\n"),
       {1, 5, 5, 5, 5}},
      {"the index as the value",
       program("", upTo4, "R1", "  GETTABLE R5, R0, 1\n  GETTABLE R6, R0, 4\n"),
       {4, 1, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string text = c.text;
    text.replace(text.find("COUNT"), 5, std::to_string(c.results.size()));
    RunResult r = Run(text);
    ASSERT_EQ(r.status, 0);
    ASSERT_EQ(r.size(), c.results.size());
    for (size_t i = 0; i < c.results.size(); ++i) EXPECT_EQ(r.num(i), c.results[i]) << i;
  }
  // The holes stay holes: reading one raises.
  std::string text = program(holes, upTo4, "5", "  GETTABLE R5, R0, 2\n");
  EXPECT_EQ(Run(text.replace(text.find("COUNT"), 5, "2")).status, ERR_FIELDINIT);
}

// Nils stored by the instructions (over present keys, and under new ones) let later keys take
// those nodes exactly as nils stored through the raw interface do: a table built by a program and
// its twin built raw traverse alike.
TEST_F(ProgramsTest, NilsStoredByInstructionsPlaceLaterKeysAsRawStoresDo) {
  for (const char* cleared : {"k", "x"}) {  // present keys, new keys
    SCOPED_TRACE(cleared);
    std::string text = R"qv(
.function main
  NEWTABLE R0, 0, 0
  LOADNIL R7, R7
  LOADCONST R1, 0
  LOADCONST R2, 150
  LOADCONST R3, 1
  JUMP @t1
fill:
  LOADCONST R5, "k"
  MOVE R6, R1
  CONCAT R5, R5, R6
  SETTABLE R0, R5, R1
t1:
  FORLOOP R1, @fill
  LOADCONST R1, -2
  LOADCONST R2, 150
  LOADCONST R3, 3
  JUMP @t2
clear:
  LOADCONST R5, "%"
  MOVE R6, R1
  CONCAT R5, R5, R6
  SETTABLE R0, R5, R7
t2:
  FORLOOP R1, @clear
  LOADCONST R1, 0
  LOADCONST R2, 100
  LOADCONST R3, 1
  JUMP @t3
again:
  LOADCONST R5, "n"
  MOVE R6, R1
  CONCAT R5, R5, R6
  SETTABLE R0, R5, R1
t3:
  FORLOOP R1, @again
  SETGLOBAL R0, "t"
  RETURN R0, n=0
.end
)qv";
    text.replace(text.find('%'), 1, cleared);
    ASSERT_EQ(Run(text).status, 0);
    VmPushString(L, "t");
    VmRawGet(L, kGlobalsIndex);
    VmNewTable(L);
    auto set = [&](const std::string& key, int value) {
      VmPushString(L, key.c_str());
      if (value < 0)
        VmPushNil(L);
      else
        VmPushNumber(L, value);
      VmRawSet(L, 2);
    };
    for (int i = 1; i <= 150; ++i) set("k" + std::to_string(i), i);
    for (int i = 1; i <= 150; i += 3) set(cleared + std::to_string(i), -1);
    for (int i = 1; i <= 100; ++i) set("n" + std::to_string(i), i);
    auto order = [&](int t) {
      std::string keys;
      VmPushNil(L);
      while (VmNext(L, t)) {
        keys += std::string(VmToString(L, -2)) + " ";
        VmSetTop(L, -2);
      }
      return keys;
    };
    EXPECT_EQ(order(1), order(2));
    VmSetTop(L, 0);
  }
}

TEST_F(ProgramsTest, AGlobalNextReplacesTheBuiltInIterator) {
  RegisterNative("next", [](qvScriptState* L) -> int32_t {
    // Visits only the keys 1 .. 3, each with its value doubled.
    double k = VmType(L, 2) == kTypeNil ? 0 : VmToNumber(L, 2);
    if (k >= 3) {
      VmPushNil(L);
      return 1;
    }
    VmPushNumber(L, k + 1);
    VmRawGetI(L, 1, int(k + 1));
    VmPushNumber(L, VmToNumber(L, -1) * 2);
    VmRemove(L, -2);
    return 2;
  });
  RunResult r = Run(R"qv(
.function main
  NEWTABLE R0, 0, 0
  SETTABLE R0, 1, 1
  SETTABLE R0, 2, 2
  SETTABLE R0, 3, 3
  SETTABLE R0, 4, 100
  LOADCONST R9, 0
  MOVE R1, R0
  LOADNIL R2, R3
  FORINPREP R1, @test
body:
  ADD R9, R9, R4
test:
  FORINLOOP R1, vars=2
  JUMP @body
  RETURN R9, n=1
.end
)qv");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.num(0), 12);
}

}  // namespace
}  // namespace qv::testing
