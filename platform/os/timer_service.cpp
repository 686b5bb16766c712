#include "platform/os/timer_service.h"

#include "platform/os/internal.h"

namespace qv {

TimerService::~TimerService() { Stop(); }

bool TimerService::Start() {
  stopping_ = false;
  thread_ = StartThread("qv timers", 0, ThreadEntry, this, nullptr);
  return thread_ != nullptr;
}

void TimerService::Stop() {
  if (!thread_) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  JoinThread(thread_);
  thread_ = nullptr;
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
  Timer timer{Clock::now() + std::chrono::milliseconds(dueMs < 0 ? 0 : dueMs),
              std::chrono::milliseconds(periodMs < 0 ? 0 : periodMs), fn, arg};
  timers_[id] = timer;
  Schedule(id, timer);
  return id;
}

bool TimerService::Change(uint64_t id, int dueMs, int periodMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = timers_.find(id);
  if (it == timers_.end()) return false;
  it->second.due = Clock::now() + std::chrono::milliseconds(dueMs < 0 ? 0 : dueMs);
  it->second.period = std::chrono::milliseconds(periodMs < 0 ? 0 : periodMs);
  Schedule(id, it->second);
  return true;
}

void TimerService::Delete(uint64_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  timers_.erase(id);
}

void TimerService::ThreadEntry(void* self) { static_cast<TimerService*>(self)->Run(); }

void TimerService::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    if (heap_.empty()) {
      changed_.wait(lock);
      continue;
    }
    Deadline next = heap_.top();
    auto it = timers_.find(next.id);
    if (it == timers_.end() || it->second.due != next.due) {
      heap_.pop();  // deleted or moved
      continue;
    }
    auto now = Clock::now();
    if (next.due > now) {
      changed_.wait_until(lock, next.due);
      continue;
    }
    heap_.pop();
    Timer& timer = it->second;
    Callback fn = timer.fn;
    void* arg = timer.arg;
    if (timer.period.count() > 0) {
      // The next due time after now on the timer's own grid.
      auto late = now - timer.due;
      timer.due += timer.period * (late / timer.period + 1);
      heap_.push({timer.due, next.id});
    } else {
      timers_.erase(it);
    }
    lock.unlock();
    fn(next.id, arg);
    lock.lock();
  }
}

}  // namespace qv
