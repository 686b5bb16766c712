// One thread that runs every timer of the platform: periodic and one-shot deadlines on the steady
// clock in a min-heap. Periods that were missed are skipped, not caught up. Callbacks run on the
// service thread without its lock held, so a callback may add, change or delete timers (its own
// too); they must be short (they post to the main loop).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <queue>
#include <vector>

namespace qv {

struct qvThread;

class TimerService {
 public:
  using Callback = void (*)(uint64_t id, void* arg);

  TimerService() = default;
  ~TimerService();
  bool Start();
  void Stop();  // ends the thread; remaining timers are dropped

  // First expiry after dueMs, then every periodMs (0: once). Returns the timer's id, never 0 and
  // never reused.
  uint64_t Add(int dueMs, int periodMs, Callback fn, void* arg);
  // False when the timer no longer exists (a one-shot that fired, a deleted one).
  bool Change(uint64_t id, int dueMs, int periodMs);
  // Does not wait for a callback that is running now.
  void Delete(uint64_t id);

 private:
  using Clock = std::chrono::steady_clock;
  struct Timer {
    Clock::time_point due;
    std::chrono::milliseconds period;
    Callback fn;
    void* arg;
  };
  struct Deadline {
    Clock::time_point due;
    uint64_t id;
    bool operator>(const Deadline& o) const { return due > o.due; }
  };
  static void ThreadEntry(void* self);
  void Run();
  void Schedule(uint64_t id, const Timer& timer);

  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<uint64_t, Timer> timers_;
  // Entries whose timer was deleted or moved stay until they come up and are then skipped.
  std::priority_queue<Deadline, std::vector<Deadline>, std::greater<Deadline>> heap_;
  uint64_t nextId_ = 1;
  bool stopping_ = false;
  qvThread* thread_ = nullptr;
};

}  // namespace qv
