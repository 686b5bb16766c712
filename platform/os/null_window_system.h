// The headless window system: the main loop sleeps in poll() on its handles, and events injected
// from any thread (closures that stand for what a window procedure would do) run on the main
// thread in the next pump. Used by unit tests and wherever no display is wanted.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/window_system.h"

namespace qv {

class NullWindowSystem : public WindowSystem {
 public:
  NullWindowSystem();
  ~NullWindowSystem() override;
  void Wait(const int* fds, int count, int timeoutMs) override;
  void Wake() override;
  void Pump() override;
  bool QueryPointer(int* x, int* y) override;

  // Any thread: queues an event for the main thread and wakes the loop.
  void Inject(std::function<void()> event);
  // Any thread: where the pointer is now (the pointer poll notices a move within 20 ms).
  void MovePointer(int x, int y);

 private:
  int wakeFd_;
  std::mutex mutex_;
  std::vector<std::function<void()>> events_;
  std::atomic<int64_t> pointer_{0};
};

}  // namespace qv
