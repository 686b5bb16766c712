// The command-handler contract with fake natives, on a machine with the core's host: result
// counts, error codes with and without the script's error handler, ExitOnError, label
// subroutines, the End flag and the call trace.
#include <algorithm>
#include <regex>

#include "base/errors.h"
#include "core/errors.h"
#include "core/registry.h"
#include "tests/vm/vm_fixture.h"

namespace qv::testing {
namespace {

int gCalls;
int32_t gJumpTarget;
std::vector<Value> gHandlerArgs;

int32_t Results(qvScriptState* L) {
  int n = int(VmToNumber(L, 1));
  VmSetTop(L, 0);
  VmCheckStack(L, 1000);
  for (int i = 0; i < n; ++i) VmPushNumber(L, i);
  return n;
}

int32_t Fail(qvScriptState* L) {
  ++gCalls;
  VmPushNumber(L, 1);  // pushed, but an error has no results
  return ERR_ZERODIVISION;
}

int32_t LastError(qvScriptState* L) {
  VmPushNumber(L, VmGetLastError(L));
  return 1;
}

// Reports name a failing command by the spelling its library registered.
const qvLibraryRow kCommands[] = {{"Fail", Fail}, {nullptr, nullptr}};
const qvLibrary kCommandsLibrary{"commandstest", kCommands, nullptr, nullptr};

class CommandsTest : public VmTest {
 protected:
  const qvVmHost* Host() const override { return CoreVmHost(); }
  void ResetProcessWords() override {
    VmTest::ResetProcessWords();
    SetExitOnError(1);
    ResetErrorFunctionName();
  }
  void SetUp() override {
    VmTest::SetUp();
    gCalls = 0;
    gHandlerArgs.clear();
    ASSERT_EQ(OpenLibrary(L, kCommandsLibrary), 0);
    RegisterNative("results", Results);
    RegisterNative("lasterror", LastError);
    VmSetLastErrorReader(L, LastError);
  }
  void TearDown() override {
    VmTest::TearDown();
    FreeRegistries();
  }

  // Installs a native error handler that records its four arguments.
  void InstallHandler() {
    VmPushCClosure(
        L,
        [](qvScriptState* L) -> int32_t {
          gHandlerArgs.clear();
          for (int i = 1; i <= 4; ++i) {
            Value v;
            v.type = VmType(L, i);
            v.n = VmToNumber(L, i);
            if (v.type == kTypeString) v.s = VmToString(L, i);
            gHandlerArgs.push_back(v);
          }
          return 0;
        },
        0);
    VmRawSetI(L, kRegistryIndex, 3);
    VmSetErrorHandlerRef(L, 3);
  }
};

TEST_F(CommandsTest, ResultCounts) {
  const char* text = R"qv(
.function main params=1
  GETGLOBAL R1, "results"
  MOVE R2, R0
  CALL R1, nargs=1, nres=all
  RETURN R1, n=top
.end
)qv";
  for (int n : {0, 2, 999}) {
    RunResult r = Run(text, n);
    ASSERT_EQ(r.status, 0) << n;
    ASSERT_EQ(r.size(), size_t(n));
    if (n > 0) {
      EXPECT_EQ(r.num(n - 1), n - 1);
    }
  }
  EXPECT_EQ(Run(text, 1000).status, 1000);  // 1000 is an error code
}

const char* const kCallFail = R"qv(
.function main
  .line 3
  LOADCONST R0, "before"
  GETGLOBAL R1, "fail"
  .line 4
  CALL R1, nargs=0, nres=1
  .line 5
  GETGLOBAL R2, "lasterror"
  CALL R2, nargs=0, nres=1
  RETURN R0, n=3
.end
)qv";

TEST_F(CommandsTest, AnErrorCodeEndsTheScriptWithoutAHandler) {
  RunResult r = Run(kCallFail);
  EXPECT_EQ(r.status, ERR_ZERODIVISION);
  EXPECT_EQ(ErrorLine(), 4);  // the calling instruction's line
  EXPECT_EQ(VmGetLastError(L), ERR_ZERODIVISION);
  EXPECT_STREQ(GetCurrentFunctionName(), "Fail");
}

TEST_F(CommandsTest, TheScriptsErrorHandlerReceivesTheError) {
  InstallHandler();
  RunResult r = Run(kCallFail);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.str(0), "before");
  EXPECT_EQ(r.type(1), kTypeNil);  // the failed command yields no results
  EXPECT_EQ(r.num(2), 0);          // a handled error is not recorded for GetLastError
  ASSERT_EQ(gHandlerArgs.size(), 4u);
  EXPECT_EQ(gHandlerArgs[0].n, ERR_ZERODIVISION);
  EXPECT_EQ(gHandlerArgs[1].s, "Division by zero!");
  EXPECT_EQ(gHandlerArgs[2].s, "Fail");
  EXPECT_EQ(gHandlerArgs[3].n, 4);
  EXPECT_EQ(VmGetInErrorHandler(L), 0);
  EXPECT_STREQ(GetCurrentFunctionName(), "----");
  EXPECT_EQ(ErrorLine(), -1);
}

// Installs the script function `handler` as the error handler, then calls "fail"; the handler
// stores the error code in the global "handled", which the script returns.
const char* const kScriptHandler = R"qv(
.function main
  CLOSURE R0, handler
  GETGLOBAL R1, "install"
  MOVE R2, R0
  CALL R1, nargs=1, nres=0
  GETGLOBAL R1, "fail"
  CALL R1, nargs=0, nres=0
  GETGLOBAL R1, "handled"
  RETURN R1, n=1
  .function handler params=4
    SETGLOBAL R0, "handled"
    RETURN R0, n=0
  .end
.end
)qv";

TEST_F(CommandsTest, AScriptHandlerInAScript) {
  RunResult r = Run(kScriptHandler);
  // "install" is not registered yet: the first run fails with ERR_FUNCDECLA.
  EXPECT_EQ(r.status, ERR_FUNCDECLA);
  RegisterNative("install", [](qvScriptState* L) -> int32_t {
    VmPushValue(L, 1);
    VmRawSetI(L, kRegistryIndex, 3);
    VmSetErrorHandlerRef(L, 3);
    return 0;
  });
  r = Run(kScriptHandler);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.num(0), ERR_ZERODIVISION);
}

TEST_F(CommandsTest, AFailingHandlerReportsItsOwnError) {
  VmPushCClosure(
      L, [](qvScriptState* L) -> int32_t { VmRaiseError(L, ERR_WRONGOP); }, 0);
  VmRawSetI(L, kRegistryIndex, 3);
  VmSetErrorHandlerRef(L, 3);
  EXPECT_EQ(Run(kCallFail).status, ERR_WRONGOP);
  EXPECT_EQ(VmGetInErrorHandler(L), 0);
  EXPECT_EQ(VmGetHandlerSuppression(L), 0);
}

TEST_F(CommandsTest, SuppressionBypassesTheHandler) {
  InstallHandler();
  VmSetHandlerSuppression(L, 1);
  EXPECT_EQ(Run(kCallFail).status, ERR_ZERODIVISION);
  EXPECT_TRUE(gHandlerArgs.empty());
}

TEST_F(CommandsTest, WithoutExitOnErrorTheScriptGoesOn) {
  SetExitOnError(0);
  RunResult r = Run(kCallFail);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.str(0), "before");
  EXPECT_EQ(r.type(1), kTypeNil);
  EXPECT_EQ(r.num(2), ERR_ZERODIVISION);  // GetLastError sees it: its call does not clear it
  EXPECT_EQ(ErrorLine(), -1);
  // Any other native call clears the word.
  VmPushCClosure(L, Results, 0);
  VmCall(L, 0, 0);
  EXPECT_EQ(VmGetLastError(L), 0);
}

// ExitOnError and the script's error handler exclude each other: neither switch lets them
// disagree, and a handler replaced or released gives its reference back.
TEST_F(CommandsTest, ExitOnErrorAndTheErrorHandlerExcludeEachOther) {
  auto registered = [&](int32_t ref) {
    VmRawGetI(L, kRegistryIndex, ref);
    bool function = VmType(L, -1) == kTypeFunction;
    VmSetTop(L, -2);
    return function;
  };
  VmPushCClosure(L, Results, 0);
  ASSERT_EQ(SetScriptErrorHandler(L, -1), 0);
  const int32_t ref = VmGetErrorHandlerRef(L);
  ASSERT_NE(ref, kNoReference);
  EXPECT_TRUE(registered(ref));
  EXPECT_EQ(ChangeExitOnError(L, false), ERR_WRONGUSAGE);
  EXPECT_EQ(GetExitOnError(), 1);
  EXPECT_EQ(ChangeExitOnError(L, true), 0);

  VmPushCClosure(L, Fail, 0);
  ASSERT_EQ(SetScriptErrorHandler(L, -1), 0);
  EXPECT_EQ(VmGetErrorHandlerRef(L), ref) << "the first handler's reference was released";
  VmPushNil(L);
  ASSERT_EQ(SetScriptErrorHandler(L, -1), 0);
  EXPECT_EQ(VmGetErrorHandlerRef(L), kNoReference);
  EXPECT_FALSE(registered(ref));

  EXPECT_EQ(ChangeExitOnError(L, false), 0);
  EXPECT_EQ(GetExitOnError(), 0);
  EXPECT_EQ(SetScriptErrorHandler(L, -2), ERR_WRONGUSAGE);
  EXPECT_EQ(VmGetErrorHandlerRef(L), kNoReference);
  EXPECT_EQ(ChangeExitOnError(L, true), 0);

  ASSERT_EQ(SetScriptErrorHandler(L, -2), 0);
  ReleaseScriptErrorHandler(L);  // as at shutdown
  EXPECT_EQ(VmGetErrorHandlerRef(L), kNoReference);
  EXPECT_FALSE(registered(ref));
  VmSetTop(L, 0);
}

const char* const kLabel = R"qv(
.function main
  LOADCONST R0, 0
  GETGLOBAL R1, "jump"
  CALL R1, nargs=0, nres=0
  ADD R0, R0, 100
  RETURN R0, n=1
sub:
  ADD R0, R0, 1
  RETSUB
.end
)qv";

int32_t JumpOnce(qvScriptState* L, int32_t request) {
  ++gCalls;
  if (gCalls > 1) return 0;
  VmSetJumpOffset(L, gJumpTarget - VmGetCurrentInstruction(L));
  return request;
}

TEST_F(CommandsTest, LabelRequestsRunASubroutine) {
  gJumpTarget = qvasm::AssembleOrFail(kLabel).labels.at("sub");
  struct Case {
    qvCFunction fn;
    int calls;  // -2 runs the instruction before the call and the call again
  };
  const Case cases[] = {{[](qvScriptState* L) { return JumpOnce(L, -1); }, 1},
                        {[](qvScriptState* L) { return JumpOnce(L, -2); }, 2}};
  for (const Case& c : cases) {
    gCalls = 0;
    RegisterNative("jump", c.fn);
    RunResult r = Run(kLabel);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.num(0), 101);
    EXPECT_EQ(gCalls, c.calls);
  }
  // A target outside the running function's code is refused.
  gJumpTarget = 1000;
  gCalls = 0;
  RegisterNative("jump", [](qvScriptState* L) { return JumpOnce(L, -1); });
  EXPECT_EQ(Run(kLabel).status, ERR_INTERNAL);
}

// End from deep inside nested calls stops every level; nothing after it runs.
TEST_F(CommandsTest, EndStopsEverything) {
  RegisterNative("end", [](qvScriptState* L) -> int32_t {
    VmSetEndFlag(L, 1);
    return 0;
  });
  RegisterNative("callback", [](qvScriptState* L) -> int32_t {
    VmPushValue(L, 1);
    VmCall(L, 0, 0);
    if (VmGetEndFlag(L)) return 0;  // natives poll the flag after each call back
    ++gCalls;
    return 0;
  });
  RunResult r = Run(R"qv(
.function main
  SETGLOBAL R0, "after"
  CLOSURE R0, deep
  GETGLOBAL R1, "callback"
  MOVE R2, R0
  CALL R1, nargs=1, nres=0
  LOADCONST R3, 1
  SETGLOBAL R3, "after"
  RETURN R3, n=1
  .function deep
    CLOSURE R0, deeper
    CALL R0, nargs=0, nres=0
    LOADCONST R1, 2
    SETGLOBAL R1, "after"
    RETURN R0, n=0
    .function deeper
      GETGLOBAL R0, "end"
      CALL R0, nargs=0, nres=0
      LOADCONST R1, 3
      SETGLOBAL R1, "after"
      RETURN R0, n=0
    .end
  .end
.end
)qv");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.size(), 0u);
  EXPECT_EQ(gCalls, 0);
  VmPushString(L, "after");
  VmGetTable(L, kGlobalsIndex);
  EXPECT_EQ(VmType(L, -1), kTypeNil);
  VmSetTop(L, 0);
  EXPECT_EQ(L->ci, L->baseCi);
  EXPECT_EQ(L->openupval, nullptr);
}

// End after the call records have moved: grown by deep calls, or grown and then shrunk by a
// collection, while interpreter levels (the main function's, a generic-for iterator's) are
// running. Every level must still find its entry record.
bool gArmed;
int gLate;
int gMaxRecords;
int gRecordsBeforeCollection;
int gRecordsAfterCollection;

TEST_F(CommandsTest, EndAfterTheCallRecordsMoved) {
  RegisterNative("arm", [](qvScriptState*) -> int32_t {
    gArmed = true;
    return 0;
  });
  RegisterNative("bottom", [](qvScriptState* L) -> int32_t {
    gMaxRecords = std::max(gMaxRecords, L->sizeCi);
    if (gArmed) VmSetEndFlag(L, 1);
    return 0;
  });
  RegisterNative("late", [](qvScriptState*) -> int32_t {
    if (gArmed) ++gLate;
    return 0;
  });
  RegisterNative("collect", [](qvScriptState* L) -> int32_t {
    gRecordsBeforeCollection = L->sizeCi;
    VmSetGCThreshold(L, 0);  // a full collection now, which shrinks mostly unused records
    gRecordsAfterCollection = L->sizeCi;
    return 0;
  });
  // main(grow, depth): a first descent of `grow` calls that returns, then a generic for whose
  // iterator allocates a table, collects, and descends `depth` calls to End.
  const char* text = R"qv(
.function main params=2
  CLOSURE R2, deep
  SETGLOBAL R2, "deep"
  MOVE R3, R0
  CALL R2, nargs=1, nres=0
  GETGLOBAL R2, "arm"
  CALL R2, nargs=0, nres=0
  CLOSURE R2, iter
  MOVE R3, R1
  LOADNIL R4, R4
  FORINPREP R2, @loop
body:
  GETGLOBAL R6, "late"
  CALL R6, nargs=0, nres=0
loop:
  FORINLOOP R2, vars=1
  JUMP @body
  GETGLOBAL R6, "late"
  CALL R6, nargs=0, nres=0
  RETURN R6, n=1
  .function iter params=2
    NEWTABLE R2, 0, 0
    GETGLOBAL R3, "collect"
    CALL R3, nargs=0, nres=0
    GETGLOBAL R3, "deep"
    MOVE R4, R0
    CALL R3, nargs=1, nres=0
    GETGLOBAL R3, "late"
    CALL R3, nargs=0, nres=0
    RETURN R2, n=1
  .end
  .function deep params=1
    EQ 1, R0, 0
    JUMP @bottom
    GETGLOBAL R1, "deep"
    SUB R2, R0, 1
    CALL R1, nargs=1, nres=0
    GETGLOBAL R1, "late"
    CALL R1, nargs=0, nres=0
    RETURN R0, n=0
  bottom:
    GETGLOBAL R1, "bottom"
    CALL R1, nargs=0, nres=0
    RETURN R0, n=0
  .end
.end
)qv";
  struct Case {
    int grow;
    int depth;
    bool shrinks;  // the iterator's collection moves the records to a smaller array
  };
  const Case cases[] = {
      {0, 9, false},    // nine calls deep inside the iterator: the records grow once
      {0, 100, false},  // several growths
      {30, 0, true},    // grown, shrunk inside the iterator, End at once
      {30, 40, true},   // grown, shrunk, grown again
  };
  for (const Case& k : cases) {
    SCOPED_TRACE("grow " + std::to_string(k.grow) + ", depth " + std::to_string(k.depth));
    gArmed = false;
    gLate = gMaxRecords = gRecordsBeforeCollection = gRecordsAfterCollection = 0;
    VmSetEndFlag(L, 0);
    RunResult r = Run(text, k.grow, k.depth);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.size(), 0u);
    EXPECT_EQ(gLate, 0);  // nothing ran after End at any level
    EXPECT_GT(gMaxRecords, kBasicCiSize);
    if (k.shrinks) {
      EXPECT_LT(gRecordsAfterCollection, gRecordsBeforeCollection);
    }
    EXPECT_EQ(L->ci, L->baseCi);
    EXPECT_EQ(L->base, L->ci->base);
    EXPECT_EQ(L->openupval, nullptr);
  }
  VmSetEndFlag(L, 0);
}

TEST_F(CommandsTest, TheCallTraceListsEachNativeCall) {
  RegisterNative("show", [](qvScriptState*) -> int32_t { return 0; });
  VmSetTraceFlag(L, 1);
  ::testing::internal::CaptureStdout();
  RunResult r = Run(R"qv(
.function main
  GETGLOBAL R0, "show"
  LOADCONST R1, 1.5
  LOADCONST R2, "hi"
  LOADNIL R3, R3
  CALL R0, nargs=3, nres=0
  GETGLOBAL R0, "show"
  CALL R0, nargs=0, nres=0
  NEWTABLE R4, 0, 1
  GETGLOBAL R0, "show"
  SETTABLE R4, "method", R0
  MOVE R1, R4
  MOVE R2, R0
  LOADCONST R3, 100000000
  SELF R0, R4, "method"
  CALL R0, nargs=3, nres=0
  RETURN R0, n=0
.end
)qv");
  std::string out = ::testing::internal::GetCapturedStdout();
  ASSERT_EQ(r.status, 0);
  out = std::regex_replace(out, std::regex("0x[0-9a-f]+"), "%p");
  EXPECT_EQ(out,
            "Now calling show() with arguments #1=(NUMBER)1.5 #2=(STRING)\"hi\" #3=(NIL) \n"
            "Now calling show()\n"
            "Now calling method() with arguments #1=(TABLE)%p #2=(FUNCPTR)%p #3=(NUMBER)1e+08 \n");
  // The End flag silences it.
  VmSetEndFlag(L, 1);
  ::testing::internal::CaptureStdout();
  VmPushCClosure(L, Results, 0);
  VmCall(L, 0, 0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  VmSetEndFlag(L, 0);
  // Called from native code the name comes from the globals.
  ::testing::internal::CaptureStdout();
  VmPushString(L, "show");
  VmGetTable(L, kGlobalsIndex);
  VmPushLightUserdata(L, L);
  VmCall(L, 1, 0);
  VmPushCClosure(L, Results, 0);
  VmCall(L, 0, 0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Now calling show() with arguments #1=(INTERNAL)2 \nNow calling ?()\n");
}

}  // namespace
}  // namespace qv::testing
