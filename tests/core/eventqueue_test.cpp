#include "core/eventqueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

using namespace qv;

namespace {

std::atomic<uint64_t> gFakeMicros{0};

qvTimeVal FakeClock() {
  uint64_t us = gFakeMicros.load();
  return {static_cast<uint32_t>(us / 1000000), static_cast<uint32_t>(us % 1000000)};
}

// A heap block such as producers post with events of the core types.
void* Block(int32_t value) {
  auto* p = static_cast<int32_t*>(std::malloc(sizeof(int32_t)));
  *p = value;
  return p;
}

int32_t BlockValue(const qvEvent& e) { return *static_cast<int32_t*>(e.data); }

int gDisplayA, gDisplayB;  // stand-ins for display records

}  // namespace

TEST(EventQueue, FullQueueDropsAndFreesTheEvent) {
  qvEventQueue q;
  for (int i = 0; i < kEventQueueSize; ++i) q.Post(&gDisplayA, 1, i, 0, 0, Block(i));
  EXPECT_EQ(q.Count(), 256);
  // The 257th event is dropped and its block freed (the leak checker watches this).
  q.Post(&gDisplayA, 1, 999, 0, 0, Block(999));
  EXPECT_EQ(q.Count(), 256);
  // A custom type's data belongs to its poster: a dropped one is left alone.
  int32_t custom = 5;
  q.Post(nullptr, kFirstCustomEventType, 0, 0, 0, &custom);
  EXPECT_EQ(q.Count(), 256);
  std::lock_guard<std::recursive_mutex> guard(q.Lock());
  qvEvent e;
  EXPECT_EQ(q.Fetch(255, &e, false), 256);
  EXPECT_EQ(e.x, 255);
  EXPECT_EQ(BlockValue(e), 255);
  EXPECT_EQ(q.Fetch(256, &e, false), 0);
  EXPECT_EQ(q.Fetch(-1, &e, false), 0);
}  // the destructor frees the 256 queued blocks

TEST(EventQueue, RemoveCompactsAndClearsVacatedSlots) {
  qvEventQueue q;
  for (int i = 0; i < 3; ++i) q.Post(&gDisplayA, 1, i, 0, 0, Block(i));
  q.Remove(0, true);
  ASSERT_EQ(q.Count(), 2);
  {
    std::lock_guard<std::recursive_mutex> guard(q.Lock());
    qvEvent e;
    ASSERT_EQ(q.Fetch(0, &e, false), 1);
    EXPECT_EQ(BlockValue(e), 1);
    ASSERT_EQ(q.Fetch(1, &e, false), 2);
    EXPECT_EQ(BlockValue(e), 2);
    EXPECT_EQ(q.Fetch(2, &e, false), 0);
  }
  // Removing up to 255 frees only the two events still queued: slot 2 no longer holds a
  // copy of the pointer that moved to slot 1 (a second free would trip the sanitizer).
  q.Remove(255, true);
  EXPECT_EQ(q.Count(), 0);

  for (int i = 0; i < 4; ++i) q.Post(&gDisplayA, 1, i, 0, 0, Block(i));
  q.Remove(1, true);
  EXPECT_EQ(q.Count(), 2);
  q.Remove(9, true);  // beyond the count: everything queued goes, nothing else is touched
  EXPECT_EQ(q.Count(), 0);
  q.Remove(-1, true);
  q.Remove(256, true);
  q.Remove(-2, true);
  EXPECT_EQ(q.Count(), 0);

  for (int i = 0; i < 5; ++i) q.Post(&gDisplayA, 1, i, 0, 0, Block(i));
  q.Remove(2, true);
  q.Post(&gDisplayA, 1, 9, 0, 0, Block(9));
  EXPECT_EQ(q.Count(), 3);
  q.Remove(-1, true);
  EXPECT_EQ(q.Count(), 0);
}

TEST(EventQueue, FetchWithClearHandsTheDataOver) {
  qvEventQueue q;
  q.Post(&gDisplayA, 1, 0, 0, 0, Block(7));
  void* taken;
  {
    std::lock_guard<std::recursive_mutex> guard(q.Lock());
    qvEvent e;
    ASSERT_EQ(q.Fetch(0, &e, true), 1);
    taken = e.data;
    ASSERT_EQ(q.Fetch(0, &e, false), 1);
    EXPECT_EQ(e.data, nullptr);
    q.Remove(0, false);
  }
  EXPECT_EQ(*static_cast<int32_t*>(taken), 7);
  std::free(taken);
}

TEST(EventQueue, FetchCopiesArgumentsByType) {
  qvEventQueue q;
  const int32_t types[] = {1, 2, 16, 3, 14, 4, 21, 30};
  for (int32_t t : types) q.Post(&gDisplayB, t, 11, 22, 33, nullptr);
  std::lock_guard<std::recursive_mutex> guard(q.Lock());
  struct Want {
    int32_t x, y, pressed, keyCode, qualifiers;
  } want[] = {{11, 22, 33, 0, 0}, {11, 22, 33, 0, 0}, {11, 22, 33, 0, 0}, {0, 0, 11, 22, 33},
              {11, 22, 0, 0, 0},  {0, 0, 0, 0, 0},    {0, 0, 0, 0, 0},    {0, 0, 0, 0, 0}};
  for (int i = 0; i < 8; ++i) {
    qvEvent e;
    std::memset(&e, 0x5A, sizeof e);
    ASSERT_EQ(q.Fetch(i, &e, false), i + 1);
    EXPECT_EQ(e.type, types[i]);
    EXPECT_EQ(e.display, &gDisplayB);
    EXPECT_EQ(e.x, want[i].x) << types[i];
    EXPECT_EQ(e.y, want[i].y) << types[i];
    EXPECT_EQ(e.pressed, want[i].pressed) << types[i];
    EXPECT_EQ(e.keyCode, want[i].keyCode) << types[i];
    EXPECT_EQ(e.qualifiers, want[i].qualifiers) << types[i];
  }
}

TEST(EventQueue, DropStaleRemovesOldEventsOnly) {
  gFakeMicros = 10000000;
  qvEventQueue q(FakeClock);
  q.Post(&gDisplayA, 1, 1, 0, 0, Block(1));
  gFakeMicros += 1500000;
  q.Post(&gDisplayA, 1, 2, 0, 0, Block(2));
  gFakeMicros += 100000;  // now the first is 1.6 s old, the second 0.1 s
  q.DropStale();
  ASSERT_EQ(q.Count(), 1);
  {
    std::lock_guard<std::recursive_mutex> guard(q.Lock());
    qvEvent e;
    q.Fetch(0, &e, false);
    EXPECT_EQ(e.x, 2);
  }
  // Exactly at the limit an event stays; a lower limit drops it.
  gFakeMicros += 1400000;
  q.DropStale();
  EXPECT_EQ(q.Count(), 1);
  q.SetStaleLimit(50);
  EXPECT_EQ(q.StaleLimit(), 50);
  q.DropStale();
  EXPECT_EQ(q.Count(), 0);
}

TEST(EventQueue, PurgeForgetsTheDisplay) {
  qvEventQueue q;
  q.Post(&gDisplayA, 1, 0, 0, 0, nullptr);
  q.Post(&gDisplayB, 1, 0, 0, 0, nullptr);
  q.Post(&gDisplayA, 3, 0, 0, 0, nullptr);
  q.Purge(&gDisplayA);
  EXPECT_EQ(q.Count(), 3);
  std::lock_guard<std::recursive_mutex> guard(q.Lock());
  qvEvent e;
  q.Fetch(0, &e, false);
  EXPECT_EQ(e.display, nullptr);
  q.Fetch(1, &e, false);
  EXPECT_EQ(e.display, &gDisplayB);
  q.Fetch(2, &e, false);
  EXPECT_EQ(e.display, nullptr);
  EXPECT_EQ(e.type, 3);
}

TEST(EventQueue, SizeEventsOfAChangingWindowAreNotQueued) {
  qvEventQueue q;
  q.SetWindowStateQuery([](void* display) { return display == &gDisplayA; });
  q.Post(&gDisplayA, kEventWindowSized, 0, 0, 0, Block(1));  // dropped, block freed
  q.Post(&gDisplayB, kEventWindowSized, 0, 0, 0, Block(2));
  q.Post(&gDisplayA, 4, 0, 0, 0, Block(3));
  EXPECT_EQ(q.Count(), 2);
}

// Producers on several threads while the script thread consumes: no event is seen twice or
// torn, the count never passes 256, and every block is freed exactly once (sanitizer build).
TEST(EventQueue, PostingFromManyThreads) {
  qvEventQueue q;
  constexpr int kThreads = 4;
  constexpr int kPerThread = 20000;
  std::atomic<int> running{kThreads};
  std::vector<std::thread> producers;
  for (int t = 0; t < kThreads; ++t) {
    producers.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        q.Post(&gDisplayA, 1, t, i, t * kPerThread + i, Block(t * kPerThread + i));
      }
      --running;
    });
  }
  std::vector<int> lastSeen(kThreads, -1);
  int consumed = 0;
  bool ordered = true, intact = true;
  auto drain = [&] {
    std::lock_guard<std::recursive_mutex> guard(q.Lock());
    int n = q.Count();
    EXPECT_LE(n, kEventQueueSize);
    for (int i = 0; i < n; ++i) {
      qvEvent e;
      q.Fetch(i, &e, true);
      intact &= BlockValue(e) == e.pressed && e.pressed == e.x * kPerThread + e.y;
      ordered &= e.y > lastSeen[e.x];
      lastSeen[e.x] = e.y;
      std::free(e.data);
      ++consumed;
    }
    if (n > 0) q.Remove(n - 1, false);
  };
  while (running > 0) drain();
  for (auto& p : producers) p.join();
  drain();
  EXPECT_TRUE(intact);
  EXPECT_TRUE(ordered);
  EXPECT_GT(consumed, 0);
  EXPECT_LE(consumed, kThreads * kPerThread);
  EXPECT_EQ(q.Count(), 0);
}

TEST(RuntimeBuffers, AllocateUseAndFree) {
  // Without a queue, posting only frees the event's block.
  PostEvent(&gDisplayA, 1, 0, 0, 0, Block(1));
  qvEvent e;
  EXPECT_EQ(FetchEvent(0, &e, false), 0);

  ASSERT_EQ(AllocRuntimeBuffers(), 0);
  ASSERT_NE(RuntimeEventQueue(), nullptr);
  EXPECT_EQ(RuntimeEventQueue()->StaleLimit(), kDefaultStaleLimitMs);
  EXPECT_STREQ(CurrentSourceBuffer(), "?");
  ASSERT_NE(RuntimeNameBuffer(), nullptr);
  EXPECT_STREQ(RuntimeNameBuffer(), "");
  RuntimeNameBuffer()[kRuntimeBufferSize - 1] = 'x';

  PostEvent(&gDisplayA, 1, 5, 0, 0, Block(1));
  PostEvent(&gDisplayB, 2, 6, 0, 0, Block(2));
  PostEvent(&gDisplayB, 3, 7, 0, 0, Block(3));
  PurgeEvents(&gDisplayB);
  DropStaleEvents();  // nothing is old yet
  {
    std::lock_guard<std::recursive_mutex> guard(RuntimeEventQueue()->Lock());
    ASSERT_EQ(FetchEvent(1, &e, false), 2);
    EXPECT_EQ(e.display, nullptr);
    EXPECT_EQ(e.x, 6);
  }
  RemoveEvents(0, true);
  EXPECT_EQ(RuntimeEventQueue()->Count(), 2);
  FreeRuntimeBuffers();  // frees the two queued blocks
  EXPECT_EQ(RuntimeEventQueue(), nullptr);
  EXPECT_EQ(CurrentSourceBuffer(), nullptr);
  FreeRuntimeBuffers();
}

TEST(EventQueue, ClockIsMonotonic) {
  qvTimeVal a = EventClockNow();
  qvTimeVal b = EventClockNow();
  EXPECT_LE(CmpTimeVal(&a, &b), 0);
  EXPECT_LT(a.micros, 1000000u);
}
