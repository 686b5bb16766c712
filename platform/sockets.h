// TCP and UDP sockets over IPv4 for the network library: non-blocking sockets, waits with a
// time-out that the caller can break, host look-ups, and the texts of socket errors.
//
// Results follow one convention: 0 for success, a socket error number (the WinSock numbering,
// kSockErr*, so that codes and texts stay the same on every platform), kSockTimeout for a time-out
// or a break, kSockClosed for a closed socket (a handle of -1, or the peer closed the connection
// on receive), kSockFailed for a failure without an error number. Every wait blocks in the
// operating system for at most 10 ms at a time and asks the break hook between the slices, so a
// wait never spins and never outlasts a break. Any thread; the layer keeps no state of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qv {

enum : int32_t {
  kSockTimeout = -1,
  kSockClosed = -2,
  kSockFailed = -3,
};

// The socket error numbers that callers test by name.
enum : int32_t {
  kSockErrInterrupted = 10004,
  kSockErrAccess = 10013,
  kSockErrInvalid = 10022,
  kSockErrWouldBlock = 10035,
  kSockErrInProgress = 10036,
  kSockErrMsgSize = 10040,
  kSockErrAddrInUse = 10048,
  kSockErrAddrNotAvail = 10049,
  kSockErrNetUnreach = 10051,
  kSockErrConnAborted = 10053,
  kSockErrConnReset = 10054,
  kSockErrNoBufs = 10055,
  kSockErrIsConn = 10056,
  kSockErrTimedOut = 10060,
  kSockErrConnRefused = 10061,
  kSockErrHostUnreach = 10065,
  kSockErrVersion = 10092,
  kSockErrHostNotFound = 11001,
  kSockErrTryAgain = 11002,
  kSockErrNoRecovery = 11003,
  kSockErrNoData = 11004,
};

// An IPv4 address (host byte order) and port.
struct qvSockAddr {
  uint32_t ip = 0;
  uint16_t port = 0;
};

// Asked between the slices of every wait: nonzero ends the wait with kSockTimeout.
struct qvSocketBreak {
  int (*check)(void* context) = nullptr;
  void* context = nullptr;
};

// Wait lengths in milliseconds: kSockNoLimit waits until the event or a break; 0 only polls.
constexpr int64_t kSockNoLimit = -1;

// Milliseconds of a monotonic clock (the deadlines of the network code). Any thread.
int64_t SocketClockMs();

// A new socket (a TCP stream, or a UDP datagram socket with `datagram`), already non-blocking:
// 0 with *out, or the error.
int32_t CreateSocket(int32_t* out, bool datagram);
// Closes an open socket and sets *socket to -1; nothing for -1.
void CloseSocketHandle(int32_t* socket);
// SO_REUSEADDR: 0 or the error.
int32_t SetSocketReuseAddr(int32_t socket);
int32_t BindSocket(int32_t socket, qvSockAddr address);
int32_t ListenSocket(int32_t socket, int32_t backlog);
// Connects within timeoutMs, asking the break hook (may be null) every 10 ms: 0, kSockTimeout,
// kSockClosed, kSockFailed, or the error that the connection failed with (kSockErrConnRefused
// when nothing listens).
int32_t ConnectSocket(int32_t socket, qvSockAddr address, int64_t timeoutMs,
                      const qvSocketBreak* brk);
// Accepts a pending connection within waitMs: 0 with *out (non-blocking) and *peer (may be
// null), kSockTimeout, kSockClosed, or the error.
int32_t AcceptSocket(int32_t socket, int32_t* out, qvSockAddr* peer, int64_t waitMs,
                     const qvSocketBreak* brk);
// Sends what it can within waitMs: 0 with *sent (at least 1 byte for a non-empty buffer),
// kSockTimeout with nothing sent, kSockClosed, or the error. Never raises SIGPIPE.
int32_t SendSocket(int32_t socket, const void* data, size_t length, size_t* sent, int64_t waitMs,
                   const qvSocketBreak* brk);
// One datagram to the address.
int32_t SendToSocket(int32_t socket, const void* data, size_t length, qvSockAddr to, size_t* sent,
                     int64_t waitMs, const qvSocketBreak* brk);
// Receives what is there (up to length bytes) within waitMs: 0 with *got >= 1, kSockClosed when
// the peer closed the connection, kSockTimeout, or the error.
int32_t RecvSocket(int32_t socket, void* buffer, size_t length, size_t* got, int64_t waitMs,
                   const qvSocketBreak* brk);
// One datagram (a datagram longer than the buffer is cut): 0 with *got (0 for an empty datagram,
// which is data like any other) and *from, kSockTimeout, or the error.
int32_t RecvFromSocket(int32_t socket, void* buffer, size_t length, size_t* got, qvSockAddr* from,
                       int64_t waitMs, const qvSocketBreak* brk);
// Whether data waits, without taking it: 0 when it does (for a datagram socket also an empty or an
// over-long datagram), kSockClosed when the peer closed, kSockTimeout when nothing came within
// waitMs, or the error.
int32_t PeekSocket(int32_t socket, bool datagram, int64_t waitMs, const qvSocketBreak* brk);
// The address of the peer and of the local end: 0 or the error.
int32_t GetSocketPeer(int32_t socket, qvSockAddr* out);
int32_t GetSocketLocal(int32_t socket, qvSockAddr* out);

// A looked-up host: its official name, its other names and every IPv4 address in the order the
// resolver gave them.
struct qvHostEntry {
  std::string name;
  std::vector<std::string> aliases;
  std::vector<uint32_t> addresses;  // host byte order
};
// Looks a name up: 0 or the error (kSockErrHostNotFound for an unknown name).
int32_t LookupHostByName(const char* name, qvHostEntry* out);
// The name of an address, with that address as the entry's only one: 0 or the error.
int32_t LookupHostByAddr(uint32_t ip, qvHostEntry* out);
// The machine's host name: 0 or the error.
int32_t GetLocalHostName(char* out, size_t size);

// "%u.%u.%u.%u" of an address.
std::string FormatIPv4(uint32_t ip);

// The text of a socket error number; "Unknown error" for any other.
const char* SocketErrorText(int32_t code);
// The words of the network library's messages: the status words for codes below 1 ("closed",
// "timeout", "unknown error"), "host not found" for kSockErrHostNotFound, else SocketErrorText.
const char* NetErrorWord(int32_t code);
// The same with short words for the common connection errors ("connection refused", "closed",
// "timeout", ...).
const char* NetErrorWordShort(int32_t code);
// The status words alone: kSockClosed "closed", kSockTimeout "timeout", any other nonzero
// "unknown error", 0 "".
const char* NetStatusText(int32_t code);
// The socket error number of an errno value (kSockFailed for 0); exposed for its tests.
int32_t SocketErrorFromErrno(int error);

}  // namespace qv
