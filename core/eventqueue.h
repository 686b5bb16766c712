// The event queue through which every asynchronous happening (input, window changes, timers,
// media ends, network traffic) reaches the script, and the runtime buffers created with it.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "base/support.h"
#include "core/runtime_buffers.h"

namespace qv {

constexpr int kEventQueueSize = 256;
constexpr int kFirstCustomEventType = 22;  // events of lower types own their data block
constexpr int kEventWindowSized = 5;
constexpr int32_t kDefaultStaleLimitMs = 1500;

// One queued event.
struct qvEventSlot {
  int32_t type;
  int32_t args[3];
  qvTimeVal time;  // when it was posted
  void* display;   // the display or object it concerns; null once that has gone
  void* data;      // for types below 22 a block from the C heap that the queue owns
};

// A queued event as the dispatcher fetches it.
struct qvEvent {
  void* display;
  int32_t type;
  int32_t x;
  int32_t y;
  int32_t pressed;  // 1 down, 0 up (mouse buttons and keys)
  int32_t keyCode;
  int32_t qualifiers;
  void* data;
};

// The time source of the queue: the platform's clock (GetSysTime), which never goes backwards
// while the program runs, as {seconds, microseconds}.
qvTimeVal EventClockNow();

class qvEventQueue {
 public:
  using Clock = qvTimeVal (*)();
  // Answers whether either of a display's window-state words is set; size events of such a
  // display are not queued.
  using WindowStateQuery = bool (*)(void* display);

  explicit qvEventQueue(Clock clock = EventClockNow);
  ~qvEventQueue();
  qvEventQueue(const qvEventQueue&) = delete;
  qvEventQueue& operator=(const qvEventQueue&) = delete;

  // Any thread. Appends the event, or drops it when the queue is full; the queue owns the data
  // of types below 22 either way.
  void Post(void* display, int32_t type, int32_t arg1, int32_t arg2, int32_t arg3, void* data);

  // The caller holds Lock(). Copies event `index` into `out`; with `clearData` the data block
  // passes to the caller. Returns index + 1, or 0 when there is no such event.
  int Fetch(int index, qvEvent* out, bool clearData);

  // Removes events 0 to `last` (-1: all), freeing the data they own. The caller either holds
  // Lock() or asks for it with `takeLock`.
  void Remove(int last, bool takeLock);

  // Removes every event older than the stale limit (and so every one posted before it).
  void DropStale();

  // Forgets a display in all queued events.
  void Purge(void* display);

  int Count();
  std::recursive_mutex& Lock() { return lock_; }

  void SetStaleLimit(int32_t ms) { staleLimit_.store(ms); }
  int32_t StaleLimit() const { return staleLimit_.load(); }
  void SetWindowStateQuery(WindowStateQuery query) { windowStates_.store(query); }

 private:
  void RemoveLocked(int last);
  void FreeData(int from, int to);

  std::recursive_mutex lock_;
  std::array<qvEventSlot, kEventQueueSize> slots_{};
  int count_ = 0;
  Clock clock_;
  std::atomic<int32_t> staleLimit_{kDefaultStaleLimitMs};
  std::atomic<WindowStateQuery> windowStates_{nullptr};
};

qvEventQueue* RuntimeEventQueue();  // null outside AllocRuntimeBuffers .. FreeRuntimeBuffers

// The queue operations on the process's queue. Without a queue, PostEvent frees the data that
// the event would have owned and does nothing else; the others do nothing.
void PostEvent(void* display, int32_t type, int32_t arg1, int32_t arg2, int32_t arg3, void* data);
int FetchEvent(int index, qvEvent* out, bool clearData);
void RemoveEvents(int last, bool takeLock);
void DropStaleEvents();
void PurgeEvents(void* display);

}  // namespace qv
