// The player's line hook with its break check: a quit request or window states gathered while a
// script runs are seen at the first line event after them, wherever in the loop they come.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "core/events.h"
#include "core/player_state.h"
#include "core/registry.h"
#include "platform/input.h"
#include "platform/loop.h"
#include "platform/os/null_window_system.h"
#include "player/player.h"
#include "tools/qvasm/gtest_support.h"
#include "vm/vm.h"

namespace qv {
namespace {

// `poke` is called on several lines; what follows each call reaches the next line event in its
// own way: more of the same line, a new line, the loop's jump back, a return into the caller's
// line. Each line begins by writing its number into the global "line": the End flag that the
// break sets stops the script after the instruction of the line event, so "line" then names the
// line where the break was seen.
constexpr char kProgram[] = R"qv(
.function main
  .line 1
  LOADCONST R0, 0
  LOADCONST R1, 0
  LOADCONST R2, 300
  LOADCONST R3, 1
  LOADCONST R10, 2
  LOADCONST R11, 3
  LOADCONST R12, 4
  LOADCONST R13, 5
  JUMP @test
body:
  .line 2
  SETGLOBAL R10, "line"
  GETGLOBAL R4, "poke"
  CALL R4, nargs=0, nres=0
  ADD R0, R0, 1
  .line 3
  SETGLOBAL R11, "line"
  GETGLOBAL R4, "poke"
  CALL R4, nargs=0, nres=0
  CLOSURE R4, inner
  LOADCONST R5, 10
  CALL R4, nargs=1, nres=0
  MOVE R5, R0
test:
  .line 4
  SETGLOBAL R12, "line"
  GETGLOBAL R4, "poke"
  CALL R4, nargs=0, nres=0
  FORLOOP R1, @body
  .line 5
  SETGLOBAL R13, "line"
  RETURN R0, n=1
  .function inner params=1
    .line 10
    SETGLOBAL R0, "line"
    GETGLOBAL R1, "poke"
    CALL R1, nargs=0, nres=0
    RETURN R0, n=0
  .end
.end
)qv";

constexpr int kKeyX = 'x';

struct Observed {
  // The reference run: each line event's line, and how many events came before each poke.
  std::vector<int> lines;
  std::vector<size_t> eventsAtPoke;
  // The run with the player's hook: at which poke to post, and what the script saw.
  int postAt = -1;
  bool quit = false;
  int pokes = 0;
  int breakLine = -1;
  std::vector<int> keySeen;  // display 1's state of the posted key at each poke
};
Observed* gRun = nullptr;
NullWindowSystem* gWindows = nullptr;

void RecordLine(qvScriptState*, qvDebugRecord* ar, int32_t*) {
  if (ar->event == kHookLine) gRun->lines.push_back(ar->currentline);
}

// Lets the main loop pass until what was injected before the call has been pumped.
void Settle() {
  for (int i = 0; i < 3; ++i) {
    WakeMainLoop();
    WaitMainLoopPass();
  }
}

int32_t Poke(qvScriptState*) {
  Observed& r = *gRun;
  r.eventsAtPoke.push_back(r.lines.size());
  if (qvDisplayInput* d = CurrentDisplayInput()) r.keySeen.push_back(d->keyDown[kKeyX]);
  if (r.pokes++ == r.postAt) {
    if (r.quit) {
      gWindows->Inject([] { WindowKey(nullptr, 'c', true, kQualifierLeftControl); });
    } else {
      gWindows->Inject([] { WindowKey(nullptr, kKeyX, true, 0); });
    }
    Settle();
  }
  return 0;
}

class BreakCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(InitPlatform(), 0);
    SetWindowSystem(&windows);
    gWindows = &windows;
    const qvAttrSetItem quiet[] = {{kAttrQuiet, 1}, {0, 0}};
    SetRuntimeAttrs(nullptr, quiet);
    L = VmOpenState();
    ASSERT_NE(L, nullptr);
    VmPushString(L, "poke");
    VmPushCClosure(L, Poke, 0);
    VmSetTable(L, kGlobalsIndex);
    OpenInputDisplay();
    SetDisplayHost(InputDisplayHost());
  }
  void TearDown() override {
    ConnectBreakCheck(nullptr);
    SetDisplayHost(nullptr);
    CloseInputDisplay(nullptr);
    VmCloseState(L);
    ShutdownPlatform();
    gRun = nullptr;
    gWindows = nullptr;
  }

  // Loads the program and connects the break check the player's way, and runs it on the script
  // thread.
  void RunWithBreakCheck(Observed* run) {
    gRun = run;
    settings.mainChunk = qvasm::AssembleOrFail(kProgram).bytes;
    ASSERT_EQ(LoadMainChunk(L, &player, &settings), 0);
    ConnectBreakCheck(L);
    int status = MessageLoop([this] { return VmPCall(L, 0, 0, 0); });
    EXPECT_EQ(status, 0);
    VmPushString(L, "line");
    VmGetTable(L, kGlobalsIndex);
    run->breakLine = int(VmToNumber(L, -1));
    VmSetEndFlag(L, 0);
    VmSetTop(L, 0);
  }

  void RunReference(Observed* run) {
    gRun = run;
    settings.mainChunk = qvasm::AssembleOrFail(kProgram).bytes;
    ASSERT_EQ(LoadMainChunk(L, &player, &settings), 0);
    VmSetHook(L, RecordLine, kMaskLine, 0);
    EXPECT_EQ(VmPCall(L, 0, 0, 0), 0);
    VmSetHook(L, nullptr, 0, 0);
  }

  NullWindowSystem windows;
  qvScriptState* L = nullptr;
  qvAppletSettings settings{};
  qvPlayerState player{};
};

TEST_F(BreakCheckTest, AQuitRequestEndsTheScriptAtTheNextLineEvent) {
  Observed reference;
  RunReference(&reference);
  ASSERT_EQ(reference.eventsAtPoke.size(), 1201u);
  std::mt19937 random(25);
  for (int sample = 0; sample < 12; ++sample) {
    int at = int(random() % reference.eventsAtPoke.size());
    size_t event = reference.eventsAtPoke[size_t(at)];
    ASSERT_LT(event, reference.lines.size());
    Observed run;
    run.postAt = at;
    run.quit = true;
    RunWithBreakCheck(&run);
    EXPECT_EQ(run.pokes, at + 1) << "posted at poke " << at;
    EXPECT_EQ(run.breakLine, reference.lines[event]) << "posted at poke " << at;
    TearDown();
    SetUp();
  }
}

TEST_F(BreakCheckTest, WindowStatesReachTheDisplayAtTheNextLineEvent) {
  Observed reference;
  RunReference(&reference);
  std::mt19937 random(52);
  for (int sample = 0; sample < 12; ++sample) {
    // Every poke but the last is followed by a line event before the next one.
    int at = int(random() % (reference.eventsAtPoke.size() - 1));
    ASSERT_LT(reference.eventsAtPoke[size_t(at)], reference.eventsAtPoke[size_t(at) + 1]);
    Observed run;
    run.postAt = at;
    RunWithBreakCheck(&run);
    ASSERT_EQ(run.keySeen.size(), reference.eventsAtPoke.size());
    for (size_t i = 0; i < run.keySeen.size(); ++i)
      EXPECT_EQ(run.keySeen[i], i > size_t(at) ? 1 : 0)
          << "posted at poke " << at << ", poke " << i;
    TearDown();
    SetUp();
  }
}

}  // namespace
}  // namespace qv
