#include <atomic>

#include "platform/os/timer_service.h"
#include "tests/platform/fixture.h"

using namespace qv;

namespace {

struct SelfDeleting {
  TimerService* service;
  std::atomic<int> calls{0};
};

void DeleteMyself(uint64_t id, void* arg) {
  auto* s = static_cast<SelfDeleting*>(arg);
  ++s->calls;
  s->service->Delete(id);
}

void Count(uint64_t, void* arg) { ++*static_cast<std::atomic<int>*>(arg); }

}  // namespace

TEST(TimerService, TimerDeletedFromItsOwnCallbackFiresOnce) {
  TimerService service;
  ASSERT_TRUE(service.Start());
  SelfDeleting s{&service};
  uint64_t id = service.Add(0, 5, DeleteMyself, &s);
  DelayMs(100);
  EXPECT_EQ(s.calls, 1);
  EXPECT_FALSE(service.Change(id, 0, 5));  // it is gone
}

TEST(TimerService, ChangeMovesAndDeleteCancels) {
  TimerService service;
  ASSERT_TRUE(service.Start());
  std::atomic<int> moved{0}, cancelled{0};
  uint64_t a = service.Add(20, 0, Count, &moved);
  uint64_t b = service.Add(20, 0, Count, &cancelled);
  EXPECT_TRUE(service.Change(a, 150, 0));
  service.Delete(b);
  DelayMs(80);
  EXPECT_EQ(moved, 0);
  DelayMs(150);
  EXPECT_EQ(moved, 1);
  EXPECT_EQ(cancelled, 0);
  EXPECT_FALSE(service.Change(a, 10, 0));  // a one-shot that fired is gone
}

namespace {
void Stall(uint64_t, void*) { DelayMs(100); }
}  // namespace

TEST(TimerService, PeriodsMissedDuringAStallAreSkipped) {
  TimerService service;
  ASSERT_TRUE(service.Start());
  std::atomic<int> calls{0};
  service.Add(0, 10, Count, &calls);
  service.Add(30, 0, Stall, nullptr);
  DelayMs(205);
  // About 11 (some 10 periods fall into the stall); catching up would give about 21.
  EXPECT_GE(calls, 6);
  EXPECT_LE(calls, 15);
}
