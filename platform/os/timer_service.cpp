#include "platform/os/timer_service.h"

#include <chrono>

#include "platform/os/internal.h"

namespace qv {

namespace {
int64_t MsToMicros(int ms) { return ms < 0 ? 0 : static_cast<int64_t>(ms) * 1000; }
}  // namespace

TimerService::TimerService(Clock* clock) : clock_(clock) {}

TimerService::~TimerService() { Stop(); }

bool TimerService::Start() {
  if (thread_ || attached_) return true;
  stopping_ = false;
  if (clock_->Attach(this)) {
    attached_ = true;
    return true;
  }
  thread_ = StartThread("qv timers", 0, ThreadEntry, this, nullptr);
  return thread_ != nullptr;
}

void TimerService::RequestStop() {
  if (!thread_) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
}

void TimerService::Stop() {
  if (attached_) {
    clock_->Detach(this);
    attached_ = false;
  } else if (thread_) {
    RequestStop();
    JoinThread(thread_);
    thread_ = nullptr;
  } else {
    return;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  timers_.clear();
  heap_ = {};
}

void TimerService::Schedule(uint64_t id, const Timer& timer) {
  heap_.push({timer.due, id});
  changed_.notify_all();
}

uint64_t TimerService::Add(int dueMs, int periodMs, Callback fn, void* arg) {
  std::lock_guard<std::mutex> lock(mutex_);
  uint64_t id = nextId_++;
  Timer timer{clock_->NowMicros() + MsToMicros(dueMs), MsToMicros(periodMs), fn, arg};
  timers_[id] = timer;
  Schedule(id, timer);
  return id;
}

bool TimerService::Change(uint64_t id, int dueMs, int periodMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = timers_.find(id);
  if (it == timers_.end()) return false;
  it->second.due = clock_->NowMicros() + MsToMicros(dueMs);
  it->second.period = MsToMicros(periodMs);
  Schedule(id, it->second);
  return true;
}

void TimerService::Delete(uint64_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  timers_.erase(id);
}

int64_t TimerService::NextDueLocked() {
  while (!heap_.empty()) {
    const Deadline& next = heap_.top();
    auto it = timers_.find(next.id);
    if (it != timers_.end() && it->second.due == next.due) return next.due;
    heap_.pop();  // deleted or moved
  }
  return INT64_MAX;
}

bool TimerService::RunOneDue(std::unique_lock<std::mutex>& lock, int64_t now) {
  if (NextDueLocked() > now) return false;
  Deadline next = heap_.top();
  heap_.pop();
  Timer& timer = timers_.find(next.id)->second;
  Callback fn = timer.fn;
  void* arg = timer.arg;
  if (timer.period > 0) {
    // The next due time after now on the timer's own grid.
    int64_t late = now - timer.due;
    timer.due += timer.period * (late / timer.period + 1);
    heap_.push({timer.due, next.id});
  } else {
    timers_.erase(next.id);
  }
  lock.unlock();
  fn(next.id, arg);
  lock.lock();
  return true;
}

int64_t TimerService::NextDueMicros() {
  std::lock_guard<std::mutex> lock(mutex_);
  return NextDueLocked();
}

void TimerService::RunDue() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (RunOneDue(lock, clock_->NowMicros())) {
  }
}

void TimerService::ThreadEntry(void* self) { static_cast<TimerService*>(self)->Run(); }

void TimerService::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    int64_t now = clock_->NowMicros();
    if (RunOneDue(lock, now)) continue;
    int64_t due = NextDueLocked();
    if (due == INT64_MAX) {
      changed_.wait(lock);
    } else {
      changed_.wait_for(lock, std::chrono::microseconds(due - now));
    }
  }
}

}  // namespace qv
