// The event core in process on the headless window system: the main loop runs on the test's
// thread, the script thread calls the event library's commands through the machine, and input is
// injected as the window procedure would deliver it. Callbacks are native functions that write a
// line per message table they receive.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/errors.h"
#include "core/errors.h"
#include "core/eventqueue.h"
#include "core/events.h"
#include "core/registry.h"
#include "core/runtime_buffers.h"
#include "libs/libraries.h"
#include "platform/input.h"
#include "platform/loop.h"
#include "platform/os/null_window_system.h"
#include "platform/os/window_native.h"
#include "platform/platform.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {
namespace {

std::vector<std::string> gLog;
int gRecorded = 0;

std::string Number(double n) {
  char text[32];
  std::snprintf(text, sizeof text, "%.14g", n);
  return text;
}

// "action field=value ..." for the fields a message table may hold, in a fixed order.
std::string Describe(qvScriptState* L, int t) {
  t = VmAbsIndex(L, t);
  std::string line;
  static const char* const kFields[] = {
      "action", "key",          "id",          "x",        "y",        "width",
      "height", "mode",         "orientation", "command",  "args",     "rawargs",
      "argc",   "numdropfiles", "value",       "userdata", "nresults", "triggered"};
  for (const char* field : kFields) {
    VmPushString(L, field);
    VmRawGet(L, t);
    if (VmType(L, -1) == kTypeNumber) {
      line += std::string(line.empty() ? "" : " ") + field + "=" + Number(VmToNumber(L, -1));
    } else if (VmType(L, -1) == kTypeString) {
      std::string text(VmToString(L, -1), VmStrLen(L, -1));
      for (char& c : text) c = c == '\0' ? '|' : c;
      line += std::string(line.empty() ? "" : " ") + field + "=[" + text + "]";
    }
    VmSetTop(L, -2);
  }
  VmPushString(L, "dropfiles");
  VmRawGet(L, t);
  if (VmType(L, -1) == kTypeTable) {
    for (int i = 0;; ++i) {
      VmRawGetI(L, -1, i);
      if (VmType(L, -1) != kTypeString) {
        VmSetTop(L, -2);
        break;
      }
      line += std::string(" drop") + std::to_string(i) + "=[" + VmToString(L, -1) + "]";
      VmSetTop(L, -2);
    }
  }
  VmSetTop(L, -2);
  return line;
}

int32_t Record(qvScriptState* L) {
  gLog.push_back(Describe(L, 1));
  ++gRecorded;
  return 0;
}

int32_t CountOnly(qvScriptState*) {
  ++gRecorded;
  return 0;
}

class EventTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gLog.clear();
    gRecorded = 0;
    ASSERT_EQ(InitPlatform(), 0);
    SetWindowSystem(&ws_);
    L = VmOpenState(CoreVmHost());
    ASSERT_NE(L, nullptr);
    SetProcessVm(L);
    SetExitOnError(1);
    ASSERT_EQ(AllocRuntimeBuffers(), 0);
    ASSERT_EQ(OpenLibrary(L, kEventLibrary), 0);
    OpenInputDisplay();
    SetDisplayHost(InputDisplayHost());
  }
  void TearDown() override {
    FreeEventLibrary(L);
    CloseInputDisplay(L);
    FreeRuntimeBuffers();
    FreeRegistries();
    VmCloseState(L);
    SetProcessVm(nullptr);
    ShutdownPlatform();
  }

  // Runs `script` on the script thread of a main loop on this thread.
  void RunScript(const std::function<void()>& script) {
    int result = MessageLoop([&] {
      script();
      return 0;
    });
    ASSERT_EQ(result, 0);
  }

  // Script thread: the command with the arguments that `push` pushes, its results left on the
  // stack; returns its status.
  int32_t Call(const char* command, const std::function<void()>& push = {}, int nresults = 0) {
    VmSetTop(L, 0);
    VmPushString(L, command);
    VmRawGet(L, kGlobalsIndex);
    int before = VmGetTop(L);
    if (push) push();
    return VmPCall(L, VmGetTop(L) - before, nresults, 0);
  }
  std::string WaitEvent() { return Event("waitevent"); }
  std::string CheckEvent() { return Event("checkevent"); }
  std::string Event(const char* command) {
    int32_t status = Call(command, {}, 1);
    if (status != 0) return "error " + std::to_string(status);
    return Describe(L, -1);
  }
  double Number(const char* command, const char* arg) {
    EXPECT_EQ(Call(
                  command, [&] { VmPushString(L, arg); }, 1),
              0)
        << command << "(" << arg << ")";
    return VmToNumber(L, -1);
  }
  // InstallEventHandler with native callbacks (null: the number 0, which removes) and an optional
  // userdata.
  int32_t Install(const std::vector<std::pair<std::string, qvCFunction>>& fields,
                  const char* userdata = nullptr) {
    return Call("installeventhandler", [&] {
      VmNewTable(L);
      for (const auto& [name, fn] : fields) {
        VmPushString(L, name.c_str());
        if (fn != nullptr) {
          VmPushCClosure(L, fn, 0);
        } else {
          VmPushNumber(L, 0);
        }
        VmRawSet(L, -3);
      }
      if (userdata != nullptr) VmPushString(L, userdata);
    });
  }
  // Script thread: returns once the main loop has pumped what was injected before the call, with
  // the window states taken over.
  void Settle() {
    for (int i = 0; i < 2; ++i) {
      WakeMainLoop();
      WaitMainLoopPass();
    }
    SyncWindowStates();
  }
  void Inject(std::function<void()> event) { ws_.Inject(std::move(event)); }

  NullWindowSystem ws_;
  qvScriptState* L = nullptr;
};

TEST_F(EventTest, KeysReachTheirHandlersWithTheirNames) {
  RunScript([&] {
    ASSERT_EQ(Install({{"onkeydown", Record}, {"onkeyup", Record}}), 0);
    const int32_t keys[] = {'a',     kKeyTab,  kKeyReturn, kKeyEnter, kKeySpace, 0x117 /* F12 */,
                            kKeyEsc, kKeyLeft, 0xE4};
    for (int32_t key : keys) Inject([key] { WindowKey(nullptr, key, true, 0); });
    Inject([] { WindowKey(nullptr, 'a', false, 0); });
    for (size_t i = 0; i < std::size(keys) + 1; ++i) WaitEvent();
  });
  const std::vector<std::string> want = {
      "action=[OnKeyDown] key=[a] id=1",    "action=[OnKeyDown] key=[        ] id=1",
      "action=[OnKeyDown] key=[\n] id=1",   "action=[OnKeyDown] key=[\n] id=1",
      "action=[OnKeyDown] key=[ ] id=1",    "action=[OnKeyDown] key=[F12] id=1",
      "action=[OnKeyDown] key=[ESC] id=1",  "action=[OnKeyDown] key=[LEFT] id=1",
      "action=[OnKeyDown] key=[\xE4] id=1", "action=[OnKeyUp] key=[a] id=1",
  };
  EXPECT_EQ(gLog, want);
}

TEST_F(EventTest, IsKeyDownSeesKeysAndQualifiers) {
  struct Probe {
    const char* name;
    double down;
  };
  std::vector<std::string> seen;
  auto probe = [&](std::initializer_list<Probe> probes) {
    for (const Probe& p : probes) {
      double got = Number("iskeydown", p.name);
      if (got != p.down) seen.push_back(std::string(p.name) + " reads " + qv::Number(got));
    }
  };
  RunScript([&] {
    Inject([] { WindowKey(nullptr, 'a', true, kQualifierLeftShift | kQualifierLeftControl); });
    Inject([] { WindowKey(nullptr, 0xE4, true, kQualifierLeftShift | kQualifierLeftControl); });
    Settle();
    probe({{"LSHIFT", 1}, {"lcontrol", 1}, {"RSHIFT", 0}, {"a", 1}, {"b", 0}, {"\xE4", 1}});
    Inject([] { WindowKey(nullptr, 'a', false, 0); });
    Settle();
    probe({{"LSHIFT", 0}, {"a", 0}, {"\xE4", 1}});
    EXPECT_EQ(Call("resetkeystates"), 0);
    probe({{"\xE4", 0}});
  });
  EXPECT_TRUE(seen.empty()) << ::testing::PrintToString(seen);
}

TEST_F(EventTest, ButtonsWheelWindowEventsAndDropsReachTheirHandlers) {
  std::vector<std::pair<std::string, qvCFunction>> all;
  for (const char* name : kInputEventNames) {
    if (std::strcmp(name, "onkeydown") != 0 && std::strcmp(name, "onkeyup") != 0 &&
        std::strcmp(name, "onmousemove") != 0) {
      all.emplace_back(name, Record);
    }
  }
  RunScript([&] {
    ASSERT_EQ(Install(all), 0);
    Inject([] {
      WindowButton(nullptr, kEventLeftButton, true, 10, 20);
      WindowButton(nullptr, kEventLeftButton, false, 11, 21);
      WindowButton(nullptr, kEventRightButton, true, 1, 2);
      WindowButton(nullptr, kEventRightButton, false, 1, 2);
      WindowButton(nullptr, kEventMidButton, true, 3, 4);
      WindowButton(nullptr, kEventMidButton, false, 3, 4);
      WindowWheel(nullptr, true);
      WindowWheel(nullptr, false);
      WindowEvent(nullptr, kEventWindowMoved, 100, 50);
      WindowEvent(nullptr, kEventWindowSized, 320, 200);
      for (int32_t type : {6, 7, 8, 9, 10, 13, 15, 17, 18, 19, 20, 21})
        WindowEvent(nullptr, type, 0, 0);
      WindowDropFiles(nullptr, {"a.txt", "dir/b c.png"}, 5, 6);
      WindowDropFiles(nullptr, {}, 0, 0);
    });
    for (int i = 0; i < 24; ++i) WaitEvent();
  });
  const std::vector<std::string> want = {
      "action=[OnMouseDown] id=1",
      "action=[OnMouseUp] id=1",
      "action=[OnRightMouseDown] id=1",
      "action=[OnRightMouseUp] id=1",
      "action=[OnMidMouseDown] id=1",
      "action=[OnMidMouseUp] id=1",
      "action=[OnWheelUp] id=1",
      "action=[OnWheelDown] id=1",
      "action=[MoveWindow] id=1 x=100 y=50",
      "action=[SizeWindow] id=1 width=320 height=200",
      "action=[InactiveWindow] id=1",
      "action=[CloseWindow] id=1",
      "action=[ActiveWindow] id=1",
      "action=[HideWindow] id=1",
      "action=[ShowWindow] id=1",
      "action=[ModeSwitch] id=1 mode=1",
      "action=[ClipboardChange] id=1",
      "action=[OrientationChange] id=1 orientation=0",
      "action=[ShowKeyboard] id=1",
      "action=[HideKeyboard] id=1",
      "action=[Hotkey] id=1",
      "action=[TrayIcon] id=1",
      "action=[OnDropFile] id=1 x=5 y=6 numdropfiles=2 drop0=[a.txt] drop1=[dir/b c.png]",
      "action=[OnDropFile] id=1 x=0 y=0 numdropfiles=0",
  };
  EXPECT_EQ(gLog, want);
}

TEST_F(EventTest, PointerMovesAreDeliveredWhileFresh) {
  std::string fresh, stale;
  RunScript([&] {
    ASSERT_EQ(Install({{"onmousemove", Record}}), 0);
    Inject([] { WindowPointer(nullptr, 30, 40); });
    Settle();
    fresh = CheckEvent();
    ASSERT_EQ(Call("mousex", {}, 1), 0);
    EXPECT_EQ(VmToNumber(L, -1), 30);
    // The flag is taken by the cycle that delivered it: no second delivery.
    EXPECT_EQ(CheckEvent(), "action=[] id=0 nresults=0 triggered=0");
    ASSERT_EQ(Call("seteventtimeout", [&] { VmPushNumber(L, 30); }), 0);
    Inject([] { WindowPointer(nullptr, 31, 41); });
    Settle();
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    stale = CheckEvent();
  });
  EXPECT_EQ(fresh, "action=[OnMouseMove] id=1 x=30 y=40 nresults=0 triggered=1");
  EXPECT_EQ(stale, "action=[] id=0 nresults=0 triggered=0");
  EXPECT_EQ(gLog, std::vector<std::string>{"action=[OnMouseMove] id=1 x=30 y=40"});
}

TEST_F(EventTest, StaleEventsAreDroppedFreshOnesKept) {
  std::string first, second;
  RunScript([&] {
    ASSERT_EQ(Install({{"onkeydown", Record}}), 0);
    ASSERT_EQ(Call("seteventtimeout", [&] { VmPushNumber(L, 50); }), 0);
    Inject([] { WindowKey(nullptr, 'x', true, 0); });
    Settle();
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    first = CheckEvent();
    Inject([] { WindowKey(nullptr, 'y', true, 0); });
    Settle();
    second = CheckEvent();
  });
  EXPECT_EQ(first, "action=[] id=0 nresults=0 triggered=0");
  EXPECT_EQ(second, "action=[OnKeyDown] key=[y] id=1 nresults=0 triggered=1");
  EXPECT_EQ(gLog, std::vector<std::string>{"action=[OnKeyDown] key=[y] id=1"});
}

// A 1 ms interval fires on nearly every pass; the timer cursor moves past it within a cycle, so
// the queued key still comes within a few steps.
TEST_F(EventTest, FastIntervalDoesNotStarveAQueuedKey) {
  int stepsToKey = -1;
  RunScript([&] {
    ASSERT_EQ(Install({{"onkeydown", Record}}), 0);
    ASSERT_EQ(Call("setinterval",
                   [&] {
                     VmPushNumber(L, 1);
                     VmPushCClosure(L, CountOnly, 0);
                     VmPushNumber(L, 1);
                   }),
              0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Inject([] { WindowKey(nullptr, 'k', true, 0); });
    Settle();
    for (int step = 1; step <= 50 && stepsToKey < 0; ++step) {
      WaitEvent();
      if (!gLog.empty()) stepsToKey = step;
    }
  });
  EXPECT_GE(stepsToKey, 1);
  EXPECT_LE(stepsToKey, 3);
  EXPECT_GE(gRecorded, 2);  // the interval did run meanwhile
}

int gCustomValue = 0;
void PushCustomFields(qvScriptState* L, void* data) {
  SetFieldInt(L, "value", *static_cast<int*>(data));
}

TEST_F(EventTest, CustomEventTypeReachesItsHandler) {
  const char* name = "PluginEventWithANameLongerThanThirtyOne";
  int32_t type = RegisterEventType(name, PushCustomFields);
  EXPECT_EQ(type, kFirstCustomEventType);
  EXPECT_EQ(RegisterEventType("Second", nullptr), kFirstCustomEventType + 1);
  gCustomValue = 77;
  RunScript([&] {
    ASSERT_EQ(Install({{"plugineventwithanamelongerthanthirtyone", Record}}, "ud"), 0);
    PostCustomEvent(type, &gCustomValue);
    PostCustomEvent(kFirstCustomEventType + 1, &gCustomValue);  // no handler: dropped
    WaitEvent();
    EXPECT_EQ(CheckEvent(), "action=[] id=0 nresults=0 triggered=0");
  });
  EXPECT_EQ(gLog, std::vector<std::string>{
                      "action=[PluginEventWithANameLongerThanT] value=77 userdata=[ud]"});
}

// A stand-in for the button code: one button under every press, and a scripted hover walk.
struct FakeButtons {
  int32_t callback = kNoReference;
  std::vector<std::string> hoverSteps;  // actions the walk yields, one per call
  size_t hoverNext = 0;
  std::vector<std::string> hoverCalls;
  std::vector<std::string> labels;  // by key code: the label a key event stands for
  bool records = false;
};
FakeButtons gButtons;

bool FakeButtonEvent(const qvEvent& e, qvDispatchResult* result) {
  if (!e.pressed) return false;
  result->callback = gButtons.callback;
  std::snprintf(result->action, sizeof result->action, "OnMouseDown");
  return true;
}

bool FakeHover(qvDisplayInput*, int32_t x, int32_t y, bool resume, qvDispatchResult* result) {
  gButtons.hoverCalls.push_back(std::to_string(x) + "," + std::to_string(y) +
                                (resume ? " resume" : ""));
  if (!resume) gButtons.hoverNext = 0;
  if (gButtons.hoverNext >= gButtons.hoverSteps.size()) return false;
  result->callback = gButtons.callback;
  std::snprintf(result->action, sizeof result->action, "%s",
                gButtons.hoverSteps[gButtons.hoverNext++].c_str());
  return true;
}

void FakeButtonFields(qvScriptState* L, qvDispatchResult* result) {
  SetMessageId(L, result, {7, nullptr});
}

bool FakeHaveRecords() { return gButtons.records; }

std::string FakeEventName(const qvEvent& e) {
  if (e.type != kEventKey || e.keyCode < 0 || size_t(e.keyCode) >= gButtons.labels.size()) {
    return "";
  }
  return gButtons.labels[size_t(e.keyCode)];
}

std::string FakeButtonOver(int32_t x, int32_t) { return x == 99 ? "OverNinetyNine" : ""; }

class ButtonStageTest : public EventTest {
 protected:
  void SetUp() override {
    EventTest::SetUp();
    gButtons = FakeButtons{};
    VmPushCClosure(L, Record, 0);
    gButtons.callback = VmRef(L, kRegistryIndex);
    qvButtonSources sources;
    sources.buttonEvent = FakeButtonEvent;
    sources.hover = FakeHover;
    sources.pushButtonFields = FakeButtonFields;
    sources.haveLegacyRecords = FakeHaveRecords;
    sources.legacyEventName = FakeEventName;
    sources.legacyButtonOver = FakeButtonOver;
    SetButtonSources(&sources);
  }
  void TearDown() override {
    SetButtonSources(nullptr);
    EventTest::TearDown();
  }
};

// A press over a button while the display has its own handler: the display's handler runs in one
// step, the button's in the next.
TEST_F(ButtonStageTest, DisplayHandlerFirstThenTheButton) {
  std::string second;
  RunScript([&] {
    ASSERT_EQ(Install({{"onmousedown", Record}}), 0);
    Inject([] { WindowButton(nullptr, kEventLeftButton, true, 10, 20); });
    WaitEvent();
    second = WaitEvent();
  });
  EXPECT_EQ(gLog,
            (std::vector<std::string>{"action=[OnMouseDown] id=1", "action=[OnMouseDown] id=7"}));
  EXPECT_EQ(second, "action=[OnMouseDown] id=7 nresults=0 triggered=1");
}

// Hovering runs one callback per step and resumes its walk; only a pointer move starts a walk.
TEST_F(ButtonStageTest, HoverWalkResumesOneCallbackAStep) {
  gButtons.hoverSteps = {"OnMouseOut", "OnMouseOver"};
  std::vector<std::string> results;
  RunScript([&] {
    Inject([] { WindowPointer(nullptr, 30, 40); });
    Settle();
    for (int i = 0; i < 4; ++i) results.push_back(CheckEvent());
  });
  EXPECT_EQ(results, (std::vector<std::string>{"action=[OnMouseOut] id=7 nresults=0 triggered=1",
                                               "action=[OnMouseOver] id=7 nresults=0 triggered=1",
                                               "action=[] id=0 nresults=0 triggered=0",
                                               "action=[] id=0 nresults=0 triggered=0"}));
  EXPECT_EQ(gButtons.hoverCalls,
            (std::vector<std::string>{"30,40", "30,40 resume", "30,40 resume"}));
}

// Label-based records see the whole queue: the first event that names an existing label is taken
// with every event before it, and the VM is told how far the label lies.
TEST_F(ButtonStageTest, LabelJumpsTakeTheQueueUpToTheirEvent) {
  gButtons.records = true;
  gButtons.labels.assign(128, "");
  gButtons.labels['k'] = "OnKeyK";
  gButtons.labels['m'] = "NoSuchLabel";
  VmPushString(L, "labels");
  VmNewTable(L);
  VmPushString(L, "onkeyk");
  VmPushNumber(L, 17);
  VmRawSet(L, -3);
  VmPushString(L, "overninetynine");
  VmPushNumber(L, 4);
  VmRawSet(L, -3);
  VmRawSet(L, kRegistryIndex);
  int32_t code = 0, kind = 0, offset = 0, left = 0, quiet = 0;
  std::string after;
  RunScript([&] {
    ASSERT_EQ(Install({{"onkeydown", Record}}), 0);
    Inject([] {
      WindowKey(nullptr, 'm', true, 0);
      WindowKey(nullptr, 'x', true, 0);
      WindowKey(nullptr, 'k', true, 0);
      WindowKey(nullptr, 'y', true, 0);
    });
    Settle();
    qvDispatchResult result;
    code = DispatchEvent(L, 0, &result);
    kind = result.kind;
    offset = VmGetJumpOffset(L) + VmGetCurrentInstruction(L);
    left = RuntimeEventQueue()->Count();
    after = CheckEvent();
    // The button-over test fires at its point, unless the caller keeps it quiet.
    Inject([] { WindowPointer(nullptr, 99, 5); });
    Settle();
    qvDispatchResult over;
    quiet = DispatchEvent(L, 1, &over);
    code = code * 10 + DispatchEvent(L, 0, &over);
  });
  EXPECT_EQ(code, -11);
  EXPECT_EQ(kind, 11);
  EXPECT_EQ(offset, 17);
  EXPECT_EQ(left, 1);
  EXPECT_EQ(after, "action=[OnKeyDown] key=[y] id=1 nresults=0 triggered=1");
  EXPECT_EQ(quiet, 0);
}

// InstallEventHandler: an absent field keeps the slot, a number removes it with its userdata, a
// function replaces it and keeps the old userdata unless one is given; a bad field changes
// nothing.
TEST_F(EventTest, HandlerSlotsFollowKeepReplaceRemove) {
  struct Step {
    std::vector<std::pair<std::string, qvCFunction>> fields;
    const char* userdata;
    int32_t status;
    const char* got;  // what a key then reaches
  };
  auto other = [](qvScriptState* L) -> int32_t {
    gLog.push_back("other " + Describe(L, 1));
    return 0;
  };
  const Step steps[] = {
      {{{"onkeydown", Record}}, "u1", 0, "action=[OnKeyDown] key=[k] id=1 userdata=[u1]"},
      {{}, nullptr, 0, "action=[OnKeyDown] key=[k] id=1 userdata=[u1]"},
      {{{"onkeydown", other}}, nullptr, 0, "other action=[OnKeyDown] key=[k] id=1 userdata=[u1]"},
      {{{"onkeydown", Record}}, "u3", 0, "action=[OnKeyDown] key=[k] id=1 userdata=[u3]"},
      {{{"onkeyup", Record}, {"closewindow", Record}},
       nullptr,
       0,
       "action=[OnKeyDown] key=[k] id=1 userdata=[u3]"},
      {{{"onkeydown", nullptr}}, nullptr, 0, ""},
      {{{"onkeydown", Record}}, nullptr, 0, "action=[OnKeyDown] key=[k] id=1"},
  };
  std::vector<std::string> got;
  RunScript([&] {
    for (const Step& step : steps) {
      EXPECT_EQ(Install(step.fields, step.userdata), step.status);
      gLog.clear();
      Inject([] { WindowKey(nullptr, 'k', true, 0); });
      Settle();
      CheckEvent();
      got.push_back(gLog.empty() ? "" : gLog[0]);
    }
    EXPECT_EQ(CurrentDisplayInput()->closeWindowHandled, 1);
    // A field that is neither a function nor a number is refused before anything changes.
    int32_t status = Call("installeventhandler", [&] {
      VmNewTable(L);
      VmPushString(L, "onkeydown");
      VmPushNumber(L, 0);
      VmRawSet(L, -3);
      VmPushString(L, "onkeyup");
      VmPushString(L, "not a function");
      VmRawSet(L, -3);
    });
    EXPECT_EQ(status, ERR_FUNCEXPECTED);
    EXPECT_NE(CurrentDisplayInput()->handlers[kOnKeyDown].callback, kNoReference);
  });
  std::vector<std::string> want;
  for (const Step& step : steps) want.push_back(step.got);
  EXPECT_EQ(got, want);
}

TEST_F(EventTest, WaitEventReturnsTheCallbacksTableWithItsResults) {
  std::string message, results;
  RunScript([&] {
    ASSERT_EQ(Call("settimeout",
                   [&] {
                     VmPushNumber(L, 9);
                     VmPushCClosure(
                         L,
                         [](qvScriptState* L) -> int32_t {
                           VmPushString(L, "mine");
                           VmPushString(L, "set");
                           VmRawSet(L, 1);
                           VmPushString(L, "a");
                           VmPushNumber(L, 2);
                           VmPushString(L, "c");
                           return 3;
                         },
                         0);
                     VmPushNumber(L, 5);
                   }),
              0);
    ASSERT_EQ(Call("waitevent", {}, 1), 0);
    message = Describe(L, -1);
    VmPushString(L, "mine");
    VmRawGet(L, -2);
    EXPECT_STREQ(VmToString(L, -1), "set");
    VmSetTop(L, -2);
    VmPushString(L, "results");
    VmRawGet(L, -2);
    for (int i = 0; i < 4; ++i) {
      VmRawGetI(L, -1, i);
      results += VmType(L, -1) == kTypeNil ? "nil" : VmToString(L, -1);
      results += " ";
      VmSetTop(L, -2);
    }
    // Nothing pending: no "results" at all.
    ASSERT_EQ(Call("checkevent", {}, 1), 0);
    VmPushString(L, "results");
    VmRawGet(L, -2);
    EXPECT_EQ(VmType(L, -1), kTypeNil);
  });
  EXPECT_EQ(message, "action=[Timeout] id=9 nresults=3 triggered=1");
  EXPECT_EQ(results, "a 2 c nil ");
}

TEST_F(EventTest, TimerObjectsAndTheSharedTick) {
  RunScript([&] {
    auto set = [&](double id, double ms) {
      return Call("setinterval", [&] {
        VmPushNumber(L, id);
        VmPushCClosure(L, CountOnly, 0);
        VmPushNumber(L, ms);
      });
    };
    EXPECT_EQ(set(1, 0), ERR_WRONGUSAGE);
    EXPECT_EQ(set(1, 100), 0);
    EXPECT_EQ(set(1, 100), 0);
    EXPECT_EQ(CountObjects(kObjectInterval), 1);
    EXPECT_EQ(Call("setinterval",
                   [&] {
                     VmPushNumber(L, 2);
                     VmPushNumber(L, 5);  // no function
                     VmPushNumber(L, 100);
                   }),
              ERR_FUNCEXPECTED);
    EXPECT_EQ(CountObjects(kObjectInterval), 1);

    // Slot 0 taken twice and let go once frees the tick.
    EXPECT_EQ(AcquireTickTimer(L, 0), 0);
    EXPECT_EQ(AcquireTickTimer(L, 0), 0);
    EXPECT_EQ(CountObjects(kObjectInterval), 2);
    ReleaseTickTimer(L, 0);
    EXPECT_FALSE(TickTimerRunning());
    EXPECT_EQ(CountObjects(kObjectInterval), 1);
    // Both slots: the tick stays until the last goes.
    EXPECT_EQ(AcquireTickTimer(L, 0), 0);
    EXPECT_EQ(AcquireTickTimer(L, 1), 0);
    ReleaseTickTimer(L, 0);
    EXPECT_TRUE(TickTimerRunning());
    ReleaseTickTimer(L, 1);
    EXPECT_FALSE(TickTimerRunning());
  });
}

TEST_F(EventTest, NetworkHandlersHoldTheTick) {
  RunScript([&] {
    EXPECT_EQ(Install({{"onconnect", CountOnly}, {"onreceivedata", CountOnly}}), 0);
    EXPECT_TRUE(TickTimerRunning());
    EXPECT_EQ(Install({{"onconnect", nullptr}}), 0);
    EXPECT_TRUE(TickTimerRunning());
    EXPECT_EQ(Install({{"onreceivedata", nullptr}}), 0);
    EXPECT_FALSE(TickTimerRunning());
  });
}

// The waiting commands run no callbacks: a due interval stays pending, and WaitLeftMouse and
// WaitKeyDown empty the queue when they end; a quit request ends a wait.
TEST_F(EventTest, WaitingCommandsRunNoCallbacksAndEndOnQuit) {
  auto later = [&](std::vector<std::function<void()>> events) {
    return std::thread([this, events] {
      for (const auto& e : events) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        Inject(e);
      }
    });
  };
  RunScript([&] {
    ASSERT_EQ(Install({{"onkeydown", Record}}), 0);
    ASSERT_EQ(Call("setinterval",
                   [&] {
                     VmPushNumber(L, 1);
                     VmPushCClosure(L, CountOnly, 0);
                     VmPushNumber(L, 5);
                   }),
              0);
    std::thread driver = later({[] { WindowKey(nullptr, 'q', true, 0); },
                                [] { WindowButton(nullptr, kEventLeftButton, true, 1, 1); },
                                [] { WindowButton(nullptr, kEventLeftButton, false, 1, 1); }});
    EXPECT_EQ(Call("waitleftmouse"), 0);
    driver.join();
    EXPECT_EQ(gRecorded, 0);
    EXPECT_EQ(RuntimeEventQueue()->Count(), 0);

    // A key already held is let go first, then pressed and let go again.
    Inject([] { WindowKey(nullptr, 'w', true, 0); });
    Settle();
    driver = later({[] { WindowKey(nullptr, 'w', false, 0); },
                    [] { WindowKey(nullptr, 'w', true, 0); },
                    [] { WindowKey(nullptr, 'w', false, 0); }});
    EXPECT_EQ(Call("waitkeydown", [&] { VmPushString(L, "w"); }), 0);
    driver.join();
    EXPECT_EQ(gRecorded, 0);
    EXPECT_EQ(RuntimeEventQueue()->Count(), 0);

    // Escape with EscapeQuit on is a quit request: the wait ends without the button.
    ASSERT_EQ(Call("escapequit", [&] { VmPushNumber(L, 1); }), 0);
    driver = later({[] { WindowKey(nullptr, kKeyEsc, true, 0); }});
    EXPECT_EQ(Call("waitrightmouse"), 0);
    driver.join();
    EXPECT_EQ(gRecorded, 0);
  });
}

// A click whose press and release the window system hands over in one pump (a touchpad tap, a
// synthetic click) leaves the button as it was: the waits still see it, and so does WaitKeyDown
// a key's. A wait that missed it would wait for ever, so a quit request ends it after two seconds.
TEST_F(EventTest, AClickThatComesInOnePumpEndsTheWaitForIt) {
  RunScript([&] {
    ASSERT_EQ(Call("escapequit", [&] { VmPushNumber(L, 1); }), 0);
    const std::pair<const char*, int32_t> kWaits[] = {{"waitleftmouse", kEventLeftButton},
                                                      {"waitmidmouse", kEventMidButton},
                                                      {"waitrightmouse", kEventRightButton}};
    for (const auto& [command, type] : kWaits) {
      // A click before the wait is not the one it waits for.
      Inject([type = type] {
        WindowButton(nullptr, type, true, 1, 1);
        WindowButton(nullptr, type, false, 1, 1);
      });
      Settle();
      std::atomic<bool> returned{false};
      std::thread driver([&, type = type] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        Inject([type] {
          WindowButton(nullptr, type, true, 5, 6);
          WindowButton(nullptr, type, false, 5, 6);
        });
        for (int i = 0; i < 200 && !returned.load(); ++i) {
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!returned.load()) Inject([] { WindowKey(nullptr, kKeyEsc, true, 0); });
      });
      auto start = std::chrono::steady_clock::now();
      EXPECT_EQ(Call(command), 0);
      returned.store(true);
      auto waited = std::chrono::steady_clock::now() - start;
      driver.join();
      EXPECT_GE(waited, std::chrono::milliseconds(90)) << command << " took the earlier click";
      EXPECT_LT(waited, std::chrono::milliseconds(1500)) << command << " missed the click";
      EXPECT_EQ(RuntimeEventQueue()->Count(), 0);
    }
    // The same for a key, also one held when the wait starts: its release, a press and a
    // release in one pump.
    for (bool heldFirst : {false, true}) {
      if (heldFirst) {
        Inject([] { WindowKey(nullptr, 'w', true, 0); });
        Settle();
      }
      std::atomic<bool> returned{false};
      std::thread driver([&, heldFirst] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        Inject([heldFirst] {
          if (heldFirst) WindowKey(nullptr, 'w', false, 0);
          WindowKey(nullptr, 'w', true, 0);
          WindowKey(nullptr, 'w', false, 0);
        });
        for (int i = 0; i < 200 && !returned.load(); ++i) {
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!returned.load()) Inject([] { WindowKey(nullptr, kKeyEsc, true, 0); });
      });
      auto start = std::chrono::steady_clock::now();
      EXPECT_EQ(Call("waitkeydown", [&] { VmPushString(L, "w"); }), 0);
      returned.store(true);
      auto waited = std::chrono::steady_clock::now() - start;
      driver.join();
      EXPECT_LT(waited, std::chrono::milliseconds(1500)) << "held first: " << heldFirst;
    }
  });
}

// Each display has its own handler slots, and its window's events reach only them: display 2's
// keys, activation and close run display 2's handlers with its id; display 1's key down runs
// display 1's. A close of the display that handles it leaves the script going, a close of one
// without a handler ends it.
TEST_F(EventTest, HandlersAndEventsBelongToTheirDisplay) {
  static const char kSecondWindow = 0;
  const auto* second = reinterpret_cast<const qvWindow*>(&kSecondWindow);
  RunScript([&] {
    ASSERT_NE(AddDisplayInput(second, {2, nullptr}), nullptr);
    ASSERT_EQ(Install({{"onkeydown", Record}}), 0);
    SelectDisplayInput(second);
    ASSERT_EQ(Install({{"onkeyup", Record}, {"activewindow", Record}, {"closewindow", Record}}), 0);
    SelectDisplayInput(nullptr);
    EXPECT_EQ(CurrentDisplayInput()->id, 1);
    Inject([second] {
      WindowKey(nullptr, 'a', true, 0);
      WindowKey(second, 'b', true, 0);  // no key-down handler on display 2
      WindowKey(second, 'b', false, 0);
      WindowKey(nullptr, 'a', false, 0);  // no key-up handler on display 1
      WindowEvent(nullptr, kEventWindowActive, 0, 0);
      WindowEvent(second, kEventWindowActive, 0, 0);
      WindowEvent(second, kEventCloseWindow, 0, 0);
    });
    Settle();
    while (CheckEvent().find("triggered=1") != std::string::npos) {
    }
    EXPECT_EQ(gLog, (std::vector<std::string>{
                        "action=[OnKeyDown] key=[a] id=1", "action=[OnKeyUp] key=[b] id=2",
                        "action=[ActiveWindow] id=2", "action=[CloseWindow] id=2"}));
    int32_t out = -1;
    EXPECT_EQ(CheckBreak(L, 0, &out), 0);
    // Display 2's input goes with the display: its window's events are dropped.
    RemoveDisplayInput(L, second);
    EXPECT_EQ(NextDisplayInput(CurrentDisplayInput()), nullptr);
    Inject([second] { WindowKey(second, 'b', false, 0); });
    Settle();
    EXPECT_EQ(RuntimeEventQueue()->Count(), 0);
    // A stand-in window (the backdrop's behind a full screen) speaks for the first display.
    SetStandInWindow(second);
    Inject([second] { WindowKey(second, 'c', true, 0); });
    Settle();
    EXPECT_NE(CheckEvent().find("key=[c] id=1"), std::string::npos);
    SetStandInWindow(nullptr);
    Inject([] { WindowEvent(nullptr, kEventCloseWindow, 0, 0); });
    Settle();
    EXPECT_NE(CheckBreak(L, 0, &out), 0);
  });
}

// The window system takes dropped files for every display: it stops only when no display has an
// ondropfile handler any more.
TEST_F(EventTest, TheDropTargetStaysWhileAnyDisplayTakesDrops) {
  static const char kSecondWindow = 0;
  const auto* second = reinterpret_cast<const qvWindow*>(&kSecondWindow);
  RunScript([&] {
    ASSERT_NE(AddDisplayInput(second, {2, nullptr}), nullptr);
    ASSERT_EQ(Install({{"ondropfile", Record}}), 0);
    EXPECT_TRUE(DropTargetOn());
    SelectDisplayInput(second);
    ASSERT_EQ(Install({{"ondropfile", Record}}), 0);
    ASSERT_EQ(Install({{"ondropfile", nullptr}}), 0);
    EXPECT_TRUE(DropTargetOn()) << "display 1 still takes drops";
    ASSERT_EQ(Install({{"ondropfile", Record}}), 0);
    RemoveDisplayInput(L, second);
    EXPECT_TRUE(DropTargetOn());
    SelectDisplayInput(nullptr);
    ASSERT_EQ(Install({{"ondropfile", nullptr}}), 0);
    EXPECT_FALSE(DropTargetOn());
  });
}

const qvWindow* gSecondWindow = nullptr;
int32_t RemoveSecondDisplay(qvScriptState* L) {
  RemoveDisplayInput(L, gSecondWindow);
  ++gRecorded;
  return 0;
}

// A display whose input goes in its own pointer callback: the dispatcher, which stood on it, goes
// on behind it without reading it again.
TEST_F(EventTest, ADisplayRemovedInItsOwnCallbackIsNotReadAgain) {
  static const char kSecondWindow = 0;
  gSecondWindow = reinterpret_cast<const qvWindow*>(&kSecondWindow);
  RunScript([&] {
    ASSERT_NE(AddDisplayInput(gSecondWindow, {2, nullptr}), nullptr);
    SelectDisplayInput(gSecondWindow);
    ASSERT_EQ(Install({{"onmousemove", RemoveSecondDisplay}}), 0);
    SelectDisplayInput(nullptr);
    Inject([] { WindowPointer(gSecondWindow, 3, 4); });
    Settle();
    EXPECT_NE(CheckEvent().find("action=[OnMouseMove]"), std::string::npos);
    EXPECT_EQ(gRecorded, 1);
    EXPECT_EQ(NextDisplayInput(CurrentDisplayInput()), nullptr);
    EXPECT_NE(CheckEvent().find("triggered=0"), std::string::npos);
  });
}

// ---- the texts events carry ----

TEST(EventTexts, UserMessagesSplitIntoCommandAndArguments) {
  struct Case {
    const char* text;
    const char* command;
    const char* rawargs;
    std::string args;
    int argc;
  };
  using namespace std::string_literals;
  const Case cases[] = {
      {"play", "play", "", "", 0},
      {"", "", "", "", 0},
      {"play now", "play", "now", "now", 1},
      {"go \"a b\" c", "go", "\"a b\" c", "a b\0c"s, 2},
      {"go  x", "go", " x", "\0x"s, 2},
      {"go \"unclosed arg", "go", "\"unclosed arg", "unclosed arg", 1},
      {"go \"", "go", "\"", "", 1},
      {"go ", "go", "", "", 1},
  };
  for (const Case& c : cases) {
    qvUserMessageParts parts;
    SplitUserMessage(c.text, &parts);
    EXPECT_EQ(parts.command, c.command) << c.text;
    EXPECT_EQ(parts.rawargs, c.rawargs) << c.text;
    EXPECT_EQ(parts.args, c.args) << c.text;
    EXPECT_EQ(parts.argc, c.argc) << c.text;
  }
}

TEST(EventTexts, DropListsStopAtTheEmptyNameOrTheEnd) {
  using namespace std::string_literals;
  struct Case {
    std::string bytes;
    std::vector<std::string_view> names;
  };
  const Case cases[] = {
      {"a\0bc\0\0"s, {"a", "bc"}}, {"\0a\0\0"s, {}},       {""s, {}},
      {"a\0b"s, {"a", "b"}},  // cut by the end, not read past it
      {"abc"s, {"abc"}},           {"a\0\0b\0\0"s, {"a"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReadDropList(c.bytes.data(), c.bytes.size()), c.names)
        << ::testing::PrintToString(c.bytes);
  }
  void* block = MakeDropList({"x", "", "yz"});
  ASSERT_NE(block, nullptr);
  uint32_t size;
  std::memcpy(&size, block, sizeof size);
  EXPECT_EQ(ReadDropList(static_cast<char*>(block) + 4, size),
            (std::vector<std::string_view>{"x"}));
  std::free(block);
}

TEST(EventTexts, KeyCodeLookup) {
  struct Case {
    const char* name;
    bool qualifiers;
    uint32_t code;
  };
  const Case cases[] = {
      {"a", false, 'a'},
      {"\xE4", false, 0xE4},
      {"\xFF", true, 0xFF},
      {" ", false, 0},
      {"\x01", false, 0},
      {"", false, 0},
      {"f12", false, 0x117},
      {"PageUp", false, 0x11B},
      {"TAB", false, 0x110},
      {"LSHIFT", false, 0},
      {"LSHIFT", true, 0x80010000u},
      {"rcontrol", true, 0x80800000u},
      {"MOVEWINDOW", true, 0},
      {"nokey", true, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(KeyCodeLookup(c.name, c.qualifiers), c.code) << c.name << " " << c.qualifiers;
  }
  EXPECT_EQ(KeyEventName(0x11E), "PAUSE");
  EXPECT_EQ(KeyEventName(0x113), "ESC");
  EXPECT_EQ(KeyEventName('#'), "#");
}

}  // namespace
}  // namespace qv
