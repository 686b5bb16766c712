#include "platform/os/ipc.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace qv {

// A directory that exists, is no symbolic link, belongs to us and lets no one else in.
static bool PrivateDir(const std::string& path) {
  if (mkdir(path.c_str(), 0700) < 0 && errno != EEXIST) return false;
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() &&
         (st.st_mode & 077) == 0;
}

std::string PlayerRuntimeDir() {
  std::string base;
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  if (xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    base = "/tmp/quillvane-runtime-" + std::to_string(getuid());
    if (!PrivateDir(base)) return "";
  }
  std::string dir = base + "/quillvane";
  return PrivateDir(dir) ? dir : "";
}

static bool MakeAddress(const std::string& path, sockaddr_un* addr) {
  if (path.empty() || path.size() >= sizeof addr->sun_path) return false;
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  std::memcpy(addr->sun_path, path.c_str(), path.size());
  return true;
}

int ListenUnix(const std::string& path) {
  sockaddr_un addr;
  if (!MakeAddress(path, &addr)) return -1;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  unlink(path.c_str());
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0 || listen(fd, 16) < 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Non-blocking: a player that stopped accepting makes connect fail instead of hang.
int ConnectUnix(const std::string& path) {
  sockaddr_un addr;
  if (!MakeAddress(path, &addr)) return -1;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  int rc;
  do {
    rc = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) {
    close(fd);
    return -1;
  }
  return fd;
}

static bool Ready(int fd, short events, int timeoutMs) {
  pollfd p{fd, events, 0};
  int n;
  do {
    n = poll(&p, 1, timeoutMs);
  } while (n < 0 && errno == EINTR);
  return n > 0;
}

bool SendAll(int fd, const void* data, size_t size, int timeoutMs) {
  auto* p = static_cast<const char*>(data);
  while (size > 0) {
    if (!Ready(fd, POLLOUT, timeoutMs)) return false;
    ssize_t n = send(fd, p, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool ReceiveAll(int fd, void* data, size_t size, int timeoutMs) {
  auto* p = static_cast<char*>(data);
  while (size > 0) {
    if (!Ready(fd, POLLIN, timeoutMs)) return false;
    ssize_t n = recv(fd, p, size, MSG_DONTWAIT);
    if (n == 0) return false;
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace qv
