#include "platform/os/timer_service.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "tests/platform/fixture.h"

using namespace qv;
using namespace std::chrono_literals;

namespace {

// A timer service on a clock of its own, run by hand.
class TimerServiceTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(service.Start()); }
  ManualClock clock;
  TimerService service{&clock};
  int64_t NowMs() { return clock.NowMicros() / 1000; }
};

struct SelfDeleting {
  TimerService* service;
  int calls = 0;
};

void DeleteMyself(uint64_t id, void* arg) {
  auto* s = static_cast<SelfDeleting*>(arg);
  ++s->calls;
  s->service->Delete(id);
}

void Count(uint64_t, void* arg) { ++*static_cast<int*>(arg); }

}  // namespace

TEST_F(TimerServiceTest, TimerDeletedFromItsOwnCallbackFiresOnce) {
  SelfDeleting s{&service};
  uint64_t id = service.Add(0, 5, DeleteMyself, &s);
  clock.Advance(100ms);
  EXPECT_EQ(s.calls, 1);
  EXPECT_FALSE(service.Change(id, 0, 5));  // it is gone
}

TEST_F(TimerServiceTest, ChangeMovesAndDeleteCancels) {
  int moved = 0, cancelled = 0;
  uint64_t a = service.Add(20, 0, Count, &moved);
  uint64_t b = service.Add(20, 0, Count, &cancelled);
  clock.Advance(10ms);
  EXPECT_TRUE(service.Change(a, 150, 0));  // due at 160 now
  service.Delete(b);
  clock.Advance(149ms);
  EXPECT_EQ(moved, 0);
  clock.Advance(1ms);
  EXPECT_EQ(moved, 1);
  EXPECT_EQ(cancelled, 0);
  EXPECT_FALSE(service.Change(a, 10, 0));  // a one-shot that fired is gone
  EXPECT_EQ(service.NextDueMicros(), INT64_MAX);
}

namespace {
ManualClock* stallClock;
void Record(uint64_t, void* arg) {
  auto* r = static_cast<std::vector<int64_t>*>(arg);
  r->push_back(stallClock->NowMicros() / 1000);
}
// The service's thread held up for 100 ms.
void Stall(uint64_t, void*) { stallClock->Skip(100ms); }
}  // namespace

TEST_F(TimerServiceTest, PeriodsMissedDuringAStallAreSkippedAndTheGridKept) {
  stallClock = &clock;
  std::vector<int64_t> times;
  service.Add(0, 10, Record, &times);
  service.Add(35, 0, Stall, nullptr);
  clock.Advance(200ms);
  // One late call at 135 for the periods 40..130, then on the 10 ms grid again; catching up would
  // have called 21 times.
  EXPECT_EQ(times, (std::vector<int64_t>{0, 10, 20, 30, 135, 140, 150, 160, 170, 180, 190, 200}));
}

TEST_F(TimerServiceTest, NegativeTimesMeanAtOnceAndOnce) {
  int calls = 0;
  service.Add(-5, -10, Count, &calls);
  clock.Advance(0ms);
  EXPECT_EQ(calls, 1);
  clock.Advance(1000ms);
  EXPECT_EQ(calls, 1);
}

namespace {
struct Chain {
  TimerService* service;
  std::vector<int64_t>* times;
  int left;
};
void AddNext(uint64_t, void* arg) {
  auto* c = static_cast<Chain*>(arg);
  c->times->push_back(stallClock->NowMicros() / 1000);
  if (--c->left > 0) c->service->Add(7, 0, AddNext, c);
}
}  // namespace

// A callback's new timer comes due inside the same Advance and runs at its own time.
TEST_F(TimerServiceTest, TimersAddedByCallbacksRunInTheSameAdvance) {
  stallClock = &clock;
  std::vector<int64_t> times;
  Chain chain{&service, &times, 4};
  service.Add(3, 0, AddNext, &chain);
  clock.Advance(30ms);
  EXPECT_EQ(times, (std::vector<int64_t>{3, 10, 17, 24}));
  EXPECT_EQ(NowMs(), 30);
}

TEST_F(TimerServiceTest, StopDetachesFromTheClockAndDropsTheTimers) {
  int calls = 0;
  service.Add(10, 10, Count, &calls);
  service.Stop();
  clock.Advance(100ms);
  EXPECT_EQ(calls, 0);
  ASSERT_TRUE(service.Start());
  EXPECT_EQ(service.NextDueMicros(), INT64_MAX);
}

namespace {
struct Fired {
  std::atomic<double> at{-1};
  std::thread::id thread;
};
void Note(uint64_t, void* arg) {
  auto* f = static_cast<Fired*>(arg);
  f->thread = std::this_thread::get_id();
  f->at = ::NowMs();
}
}  // namespace

// On the system clock the service's own thread sleeps until the earliest deadline, and a new
// earlier deadline wakes it.
TEST(TimerServiceSmoke, ThreadWakesForAnEarlierDeadline) {
  TimerService service(SystemClock());
  ASSERT_TRUE(service.Start());
  int late = 0;
  service.Add(5000, 0, Count, &late);  // the thread now sleeps for five seconds
  Fired fired;
  double t0 = ::NowMs();
  service.Add(30, 0, Note, &fired);
  while (fired.at.load() < 0 && ::NowMs() - t0 < 5000) DelayMs(1);
  EXPECT_GE(fired.at.load() - t0, 29);
  EXPECT_LT(fired.at.load() - t0, 1000);  // loose: CI machines may be busy
  EXPECT_NE(fired.thread, std::this_thread::get_id());
  service.Stop();
  EXPECT_EQ(late, 0);
}
