// The debug interface: call levels with folded tail calls, function information by option
// letters, names of functions and values, short source names, and the line hook's steps.
#include "vm/debug.h"

#include <string>

#include "base/errors.h"
#include "tests/vm/vm_fixture.h"

namespace qv::testing {
namespace {

// What VmGetInfo("nSlu") says about one level, copied out of the record.
struct Level {
  std::string name;  // "<null>" for none
  std::string namewhat, what, source, shortSrc;
  int32_t currentline = -100, linedefined = -100, nups = -100;
};

Level Describe(qvScriptState* L, qvDebugRecord* ar, const char* options = "nSlu") {
  ar->name = ar->namewhat = ar->what = ar->source = "";  // what the options leave alone
  ar->shortSrc[0] = '\0';
  EXPECT_EQ(VmGetInfo(L, options, ar), 1);
  Level l;
  l.name = ar->name != nullptr ? ar->name : "<null>";
  l.namewhat = ar->namewhat;
  l.what = ar->what;
  l.source = ar->source;
  l.shortSrc = ar->shortSrc;
  l.currentline = ar->currentline;
  l.linedefined = ar->linedefined;
  l.nups = ar->nups;
  return l;
}

std::vector<Level> gLevels;

// A command that records every level of the stack it runs in.
int32_t Where(qvScriptState* L) {
  qvDebugRecord ar;
  for (int level = 0; VmGetStack(L, level, &ar); ++level) gLevels.push_back(Describe(L, &ar));
  return 0;
}

// A command that records only its own name as the caller gives it.
int32_t Probe(qvScriptState* L) {
  qvDebugRecord ar;
  EXPECT_EQ(VmGetStack(L, 0, &ar), 1);
  gLevels.push_back(Describe(L, &ar, "n"));
  return 0;
}

class DebugTest : public VmTest {
 protected:
  void SetUp() override {
    VmTest::SetUp();
    gLevels.clear();
    RegisterNative("where", Where);
  }
  void PushGlobal(const char* name) {
    VmPushString(L, name);
    VmGetTable(L, kGlobalsIndex);
  }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const Level& l : gLevels) names.push_back(l.namewhat + " " + l.name);
    return names;
  }
};

TEST_F(DebugTest, NamesFromTheCallingInstruction) {
  RegisterNative("probe", Probe);
  RunResult r = Run(R"qv(
.function main
  .local "loc" @loc @end
  GETGLOBAL R0, "probe"
loc:
  NEWTABLE R1, 0, 1
  SETTABLE R1, "fld", R0
  GETGLOBAL R2, "probe"
  CALL R2, nargs=0, nres=0
  SELF R2, R1, "fld"
  CALL R2, nargs=1, nres=0
  GETTABLE R2, R1, "fld"
  CALL R2, nargs=0, nres=0
  MOVE R2, R0
  CALL R2, nargs=0, nres=0
  SETTABLE R1, R1, R0
  GETTABLE R2, R1, R1
  CALL R2, nargs=0, nres=0
end:
  RETURN R0, n=0
.end
)qv");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(Names(), (std::vector<std::string>{"global probe", "method fld", "field fld",
                                               "local loc", "field ?"}));
}

TEST_F(DebugTest, NamesOutsideACallInstructionComeFromTheGlobals) {
  RegisterNative("probe", Probe);
  RegisterNative("setmetatable", [](qvScriptState* L) -> int32_t {
    VmPushValue(L, 2);
    VmSetMetaTable(L, 1);
    return 0;
  });
  // Called from native code (the host's VmPCall): no calling instruction, so a global holding
  // the function names it; a function no global holds has no name.
  PushGlobal("probe");
  ASSERT_EQ(VmPCall(L, 0, 0, 0), 0);
  VmPushCClosure(L, Probe, 0);
  ASSERT_EQ(VmPCall(L, 0, 0, 0), 0);
  // Called through a metamethod from a script: the instruction is no call.
  RunResult r = Run(R"qv(
.function main
  NEWTABLE R0, 0, 1
  NEWTABLE R1, 0, 1
  GETGLOBAL R2, "probe"
  SETTABLE R1, "__index", R2
  GETGLOBAL R2, "setmetatable"
  MOVE R3, R0
  MOVE R4, R1
  CALL R2, nargs=2, nres=0
  GETTABLE R2, R0, "x"
  RETURN R0, n=0
.end
)qv");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(Names(), (std::vector<std::string>{"global probe", " <null>", "global probe"}));
}

// main (line 3) -> outer, a local (line 11) -> inner from another file (line 21) -> where.
const char* const kNested = R"qv(
.function main
  .source "@scripts/main.qvs"
  .line 1
  CLOSURE R0, outer
  .local "outer" @called @end
called:
  .line 2
  MOVE R1, R0
  .line 3
  CALL R1, nargs=0, nres=0
end:
  .line 4
  RETURN R0, n=0
  .function outer linedefined=10
    .line 11
    CLOSURE R0, inner
    SETGLOBAL R0, "inner"
    GETGLOBAL R0, "inner"
    CALL R0, nargs=0, nres=0
    .line 12
    RETURN R0, n=0
    .function inner linedefined=20
      .source "@other.qvs"
      .line 21
      GETGLOBAL R0, "where"
      CALL R0, nargs=0, nres=0
      .line 22
      RETURN R0, n=0
    .end
  .end
.end
)qv";

TEST_F(DebugTest, EachLevelOfANestedCall) {
  ASSERT_EQ(Run(kNested).status, 0);
  ASSERT_EQ(gLevels.size(), 4u);
  struct Want {
    const char* namewhat;
    const char* name;
    const char* what;
    const char* source;
    const char* shortSrc;
    int32_t line, linedefined;
  };
  const Want want[] = {
      {"global", "where", "C", "=[C]", "[C]", -1, -1},
      {"global", "inner", "Quillvane", "@other.qvs", "other.qvs", 21, 20},
      {"local", "outer", "Quillvane", "@scripts/main.qvs", "scripts/main.qvs", 11, 10},
      {"", "<null>", "main", "@scripts/main.qvs", "scripts/main.qvs", 3, 0},
  };
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const Level& l = gLevels[i];
    EXPECT_EQ(l.namewhat, want[i].namewhat);
    EXPECT_EQ(l.name, want[i].name);
    EXPECT_EQ(l.what, want[i].what);
    EXPECT_EQ(l.source, want[i].source);
    EXPECT_EQ(l.shortSrc, want[i].shortSrc);
    EXPECT_EQ(l.currentline, want[i].line);
    EXPECT_EQ(l.linedefined, want[i].linedefined);
  }
}

TEST_F(DebugTest, TailCallsCountAsLevels) {
  // main -> f, which tail-calls g, which tail-calls h: h's record folds two tail calls.
  ASSERT_EQ(Run(R"qv(
.function main
  .source "@t.qvs"
  .line 1
  CLOSURE R0, f
  CALL R0, nargs=0, nres=0
  RETURN R0, n=0
  .function f linedefined=5
    .line 6
    CLOSURE R0, g
    TAILCALL R0, nargs=0, nres=all
    RETURN R0, n=top
    .function g linedefined=7
      .line 8
      CLOSURE R0, h
      SETGLOBAL R0, "h"
      GETGLOBAL R0, "h"
      TAILCALL R0, nargs=0, nres=all
      RETURN R0, n=top
      .function h linedefined=9
        .line 10
        GETGLOBAL R0, "where"
        CALL R0, nargs=0, nres=0
        RETURN R0, n=0
      .end
    .end
  .end
.end
)qv")
                .status,
            0);
  ASSERT_EQ(gLevels.size(), 5u);
  EXPECT_EQ(gLevels[0].name, "where");
  // Reached through a tail call, h has no calling instruction; the global holding it names it.
  EXPECT_EQ(gLevels[1].namewhat + " " + gLevels[1].name, "global h");
  EXPECT_EQ(gLevels[1].currentline, 10);
  for (size_t i : {2u, 3u}) {
    SCOPED_TRACE(i);
    EXPECT_EQ(gLevels[i].what, "tail");
    EXPECT_EQ(gLevels[i].source, "=(tail call)");
    EXPECT_EQ(gLevels[i].shortSrc, "(tail call)");
    EXPECT_EQ(gLevels[i].name, "");
    EXPECT_EQ(gLevels[i].namewhat, "");
    EXPECT_EQ(gLevels[i].currentline, -1);
    EXPECT_EQ(gLevels[i].linedefined, -1);
    EXPECT_EQ(gLevels[i].nups, 0);
  }
  EXPECT_EQ(gLevels[4].what, "main");
  EXPECT_EQ(gLevels[4].currentline, 1);
}

TEST_F(DebugTest, ATailCallFromTheOutermostFunctionStillHasItsLevel) {
  ASSERT_EQ(Run(R"qv(
.function main
  GETGLOBAL R0, "where"
  CALL R0, nargs=0, nres=0
  CLOSURE R0, f
  TAILCALL R0, nargs=0, nres=all
  RETURN R0, n=top
  .function f linedefined=3
    GETGLOBAL R0, "where"
    CALL R0, nargs=0, nres=0
    RETURN R0, n=0
  .end
.end
)qv")
                .status,
            0);
  std::vector<std::string> what;
  for (const Level& l : gLevels) what.push_back(l.what);
  EXPECT_EQ(what, (std::vector<std::string>{"C", "main", "C", "Quillvane", "tail"}));
  EXPECT_EQ(gLevels.back().currentline, -1);  // a function without line table: no line
  EXPECT_EQ(gLevels[1].currentline, -1);
}

TEST_F(DebugTest, StackLevelsThatDoNotExist) {
  qvDebugRecord ar;
  EXPECT_EQ(VmGetStack(L, 0, &ar), 0);  // nothing runs
  EXPECT_EQ(VmGetStack(L, -1, &ar), 0);
  RegisterNative("check", [](qvScriptState* L) -> int32_t {
    qvDebugRecord ar;
    EXPECT_EQ(VmGetStack(L, -1, &ar), 0);
    EXPECT_EQ(VmGetStack(L, 2, &ar), 1);
    EXPECT_EQ(VmGetStack(L, 3, &ar), 0);
    ar.ci = 99;  // a stale record index selects nothing
    EXPECT_EQ(VmGetInfo(L, "nSl", &ar), 0);
    return 0;
  });
  ASSERT_EQ(Run(R"qv(
.function main
  CLOSURE R0, f
  CALL R0, nargs=0, nres=0
  RETURN R0, n=0
  .function f linedefined=1
    GETGLOBAL R0, "check"
    CALL R0, nargs=0, nres=0
    RETURN R0, n=0
  .end
.end
)qv")
                .status,
            0);
}

TEST_F(DebugTest, TheFunctionOnTopOfTheStack) {
  // A native: source "=[C]", kind "C"; the function is popped.
  PushGlobal("where");
  const int top = VmGetTop(L);
  qvDebugRecord ar;
  Level l = Describe(L, &ar, ">Snlu");
  EXPECT_EQ(VmGetTop(L), top - 1);
  EXPECT_EQ(l.source, "=[C]");
  EXPECT_EQ(l.shortSrc, "[C]");
  EXPECT_EQ(l.what, "C");
  EXPECT_EQ(l.linedefined, -1);
  EXPECT_EQ(l.currentline, -1);  // no call record
  EXPECT_EQ(l.namewhat + " " + l.name, "global where");
  EXPECT_EQ(l.nups, 0);

  // A script function without a source name; "f" pushes it back.
  ASSERT_EQ(Load(Assemble(".function main\n.upvalues 2\nRETURN R0, n=0\n.end\n")), 0);
  const void* fn = VmToPointer(L, -1);
  l = Describe(L, &ar, ">Suf");
  EXPECT_EQ(l.what, "main");
  EXPECT_EQ(l.linedefined, 0);
  EXPECT_EQ(l.shortSrc, "?");
  EXPECT_EQ(l.nups, 2);
  EXPECT_EQ(VmGetTop(L), top);
  EXPECT_EQ(VmToPointer(L, -1), fn);
  VmSetTop(L, 0);

  // An unknown letter answers 0 but the others are filled.
  PushGlobal("where");
  ar.what = nullptr;
  EXPECT_EQ(VmGetInfo(L, ">xS", &ar), 0);
  EXPECT_STREQ(ar.what, "C");

  // Anything but a function raises ERR_FUNCEXPECTED.
  VmPushNumber(L, 5);
  EXPECT_EQ(VmRunProtected(
                L,
                [](qvScriptState* L, void*) {
                  qvDebugRecord ar;
                  VmGetInfo(L, ">S", &ar);
                },
                nullptr),
            ERR_FUNCEXPECTED);
  VmSetTop(L, 0);
  EXPECT_EQ(VmRunProtected(
                L,
                [](qvScriptState* L, void*) {
                  qvDebugRecord ar;
                  VmGetInfo(L, ">S", &ar);  // an empty stack
                },
                nullptr),
            ERR_FUNCEXPECTED);
}

TEST_F(DebugTest, TheTailCallEntryPushesNil) {
  qvDebugRecord ar;
  ar.ci = 0;
  EXPECT_EQ(VmGetInfo(L, "f", &ar), 1);
  EXPECT_EQ(VmType(L, -1), kTypeNil);
  EXPECT_STREQ(ar.what, "tail");
  VmSetTop(L, 0);
}

TEST_F(DebugTest, ShortSourceNames) {
  const std::string path100 = std::string(40, 'd') + "/" + std::string(55, 'f') + ".qvs";
  ASSERT_EQ(path100.size(), 100u);
  const std::string path52 = std::string(48, 'p') + ".qvs";
  const std::string line43(43, 's');
  struct Case {
    std::string source;
    size_t size;
    std::string want;
  };
  const Case cases[] = {
      {"@" + path100, 60, "..." + path100.substr(48)},
      {"@" + path52, 60, path52},
      {"@" + path52 + "x", 60, "..." + path52.substr(1) + "x"},
      {"@main.qvs", 60, "main.qvs"},
      {"=stdin", 60, "stdin"},
      {"=", 60, ""},
      {"=" + std::string(80, 'n'), 60, std::string(59, 'n')},
      {"PRINT(1)", 60, "[string \"PRINT(1)\"]"},
      {"", 60, "[string \"\"]"},
      {"first\nsecond", 60, "[string \"first...\"]"},
      {line43, 60, "[string \"" + line43 + "\"]"},
      {line43 + "t", 60, "[string \"" + line43 + "...\"]"},
      // Buffers too small for the decorations are cut, never overrun.
      {"@abcdefgh", 4, "..."},
      {"@abcdefgh", 10, "...gh"},
      {"source", 8, "[string"},
      {"=name", 3, "na"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    std::string out(c.size + 8, '#');
    VmChunkId(out.data(), c.source.c_str(), c.size);
    EXPECT_EQ(std::string(out.c_str()), c.want);
    EXPECT_EQ(out.substr(c.size), std::string(8, '#'));
  }
  char untouched = '#';
  VmChunkId(&untouched, "@x", 0);
  EXPECT_EQ(untouched, '#');
}

TEST_F(DebugTest, TypeErrorsNameTheIndexedObjectAndCutLongNames) {
  // A method call on a local that holds no table names the local, not the method.
  EXPECT_EQ(Run(R"qv(
.function main
  .local "obj" 0 3
  LOADNIL R0, R0
  SELF R1, R0, "go"
  CALL R1, nargs=1, nres=0
  RETURN R0, n=0
.end
)qv")
                .status,
            ERR_TABLEDECLA);
  EXPECT_STREQ(GetErrorString(), "obj{}");
  // A name longer than the error-text buffer is cut to it.
  const std::string name(600, 'g');
  EXPECT_EQ(Run(".function main\nGETGLOBAL R0, \"" + name +
                "\"\nCALL R0, nargs=0, nres=0\nRETURN R0, n=0\n.end\n")
                .status,
            ERR_FUNCDECLA);
  EXPECT_EQ(std::string(GetErrorString()), std::string(511, 'g'));
}

// ---- hooks ----

std::vector<int> gLines;

void LineRecorder(qvScriptState* L, qvDebugRecord* ar, int32_t*) {
  if (ar->event != kHookLine) return;
  gLines.push_back(ar->currentline);
  // The hook's record selects the running level.
  qvDebugRecord copy = *ar;
  EXPECT_EQ(VmGetInfo(L, "l", &copy), 1);
  EXPECT_EQ(copy.currentline, ar->currentline);
}

// A loop that calls f twice, then a loop that jumps to itself three times.
const char* const kLoopAndCall = R"qv(
.function main
  .line 1
  CLOSURE R0, f
  LOADCONST R1, 0
  LOADCONST R2, 2
  LOADCONST R3, 1
  JUMP @test
body:
  .line 2
  MOVE R4, R0
  CALL R4, nargs=0, nres=0
test:
  .line 3
  FORLOOP R1, @body
  .line 5
  LOADCONST R1, 0
  LOADCONST R2, 3
  .line 6
spin:
  FORLOOP R1, @spin
  .line 7
  RETURN R0, n=0
  .function f linedefined=10
    .line 11
    LOADCONST R0, 1
    .line 12
    RETURN R0, n=0
  .end
.end
)qv";

TEST_F(DebugTest, LineHookSequence) {
  gLines.clear();
  VmSetHook(L, LineRecorder, kMaskLine, 0);
  ASSERT_EQ(Run(kLoopAndCall).status, 0);
  // The first step after VmSetHook only starts the tracking, so line 1 is not reported; f's
  // first instruction always is; a jump back, or to itself, reports its line again.
  const std::vector<int> first = {3, 2, 11, 12, 3, 2, 11, 12, 3, 5, 6, 6, 6, 6, 7};
  ASSERT_EQ(gLines.size(), first.size());
  for (size_t i = 0; i < first.size(); ++i) EXPECT_EQ(gLines[i], first[i]) << "event " << i;
  gLines.clear();
  ASSERT_EQ(Run(kLoopAndCall).status, 0);
  std::vector<int> again = first;
  again.insert(again.begin(), 1);
  EXPECT_EQ(gLines, again);
}

TEST_F(DebugTest, ACountHookNeedsACount) {
  gLines.clear();
  VmSetHook(
      L, [](qvScriptState*, qvDebugRecord* ar, int32_t*) { gLines.push_back(ar->event); },
      kMaskCount, 0);
  EXPECT_EQ(L->pending, 0u);  // nothing to count: no hook step at all
  ASSERT_EQ(Run(kLoopAndCall).status, 0);
  VmSetHook(
      L, [](qvScriptState*, qvDebugRecord* ar, int32_t*) { gLines.push_back(ar->event); },
      kMaskCount | kMaskLine, 0);
  ASSERT_EQ(Run(kLoopAndCall).status, 0);
  for (int event : gLines) EXPECT_EQ(event, kHookLine);
  EXPECT_FALSE(gLines.empty());
}

TEST_F(DebugTest, HookRecordsNameTheirLevel) {
  static std::vector<std::string> seen;
  seen.clear();
  VmSetHook(
      L,
      [](qvScriptState* L, qvDebugRecord* ar, int32_t*) {
        qvDebugRecord info = *ar;
        VmGetInfo(L, "nS", &info);
        seen.push_back(std::to_string(ar->event) + " " + info.what + " " +
                       (info.name ? info.name : "-"));
      },
      kMaskCall | kMaskReturn, 0);
  ASSERT_EQ(Run(R"qv(
.function main
  CLOSURE R0, g
  SETGLOBAL R0, "g"
  CLOSURE R0, f
  CALL R0, nargs=0, nres=0
  RETURN R0, n=0
  .function f linedefined=1
    GETGLOBAL R0, "g"
    TAILCALL R0, nargs=0, nres=all
    RETURN R0, n=top
  .end
  .function g linedefined=2
    GETGLOBAL R0, "where"
    CALL R0, nargs=0, nres=0
    RETURN R0, n=0
  .end
.end
)qv")
                .status,
            0);
  EXPECT_EQ(seen,
            (std::vector<std::string>{"0 main -", "0 Quillvane -", "0 Quillvane g", "0 C where",
                                      "1 C where", "1 Quillvane g", "4 tail ", "1 main -"}));
}

}  // namespace
}  // namespace qv::testing
