#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "base/errors.h"
#include "platform/loop_hosts.h"
#include "platform/os/null_window_system.h"
#include "tests/platform/fixture.h"

using namespace qv;
using namespace std::chrono_literals;

namespace {

struct FakeDisplays : DisplayHost {
  std::atomic<bool> quit{false};
  std::atomic<int> ctrlC{-1};
  std::atomic<int> syncs{0};

  bool EndPass(bool pointerMoved, const qvQuitSwitches& switches) override {
    std::lock_guard<std::mutex> lock(mutex);
    ++passes;
    if (pointerMoved) ++pointerPasses;
    ctrlC = switches.ctrlC;
    ended.notify_all();
    return quit.load();
  }
  void SyncDisplays() override { ++syncs; }

  int Passes() {
    std::lock_guard<std::mutex> lock(mutex);
    return passes;
  }
  int PointerPasses() {
    std::lock_guard<std::mutex> lock(mutex);
    return pointerPasses;
  }
  // Waits until more than n passes have ended; false when the loop made none for ten seconds of
  // real time (it stopped).
  bool WaitPassesAbove(int n) {
    std::unique_lock<std::mutex> lock(mutex);
    return ended.wait_for(lock, 10s, [&] { return passes > n; });
  }

  std::mutex mutex;
  std::condition_variable ended;
  int passes = 0;
  int pointerPasses = 0;
};

// The main loop on the headless window system with fake displays.
template <typename Base>
class LoopFixture : public Base {
 protected:
  void SetUp() override {
    Base::SetUp();
    SetWindowSystem(&ws);
    SetDisplayHost(&displays);
  }
  // Returns when a pass that began after the call has ended, so that whatever was set, posted or
  // injected before the call has been handled, the displays' end of pass included. Any thread but
  // the main one.
  void Settle() {
    for (int i = 0; i < 2; ++i) {
      int n = displays.Passes();
      WakeMainLoop();
      ASSERT_TRUE(displays.WaitPassesAbove(n)) << "the main loop stopped passing";
    }
  }
  NullWindowSystem ws;
  FakeDisplays displays;
};

// Its timers on the test's clock: nothing depends on how fast the machine is.
using LoopTest = LoopFixture<ManualClockTest>;
// Its timers on the system clock, where a real thread waking up is the point.
using RealClockLoopTest = LoopFixture<PlatformTest>;

struct Report {
  TimerKind kind;
  qvTimerOwner owner;
};

// Everything that fired since the last take.
std::vector<Report> TakeAll() {
  std::vector<Report> out;
  qvQueueTimer* cursor = nullptr;
  do {
    Report r{};
    cursor = TakeFiredTimer(cursor, &r.kind, &r.owner);
    if (r.kind != TimerKind::kNone) out.push_back(r);
  } while (cursor);
  return out;
}

std::vector<int64_t> Range(int64_t from, int64_t to, int64_t step) {
  std::vector<int64_t> out;
  for (int64_t t = from; t <= to; t += step) out.push_back(t);
  return out;
}

}  // namespace

TEST_F(LoopTest, ReturnsTheScriptResultOnlyAfterTheScriptThreadEnded) {
  std::atomic<bool> bodyEnded{false};
  std::atomic<bool> bodyOnMain{true};
  int rc = MessageLoop([&] {
    bodyOnMain = IsMainThread();
    for (int i = 0; i < 3; ++i) Settle();  // the loop keeps passing while the body runs
    bodyEnded = true;
    return 7;
  });
  EXPECT_EQ(rc, 7);
  EXPECT_TRUE(bodyEnded);
  EXPECT_FALSE(bodyOnMain);
  EXPECT_GE(displays.Passes(), 6);
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
  const auto unknown = static_cast<WindowRequest>(17);
  ASSERT_TRUE(SetRequestHandler(WindowRequest::kOpen, AddHandler));
  ASSERT_TRUE(SetRequestHandler(WindowRequest::kClose, FiveHandler));
  EXPECT_FALSE(SetRequestHandler(unknown, FiveHandler));
  // Without a running loop the request runs where it is asked.
  EXPECT_EQ(RunWindowRequest(WindowRequest::kOpen, 1, 2), 3);
  EXPECT_TRUE(handlerOnMain);
  int fromScript = 0, closeResult = -1, unknownResult = -1, noHandler = -1;
  std::atomic<int> fromMain{0};
  bool onMain = false;
  MessageLoop([&] {
    handlerOnMain = false;
    fromScript = RunWindowRequest(WindowRequest::kOpen, 40, 2);
    onMain = handlerOnMain;
    closeResult = RunWindowRequest(WindowRequest::kClose);  // only kOpen and kTrayIcon pass theirs
    unknownResult = RunWindowRequest(unknown, 1);
    noHandler = RunWindowRequest(WindowRequest::kTrayIcon, 1);
    // Asked for on the main thread while the loop runs: done there at once, never forwarded to
    // itself.
    ws.Inject([&] { fromMain = RunWindowRequest(WindowRequest::kOpen, 5, 6); });
    Settle();
    return 0;
  });
  EXPECT_EQ(fromScript, 42);
  EXPECT_TRUE(onMain);
  EXPECT_EQ(closeResult, 0);
  EXPECT_EQ(unknownResult, 0);
  EXPECT_EQ(noHandler, 0);
  EXPECT_EQ(fromMain, 11);
  SetRequestHandler(WindowRequest::kOpen, nullptr);
  SetRequestHandler(WindowRequest::kClose, nullptr);
}

// Each of these used to block for ever: a pass awaited with no loop, or by the main thread itself.
TEST_F(LoopTest, CallsThatWouldWaitForThemselvesAreRefused) {
  EXPECT_EQ(WaitMainLoopPass(), ERR_WRONGUSAGE);
  std::atomic<int> onMain{-1};
  int nested = -1;
  int rc = MessageLoop([&] {
    ws.Inject([&] { onMain = WaitMainLoopPass(); });
    Settle();
    nested = MessageLoop([] { return 0; });
    return 5;
  });
  EXPECT_EQ(rc, 5);
  EXPECT_EQ(onMain, ERR_WRONGUSAGE);
  EXPECT_EQ(nested, ERR_WRONGUSAGE);
}

TEST_F(LoopTest, PointerMoveMakesOnePassWithTheMovedFlag) {
  int atFirstPoll = -1, beforeNextPoll = -1, afterMove = -1, stillAfter = -1;
  MessageLoop([&] {
    ws.MovePointer(5, 5);
    clock.Advance(20ms);  // the first poll only learns where the pointer is
    Settle();
    atFirstPoll = displays.PointerPasses();
    ws.MovePointer(10, 20);
    clock.Advance(19ms);
    Settle();
    beforeNextPoll = displays.PointerPasses();
    clock.Advance(1ms);  // the poll at 40 ms sees the move
    Settle();
    afterMove = displays.PointerPasses();
    clock.Advance(100ms);  // the pointer rests
    Settle();
    stillAfter = displays.PointerPasses();
    return 0;
  });
  EXPECT_EQ(atFirstPoll, 0);
  EXPECT_EQ(beforeNextPoll, 0);
  EXPECT_EQ(afterMove, 1);
  EXPECT_EQ(stillAfter, 1);
}

namespace {
std::atomic<int> breaks{0};
void CountBreak(void*) { ++breaks; }
}  // namespace

TEST_F(LoopTest, QuitConditionReachesTheScriptAndBreaksAWait) {
  breaks = 0;
  SetBreakHandler(CountBreak, nullptr);
  ASSERT_TRUE(SetPlatformAttr(PlatformAttr::kQuitOnCtrlC, 0));
  EXPECT_FALSE(SetPlatformAttr(static_cast<PlatformAttr>(11), 1));
  int first = -1, waited = -1, after = -1;
  int64_t waitedMs = -1;
  MessageLoop([&] {
    first = SyncWindowStates();
    ws.Inject([&] { displays.quit = true; });
    {
      Watchdog dog([&] { clock.Advance(5000ms); });
      waited = WaitTimeQueued(5000);
    }
    waitedMs = ElapsedMs();
    after = SyncWindowStates();
    return 0;
  });
  EXPECT_EQ(first, 0);
  EXPECT_EQ(waited, ERR_USERABORT);
  EXPECT_EQ(waitedMs, 0);  // broken off, not waited out
  EXPECT_EQ(after, ERR_USERABORT);
  EXPECT_GE(breaks, 1);
  EXPECT_GT(displays.syncs, 0);
  EXPECT_EQ(displays.ctrlC, 0);  // the switch reaches the displays
  SetBreakHandler(nullptr, nullptr);
}

// The script's line hook calls SyncWindowStates at every new line: it copies only what a pass
// or a mark left since its last run, and a quit request stays seen once made.
TEST_F(LoopTest, SyncWindowStatesTakesOverOnlyWhatWasGathered) {
  breaks = 0;
  SetBreakHandler(CountBreak, nullptr);
  int results[6] = {-1, -1, -1, -1, -1, -1};
  int syncs[5] = {};
  MessageLoop([&] {
    results[0] = SyncWindowStates();  // the new display host's states
    syncs[0] = displays.syncs;
    for (int i = 0; i < 1000; ++i) SyncWindowStates();
    syncs[1] = displays.syncs;
    Settle();
    results[1] = SyncWindowStates();
    results[2] = SyncWindowStates();
    syncs[2] = displays.syncs;
    MarkWindowStatesGathered();
    results[3] = SyncWindowStates();
    syncs[3] = displays.syncs;
    ws.Inject([&] { displays.quit = true; });
    Settle();
    results[4] = SyncWindowStates();
    results[5] = SyncWindowStates();
    syncs[4] = displays.syncs;
    return 0;
  });
  EXPECT_EQ(syncs[0], 1);
  EXPECT_EQ(syncs[1], 1);  // nothing gathered: no copy
  EXPECT_EQ(syncs[2], 2);  // one copy for the passes before it
  EXPECT_EQ(syncs[3], 3);
  EXPECT_EQ(syncs[4], 5);  // the quit request is taken over at every call
  EXPECT_EQ(results[0] | results[1] | results[2] | results[3], 0);
  EXPECT_EQ(results[4], ERR_USERABORT);
  EXPECT_EQ(results[5], ERR_USERABORT);
  EXPECT_EQ(breaks, 2);
  SetBreakHandler(nullptr, nullptr);
}

TEST_F(LoopTest, WaitTimeQueuedLastsItsTimeOnThePlatformClock) {
  int rc = -1;
  int64_t waited = -1;
  std::atomic<bool> returned{false};
  MessageLoop([&] {
    // Another thread moves the clock a millisecond at a time and lets the loop pass after each.
    std::thread driver([&] {
      for (int i = 0; i < 10000 && !returned; ++i) {
        clock.Advance(1ms);
        Settle();
      }
    });
    int64_t t0 = ElapsedMs();
    rc = WaitTimeQueued(120);
    waited = ElapsedMs() - t0;
    returned = true;
    driver.join();
    return 0;
  });
  EXPECT_EQ(rc, 0);
  EXPECT_GE(waited, 120);
  EXPECT_LT(waited, 10000);
}

// Each signal that ends a run asks the script to quit, a second one too (the process lives on
// to shut down), and so does one that comes after shutdown, before the next start.
TEST_F(RealClockLoopTest, TerminationSignalsAskTheScriptToQuit) {
  for (int signal : {SIGHUP, SIGINT, SIGTERM, SIGQUIT}) {
    breaks = 0;
    SetBreakHandler(CountBreak, nullptr);
    EXPECT_FALSE(QuitRequested());
    int quit = -1;
    bool released = false;
    MessageLoop([&] {
      Watchdog dog([] { WakeMainLoop(); });
      kill(getpid(), signal);
      // The signal's watcher asks for the quit and wakes the loop.
      while ((quit = SyncWindowStates()) == 0 && !dog.Fired()) WaitMainLoopPass();
      released = dog.Fired();
      kill(getpid(), signal);
      return 0;
    });
    EXPECT_EQ(quit, ERR_USERABORT) << signal;
    EXPECT_TRUE(QuitRequested()) << signal;
    EXPECT_FALSE(released) << signal;
    EXPECT_GE(breaks, 1) << signal;
    SetBreakHandler(nullptr, nullptr);
    ShutdownPlatform();
    kill(getpid(), signal);  // absorbed: it belongs to no run
    ASSERT_EQ(InitPlatform(), 0);
    SetWindowSystem(&ws);
    SetDisplayHost(&displays);
  }
  EXPECT_FALSE(QuitRequested());
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
    SetSignal(audio.signal);
    Settle();
    return 0;
  });
  EXPECT_EQ(audio.events, 1);
  EXPECT_TRUE(audio.onMain);
  SetAudioHost(nullptr);
}

// The script's intervals, with the clock stepped 10 ms at a time.
class TimerQueueTest : public LoopTest {
 protected:
  // Runs what is due now, then steps the clock of a running loop up to `to`, and notes the times
  // at which the owner's interval was reported. Script thread.
  void StepTo(int64_t to, qvTimerOwner owner, std::vector<int64_t>* reports) {
    for (int64_t step = 0;; step = std::min<int64_t>(10, to - ElapsedMs())) {
      clock.Advance(std::chrono::milliseconds(step));
      Settle();
      for (const Report& r : TakeAll()) {
        if (r.kind == TimerKind::kInterval && r.owner == owner) reports->push_back(ElapsedMs());
      }
      if (ElapsedMs() >= to) return;
    }
  }
};

TEST_F(TimerQueueTest, IntervalAndTimeoutTogetherForOneSecond) {
  int owned = 0;
  const qvTimerOwner interval{1, nullptr}, timeout{0, &owned};
  std::vector<int64_t> intervalAt, timeoutAt;
  int others = 0;
  bool timeoutGone = false;
  int rc = MessageLoop([&] {
    EXPECT_EQ(SetTimerQueueTimer(TimerOp::kSetInterval, interval, 50), 0);
    EXPECT_EQ(SetTimerQueueTimer(TimerOp::kSetTimeout, timeout, 230), 0);
    for (int64_t t = 0; t <= 1000; t += 10) {
      clock.Advance(t == 0 ? 0ms : 10ms);
      Settle();
      for (const Report& r : TakeAll()) {
        if (r.kind == TimerKind::kInterval && r.owner == interval)
          intervalAt.push_back(t);
        else if (r.kind == TimerKind::kTimeout && r.owner == timeout)
          timeoutAt.push_back(t);
        else
          ++others;
      }
    }
    timeoutGone = FindTimerByOwner(TimerKind::kTimeout, timeout, nullptr) == nullptr;
    EXPECT_EQ(SetTimerQueueTimer(TimerOp::kClearInterval, interval, 0), 0);
    EXPECT_EQ(SetTimerQueueTimer(TimerOp::kClearTimeout, timeout, 0), 0);  // already gone
    return 3;
  });
  EXPECT_EQ(rc, 3);
  EXPECT_EQ(intervalAt, Range(0, 1000, 50));  // the first expiry at once
  EXPECT_EQ(timeoutAt, std::vector<int64_t>{230});
  EXPECT_EQ(others, 0);
  EXPECT_TRUE(timeoutGone);
}

TEST_F(TimerQueueTest, ChangeIntervalRestartsAtOnceAndClearStopsReports) {
  const qvTimerOwner owner{5, nullptr};
  std::vector<int64_t> beforeChange, afterChange, afterClear;
  int changed = -1;
  MessageLoop([&] {
    SetTimerQueueTimer(TimerOp::kSetInterval, owner, 1000);
    StepTo(300, owner, &beforeChange);
    changed = SetTimerQueueTimer(TimerOp::kChangeInterval, owner, 40);
    StepTo(500, owner, &afterChange);
    SetTimerQueueTimer(TimerOp::kClearInterval, owner, 0);
    StepTo(700, owner, &afterClear);
    return 0;
  });
  EXPECT_EQ(beforeChange, std::vector<int64_t>{0});
  EXPECT_EQ(changed, 0);
  EXPECT_EQ(afterChange, Range(300, 500, 40));
  EXPECT_TRUE(afterClear.empty());
}

// An interval of no period fires once; changing it used to give ERR_MEM and drop the interval,
// because its timer had already left the service.
TEST_F(TimerQueueTest, IntervalOfNoPeriodFiresOnceAndCanBeChanged) {
  const qvTimerOwner owner{6, nullptr};
  std::vector<int64_t> once, afterChange;
  int changed = -1;
  bool listed = false;
  MessageLoop([&] {
    SetTimerQueueTimer(TimerOp::kSetInterval, owner, 0);
    StepTo(100, owner, &once);
    changed = SetTimerQueueTimer(TimerOp::kChangeInterval, owner, 30);
    StepTo(200, owner, &afterChange);
    listed = FindTimerByOwner(TimerKind::kInterval, owner, nullptr) != nullptr;
    return 0;
  });
  EXPECT_EQ(once, std::vector<int64_t>{0});
  EXPECT_EQ(changed, 0);
  EXPECT_EQ(afterChange, Range(100, 200, 30));
  EXPECT_TRUE(listed);
}

TEST_F(TimerQueueTest, OperationsWithoutAMatchingTimer) {
  const qvTimerOwner owner{7, nullptr};
  EXPECT_EQ(SetTimerQueueTimer(TimerOp::kClearInterval, owner, 0), 0);
  EXPECT_EQ(SetTimerQueueTimer(TimerOp::kChangeInterval, owner, 10), 0);
  EXPECT_EQ(FindTimerByOwner(TimerKind::kInterval, owner, nullptr), nullptr);
  EXPECT_EQ(SetTimerQueueTimer(static_cast<TimerOp>(9), owner, 10), ERR_WRONGUSAGE);
  TimerKind kind = TimerKind::kInterval;
  qvTimerOwner who{};
  EXPECT_EQ(TakeFiredTimer(nullptr, &kind, &who), nullptr);
  EXPECT_EQ(kind, TimerKind::kNone);
  ShutdownPlatform();
  EXPECT_EQ(SetTimerQueueTimer(TimerOp::kSetTimeout, owner, 10), ERR_MEM);  // no timer service
}

// Real wake-ups: with tolerances loose enough for a busy two-core machine.

TEST_F(RealClockLoopTest, InjectedEventWakesAnIdleLoopAtOnce) {
  double latency = -1;
  MessageLoop([&] {
    DelayMs(100);  // let the loop fall asleep
    std::atomic<double> ran{-1};
    double sent = NowMs();
    ws.Inject([&] { ran = NowMs(); });
    while (ran.load() < 0 && NowMs() - sent < 5000) DelayMs(1);
    latency = ran.load() - sent;
    return 0;
  });
  EXPECT_GE(latency, 0);
  EXPECT_LT(latency, 250);  // a few ms normally
}

TEST_F(RealClockLoopTest, IdleLoopSleeps) {
  double cpuMs = -1;
  int passes = -1;
  MessageLoop([&] {
    DelayMs(50);
    rusage before, after;
    getrusage(RUSAGE_SELF, &before);
    int p0 = displays.Passes();
    DelayMs(500);
    getrusage(RUSAGE_SELF, &after);
    passes = displays.Passes() - p0;
    auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    cpuMs = ms(after.ru_utime) + ms(after.ru_stime) - ms(before.ru_utime) - ms(before.ru_stime);
    return 0;
  });
  EXPECT_EQ(passes, 0);  // no timers, no input: no pass at all
  EXPECT_GE(cpuMs, 0);
  EXPECT_LT(cpuMs, 50);  // the 20 ms pointer poll is all that runs
}

TEST_F(RealClockLoopTest, TimerThreadEndsAWaitInTime) {
  int rc = -1;
  double waited = -1;
  MessageLoop([&] {
    double t0 = NowMs();
    rc = WaitTimeQueued(60);
    waited = NowMs() - t0;
    return 0;
  });
  EXPECT_EQ(rc, 0);
  EXPECT_GE(waited, 59);
  EXPECT_LT(waited, 2000);
}
