// SIGINT and SIGTERM ask the script to quit. The handler only writes to an eventfd (all it may do
// in a signal handler); a watcher thread turns that into a quit request. The handlers reset
// themselves, so a second signal ends the process the default way when the script does not.
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

#include "base/errors.h"
#include "platform/os/internal.h"

namespace qv {

namespace {

int signalFd = -1;
int stopFd = -1;
qvThread* watcher = nullptr;
struct sigaction oldInt, oldTerm;

void OnSignal(int) {
  int saved = errno;
  uint64_t one = 1;
  (void)!write(signalFd, &one, sizeof one);
  errno = saved;
}

void Watch(void*) {
  pollfd fds[2] = {{signalFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
  for (;;) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    uint64_t value;
    if (read(signalFd, &value, sizeof value) == sizeof value) RequestQuit();
  }
}

}  // namespace

int StartSignalWatch() {
  signalFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  stopFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (signalFd < 0 || stopFd < 0) return ERR_CREATEEVENT;
  watcher = StartThread("qv signals", 0, Watch, nullptr, nullptr);
  if (!watcher) return ERR_THREAD;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &oldInt);
  sigaction(SIGTERM, &action, &oldTerm);
  return 0;
}

void StopSignalWatch() {
  if (watcher) {
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGTERM, &oldTerm, nullptr);
    uint64_t one = 1;
    (void)!write(stopFd, &one, sizeof one);
    JoinThread(watcher);
    watcher = nullptr;
  }
  for (int* fd : {&signalFd, &stopFd}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

}  // namespace qv
