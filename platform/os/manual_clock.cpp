#include "platform/os/manual_clock.h"

#include <algorithm>

namespace qv {

bool ManualClock::Attach(ClockListener* listener) {
  std::lock_guard<std::mutex> lock(listenersMutex_);
  listeners_.push_back(listener);
  return true;
}

void ManualClock::Detach(ClockListener* listener) {
  std::lock_guard<std::mutex> advancing(advanceMutex_);
  std::lock_guard<std::mutex> lock(listenersMutex_);
  listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

void ManualClock::Skip(std::chrono::microseconds step) {
  if (step.count() > 0) now_.fetch_add(step.count());
}

void ManualClock::Advance(std::chrono::microseconds step) {
  std::lock_guard<std::mutex> advancing(advanceMutex_);
  const int64_t target = now_.load() + std::max<int64_t>(step.count(), 0);
  for (;;) {
    // Listeners are asked without the list's lock: they take their own locks, and may be asked
    // the time while they hold them.
    std::vector<ClockListener*> listeners;
    {
      std::lock_guard<std::mutex> lock(listenersMutex_);
      listeners = listeners_;
    }
    ClockListener* next = nullptr;
    int64_t due = INT64_MAX;
    for (ClockListener* listener : listeners) {
      int64_t d = listener->NextDueMicros();
      if (d < due) {
        due = d;
        next = listener;
      }
    }
    if (!next || due > target) break;
    // A callback may have skipped past the deadline: the time never goes back.
    int64_t now = now_.load();
    while (due > now && !now_.compare_exchange_weak(now, due)) {
    }
    next->RunDue();
  }
  int64_t now = now_.load();
  while (target > now && !now_.compare_exchange_weak(now, target)) {
  }
}

}  // namespace qv
