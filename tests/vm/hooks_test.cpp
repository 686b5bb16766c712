// Hooks: line, count, call and return events, and errors thrown from a hook.
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

}  // namespace
}  // namespace qv::testing
