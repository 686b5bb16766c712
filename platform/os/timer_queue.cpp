// The script's intervals and time-outs. Each record owns one timer of the timer service, whose
// callback only posts the timer's id to the main loop; the main loop marks the record fired if it
// is still listed, and the script thread reports and re-arms or removes it. Posting ids rather than
// record addresses keeps a late expiry of a cleared timer from marking a new record that happens
// to reuse the address.
#include <atomic>
#include <mutex>
#include <new>

#include "base/errors.h"
#include "platform/loop.h"
#include "platform/os/internal.h"
#include "platform/os/timer_service.h"
#include "platform/time.h"
#include "platform/timers.h"

namespace qv {

void PostTimerExpiry(uint64_t timerId);  // main_loop.cpp
bool MainLoopRunning();                  // main_loop.cpp

struct qvQueueTimer {
  qvQueueTimer* next;
  TimerKind kind;  // kInterval or kTimeout
  qvTimerOwner owner;
  bool fired;
  uint64_t timerId;
};

namespace {

std::recursive_mutex listLock;  // the timer-list lock
qvQueueTimer* listHead = nullptr;

void TimerQueueCallback(uint64_t id, void*) { PostTimerExpiry(id); }

qvQueueTimer* Find(TimerKind kind, const qvTimerOwner& owner, qvQueueTimer*** link) {
  for (qvQueueTimer** p = &listHead; *p; p = &(*p)->next) {
    if ((*p)->kind == kind && (*p)->owner == owner) {
      if (link) *link = p;
      return *p;
    }
  }
  return nullptr;
}

void Unlink(qvQueueTimer** link) {
  qvQueueTimer* record = *link;
  *link = record->next;
  if (TimerService* service = Timers()) service->Delete(record->timerId);
  delete record;
}

}  // namespace

int SetTimerQueueTimer(TimerOp operation, qvTimerOwner owner, int ms) {
  std::lock_guard<std::recursive_mutex> lock(listLock);
  TimerService* service = Timers();
  switch (operation) {
    case TimerOp::kSetInterval:
    case TimerOp::kSetTimeout: {
      if (!service) return ERR_MEM;
      auto* record = new (std::nothrow) qvQueueTimer{};
      if (!record) return ERR_MEM;
      bool interval = operation == TimerOp::kSetInterval;
      record->kind = interval ? TimerKind::kInterval : TimerKind::kTimeout;
      record->owner = owner;
      record->timerId = interval ? service->Add(0, ms, TimerQueueCallback, nullptr)
                                 : service->Add(ms, 0, TimerQueueCallback, nullptr);
      qvQueueTimer** tail = &listHead;
      while (*tail) tail = &(*tail)->next;
      *tail = record;
      return 0;
    }
    case TimerOp::kClearInterval:
    case TimerOp::kClearTimeout: {
      qvQueueTimer** link;
      TimerKind kind = operation == TimerOp::kClearInterval ? TimerKind::kInterval
                                                            : TimerKind::kTimeout;
      if (Find(kind, owner, &link)) Unlink(link);
      return 0;
    }
    case TimerOp::kChangeInterval: {
      qvQueueTimer* record = Find(TimerKind::kInterval, owner, nullptr);
      if (!record || !service) return 0;
      // An interval of no period fired once and left the service: it starts again as a new timer.
      if (!service->Change(record->timerId, 0, ms)) {
        record->timerId = service->Add(0, ms, TimerQueueCallback, nullptr);
      }
      return 0;
    }
  }
  return ERR_WRONGUSAGE;
}

qvQueueTimer* FindTimerByOwner(TimerKind kind, qvTimerOwner owner, qvQueueTimer** next) {
  std::lock_guard<std::recursive_mutex> lock(listLock);
  qvQueueTimer* record = Find(kind, owner, nullptr);
  if (next) *next = record ? record->next : nullptr;
  return record;
}

qvQueueTimer* TakeFiredTimer(qvQueueTimer* record, TimerKind* kind, qvTimerOwner* owner) {
  std::lock_guard<std::recursive_mutex> lock(listLock);
  qvQueueTimer** link = &listHead;
  if (record) {
    while (*link && *link != record) link = &(*link)->next;
  }
  *kind = TimerKind::kNone;
  if (!*link) return nullptr;
  record = *link;
  qvQueueTimer* successor = record->next;
  if (record->fired) {
    *kind = record->kind;
    *owner = record->owner;
    if (record->kind == TimerKind::kTimeout) {
      Unlink(link);
    } else {
      record->fired = false;
    }
  }
  return successor;
}

void MarkQueueTimerFired(uint64_t timerId) {
  std::lock_guard<std::recursive_mutex> lock(listLock);
  for (qvQueueTimer* r = listHead; r; r = r->next) {
    if (r->timerId == timerId) {
      r->fired = true;
      return;
    }
  }
}

void DeleteAllQueueTimers() {
  std::lock_guard<std::recursive_mutex> lock(listLock);
  while (listHead) Unlink(&listHead);
}

// WaitTimeQueued's one-shot: each wait has its own number, so an expiry of an earlier wait that
// raced with its deletion cannot end a later wait early.
static std::atomic<uint64_t> waitExpired{0};
static uint64_t waitSerial = 0;

static void WaitExpiry(uint64_t, void* arg) {
  waitExpired.store(reinterpret_cast<uintptr_t>(arg));
  WakeMainLoop();
}

int WaitTimeQueued(int ms) {
  TimerService* service = Timers();
  if (!service || !MainLoopRunning() || IsMainThread()) {
    // Nothing would pass the loop: a plain sleep.
    DelayMs(ms);
    return 0;
  }
  uint64_t serial = ++waitSerial;
  uint64_t id = service->Add(ms, 0, WaitExpiry, reinterpret_cast<void*>(serial));
  int result = 0;
  WaitMainLoopPass();
  while (waitExpired.load() != serial) {
    if (SyncWindowStates() == ERR_USERABORT) {
      result = ERR_USERABORT;
      break;
    }
    WaitMainLoopPass();
  }
  service->Delete(id);
  return result;
}

}  // namespace qv
