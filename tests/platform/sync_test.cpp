#include <atomic>
#include <cstring>
#include <ctime>
#include <regex>
#include <thread>

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
  EXPECT_EQ(WaitAnySignal(s, 3, 0), -1);
  SetSignal(s[2]);
  SetSignal(s[1]);
  SetSignal(s[1]);  // coalesced
  EXPECT_EQ(WaitAnySignal(s, 3, 0), 1);
  EXPECT_EQ(WaitAnySignal(s, 3, 0), 2);
  EXPECT_EQ(WaitAnySignal(s, 3, 0), -1);
  double t0 = NowMs();
  EXPECT_EQ(WaitAnySignal(s, 3, 60), -1);
  EXPECT_GE(NowMs() - t0, 55);
  for (qvSignal* x : s) DeleteSignal(x);
}

TEST(Sync, SignalReleasesOneWaiterPerSet) {
  qvSignal* s = CreateSignal();
  std::atomic<int> woken{0};
  std::thread a([&] { WaitSignal(s); ++woken; });
  std::thread b([&] { WaitSignal(s); ++woken; });
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
  if (!CreateTaskQuitEvent(task)) return ReportTaskResult(task, 1290);
  auto* w = static_cast<Worker*>(GetTaskData(task));
  if (w->failWith) return ReportTaskResult(task, w->failWith);
  SignalTaskStarted(task);
  while (!TaskQuitRequested(task)) {
    ++w->loops;
    DelayMs(1);
  }
  w->sawQuitTwice = TaskQuitRequested(task) == 1;  // testing does not consume the request
  ReportTaskResult(task, 0);
}

void QueueEntry(qvTask* task) {
  CreateTaskQuitEvent(task);
  SignalTaskStarted(task);
  auto* pair = static_cast<std::pair<qvSignal*, qvLock*>*>(GetTaskData(task));
  EnterLock(pair->second);
  while (WaitQueueSignal(pair->first, pair->second, task) == 0) {
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
  w.failWith = 1287;
  EXPECT_EQ(CreateTask("qv test", WorkerEntry, &w), nullptr);
  EXPECT_EQ(w.loops, 0);
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
  GetDateTimeText(7, b1, b2);
  EXPECT_STREQ(b1, "untouched");
  GetDateTimeText(1, b1, b2);
  EXPECT_TRUE(std::regex_match(b1, std::regex(R"(\d\d-\d\d-\d\d)"))) << b1;
  EXPECT_TRUE(std::regex_match(b2, std::regex(R"(\d\d:\d\d:\d\d)"))) << b2;
  GetDateTimeText(3, b1, b2);
  EXPECT_GT(std::strlen(b1), 0u);
}
