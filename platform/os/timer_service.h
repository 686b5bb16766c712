// One service that runs every timer of the platform: periodic and one-shot deadlines on the
// platform clock in a min-heap. Periods that were missed are skipped, not caught up. Callbacks run
// without the service's lock held, so a callback may add, change or delete timers (its own too);
// they must be short (they post to the main loop).
//
// On a clock that runs by itself the service has a thread that sleeps until the next deadline and
// runs the callbacks; on a clock that is moved by hand (ManualClock) there is no thread and the
// callbacks run on the thread that moves the clock.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <queue>
#include <vector>

#include "platform/time.h"

namespace qv {

struct qvThread;

class TimerService : public ClockListener {
 public:
  using Callback = void (*)(uint64_t id, void* arg);

  // The clock must outlive the service.
  explicit TimerService(Clock* clock);
  ~TimerService() override;
  // Attaches to a clock that is moved by hand, else starts the thread: false when it cannot
  // start. Any thread.
  bool Start();
  // Tells the thread to end without waiting for it (Stop then waits), so that a shutdown ending
  // several threads waits for them together. Not from a callback.
  void RequestStop();
  // Ends the thread or detaches from the clock; remaining timers are dropped. Not from a callback.
  void Stop();

  // First expiry after dueMs (negative: at once), then every periodMs (0 or negative: once).
  // Returns the timer's id, never 0 and never reused. Any thread, callbacks too.
  uint64_t Add(int dueMs, int periodMs, Callback fn, void* arg);
  // Restarts the timer with a new due time and period: false when the timer no longer exists (a
  // one-shot that fired, a deleted one). Any thread, callbacks too.
  bool Change(uint64_t id, int dueMs, int periodMs);
  // Does not wait for a callback that is running now. Any thread, callbacks too.
  void Delete(uint64_t id);

  // ClockListener, for a clock that is moved by hand.
  int64_t NextDueMicros() override;
  void RunDue() override;

 private:
  struct Timer {
    int64_t due;     // clock microseconds
    int64_t period;  // microseconds; 0 for a one-shot
    Callback fn;
    void* arg;
  };
  struct Deadline {
    int64_t due;
    uint64_t id;
    bool operator>(const Deadline& o) const { return due > o.due; }
  };
  static void ThreadEntry(void* self);
  void Run();
  void Schedule(uint64_t id, const Timer& timer);
  // The earliest live deadline (INT64_MAX when none); passes over entries that are out of date.
  int64_t NextDueLocked();
  // Runs the earliest timer when it is due at `now`, leaving the lock around its callback; false
  // when none is due.
  bool RunOneDue(std::unique_lock<std::mutex>& lock, int64_t now);

  Clock* const clock_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<uint64_t, Timer> timers_;
  // Entries whose timer was deleted or moved stay until they come up and are then skipped.
  std::priority_queue<Deadline, std::vector<Deadline>, std::greater<Deadline>> heap_;
  uint64_t nextId_ = 1;
  bool stopping_ = false;
  bool attached_ = false;  // to a clock that is moved by hand
  qvThread* thread_ = nullptr;
};

}  // namespace qv
