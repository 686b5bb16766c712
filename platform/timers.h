// The timer queue: the script's intervals and time-outs. The timer service posts each expiry to
// the main loop, which marks the timer fired; the script thread then takes what fired.
#pragma once

#include <cstdint>

namespace qv {

// The owning object's id {number, handle}.
struct qvTimerOwner {
  int32_t number;
  void* handle;
};
inline bool operator==(const qvTimerOwner& a, const qvTimerOwner& b) {
  return a.number == b.number && a.handle == b.handle;
}

enum class TimerKind {
  kInterval,  // fires every period until cleared
  kTimeout,   // fires once and is gone
  kNone,      // TakeFiredTimer: the record had not fired
};
enum class TimerOp {
  kSetInterval,  // first expiry at once, then every ms
  kSetTimeout,   // once after ms
  kClearInterval,
  kClearTimeout,
  kChangeInterval,  // restarts the owner's interval at once with the new period
};

struct qvQueueTimer;  // one per running interval or time-out

// 0; ERR_MEM when a timer cannot be made (or the platform is not started); ERR_WRONGUSAGE for an
// operation outside TimerOp. Clearing or changing a timer that does not exist does nothing and
// returns 0. Any thread (the list has its own lock).
int SetTimerQueueTimer(TimerOp operation, qvTimerOwner owner, int ms);
// The first timer of that kind and owner, or null; *next (when given) gets its successor. Any
// thread.
qvQueueTimer* FindTimerByOwner(TimerKind kind, qvTimerOwner owner, qvQueueTimer** next);
// Examines the record (null: the first one) and returns its successor (null at the end or when the
// record is no longer listed). For a record that fired, *kind and *owner tell which: a time-out is
// removed, an interval is re-armed (several expiries between two calls are reported once);
// otherwise *kind is kNone. Any thread.
qvQueueTimer* TakeFiredTimer(qvQueueTimer* record, TimerKind* kind, qvTimerOwner* owner);
// Waits ms while the main loop keeps passing: 0 when the time passed, ERR_USERABORT when the user
// asked to quit meanwhile. Script thread; elsewhere, or while no main loop runs, a plain real-time
// sleep that returns 0.
int WaitTimeQueued(int ms);

}  // namespace qv
