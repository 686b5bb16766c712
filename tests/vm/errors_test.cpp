// The error contract: each error the machine raises comes back from VmPCall as exactly its code
// with the failing instruction's line, and the state runs the next program correctly.
#include "base/errors.h"

#include "tests/vm/vm_fixture.h"

namespace qv::testing {
namespace {

class ErrorsTest : public VmTest {
 protected:
  void SetUp() override {
    VmTest::SetUp();
    RegisterNative("setmetatable", [](qvScriptState* L) -> int32_t {
      VmPushValue(L, 2);
      VmSetMetaTable(L, 1);
      return 0;
    });
  }
  void ExpectHealthy() {
    RunResult r = Run(R"qv(
.function main
  LOADCONST R0, 0
  LOADCONST R1, 0
  LOADCONST R2, 4
  LOADCONST R3, 1
  JUMP @test
body:
  ADD R0, R0, R1
test:
  FORLOOP R1, @body
  RETURN R0, n=1
.end
)qv");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.num(0), 10);
    EXPECT_EQ(L->ci, L->baseCi);
    EXPECT_EQ(L->nCcalls, 0);
    EXPECT_EQ(G(L)->gosubTop, 0);
  }
};

TEST_F(ErrorsTest, EachErrorComesBackWithItsCodeAndLine) {
  struct Case {
    int32_t code;
    const char* setup;    // line 1
    const char* failing;  // line 7
  };
  const Case cases[] = {
      {ERR_VALUEEXPECTED, "LOADCONST R1, \"x\"\nLOADCONST R2, 1\nLOADCONST R3, 1",
       "FORLOOP R1, +0"},
      {ERR_WRONGOP, "NEWTABLE R1, 0, 0", "ADD R0, R1, 1"},
      {ERR_RETWOGOSUB, "", "RETSUB"},
      {ERR_INTERNAL, "", "again:\nGOSUB @again"},
      {ERR_ZERODIVISION, "", "DIV R0, 1, 0"},
      {ERR_NUMSTRCMP, "", "LT 1, 1, \"1\"\nJUMP +0"},
      {ERR_CONCAT, "NEWTABLE R1, 0, 0\nLOADCONST R2, \"a\"", "CONCAT R0, R1, R2"},
      {ERR_TABLEDECLA, "LOADCONST R1, 5", "GETTABLE R0, R1, \"x\""},
      {ERR_FUNCDECLA, "", "GETGLOBAL R1, \"nothing\"\nCALL R1, nargs=0, nres=0"},
      {ERR_INTERNAL1,
       "NEWTABLE R1, 0, 0\nNEWTABLE R2, 0, 0\nSETTABLE R2, \"__index\", R1\nGETGLOBAL R3, \"setmetatable\"\n"
       "MOVE R4, R1\nMOVE R5, R2\nCALL R3, nargs=2, nres=0",
       "GETTABLE R0, R1, \"x\""},
      {ERR_FIELDINIT, "NEWTABLE R1, 0, 0", "GETTABLE R0, R1, \"x\""},
      {ERR_BADBYTECODE, "LOADCONST R1, 1", "SETLIST R1, first=0 count=1"},
      {ERR_INVNEXTKEY,
       "NEWTABLE R1, 0, 0\nSETTABLE R1, \"a\", 1\nLOADNIL R2, R3\nFORINPREP R1, +0\nLOADCONST R3, \"zzz\"",
       "FORINLOOP R1, vars=1\nJUMP +0"},
      {ERR_TABLEOVERFLOW, "", "NEWTABLE R0, 0, 25"},
      {ERR_TABLEINDEX, "NEWTABLE R1, 0, 0", "SETTABLE R1, nan, 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    std::string text = std::string(".function main\n.line 1\nLOADCONST R0, 1\n") + c.setup +
                       "\n.line 7\n" + c.failing + "\n.line 9\nRETURN R0, 2\n.end\n";
    RunResult r = Run(text);
    EXPECT_EQ(r.status, c.code);
    EXPECT_EQ(ErrorLine(), 7);
    ExpectHealthy();
  }
}

TEST_F(ErrorsTest, ErrorsInNestedFunctionsTakeTheirOwnLine) {
  RunResult r = Run(R"qv(
.function main
  .line 1
  CLOSURE R0, inner
  .line 2
  CALL R0, nargs=0, nres=0
  RETURN R0, n=0
  .function inner
    .line 40
    DIV R0, 1, 0
    RETURN R0, n=0
  .end
.end
)qv");
  EXPECT_EQ(r.status, ERR_ZERODIVISION);
  EXPECT_EQ(ErrorLine(), 40);
  // Without a line table the line is 0.
  EXPECT_EQ(Run(".function main\nDIV R0, 1, 0\nRETURN R0, 1\n.end\n").status, ERR_ZERODIVISION);
  EXPECT_EQ(ErrorLine(), 0);
  ExpectHealthy();
}

TEST_F(ErrorsTest, EndlessRecursionOverflowsTheCallRecords) {
  RunResult r = Run(R"qv(
.function main
  .line 1
  CLOSURE R0, rec
  SETGLOBAL R0, "rec"
  CALL R0, nargs=0, nres=0
  RETURN R0, n=0
  .function rec
    .line 5
    GETGLOBAL R0, "rec"
    CALL R0, nargs=0, nres=0
    RETURN R0, n=0
  .end
.end
)qv");
  EXPECT_EQ(r.status, ERR_STACK);
  EXPECT_EQ(ErrorLine(), 5);
  EXPECT_LE(L->sizeCi, kMaxCalls);  // shrunk back after the failure
  ExpectHealthy();
}

TEST_F(ErrorsTest, TypeErrorsNameTheValue) {
  struct Case {
    const char* body;
    int32_t code;
    const char* text;
  };
  const Case cases[] = {
      {"GETGLOBAL R1, \"missing\"\nCALL R1, nargs=0, nres=0", ERR_FUNCDECLA, "missing()"},
      {"ADD R2, 1, 1\nCALL R2, nargs=0, nres=0", ERR_FUNCDECLA, "\?\?()"},  // no name to give
      {"NEWTABLE R1, 0, 1\nSETTABLE R1, \"f\", 0\nGETTABLE R2, R1, \"f\"\nCALL R2, nargs=0, nres=0",
       ERR_FUNCDECLA, "f()"},
      {"NEWTABLE R1, 0, 1\nSETTABLE R1, \"m\", 0\nSELF R2, R1, \"m\"\nCALL R2, nargs=1, nres=0",
       ERR_FUNCDECLA, "m()"},
      {"GETGLOBAL R1, \"missing\"\nMOVE R2, R1\nGETTABLE R3, R2, 1", ERR_TABLEDECLA, "missing{}"},
      {".local \"count\" 0 9\nLOADCONST R0, 1\nGETTABLE R3, R0, 1", ERR_TABLEDECLA, "count{}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Run(std::string(".function main\n") + c.body + "\nRETURN R0, 1\n.end\n").status,
              c.code);
    EXPECT_STREQ(GetErrorString(), c.text);
  }
}

}  // namespace
}  // namespace qv::testing
