// Locks and signals: recursive mutexes and eventfds, and the wait on several signals in slot order.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <new>

#include "platform/os/internal.h"

namespace qv {

struct qvLock {
  std::recursive_mutex mutex;
};

qvLock* CreateLock() { return new (std::nothrow) qvLock; }
void DeleteLock(qvLock* lock) { delete lock; }
void EnterLock(qvLock* lock) { lock->mutex.lock(); }
void LeaveLock(qvLock* lock) { lock->mutex.unlock(); }

static qvSignal* MakeSignal(bool manual) {
  int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (fd < 0) return nullptr;
  auto* signal = new (std::nothrow) qvSignal{fd, manual, {false}};
  if (!signal) close(fd);
  return signal;
}

qvSignal* CreateSignal() { return MakeSignal(false); }
qvSignal* CreateManualSignal() { return MakeSignal(true); }

void DeleteSignal(qvSignal* signal) {
  if (!signal) return;
  close(signal->fd);
  delete signal;
}

bool MarkLoopSignal(qvSignal* signal) { return !signal->wakesLoop.exchange(true); }

// The signal is not touched after the write: the waiter it releases may delete it at once.
void SetSignal(qvSignal* signal) {
  if (!signal) return;
  bool wakesLoop = signal->wakesLoop.load();
  uint64_t one = 1;
  // EAGAIN would mean the counter is full, which is set all the same.
  while (write(signal->fd, &one, sizeof one) < 0 && errno == EINTR) {
  }
  if (wakesLoop) WakeWindowSystem();
}

// Takes a set auto-reset signal; false when another waiter took it first.
static bool Consume(qvSignal* signal) {
  if (signal->manual) return true;
  uint64_t value;
  return read(signal->fd, &value, sizeof value) == sizeof value;
}

int WaitAnySignal(qvSignal* const* signals, int count, int timeoutMs) {
  if (count < 1 || count > kMaxWaitSignals || !signals) return kWaitFailed;
  pollfd fds[kMaxWaitSignals];
  for (int i = 0; i < count; ++i) {
    if (!signals[i]) return kWaitFailed;
    fds[i] = {signals[i]->fd, POLLIN, 0};
  }
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    int wait = timeoutMs;
    if (timeoutMs > 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      wait = left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }
    int n = poll(fds, count, wait);
    if (n < 0 && errno != EINTR) return kWaitFailed;
    if (n > 0) {
      for (int i = 0; i < count; ++i) {
        if ((fds[i].revents & POLLIN) && Consume(signals[i])) return i;
      }
    }
    if (timeoutMs == 0 || (timeoutMs > 0 && Clock::now() >= deadline)) return kWaitTimedOut;
  }
}

bool WaitSignal(qvSignal* signal) { return WaitAnySignal(&signal, 1, -1) == 0; }

}  // namespace qv
