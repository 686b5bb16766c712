// The timer queue: the script's intervals and time-outs, reported to the script thread after the
// main loop has seen them expire.
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

struct qvQueueTimer;  // one per running interval (kind 0) or time-out (kind 1)

// Operations: 0 SetInterval (first expiry at once, then every ms), 1 SetTimeout (once after ms),
// 2 ClearInterval, 3 ClearTimeout, 4 ChangeInterval (restarts at once with the new period).
// 0, or ERR_MEM when a timer cannot be made; clearing or changing a missing timer returns 0.
int SetTimerQueueTimer(int operation, qvTimerOwner owner, int ms);
// The timer of that kind and owner, or null; *next gets its successor.
qvQueueTimer* FindTimerByOwner(int kind, qvTimerOwner owner, qvQueueTimer** next);
// Examines the record (null: the first one) and returns its successor (null at the end). For a
// record that fired: a time-out gives kind 1 and is removed, an interval gives kind 0 and is
// re-armed (several expiries between two calls are reported once); otherwise the kind is 9.
qvQueueTimer* TakeFiredTimer(qvQueueTimer* record, int* kind, qvTimerOwner* owner);
// Waits ms while the main loop keeps passing: 0 when the time passed, ERR_USERABORT when the user
// asked to quit meanwhile. Script thread.
int WaitTimeQueued(int ms);

}  // namespace qv
