// A clock that moves only when it is told to, for tests: timers and the main loop then behave the
// same on every run, however busy the machine. Its listeners run no threads of their own; Advance
// runs what came due on the calling thread, deadline by deadline in time order.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/time.h"

namespace qv {

class ManualClock : public Clock {
 public:
  explicit ManualClock(int64_t startMicros = 0) : now_(startMicros) {}
  int64_t NowMicros() override { return now_.load(); }
  bool Attach(ClockListener* listener) override;
  void Detach(ClockListener* listener) override;

  // Moves the time forward by `step` (nothing for a negative step), stopping at each deadline of
  // the listeners on the way and running what is due there; returns when nothing is due up to the
  // new time. Any thread, but not from inside a listener's work (a timer callback): use Skip there.
  void Advance(std::chrono::microseconds step);
  // Moves the time forward without running anything, as if the listeners' thread were held up:
  // the next Advance finds their deadlines behind it. Any thread, timer callbacks too.
  void Skip(std::chrono::microseconds step);

 private:
  std::atomic<int64_t> now_;
  std::mutex listenersMutex_;
  std::vector<ClockListener*> listeners_;
  // Held through an Advance: a listener is never detached while the clock runs its work.
  std::mutex advanceMutex_;
};

}  // namespace qv
