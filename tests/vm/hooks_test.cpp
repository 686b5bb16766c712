// Hooks: line, count, call and return events, and errors thrown from a hook.
#include <chrono>
#include <thread>

#include "base/errors.h"
#include "tests/vm/vm_fixture.h"

namespace qv::testing {
namespace {

std::vector<std::pair<int, int>> gEvents;  // event, line
int gFailOnLine;

void Record(qvScriptState*, qvDebugRecord* ar, int32_t* error) {
  gEvents.emplace_back(ar->event, ar->currentline);
  if (ar->event == kHookLine && ar->currentline == gFailOnLine) *error = ERR_ZERODIVISION;
}

class HooksTest : public VmTest {
 protected:
  void SetUp() override {
    VmTest::SetUp();
    gEvents.clear();
    gFailOnLine = -100;
  }
  std::vector<int> Lines() {
    std::vector<int> lines;
    for (auto [event, line] : gEvents)
      if (event == kHookLine) lines.push_back(line);
    return lines;
  }
};

const char* const kLoop = R"qv(
.function main
  .line 1
  LOADCONST R0, 0
  LOADCONST R1, 0
  LOADCONST R2, 3
  LOADCONST R3, 1
  JUMP @test
body:
  .line 2
  ADD R0, R0, R1
test:
  .line 3
  FORLOOP R1, @body
  .line 4
  RETURN R0, n=1
.end
)qv";

TEST_F(HooksTest, LineEventsOnNewLinesAndBackwardJumps) {
  VmSetHook(L, Record, kMaskLine, 0);
  RunResult r = Run(kLoop);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.num(0), 6);
  // The first step after VmSetHook only starts the tracking.
  EXPECT_EQ(Lines(), (std::vector<int>{3, 2, 3, 2, 3, 2, 3, 4}));
  gEvents.clear();
  r = Run(kLoop);  // now every line is seen, the first instruction too
  EXPECT_EQ(Lines(), (std::vector<int>{1, 3, 2, 3, 2, 3, 2, 3, 4}));
  VmSetHook(L, nullptr, 0, 0);
  gEvents.clear();
  Run(kLoop);
  EXPECT_TRUE(gEvents.empty());
}

TEST_F(HooksTest, CountEvents) {
  VmSetHook(L, Record, kMaskCount, 4);
  ASSERT_EQ(Run(kLoop).status, 0);  // 13 instructions
  EXPECT_EQ(gEvents.size(), 3u);
  for (auto [event, line] : gEvents) EXPECT_EQ(event, kHookCount);
}

TEST_F(HooksTest, CallAndReturnEvents) {
  RegisterNative("nothing", [](qvScriptState*) -> int32_t { return 0; });
  VmSetHook(L, Record, kMaskCall | kMaskReturn, 0);
  RunResult r = Run(R"qv(
.function main
  GETGLOBAL R0, "nothing"
  CALL R0, nargs=0, nres=0
  CLOSURE R0, f
  CALL R0, nargs=0, nres=0
  RETURN R0, n=0
  .function f
    CLOSURE R0, g
    TAILCALL R0, nargs=0, nres=all
    RETURN R0, n=top
    .function g
      RETURN R0, n=0
    .end
  .end
.end
)qv");
  ASSERT_EQ(r.status, 0);
  std::vector<int> events;
  for (auto [event, line] : gEvents) events.push_back(event);
  // main; nothing and its return; f, then g in f's frame, its return and f's folded return.
  EXPECT_EQ(events, (std::vector<int>{kHookCall, kHookCall, kHookReturn, kHookCall, kHookCall,
                                      kHookReturn, kHookTailReturn, kHookReturn}));
}

TEST_F(HooksTest, AnErrorWordFromTheHookIsThrown) {
  gFailOnLine = 2;
  VmSetHook(L, Record, kMaskLine, 0);
  EXPECT_EQ(Run(kLoop).status, ERR_ZERODIVISION);
  EXPECT_EQ(L->allowhook, 1);
  VmSetHook(L, nullptr, 0, 0);
  EXPECT_EQ(Run(kLoop).num(0), 6);
}

// Every way control reaches an instruction: fall-through onto the same or a new line, forward
// and backward jumps onto the same or another line (a loop on one line), skips over a test's jump,
// LOADBOOL's skip, CLOSURE's upvalue words, GOSUB and its return, numeric and generic loops, script
// calls and returns, a tail call, and a native that calls back into a script function.
const char* const kControlFlow = R"qv(
.function main
  .line 1
  LOADCONST R0, 0
  CLOSURE R1, leaf [R0]
  .line 2
  CLOSURE R2, tail
  LOADCONST R3, 0
  LOADCONST R4, 5
  LOADCONST R5, 1
  JUMP @test
body:
  .line 3
  LT 1, R3, 3
  JUMP @same
  .line 4
  LOADBOOL R6, 1, 1
  .line 5
  LOADBOOL R6, 0, 0
same:
  TEST R6, R6, 0
  JUMP @far
  .line 3
  MOVE R7, R1
  MOVE R8, R3
  CALL R7, nargs=1, nres=1
  ADD R0, R0, R7
  JUMP @test
far:
  .line 6
  GOSUB @sub
  MOVE R7, R2
  CALL R7, nargs=0, nres=1
  .line 7
  GETGLOBAL R8, "callback"
  MOVE R9, R1
  CALL R8, nargs=1, nres=1
  ADD R0, R0, R8
test:
  .line 8
  FORLOOP R3, @body
  .line 15
  LOADCONST R8, 0
  LOADCONST R9, 3
  LOADCONST R10, 1
  JUMP @inline
again:
  ADD R0, R0, R8
inline:
  FORLOOP R8, @again
  .line 9
  NEWTABLE R4, 0, 0
  SETTABLE R4, 1, 2
  SETTABLE R4, 2, 3
  LOADNIL R6, R6
  FORINPREP R4, @iter
visit:
  .line 10
  ADD R0, R0, R7
iter:
  .line 11
  FORINLOOP R4, vars=2
  JUMP @visit
  .line 12
  RETURN R0, n=1
sub:
  .line 13
  ADD R0, R0, 100
  .line 14
  RETSUB
  .function leaf params=1
    .upvalue "acc"
    .line 20
    GETUPVAL R1, U0
    ADD R1, R1, R0
    .line 21
    SETUPVAL R1, U0
    RETURN R1, n=1
  .end
  .function tail
    .line 30
    CLOSURE R0, two
    TAILCALL R0, nargs=0, nres=all
    RETURN R0, n=top
    .function two
      .line 40
      LOADCONST R0, 2
      .line 40
      RETURN R0, n=1
    .end
  .end
.end
)qv";

// One line event: its line and the depth of the call records.
std::vector<std::pair<int, int>> gLineEvents;
void RecordLine(qvScriptState*, qvDebugRecord* ar, int32_t*) {
  if (ar->event == kHookLine) gLineEvents.emplace_back(ar->currentline, ar->ci);
}
// The same for an on-request hook that asks for the next event each time.
void RecordAndAsk(qvScriptState* L, qvDebugRecord* ar, int32_t* error) {
  RecordLine(L, ar, error);
  VmRequestHook(L);
}
void InstallRecorder(qvScriptState* L, int mask) {
  VmSetHook(L, (mask & kMaskOnRequest) ? RecordAndAsk : RecordLine, mask, 1 << 30);
  VmRequestHook(L);
}

// The interpreter decides the line event inline for a line hook alone, also one that runs on
// request; with the count bit it steps through the general hook step. A count that never runs
// out makes that step the reference: all must call the hook at the same instructions, also when
// the tracking starts in the middle of a running script.
TEST_F(HooksTest, TheInlineLineStepFiresWhereTheGeneralStepFires) {
  RegisterNative("callback", [](qvScriptState* L) -> int32_t {
    VmPushValue(L, 1);
    VmPushNumber(L, 7);
    VmCall(L, 1, 1);
    return 1;
  });
  RegisterNative("sethook", [](qvScriptState* L) -> int32_t {
    InstallRecorder(L, int(VmToNumber(L, 1)));
    return 0;
  });
  std::vector<std::pair<int, int>> reference[2];
  for (int mask : {kMaskLine | kMaskCount, kMaskLine, kMaskLine | kMaskOnRequest}) {
    gLineEvents.clear();
    InstallRecorder(L, mask);
    RunResult r = Run(kControlFlow);
    ASSERT_EQ(r.status, 0);
    std::vector<std::pair<int, int>> fromStart = gLineEvents;
    gLineEvents.clear();
    VmSetHook(L, nullptr, 0, 0);
    // The hook installed by a native that the script calls: the tracking starts there.
    std::string late = kControlFlow;
    late.replace(late.find("  .line 1\n"), 10,
                 "  .line 1\n  GETGLOBAL R0, \"sethook\"\n  LOADCONST R1, " + std::to_string(mask) +
                     "\n  CALL R0, nargs=1, nres=0\n");
    r = Run(late);
    ASSERT_EQ(r.status, 0);
    std::vector<std::pair<int, int>> fromNative = gLineEvents;
    VmSetHook(L, nullptr, 0, 0);
    if (mask & kMaskCount) {
      reference[0] = fromStart;
      reference[1] = fromNative;
    } else {
      EXPECT_EQ(reference[0], fromStart) << "mask " << mask;
      EXPECT_EQ(reference[1], fromNative) << "mask " << mask;
    }
  }
  EXPECT_GT(reference[0].size(), 40u);
}

// An on-request hook runs at the first line event after each request, once.
TEST_F(HooksTest, AnOnRequestHookRunsAtTheNextLineEventAfterARequest) {
  RegisterNative("ask", [](qvScriptState* L) -> int32_t {
    VmRequestHook(L);
    return 0;
  });
  VmSetHook(L, Record, kMaskLine | kMaskOnRequest, 0);
  RunResult r = Run(R"qv(
.function main
  .line 1
  LOADCONST R0, 0
  .line 2
  GETGLOBAL R1, "ask"
  CALL R1, nargs=0, nres=0
  ADD R0, R0, 1
  .line 3
  ADD R0, R0, 1
  .line 4
  ADD R0, R0, 1
  GETGLOBAL R1, "ask"
  CALL R1, nargs=0, nres=0
  .line 5
  ADD R0, R0, 1
  .line 6
  RETURN R0, n=1
.end
)qv");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(Lines(), (std::vector<int>{3, 5}));
  // Without a request it never runs; a request without such a hook is dropped.
  gEvents.clear();
  ASSERT_EQ(Run(kLoop).status, 0);
  EXPECT_TRUE(gEvents.empty());
  VmSetHook(L, nullptr, 0, 0);
  VmRequestHook(L);
  EXPECT_EQ(Run(kLoop).num(0), 6);
}

// A request from another thread while a loop stores under its index in place is answered at a
// line of the loop, and the End flag set there stops the loop.
TEST_F(HooksTest, ARequestDuringAnInPlaceStoreLoopIsAnsweredInsideIt) {
  VmSetHook(
      L,
      [](qvScriptState* L, qvDebugRecord* ar, int32_t*) {
        gEvents.emplace_back(ar->event, ar->currentline);
        if (ar->currentline >= 3)
          VmSetEndFlag(L, 1);
        else
          VmRequestHook(L);  // not in the loop yet
      },
      kMaskLine | kMaskOnRequest, 0);
  std::thread asker([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    VmRequestHook(L);
  });
  // A step of 0 never ends the loop: only the request can (a fault shows as a timeout).
  RunResult r = Run(R"qv(
.function main
  .line 1
  NEWTABLE R0, arr=4 hashlog=0
  .line 2
  LOADCONST R1, 1
  LOADCONST R2, 1
  LOADCONST R3, 0
  JUMP @test
body:
  .line 3
  SETTABLE R0, R1, 1
test:
  .line 4
  FORLOOP R1, @body
  LOADCONST R0, 0
  RETURN R0, n=1
.end
)qv");
  asker.join();
  VmSetEndFlag(L, 0);
  VmSetHook(L, nullptr, 0, 0);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.size(), 0u);  // ended, not finished
  ASSERT_FALSE(gEvents.empty());
  EXPECT_GE(gEvents.back().second, 3);
  EXPECT_LE(gEvents.back().second, 4);
}

}  // namespace
}  // namespace qv::testing
