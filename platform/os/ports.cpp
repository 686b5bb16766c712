// Message ports between running players. A player with a port name listens on the socket
// "<runtime dir>/port-<pid>"; a sender offers its message to every such socket in turn until one
// player takes it, as each player accepts only messages addressed to its own port name. The wire
// record is a 32-bit length in the machine's order and the block (port name, zero, text, zero);
// the answer is one byte, 1 when taken.
#include "platform/ports.h"

#include <dirent.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "base/errors.h"
#include "platform/loop.h"
#include "platform/os/internal.h"
#include "platform/os/ipc.h"

namespace qv {

namespace {

constexpr uint32_t kMaxBlock = 1u << 20;
constexpr int kTransferMs = 2000;

std::mutex portLock;  // the port name and the message list
std::string portName;
qvPortMessage* head = nullptr;
qvPortMessage** tail = &head;

int listenFd = -1;
int stopFd = -1;
std::string socketPath;
qvThread* listener = nullptr;

std::string SocketName() { return "port-" + std::to_string(getpid()); }

// Takes the block when it is addressed to our port: true when queued.
bool Accept(char* block, uint32_t size) {
  // A port name, a zero, a text and a closing zero.
  const char* zero = static_cast<const char*>(std::memchr(block, 0, size));
  if (!zero || zero == block + size - 1 || block[size - 1] != '\0') return false;
  auto* node = static_cast<qvPortMessage*>(std::malloc(sizeof(qvPortMessage) + size));
  if (!node) return false;
  node->next = nullptr;
  node->data = reinterpret_cast<char*>(node + 1);
  node->size = size;
  std::memcpy(node->data, block, size);
  std::lock_guard<std::mutex> lock(portLock);
  if (portName.empty() || portName != block) {
    std::free(node);
    return false;
  }
  *tail = node;
  tail = &node->next;
  return true;
}

void Serve(int fd) {
  uint32_t size;
  char taken = 0;
  if (ReceiveAll(fd, &size, sizeof size, kTransferMs) && size > 0 && size <= kMaxBlock) {
    if (char* block = static_cast<char*>(std::malloc(size))) {
      if (ReceiveAll(fd, block, size, kTransferMs)) taken = Accept(block, size) ? 1 : 0;
      std::free(block);
    }
  }
  SendAll(fd, &taken, 1, kTransferMs);
  if (taken) WakeMainLoop();  // a waiting script looks at its messages
}

void Listen(void*) {
  pollfd fds[2] = {{listenFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
  for (;;) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) continue;
    Serve(fd);
    close(fd);
  }
}

void StopListener() {
  if (listener) {
    uint64_t one = 1;
    (void)!write(stopFd, &one, sizeof one);
    JoinThread(listener);
    listener = nullptr;
  }
  for (int* fd : {&listenFd, &stopFd}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
  if (!socketPath.empty()) unlink(socketPath.c_str());
  socketPath.clear();
}

bool StartListener() {
  std::string dir = PlayerRuntimeDir();
  if (dir.empty()) return false;
  socketPath = dir + "/" + SocketName();
  listenFd = ListenUnix(socketPath);
  stopFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (listenFd >= 0 && stopFd >= 0) listener = StartThread("qv port", 0, Listen, nullptr, nullptr);
  if (!listener) StopListener();
  return listener != nullptr;
}

// Offers the block to one player: true when it took it.
bool Offer(const std::string& path, const char* block, uint32_t size) {
  int fd = ConnectUnix(path);
  if (fd < 0) return false;
  char taken = 0;
  bool ok = SendAll(fd, &size, sizeof size, kTransferMs) && SendAll(fd, block, size, kTransferMs) &&
            ReceiveAll(fd, &taken, 1, kTransferMs);
  close(fd);
  return ok && taken == 1;
}

}  // namespace

int SetPortName(const char* name) {
  if (!name || !*name) {
    StopListener();
    std::lock_guard<std::mutex> lock(portLock);
    portName.clear();
    return 0;
  }
  {
    std::lock_guard<std::mutex> lock(portLock);
    portName = name;
  }
  if (listener || StartListener()) return 0;
  std::lock_guard<std::mutex> lock(portLock);
  portName.clear();
  return ERR_CREATEPORT;
}

int SendPortMessage(const char* port, const char* text) {
  if (!port || !text) return ERR_WRONGUSAGE;
  {
    std::lock_guard<std::mutex> lock(portLock);
    if (!portName.empty() && portName == port) return ERR_WRONGUSAGE;
  }
  size_t portLength = std::strlen(port), textLength = std::strlen(text);
  size_t size = portLength + textLength + 2;
  if (size > kMaxBlock) return ERR_MEM;
  char* block = static_cast<char*>(std::malloc(size));
  if (!block) return ERR_MEM;
  std::memcpy(block, port, portLength + 1);
  std::memcpy(block + portLength + 1, text, textLength + 1);

  bool delivered = false;
  std::string dir = PlayerRuntimeDir();
  std::string own = SocketName();
  if (DIR* d = dir.empty() ? nullptr : opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      if (std::strncmp(e->d_name, "port-", 5) != 0 || own == e->d_name) continue;
      if (Offer(dir + "/" + e->d_name, block, static_cast<uint32_t>(size))) {
        delivered = true;
        break;
      }
    }
    closedir(d);
  }
  std::free(block);
  if (delivered) return 0;
  SetErrorString(port);
  return ERR_FINDPORT;
}

qvPortMessage* TakePortMessage(char** data, size_t* size) {
  std::lock_guard<std::mutex> lock(portLock);
  qvPortMessage* node = head;
  if (!node) return nullptr;
  head = node->next;
  if (!head) tail = &head;
  node->next = nullptr;
  if (data) *data = node->data;
  if (size) *size = node->size;
  return node;
}

void ClosePorts() {
  StopListener();
  std::lock_guard<std::mutex> lock(portLock);
  portName.clear();
  while (head) {
    qvPortMessage* next = head->next;
    std::free(head);
    head = next;
  }
  tail = &head;
}

}  // namespace qv
