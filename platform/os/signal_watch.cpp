// The signals that end a run. SIGHUP (the terminal closed), SIGINT, SIGTERM and SIGQUIT ask the
// script to quit, so the run ends through the normal shutdown, which removes the temporary files
// and the debug device's block; a hang-up or interrupt that the player was started ignoring
// (nohup) stays ignored. SIGPIPE is ignored: a reader that went away shows as a failed write,
// which the text output turns into a quit request too. SIGXFSZ is ignored: a write over the file
// size limit fails like one on a full disk.
//
// The handler only writes to an eventfd (all it may do in a signal handler); a watcher thread
// turns that into a quit request. Once installed the handlers stay for the life of the process,
// and the eventfd with them: a signal that arrives while shutdown runs, or after it while the
// process exits, is absorbed and cannot cut the clean-up short.
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>

#include "base/errors.h"
#include "platform/os/internal.h"

namespace qv {

namespace {

constexpr int kQuitSignals[] = {SIGHUP, SIGINT, SIGTERM, SIGQUIT};

// Made once and never closed, as a handler may run at any moment. Lock-free atomics, so that the
// handler may read them.
std::atomic<int> signalFd{-1};
std::atomic<bool> watching{false};  // false: a signal is absorbed
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);
std::once_flag makeOnce, installOnce;

int stopFd = -1;
qvThread* watcher = nullptr;

void OnSignal(int) {
  if (!watching.load(std::memory_order_relaxed)) return;
  // Work that polls QuitRequested (unpacking an applet) need not wait for the watcher.
  MarkQuitRequested();
  int saved = errno;
  int fd = signalFd.load(std::memory_order_relaxed);
  uint64_t one = 1;
  if (fd >= 0) (void)!write(fd, &one, sizeof one);
  errno = saved;
}

void Install() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  action.sa_flags = SA_RESTART;
  // One handler at a time: a second signal waits until the first has written.
  sigemptyset(&action.sa_mask);
  for (int s : kQuitSignals) sigaddset(&action.sa_mask, s);
  for (int s : kQuitSignals) {
    // A run started under nohup, or in the background by a shell, was told to ignore the
    // terminal's hang-up and interrupt: it keeps ignoring them, as programs do.
    struct sigaction inherited {};
    if ((s == SIGHUP || s == SIGINT) && sigaction(s, nullptr, &inherited) == 0 &&
        inherited.sa_handler == SIG_IGN) {
      continue;
    }
    sigaction(s, &action, nullptr);
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
  // A write past the file size limit (ulimit -f) fails with EFBIG instead of ending the process,
  // so a save cleans up after itself through its error path like on a full disk.
  sigaction(SIGXFSZ, &ignore, nullptr);
}

void Watch(void*) {
  pollfd fds[2] = {{signalFd.load(), POLLIN, 0}, {stopFd, POLLIN, 0}};
  for (;;) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    uint64_t value;
    if (read(fds[0].fd, &value, sizeof value) == sizeof value) RequestQuit();
  }
}

}  // namespace

int StartSignalWatch() {
  std::call_once(makeOnce, [] { signalFd.store(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)); });
  if (signalFd.load() < 0) return ERR_CREATEEVENT;
  // Counted from the moment the handlers are in place: the watcher reads what came before it.
  watching.store(true);
  std::call_once(installOnce, Install);
  stopFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (stopFd < 0) return ERR_CREATEEVENT;
  watcher = StartThread("qv signals", 0, Watch, nullptr, nullptr);
  return watcher ? 0 : ERR_THREAD;
}

void RequestSignalWatchStop() {
  if (!watcher) return;
  uint64_t one = 1;
  (void)!write(stopFd, &one, sizeof one);
}

void StopSignalWatch() {
  if (watcher) {
    RequestSignalWatchStop();
    JoinThread(watcher);
    watcher = nullptr;
  }
  watching.store(false);
  // What came after the watcher's last read belongs to no run.
  uint64_t value;
  int fd = signalFd.load();
  if (fd >= 0) (void)!read(fd, &value, sizeof value);
  if (stopFd >= 0) close(stopFd);
  stopFd = -1;
}

}  // namespace qv
