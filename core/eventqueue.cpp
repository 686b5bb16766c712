#include "core/eventqueue.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/error_table.h"
#include "platform/time.h"

namespace qv {

qvTimeVal EventClockNow() {
  qvTimeVal now;
  GetSysTime(&now);
  return now;
}

namespace {

bool OwnsData(int32_t type) { return type < kFirstCustomEventType; }

qvEventQueue* gQueue = nullptr;
char* gNameBuffer = nullptr;
char* gCurrentSource = nullptr;

}  // namespace

qvEventQueue::qvEventQueue(Clock clock) : clock_(clock) {}

qvEventQueue::~qvEventQueue() { FreeData(0, count_); }

void qvEventQueue::Post(void* display, int32_t type, int32_t arg1, int32_t arg2, int32_t arg3,
                        void* data) {
  {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    WindowStateQuery windowStates = windowStates_.load();
    bool blocked = type == kEventWindowSized && windowStates != nullptr && windowStates(display);
    if (count_ < kEventQueueSize && !blocked) {
      slots_[count_++] = {type, {arg1, arg2, arg3}, clock_(), display, data};
      return;
    }
  }
  // A dropped event's block would otherwise be lost: nobody else holds it any more.
  if (OwnsData(type)) std::free(data);
}

int qvEventQueue::Fetch(int index, qvEvent* out, bool clearData) {
  if (index < 0 || index >= kEventQueueSize || index >= count_) return 0;
  qvEventSlot& slot = slots_[index];
  *out = qvEvent{};
  out->display = slot.display;
  out->type = slot.type;
  out->data = slot.data;
  if (clearData) slot.data = nullptr;
  switch (slot.type) {
    case 1:   // left mouse button
    case 2:   // right mouse button
    case 16:  // middle mouse button
      out->x = slot.args[0];
      out->y = slot.args[1];
      out->pressed = slot.args[2];
      break;
    case 3:  // key
      out->pressed = slot.args[0];
      out->keyCode = slot.args[1];
      out->qualifiers = slot.args[2];
      break;
    case 14:  // files dropped
      out->x = slot.args[0];
      out->y = slot.args[1];
      break;
    default:
      break;
  }
  return index + 1;
}

void qvEventQueue::FreeData(int from, int to) {
  for (int i = from; i < to; ++i) {
    if (OwnsData(slots_[i].type)) std::free(slots_[i].data);
    slots_[i].data = nullptr;
  }
}

void qvEventQueue::RemoveLocked(int last) {
  if (last < -1 || last >= kEventQueueSize) return;
  if (last == -1 || last >= count_ - 1) {
    FreeData(0, count_);
    std::fill(slots_.begin(), slots_.begin() + count_, qvEventSlot{});
    count_ = 0;
    return;
  }
  int removed = last + 1;
  FreeData(0, removed);
  std::memmove(&slots_[0], &slots_[removed], sizeof(qvEventSlot) * (count_ - removed));
  // Vacated slots keep no copies of pointers that now belong to the moved events.
  std::fill(slots_.begin() + (count_ - removed), slots_.begin() + count_, qvEventSlot{});
  count_ -= removed;
}

void qvEventQueue::Remove(int last, bool takeLock) {
  if (takeLock) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    RemoveLocked(last);
  } else {
    RemoveLocked(last);
  }
}

void qvEventQueue::DropStale() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  qvTimeVal now = clock_();
  int64_t limit = staleLimit_.load();
  int newestStale = -1;
  for (int i = 0; i < count_; ++i) {
    if (CmpTimeVal(&now, &slots_[i].time) < 0) continue;
    qvTimeVal age = now;
    SubTimeVal(&age, &slots_[i].time);
    int64_t ms = int64_t{age.seconds} * 1000 + age.micros / 1000;
    if (ms > limit) newestStale = i;
  }
  if (newestStale >= 0) RemoveLocked(newestStale);
}

void qvEventQueue::Purge(void* display) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  for (int i = 0; i < count_; ++i) {
    if (slots_[i].display == display) slots_[i].display = nullptr;
  }
}

int qvEventQueue::Count() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return count_;
}

int AllocRuntimeBuffers() {
  if (gQueue != nullptr) return 0;
  gQueue = new (std::nothrow) qvEventQueue();
  gNameBuffer = static_cast<char*>(AllocVecQ(kRuntimeBufferSize, true));
  gCurrentSource = static_cast<char*>(AllocVecQ(kRuntimeBufferSize, true));
  if (gQueue == nullptr || gNameBuffer == nullptr || gCurrentSource == nullptr) {
    FreeRuntimeBuffers();
    return ERR_MEM;
  }
  gCurrentSource[0] = '?';  // the buffer came zero-filled
  return 0;
}

void FreeRuntimeBuffers() {
  delete gQueue;
  gQueue = nullptr;
  std::free(gNameBuffer);
  gNameBuffer = nullptr;
  std::free(gCurrentSource);
  gCurrentSource = nullptr;
}

qvEventQueue* RuntimeEventQueue() { return gQueue; }
char* RuntimeNameBuffer() { return gNameBuffer; }
char* CurrentSourceBuffer() { return gCurrentSource; }

void PostEvent(void* display, int32_t type, int32_t arg1, int32_t arg2, int32_t arg3, void* data) {
  if (gQueue != nullptr) {
    gQueue->Post(display, type, arg1, arg2, arg3, data);
  } else if (OwnsData(type)) {
    std::free(data);
  }
}

int FetchEvent(int index, qvEvent* out, bool clearData) {
  return gQueue != nullptr ? gQueue->Fetch(index, out, clearData) : 0;
}

void RemoveEvents(int last, bool takeLock) {
  if (gQueue != nullptr) gQueue->Remove(last, takeLock);
}

void DropStaleEvents() {
  if (gQueue != nullptr) gQueue->DropStale();
}

void PurgeEvents(void* display) {
  if (gQueue != nullptr) gQueue->Purge(display);
}

}  // namespace qv
