#include <atomic>
#include <cstring>
#include <ctime>
#include <regex>
#include <thread>

#include "base/errors.h"
#include "tests/platform/fixture.h"

using namespace qv;

TEST(Sync, LockIsRecursive) {
  qvLock* lock = CreateLock();
  ASSERT_NE(lock, nullptr);
  EnterLock(lock);
  EnterLock(lock);
  LeaveLock(lock);
  std::atomic<bool> entered{false};
  std::thread other([&] {
    EnterLock(lock);
    entered = true;
    LeaveLock(lock);
  });
  DelayMs(30);
  EXPECT_FALSE(entered);  // still held once
  LeaveLock(lock);
  other.join();
  EXPECT_TRUE(entered);
  DeleteLock(lock);
}

TEST(Sync, SignalIsAutoResetAndWaitAnyTakesTheLowestSlot) {
  qvSignal* s[3] = {CreateSignal(), CreateSignal(), CreateSignal()};
  EXPECT_EQ(WaitAnySignal(s, 3, 0), kWaitTimedOut);
  SetSignal(s[2]);
  SetSignal(s[1]);
  SetSignal(s[1]);  // coalesced
  EXPECT_EQ(WaitAnySignal(s, 3, 0), 1);
  EXPECT_EQ(WaitAnySignal(s, 3, 0), 2);
  EXPECT_EQ(WaitAnySignal(s, 3, 0), kWaitTimedOut);
  double t0 = NowMs();
  EXPECT_EQ(WaitAnySignal(s, 3, 60), kWaitTimedOut);
  EXPECT_GE(NowMs() - t0, 55);
  for (qvSignal* x : s) DeleteSignal(x);
}

// A wait that cannot be made fails at once, whatever its time-out, instead of waiting for ever.
TEST(Sync, WaitsThatCannotBeMadeFailAtOnce) {
  qvSignal* set[kMaxWaitSignals + 1];
  for (qvSignal*& x : set) {
    x = CreateSignal();
    ASSERT_NE(x, nullptr);
    SetSignal(x);
  }
  qvSignal* withNull[2] = {set[0], nullptr};
  struct Case {
    const char* what;
    qvSignal* const* signals;
    int count;
  } cases[] = {
      {"no signals", set, 0},
      {"a negative count", set, -1},
      {"one more than the most", set, kMaxWaitSignals + 1},
      {"no array", nullptr, 1},
      {"a null signal", withNull, 2},
  };
  for (const Case& c : cases)
    EXPECT_EQ(WaitAnySignal(c.signals, c.count, -1), kWaitFailed) << c.what;
  EXPECT_FALSE(WaitSignal(nullptr));
  SetSignal(nullptr);                                     // ignored
  EXPECT_EQ(WaitAnySignal(set, kMaxWaitSignals, -1), 0);  // the most it takes
  for (qvSignal* x : set) DeleteSignal(x);
}

TEST(Sync, SignalReleasesOneWaiterPerSet) {
  qvSignal* s = CreateSignal();
  std::atomic<int> woken{0};
  std::thread a([&] {
    WaitSignal(s);
    ++woken;
  });
  std::thread b([&] {
    WaitSignal(s);
    ++woken;
  });
  DelayMs(30);
  SetSignal(s);
  DelayMs(50);
  EXPECT_EQ(woken, 1);
  SetSignal(s);
  a.join();
  b.join();
  EXPECT_EQ(woken, 2);
  DeleteSignal(s);
}

namespace {

struct Worker {
  int failWith = 0;
  std::atomic<int> loops{0};
  std::atomic<bool> sawQuitTwice{false};
};

void WorkerEntry(qvTask* task) {
  if (int rc = CreateTaskQuitEvent(task)) return ReportTaskResult(task, rc);
  auto* w = static_cast<Worker*>(GetTaskData(task));
  if (w->failWith) return ReportTaskResult(task, w->failWith);
  SignalTaskStarted(task);
  while (!TaskQuitRequested(task)) {
    ++w->loops;
    DelayMs(1);
  }
  w->sawQuitTwice = TaskQuitRequested(task);  // testing does not consume the request
  ReportTaskResult(task, 0);
}

void QueueEntry(qvTask* task) {
  CreateTaskQuitEvent(task);
  SignalTaskStarted(task);
  auto* pair = static_cast<std::pair<qvSignal*, qvLock*>*>(GetTaskData(task));
  EnterLock(pair->second);
  while (WaitQueueSignal(pair->first, pair->second, task) == QueueWake::kQueue) {
  }
  LeaveLock(pair->second);
  ReportTaskResult(task, 0);
}

}  // namespace

TEST(Tasks, StartQuitAndStickyRequest) {
  Worker w;
  qvTask* task = CreateTask("qv test", WorkerEntry, &w);
  ASSERT_NE(task, nullptr);
  DelayMs(20);
  EXPECT_GT(w.loops, 0);
  EndTask(task);
  EXPECT_TRUE(w.sawQuitTwice);
}

TEST(Tasks, FailedStartGivesNullAfterTheThreadEnded) {
  Worker w;
  w.failWith = ERR_THREAD;
  EXPECT_EQ(CreateTask("qv test", WorkerEntry, &w), nullptr);
  EXPECT_EQ(w.loops, 0);
}

namespace {
void Silent(qvTask*) {}
}  // namespace

// An entry that ends without starting or reporting used to leave CreateTask waiting for ever.
TEST(Tasks, EntryThatEndsWithoutAWordFailsTheStart) {
  EXPECT_EQ(CreateTask("qv silent", Silent, nullptr), nullptr);
}

TEST(Tasks, WaitQueueSignalEndsOnQuit) {
  qvSignal* queue = CreateSignal();
  qvLock* lock = CreateLock();
  std::pair<qvSignal*, qvLock*> data{queue, lock};
  qvTask* task = CreateTask("qv queue", QueueEntry, &data);
  ASSERT_NE(task, nullptr);
  SetSignal(queue);
  DelayMs(10);
  EnterLock(lock);  // the worker does not hold the lock while it waits
  LeaveLock(lock);
  EndTask(task);  // returns only when the worker saw the quit
  DeleteLock(lock);
  DeleteSignal(queue);
}

TEST(Time, SysTimeReadsThePlatformClock) {
  ManualClock clock(int64_t{1234567} * 1000000 + 999999);
  SetPlatformClock(&clock);
  qvTimeVal t;
  GetSysTime(&t);
  EXPECT_EQ(t.seconds, 1234567u);
  EXPECT_EQ(t.micros, 999999u);
  clock.Advance(std::chrono::microseconds(2));
  GetSysTime(&t);
  EXPECT_EQ(t.seconds, 1234568u);
  EXPECT_EQ(t.micros, 1u);
  EXPECT_DOUBLE_EQ(GetUnixTimeFloat(), 1234568.000001);
  SetPlatformClock(nullptr);
  EXPECT_EQ(PlatformClock(), SystemClock());
}

TEST(Time, SysTimeFollowsTheWallClockAndNeverGoesBack) {
  qvTimeVal a, b;
  GetSysTime(&a);
  EXPECT_NEAR(static_cast<double>(a.seconds), static_cast<double>(time(nullptr)), 2.0);
  EXPECT_LT(a.micros, 1000000u);
  for (int i = 0; i < 1000; ++i) {
    GetSysTime(&b);
    EXPECT_GE(CmpTimeVal(&b, &a), 0);
    a = b;
  }
  EXPECT_NEAR(GetUnixTimeFloat(), a.seconds + a.micros / 1e6, 0.5);
}

TEST(Time, DateAndTimeTexts) {
  char b1[64] = "untouched", b2[64] = "untouched";
  EXPECT_FALSE(GetDateTimeText(static_cast<DateText>(7), b1, b2));
  EXPECT_STREQ(b1, "untouched");
  EXPECT_STREQ(b2, "untouched");
  EXPECT_TRUE(GetDateTimeText(DateText::kDateAndTime, b1, b2));
  EXPECT_TRUE(std::regex_match(b1, std::regex(R"(\d\d-\d\d-\d\d)"))) << b1;
  EXPECT_TRUE(std::regex_match(b2, std::regex(R"(\d\d:\d\d:\d\d)"))) << b2;
  EXPECT_TRUE(GetDateTimeText(DateText::kWeekday, b1, b2));
  EXPECT_GT(std::strlen(b1), 0u);
}
