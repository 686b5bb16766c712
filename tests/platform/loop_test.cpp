#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>

#include "core/error_table.h"
#include "platform/loop_hosts.h"
#include "platform/os/null_window_system.h"
#include "tests/platform/fixture.h"

using namespace qv;

namespace {

struct FakeDisplays : DisplayHost {
  std::atomic<int> passes{0}, pointerPasses{0}, syncs{0};
  std::atomic<bool> quit{false};
  std::atomic<int> ctrlC{-1};
  bool EndPass(bool pointerMoved, const qvQuitSwitches& switches) override {
    ++passes;
    if (pointerMoved) ++pointerPasses;
    ctrlC = switches.ctrlC;
    return quit.load();
  }
  void SyncDisplays() override { ++syncs; }
};

class LoopTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    SetWindowSystem(&ws);
    SetDisplayHost(&displays);
  }
  NullWindowSystem ws;
  FakeDisplays displays;
};

// Waits passes until the condition holds or about two seconds went by.
template <typename F>
bool PassUntil(F condition) {
  double t0 = NowMs();
  while (!condition()) {
    if (NowMs() - t0 > 2000) return false;
    WakeMainLoop();
    WaitMainLoopPass();
  }
  return true;
}

}  // namespace

TEST_F(LoopTest, ReturnsTheScriptResultOnlyAfterTheScriptThreadEnded) {
  std::atomic<bool> bodyEnded{false};
  std::atomic<bool> bodyOnMain{true};
  double t0 = NowMs();
  int rc = MessageLoop([&] {
    bodyOnMain = IsMainThread();
    DelayMs(100);
    bodyEnded = true;
    return 7;
  });
  EXPECT_EQ(rc, 7);
  EXPECT_TRUE(bodyEnded);
  EXPECT_FALSE(bodyOnMain);
  EXPECT_GE(NowMs() - t0, 95);
}

namespace {
std::atomic<bool> handlerOnMain{false};
int AddHandler(intptr_t a0, intptr_t a1, intptr_t, intptr_t) {
  handlerOnMain = IsMainThread();
  return static_cast<int>(a0 + a1);
}
int FiveHandler(intptr_t, intptr_t, intptr_t, intptr_t) { return 5; }
}  // namespace

TEST_F(LoopTest, RequestsRunOnTheMainThreadAndReturnTheirResult) {
  SetRequestHandler(1, AddHandler);
  SetRequestHandler(2, FiveHandler);
  // Without a running loop the request runs where it is asked.
  EXPECT_EQ(RunWindowRequest(1, 1, 2), 3);
  EXPECT_TRUE(handlerOnMain);
  int fromScript = 0, closeResult = -1, unknown = -1;
  std::atomic<int> fromMain{0};
  bool onMain = false;
  MessageLoop([&] {
    handlerOnMain = false;
    fromScript = RunWindowRequest(1, 40, 2);
    onMain = handlerOnMain;
    closeResult = RunWindowRequest(2);  // only codes 1 and 5 pass their result back
    unknown = CallMainThread(17, 0, 0, 0, 0);
    // Asked for on the main thread while the loop runs: done there at once, never forwarded to
    // itself.
    ws.Inject([&] { fromMain = RunWindowRequest(1, 5, 6); });
    PassUntil([&] { return fromMain != 0; });
    return 0;
  });
  EXPECT_EQ(fromScript, 42);
  EXPECT_TRUE(onMain);
  EXPECT_EQ(closeResult, 0);
  EXPECT_EQ(unknown, 0);
  EXPECT_EQ(fromMain, 11);
  SetRequestHandler(1, nullptr);
  SetRequestHandler(2, nullptr);
}

TEST_F(LoopTest, InjectedEventWakesAnIdleLoopAtOnce) {
  double latency = -1;
  MessageLoop([&] {
    DelayMs(100);  // let the loop fall asleep
    std::atomic<double> ran{-1};
    double sent = NowMs();
    ws.Inject([&] { ran = NowMs(); });
    PassUntil([&] { return ran.load() >= 0; });
    latency = ran.load() - sent;
    return 0;
  });
  EXPECT_GE(latency, 0);
  EXPECT_LT(latency, 50);  // a few ms normally; loose for busy machines
}

TEST_F(LoopTest, IdleLoopSleeps) {
  double cpuMs = -1;
  int passes = -1;
  MessageLoop([&] {
    DelayMs(50);
    rusage before, after;
    getrusage(RUSAGE_SELF, &before);
    int p0 = displays.passes;
    DelayMs(500);
    getrusage(RUSAGE_SELF, &after);
    passes = displays.passes - p0;
    auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    cpuMs = ms(after.ru_utime) + ms(after.ru_stime) - ms(before.ru_utime) - ms(before.ru_stime);
    return 0;
  });
  EXPECT_EQ(passes, 0);  // no timers, no input: no pass at all
  EXPECT_GE(cpuMs, 0);
  EXPECT_LT(cpuMs, 50);  // the 20 ms pointer poll is all that runs
}

TEST_F(LoopTest, PointerMoveMakesAPassWithTheMovedFlag) {
  bool seen = false;
  MessageLoop([&] {
    DelayMs(60);  // the poll has its first position
    ws.MovePointer(10, 20);
    double t0 = NowMs();
    while (displays.pointerPasses == 0 && NowMs() - t0 < 1000) DelayMs(1);
    seen = displays.pointerPasses > 0 && NowMs() - t0 < 200;
    return 0;
  });
  EXPECT_TRUE(seen);
}

namespace {
std::atomic<int> breaks{0};
void CountBreak(void*) { ++breaks; }
}  // namespace

TEST_F(LoopTest, QuitConditionReachesTheScriptAndBreaksAWait) {
  breaks = 0;
  SetBreakHandler(CountBreak, nullptr);
  SetPlatformAttr(8, 0);
  int first = -1, waited = -1, after = -1;
  double waitMs = -1;
  MessageLoop([&] {
    first = SyncWindowStates();
    ws.Inject([&] { displays.quit = true; });
    double t0 = NowMs();
    waited = WaitTimeQueued(5000);
    waitMs = NowMs() - t0;
    after = SyncWindowStates();
    return 0;
  });
  EXPECT_EQ(first, 0);
  EXPECT_EQ(waited, ERR_USERABORT);
  EXPECT_LT(waitMs, 1000);
  EXPECT_EQ(after, 1);
  EXPECT_GE(breaks, 1);
  EXPECT_GT(displays.syncs, 0);
  EXPECT_EQ(displays.ctrlC, 0);  // the switch reaches the displays
  SetBreakHandler(nullptr, nullptr);
}

TEST_F(LoopTest, WaitTimeQueuedWaitsAtLeastTheTime) {
  int rc = -1;
  double waited = -1;
  MessageLoop([&] {
    double t0 = NowMs();
    rc = WaitTimeQueued(120);
    waited = NowMs() - t0;
    return 0;
  });
  EXPECT_EQ(rc, 0);
  EXPECT_GE(waited, 115);
  EXPECT_LT(waited, 1000);
}

TEST_F(LoopTest, TerminationSignalAsksTheScriptToQuit) {
  breaks = 0;
  SetBreakHandler(CountBreak, nullptr);
  bool quit = false;
  MessageLoop([&] {
    kill(getpid(), SIGTERM);
    quit = PassUntil([] { return SyncWindowStates() != 0; });
    return 0;
  });
  EXPECT_TRUE(quit);
  EXPECT_GE(breaks, 1);
  SetBreakHandler(nullptr, nullptr);
}

namespace {
struct FakeAudio : AudioHost {
  qvSignal* signal = CreateSignal();
  std::atomic<int> events{0};
  std::atomic<bool> onMain{false};
  ~FakeAudio() override { DeleteSignal(signal); }
  int CollectChannelSignals(qvSignal** out, int) override {
    out[0] = signal;
    return 1;
  }
  void OnChannelEvent(qvSignal* s) override {
    if (s == signal) ++events;
    onMain = IsMainThread();
  }
};
}  // namespace

TEST_F(LoopTest, AudioNotificationIsHandledOnTheMainThread) {
  FakeAudio audio;
  SetAudioHost(&audio);
  MessageLoop([&] {
    DelayMs(30);
    SetSignal(audio.signal);
    PassUntil([&] { return audio.events > 0; });
    return 0;
  });
  EXPECT_EQ(audio.events, 1);
  EXPECT_TRUE(audio.onMain);
  SetAudioHost(nullptr);
}

TEST_F(LoopTest, IntervalAndTimeoutTogetherForOneSecond) {
  int intervals = 0, timeouts = 0, others = 0;
  bool timeoutGone = false;
  const qvTimerOwner interval{1, nullptr}, timeout{0, &intervals};
  int rc = MessageLoop([&] {
    EXPECT_EQ(SetTimerQueueTimer(0, interval, 50), 0);
    EXPECT_EQ(SetTimerQueueTimer(1, timeout, 230), 0);
    double t0 = NowMs();
    while (NowMs() - t0 < 1000) {
      WaitMainLoopPass();
      int kind;
      qvTimerOwner owner{};
      qvQueueTimer* cursor = nullptr;
      do {
        cursor = TakeFiredTimer(cursor, &kind, &owner);
        if (kind == 0 && owner == interval) ++intervals;
        else if (kind == 1 && owner == timeout) ++timeouts;
        else if (kind != 9) ++others;
      } while (cursor);
    }
    timeoutGone = FindTimerByOwner(1, timeout, nullptr) == nullptr;
    EXPECT_EQ(SetTimerQueueTimer(2, interval, 0), 0);
    EXPECT_EQ(SetTimerQueueTimer(3, timeout, 0), 0);  // already gone: nothing to do
    return 3;
  });
  EXPECT_EQ(rc, 3);
  EXPECT_GE(intervals, 15);
  EXPECT_LE(intervals, 22);
  EXPECT_EQ(timeouts, 1);
  EXPECT_EQ(others, 0);
  EXPECT_TRUE(timeoutGone);
}

TEST_F(LoopTest, ChangeIntervalAndClearStopReports) {
  const qvTimerOwner owner{5, nullptr};
  int beforeChange = 0, afterChange = 0, afterClear = 0;
  MessageLoop([&] {
    auto count = [&](int ms) {
      int n = 0;
      double t0 = NowMs();
      while (NowMs() - t0 < ms) {
        WaitTimeQueued(10);
        int kind;
        qvTimerOwner who{};
        qvQueueTimer* cursor = nullptr;
        do {
          cursor = TakeFiredTimer(cursor, &kind, &who);
          if (kind == 0 && who == owner) ++n;
        } while (cursor);
      }
      return n;
    };
    SetTimerQueueTimer(0, owner, 1000);
    beforeChange = count(300);  // the first expiry only
    SetTimerQueueTimer(4, owner, 40);
    afterChange = count(400);
    SetTimerQueueTimer(2, owner, 0);
    afterClear = count(200);
    return 0;
  });
  EXPECT_EQ(beforeChange, 1);
  EXPECT_GE(afterChange, 6);
  EXPECT_LE(afterChange, 12);
  EXPECT_EQ(afterClear, 0);
}
