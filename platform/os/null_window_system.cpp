#include "platform/os/null_window_system.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

namespace qv {

NullWindowSystem::NullWindowSystem() : wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

NullWindowSystem::~NullWindowSystem() {
  if (wakeFd_ >= 0) close(wakeFd_);
}

void NullWindowSystem::Wait(const int* fds, int count, int timeoutMs) {
  pollfd set[13];
  int n = 0;
  for (int i = 0; i < count && i < 12; ++i) set[n++] = {fds[i], POLLIN, 0};
  if (wakeFd_ >= 0) set[n++] = {wakeFd_, POLLIN, 0};
  while (poll(set, n, timeoutMs) < 0 && errno == EINTR) {
  }
}

void NullWindowSystem::Wake() {
  uint64_t one = 1;
  if (wakeFd_ >= 0) (void)!write(wakeFd_, &one, sizeof one);
}

void NullWindowSystem::Pump() {
  uint64_t value;
  if (wakeFd_ >= 0) (void)!read(wakeFd_, &value, sizeof value);
  std::vector<std::function<void()>> events;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    events.swap(events_);
  }
  for (auto& event : events) event();
}

bool NullWindowSystem::QueryPointer(int* x, int* y) {
  int64_t p = pointer_.load();
  *x = static_cast<int32_t>(p >> 32);
  *y = static_cast<int32_t>(p & 0xffffffff);
  return true;
}

void NullWindowSystem::Inject(std::function<void()> event) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(std::move(event));
  }
  Wake();
}

void NullWindowSystem::MovePointer(int x, int y) {
  pointer_.store((static_cast<int64_t>(x) << 32) | static_cast<uint32_t>(y));
}

}  // namespace qv
