// Sockets over BSD sockets and poll(): non-blocking descriptors, MSG_NOSIGNAL on every send, waits
// in slices of at most 10 ms with the caller's break hook between them, look-ups through
// getaddrinfo/getnameinfo. errno values are turned into the WinSock numbering that the player's
// messages and scripts know.
#include "platform/sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace qv {

namespace {

constexpr int kSliceMs = 10;

sockaddr_in ToNative(qvSockAddr a) {
  sockaddr_in s{};
  s.sin_family = AF_INET;
  s.sin_addr.s_addr = htonl(a.ip);
  s.sin_port = htons(a.port);
  return s;
}

qvSockAddr FromNative(const sockaddr_in& s) {
  return {ntohl(s.sin_addr.s_addr), ntohs(s.sin_port)};
}

int32_t LastError() { return SocketErrorFromErrno(errno); }

bool WouldBlock(int e) { return e == EAGAIN || e == EWOULDBLOCK || e == EINTR; }

bool Broken(const qvSocketBreak* brk) {
  return brk != nullptr && brk->check != nullptr && brk->check(brk->context) != 0;
}

// Waits until poll reports one of `events` (or an error state) on the socket: 0 with *revents,
// kSockTimeout when waitMs passed or the break hook said so, or the error of poll.
int32_t WaitReady(int fd, short events, int64_t waitMs, const qvSocketBreak* brk, short* revents) {
  int64_t deadline = waitMs < 0 ? -1 : SocketClockMs() + waitMs;
  bool first = true;
  for (;;) {
    int slice = 0;
    if (waitMs != 0) {
      if (!first && Broken(brk)) return kSockTimeout;
      slice = kSliceMs;
      if (deadline >= 0) {
        int64_t left = deadline - SocketClockMs();
        if (left <= 0) {
          if (!first) return kSockTimeout;
          left = 0;
        }
        if (left < slice) slice = static_cast<int>(left);
      }
    }
    first = false;
    pollfd p{fd, events, 0};
    int n = poll(&p, 1, slice);
    if (n < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    if (n > 0) {
      *revents = p.revents;
      return 0;
    }
    if (waitMs == 0) return kSockTimeout;
    if (deadline >= 0 && SocketClockMs() >= deadline) return kSockTimeout;
  }
}

int32_t SetNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL, 0);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return LastError();
  return 0;
}

int32_t LookupError(int code) {
  switch (code) {
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
      return kSockErrHostNotFound;
    case EAI_AGAIN:
      return kSockErrTryAgain;
    case EAI_FAIL:
      return kSockErrNoRecovery;
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
      return kSockErrNoData;
#endif
    case EAI_MEMORY:
      return kSockErrNoBufs;
    case EAI_SYSTEM:
      return LastError();
    default:
      return kSockErrNoRecovery;
  }
}

}  // namespace

int64_t SocketClockMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int32_t SocketErrorFromErrno(int error) {
  switch (error) {
    case 0:
      return kSockFailed;
    case EINTR:
      return 10004;
    case EACCES:
    case EPERM:
      return 10013;
    case EFAULT:
      return 10014;
    case EINVAL:
      return 10022;
    case EMFILE:
    case ENFILE:
      return 10024;
    case EAGAIN:
      return 10035;
    case EINPROGRESS:
      return 10036;
    case EALREADY:
      return 10037;
    case ENOTSOCK:
    case EBADF:
      return 10038;
    case EDESTADDRREQ:
      return 10039;
    case EMSGSIZE:
      return 10040;
    case EPROTOTYPE:
      return 10041;
    case ENOPROTOOPT:
      return 10042;
    case EPROTONOSUPPORT:
      return 10043;
    case ESOCKTNOSUPPORT:
      return 10044;
    case EOPNOTSUPP:
      return 10045;
    case EPFNOSUPPORT:
      return 10046;
    case EAFNOSUPPORT:
      return 10047;
    case EADDRINUSE:
      return 10048;
    case EADDRNOTAVAIL:
      return 10049;
    case ENETDOWN:
      return 10050;
    case ENETUNREACH:
      return 10051;
    case ENETRESET:
      return 10052;
    case ECONNABORTED:
      return 10053;
    case ECONNRESET:
    case EPIPE:
      return 10054;
    case ENOBUFS:
    case ENOMEM:
      return 10055;
    case EISCONN:
      return 10056;
    case ENOTCONN:
      return 10057;
    case ESHUTDOWN:
      return 10058;
    case ETIMEDOUT:
      return 10060;
    case ECONNREFUSED:
      return 10061;
    case EHOSTDOWN:
      return 10064;
    case EHOSTUNREACH:
      return 10065;
    default:
      return kSockFailed;
  }
}

int32_t CreateSocket(int32_t* out, bool datagram) {
  *out = -1;
  int fd = socket(AF_INET, (datagram ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC,
                  datagram ? IPPROTO_UDP : IPPROTO_TCP);
  if (fd < 0) return LastError();
  int32_t code = SetNonBlocking(fd);
  if (code != 0) {
    close(fd);
    return code;
  }
  *out = fd;
  return 0;
}

void CloseSocketHandle(int32_t* socket) {
  if (*socket < 0) return;
  close(*socket);
  *socket = -1;
}

int32_t SetSocketReuseAddr(int32_t socket) {
  if (socket < 0) return kSockClosed;
  int on = 1;
  if (setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) return LastError();
  return 0;
}

int32_t BindSocket(int32_t socket, qvSockAddr address) {
  if (socket < 0) return kSockClosed;
  sockaddr_in s = ToNative(address);
  if (bind(socket, reinterpret_cast<sockaddr*>(&s), sizeof s) != 0) return LastError();
  return 0;
}

int32_t ListenSocket(int32_t socket, int32_t backlog) {
  if (socket < 0) return kSockClosed;
  if (listen(socket, backlog) != 0) return LastError();
  return 0;
}

int32_t ConnectSocket(int32_t socket, qvSockAddr address, int64_t timeoutMs,
                      const qvSocketBreak* brk) {
  if (socket < 0) return kSockClosed;
  sockaddr_in s = ToNative(address);
  if (connect(socket, reinterpret_cast<sockaddr*>(&s), sizeof s) == 0) return 0;
  if (errno != EINPROGRESS && errno != EAGAIN && errno != EINTR) return LastError();
  // The first slice waits too: a time-out of 0 means "no limit" to callers of connect.
  short revents = 0;
  int32_t code = WaitReady(socket, POLLOUT, timeoutMs <= 0 ? kSockNoLimit : timeoutMs, brk,
                           &revents);
  if (code != 0) return code;
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return LastError();
  if (error != 0) return SocketErrorFromErrno(error);
  if (revents & (POLLERR | POLLHUP)) return kSockFailed;
  return 0;
}

int32_t AcceptSocket(int32_t socket, int32_t* out, qvSockAddr* peer, int64_t waitMs,
                     const qvSocketBreak* brk) {
  *out = -1;
  if (socket < 0) return kSockClosed;
  for (bool waited = false;; waited = true) {
    sockaddr_in s{};
    socklen_t length = sizeof s;
    int fd = accept4(socket, reinterpret_cast<sockaddr*>(&s), &length,
                     SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) {
      *out = fd;
      if (peer != nullptr) *peer = FromNative(s);
      return 0;
    }
    if (!WouldBlock(errno) && errno != ECONNABORTED) return LastError();
    if (waited && waitMs == 0) return kSockTimeout;
    short revents = 0;
    int32_t code = WaitReady(socket, POLLIN, waitMs, brk, &revents);
    if (code != 0) return code;
  }
}

int32_t SendSocket(int32_t socket, const void* data, size_t length, size_t* sent, int64_t waitMs,
                   const qvSocketBreak* brk) {
  *sent = 0;
  if (socket < 0) return kSockClosed;
  for (bool waited = false;; waited = true) {
    ssize_t n = send(socket, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) {
      *sent = static_cast<size_t>(n);
      return 0;
    }
    if (!WouldBlock(errno)) return LastError();
    if (waited && waitMs == 0) return kSockTimeout;
    short revents = 0;
    int32_t code = WaitReady(socket, POLLOUT, waitMs, brk, &revents);
    if (code != 0) return code;
  }
}

int32_t SendToSocket(int32_t socket, const void* data, size_t length, qvSockAddr to, size_t* sent,
                     int64_t waitMs, const qvSocketBreak* brk) {
  *sent = 0;
  if (socket < 0) return kSockClosed;
  sockaddr_in s = ToNative(to);
  for (bool waited = false;; waited = true) {
    ssize_t n = sendto(socket, data, length, MSG_NOSIGNAL | MSG_DONTWAIT,
                       reinterpret_cast<sockaddr*>(&s), sizeof s);
    if (n >= 0) {
      *sent = static_cast<size_t>(n);
      return 0;
    }
    if (!WouldBlock(errno)) return LastError();
    if (waited && waitMs == 0) return kSockTimeout;
    short revents = 0;
    int32_t code = WaitReady(socket, POLLOUT, waitMs, brk, &revents);
    if (code != 0) return code;
  }
}

int32_t RecvSocket(int32_t socket, void* buffer, size_t length, size_t* got, int64_t waitMs,
                   const qvSocketBreak* brk) {
  *got = 0;
  if (socket < 0) return kSockClosed;
  for (bool waited = false;; waited = true) {
    ssize_t n = recv(socket, buffer, length, MSG_DONTWAIT);
    if (n > 0) {
      *got = static_cast<size_t>(n);
      return 0;
    }
    if (n == 0) return length == 0 ? 0 : kSockClosed;
    if (!WouldBlock(errno)) return LastError();
    if (waited && waitMs == 0) return kSockTimeout;
    short revents = 0;
    int32_t code = WaitReady(socket, POLLIN, waitMs, brk, &revents);
    if (code != 0) return code;
  }
}

int32_t RecvFromSocket(int32_t socket, void* buffer, size_t length, size_t* got, qvSockAddr* from,
                       int64_t waitMs, const qvSocketBreak* brk) {
  *got = 0;
  if (socket < 0) return kSockClosed;
  for (bool waited = false;; waited = true) {
    sockaddr_in s{};
    socklen_t slen = sizeof s;
    ssize_t n = recvfrom(socket, buffer, length, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&s),
                         &slen);
    if (n >= 0) {
      *got = static_cast<size_t>(n);
      if (from != nullptr) *from = FromNative(s);
      return 0;
    }
    if (!WouldBlock(errno)) return LastError();
    if (waited && waitMs == 0) return kSockTimeout;
    short revents = 0;
    int32_t code = WaitReady(socket, POLLIN, waitMs, brk, &revents);
    if (code != 0) return code;
  }
}

int32_t PeekSocket(int32_t socket, bool datagram, int64_t waitMs, const qvSocketBreak* brk) {
  if (socket < 0) return kSockClosed;
  for (bool waited = false;; waited = true) {
    char byte;
    ssize_t n = recv(socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT | (datagram ? MSG_TRUNC : 0));
    if (n > 0 || (n == 0 && datagram)) return 0;
    if (n == 0) return kSockClosed;
    if (!WouldBlock(errno)) return LastError();
    if (waited && waitMs == 0) return kSockTimeout;
    short revents = 0;
    int32_t code = WaitReady(socket, POLLIN, waitMs, brk, &revents);
    if (code != 0) return code;
  }
}

int32_t GetSocketPeer(int32_t socket, qvSockAddr* out) {
  if (socket < 0) return kSockClosed;
  sockaddr_in s{};
  socklen_t length = sizeof s;
  if (getpeername(socket, reinterpret_cast<sockaddr*>(&s), &length) != 0) return LastError();
  *out = FromNative(s);
  return 0;
}

int32_t GetSocketLocal(int32_t socket, qvSockAddr* out) {
  if (socket < 0) return kSockClosed;
  sockaddr_in s{};
  socklen_t length = sizeof s;
  if (getsockname(socket, reinterpret_cast<sockaddr*>(&s), &length) != 0) return LastError();
  *out = FromNative(s);
  return 0;
}

int32_t LookupHostByName(const char* name, qvHostEntry* out) {
  *out = {};
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* list = nullptr;
  int rc = getaddrinfo(name, nullptr, &hints, &list);
  if (rc != 0) return LookupError(rc);
  for (addrinfo* a = list; a != nullptr; a = a->ai_next) {
    if (a->ai_canonname != nullptr && out->name.empty()) out->name = a->ai_canonname;
    if (a->ai_family != AF_INET || a->ai_addr == nullptr) continue;
    uint32_t ip = ntohl(reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr);
    bool seen = false;
    for (uint32_t known : out->addresses) seen = seen || known == ip;
    if (!seen) out->addresses.push_back(ip);
  }
  freeaddrinfo(list);
  if (out->name.empty()) out->name = name;
  // The name asked for is another name of the host when the resolver went on to a canonical one.
  if (out->name != name) out->aliases.emplace_back(name);
  if (out->addresses.empty()) return kSockErrNoData;
  return 0;
}

int32_t LookupHostByAddr(uint32_t ip, qvHostEntry* out) {
  *out = {};
  sockaddr_in s = ToNative({ip, 0});
  char host[NI_MAXHOST];
  int rc = getnameinfo(reinterpret_cast<sockaddr*>(&s), sizeof s, host, sizeof host, nullptr, 0,
                       NI_NAMEREQD);
  if (rc != 0) return LookupError(rc);
  out->name = host;
  out->addresses.push_back(ip);
  return 0;
}

int32_t GetLocalHostName(char* out, size_t size) {
  if (size == 0) return 10014;
  if (gethostname(out, size) != 0) return LastError();
  out[size - 1] = '\0';
  return 0;
}

std::string FormatIPv4(uint32_t ip) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", ip >> 24, (ip >> 16) & 255u, (ip >> 8) & 255u,
                ip & 255u);
  return text;
}

const char* SocketErrorText(int32_t code) {
  static const struct {
    int32_t code;
    const char* text;
  } kTexts[] = {
      {10004, "Interrupted function call"},
      {10013, "Permission denied"},
      {10014, "Bad address"},
      {10022, "Invalid argument"},
      {10024, "Too many open files"},
      {10035, "Resource temporarily unavailable"},
      {10036, "Operation now in progress"},
      {10037, "Operation already in progress"},
      {10038, "Socket operation on nonsocket"},
      {10039, "Destination address required"},
      {10040, "Message too long"},
      {10041, "Protocol wrong type for socket"},
      {10042, "Bad protocol option"},
      {10043, "Protocol not supported"},
      {10044, "Socket type not supported"},
      {10045, "Operation not supported"},
      {10046, "Protocol family not supported"},
      {10047, "Address family not supported by protocol family"},
      {10048, "Address already in use"},
      {10049, "Cannot assign requested address"},
      {10050, "Network is down"},
      {10051, "Network is unreachable"},
      {10052, "Network dropped connection on reset"},
      {10053, "Software caused connection abort"},
      {10054, "Connection reset by peer"},
      {10055, "No buffer space available"},
      {10056, "Socket is already connected"},
      {10057, "Socket is not connected"},
      {10058, "Cannot send after socket shutdown"},
      {10060, "Connection timed out"},
      {10061, "Connection refused"},
      {10064, "Host is down"},
      {10065, "No route to host"},
      {10067, "Too many processes"},
      {10091, "Network subsystem is unavailable"},
      {10092, "Socket interface version out of range"},
      {10093, "Successful WSAStartup not yet performed"},
      {10101, "Graceful shutdown in progress"},
      {11001, "Host not found"},
      {11002, "Nonauthoritative host not found"},
      {11003, "Nonrecoverable name lookup error"},
      {11004, "Valid name, no data record of requested type"},
  };
  for (const auto& t : kTexts) {
    if (t.code == code) return t.text;
  }
  return "Unknown error";
}

const char* NetStatusText(int32_t code) {
  if (code == kSockClosed) return "closed";
  if (code == kSockTimeout) return "timeout";
  return code != 0 ? "unknown error" : "";
}

const char* NetErrorWord(int32_t code) {
  if (code < 1) return NetStatusText(code);
  if (code == kSockErrHostNotFound) return "host not found";
  return SocketErrorText(code);
}

const char* NetErrorWordShort(int32_t code) {
  if (code < 1) return NetStatusText(code);
  switch (code) {
    case kSockErrAccess:
      return "permission denied";
    case kSockErrAddrInUse:
      return "address already in use";
    case kSockErrConnAborted:
    case kSockErrConnReset:
      return "closed";
    case kSockErrIsConn:
      return "already connected";
    case kSockErrTimedOut:
      return "timeout";
    case kSockErrConnRefused:
      return "connection refused";
    default:
      return SocketErrorText(code);
  }
}

}  // namespace qv
