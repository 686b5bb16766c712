// Registered commands seen from bytecode: lower-cased names, failing checks with the argument
// index and the script line, and script functions called by name from C++.
#include <string>

#include "core/error_table.h"
#include "core/errors.h"
#include "core/registry.h"
#include "vm/auxlib.h"
#include "vm/vm_fixture.h"

namespace qv::testing {
namespace {

// LoadBrush(id, [scale]): the id times the scale (default 2) plus the library's upvalue.
int32_t LoadBrush(qvScriptState* L) {
  double upvalue = VmType(L, VmUpvalueIndex(1)) == kTypeNumber ? VmToNumber(L, VmUpvalueIndex(1))
                                                               : 0;
  VmPushNumber(L, VmCheckNumber(L, 1) * VmOptNumber(L, 2, 2) + upvalue);
  return 1;
}

// Describe(text): the text with its length.
int32_t Describe(qvScriptState* L) {
  size_t len = 0;
  const char* s = VmCheckString(L, 1, &len);
  qvStringBuffer b;
  VmBufferInit(L, &b);
  VmBufferAddLString(&b, s, len);
  VmBufferAddString(&b, ":");
  VmPushNumber(L, double(len));
  VmBufferAddValue(&b);
  VmBufferPushResult(&b);
  return 1;
}

class BytecodeTest : public VmTest {
 protected:
  void RegisterCommandsAsGlobals() {
    static const qvLibraryRow rows[] = {
        {"LoadBrush", LoadBrush}, {"Describe", Describe}, {nullptr, nullptr}};
    VmPushValue(L, kGlobalsIndex);
    VmRegisterLibrary(L, nullptr, rows, 0);
    VmSetTop(L, 0);
  }
};

TEST_F(BytecodeTest, CommandsAreCalledUnderLowerCaseNames) {
  RegisterCommandsAsGlobals();
  RunResult r = Run(R"(
.function main
  GETGLOBAL R0, "loadbrush"
  LOADCONST R1, 5
  CALL      R0, nargs=1, nres=1
  GETGLOBAL R1, "loadbrush"
  LOADCONST R2, 5
  LOADNIL   R3, R3
  CALL      R1, nargs=2, nres=1
  GETGLOBAL R2, "describe"
  LOADCONST R3, 2.5
  CALL      R2, nargs=1, nres=1
  GETGLOBAL R3, "LoadBrush"
  RETURN    R0, n=4
.end
)");
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r.num(0), 10);  // the default scale for an absent argument
  EXPECT_EQ(r.num(1), 0);   // nil is no absent argument: scale 0
  EXPECT_EQ(r.str(2), "2.5:3");
  EXPECT_EQ(r.type(3), kTypeNil);  // only the lower-cased name exists
}

TEST_F(BytecodeTest, LibraryTablesCarryTheirUpvalues) {
  static const qvLibraryRow rows[] = {{"LoadBrush", LoadBrush}, {nullptr, nullptr}};
  VmPushNumber(L, 100);
  VmRegisterLibrary(L, "brush", rows, 1);
  VmSetTop(L, 0);
  RunResult r = Run(R"(
.function main
  GETGLOBAL R0, "brush"
  GETTABLE  R0, R0, "loadbrush"
  LOADCONST R1, 3
  LOADCONST R2, 10
  CALL      R0, nargs=2, nres=1
  RETURN    R0, n=1
.end
)");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.num(0), 130);
}

TEST_F(BytecodeTest, AFailingCheckNamesTheArgumentAndTheLine) {
  RegisterCommandsAsGlobals();
  RunResult r = Run(R"(
.function main
  .source "@t.qvs"
  .line 4
  GETGLOBAL R0, "loadbrush"
  LOADCONST R1, 1
  .line 7
  LOADCONST R2, "wide"
  CALL      R0, nargs=2, nres=1
  RETURN    R0, n=1
.end
)");
  EXPECT_EQ(r.status, ERR_NUMEXPECTED);
  EXPECT_EQ(GetErrorNumber(), 2);
  EXPECT_EQ(ErrorLine(), 7);
}

TEST_F(BytecodeTest, ScriptFunctionsAreCalledByNameFromNativeCode) {
  RunResult setup = Run(R"(
.function main
  CLOSURE   R0, join
  SETGLOBAL R0, "joinargs"
  RETURN    R0, n=0
  .function join params=3
    MOVE    R3, R0
    MOVE    R4, R2
    CONCAT  R3, R3, R4
    MOVE    R4, R1
    RETURN  R3, n=2
  .end
.end
)");
  ASSERT_EQ(setup.status, 0);
  int handle = 0;
  qvObjectId id{0, &handle};
  const qvScriptArg args[] = {
      {kArgString, 0, "id"}, {kArgObjectId, 0, &id}, {kArgUInt, 4294967295LL, nullptr}};
  EXPECT_EQ(CallScriptFunction(L, "JoinArgs", 2, 3, args), 0);
  ASSERT_EQ(VmGetTop(L), 2);
  EXPECT_STREQ(VmToString(L, 1), "id4294967295");
  EXPECT_EQ(VmToUserdata(L, 2), &handle);
  VmSetTop(L, 0);
}

}  // namespace
}  // namespace qv::testing
