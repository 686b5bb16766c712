// The socket layer on loopback: connect results (refused, time-out, break), the closed status,
// peeks, empty datagrams, waits that sleep instead of spinning, and the error words.
#include "platform/sockets.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <ctime>
#include <string>
#include <vector>

using namespace qv;

namespace {

constexpr uint32_t kLoopback = 0x7F000001;

// A listening socket on a free loopback port.
struct Listener {
  explicit Listener(int backlog = 8) {
    EXPECT_EQ(CreateSocket(&socket, false), 0);
    EXPECT_EQ(BindSocket(socket, {kLoopback, 0}), 0);
    EXPECT_EQ(ListenSocket(socket, backlog), 0);
    qvSockAddr local;
    EXPECT_EQ(GetSocketLocal(socket, &local), 0);
    port = local.port;
  }
  ~Listener() { CloseSocketHandle(&socket); }
  int32_t socket = -1;
  uint16_t port = 0;
};

// A connected pair: the client end and the accepted end.
struct Pair {
  Pair() {
    EXPECT_EQ(CreateSocket(&client, false), 0);
    EXPECT_EQ(ConnectSocket(client, {kLoopback, listener.port}, 1000, nullptr), 0);
    EXPECT_EQ(AcceptSocket(listener.socket, &server, nullptr, 1000, nullptr), 0);
  }
  ~Pair() {
    CloseSocketHandle(&client);
    CloseSocketHandle(&server);
  }
  Listener listener;
  int32_t client = -1;
  int32_t server = -1;
};

struct CountingBreak {
  int calls = 0;
  int breakAfter = -1;
  static int Check(void* context) {
    auto* self = static_cast<CountingBreak*>(context);
    ++self->calls;
    return self->breakAfter >= 0 && self->calls >= self->breakAfter;
  }
  qvSocketBreak hook() { return {Check, this}; }
};

double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

}  // namespace

TEST(SocketsTest, ConnectToAPortWhereNothingListensIsRefused) {
  uint16_t port = 0;
  {
    Listener gone;
    port = gone.port;
  }
  int32_t s = -1;
  ASSERT_EQ(CreateSocket(&s, false), 0);
  int64_t start = SocketClockMs();
  EXPECT_EQ(ConnectSocket(s, {kLoopback, port}, 5000, nullptr), kSockErrConnRefused);
  EXPECT_LT(SocketClockMs() - start, 1000);
  CloseSocketHandle(&s);
  EXPECT_EQ(s, -1);
}

// A listener with a full accept queue drops further connection attempts, which then hang: the
// time-out ends them, and a break ends them at once.
TEST(SocketsTest, ConnectTimesOutAndABreakEndsItAtOnce) {
  Listener full(0);
  std::vector<int32_t> queued;
  int32_t s = -1;
  int32_t result = 0;
  for (int i = 0; i < 8 && result == 0; ++i) {
    ASSERT_EQ(CreateSocket(&s, false), 0);
    int64_t start = SocketClockMs();
    result = ConnectSocket(s, {kLoopback, full.port}, 300, nullptr);
    if (result == 0) {
      queued.push_back(s);
      continue;
    }
    int64_t took = SocketClockMs() - start;
    EXPECT_EQ(result, kSockTimeout);
    EXPECT_GE(took, 290);
    EXPECT_LT(took, 1500);
    CloseSocketHandle(&s);
  }
  ASSERT_EQ(result, kSockTimeout) << "the accept queue never filled";

  CountingBreak brk;
  brk.breakAfter = 3;
  qvSocketBreak hook = brk.hook();
  ASSERT_EQ(CreateSocket(&s, false), 0);
  int64_t start = SocketClockMs();
  EXPECT_EQ(ConnectSocket(s, {kLoopback, full.port}, 10000, &hook), kSockTimeout);
  EXPECT_LT(SocketClockMs() - start, 500);
  EXPECT_EQ(brk.calls, 3);
  CloseSocketHandle(&s);
  for (int32_t q : queued) CloseSocketHandle(&q);
}

TEST(SocketsTest, AClosedPeerAndAClosedHandleGiveClosed) {
  Pair pair;
  char buffer[16];
  size_t n = 0;
  ASSERT_EQ(SendSocket(pair.client, "0123456789", 10, &n, 1000, nullptr), 0);
  EXPECT_EQ(n, 10u);
  CloseSocketHandle(&pair.client);
  // The bytes sent before the close come first, then the close.
  EXPECT_EQ(PeekSocket(pair.server, false, 1000, nullptr), 0);
  ASSERT_EQ(RecvSocket(pair.server, buffer, sizeof buffer, &n, 1000, nullptr), 0);
  EXPECT_EQ(std::string(buffer, n), "0123456789");
  EXPECT_EQ(PeekSocket(pair.server, false, 1000, nullptr), kSockClosed);
  EXPECT_EQ(RecvSocket(pair.server, buffer, sizeof buffer, &n, 1000, nullptr), kSockClosed);

  int32_t closed = -1;
  qvSockAddr address;
  EXPECT_EQ(RecvSocket(closed, buffer, sizeof buffer, &n, 0, nullptr), kSockClosed);
  EXPECT_EQ(SendSocket(closed, "x", 1, &n, 0, nullptr), kSockClosed);
  EXPECT_EQ(SendToSocket(closed, "x", 1, {kLoopback, 9}, &n, 0, nullptr), kSockClosed);
  EXPECT_EQ(RecvFromSocket(closed, buffer, 1, &n, &address, 0, nullptr), kSockClosed);
  EXPECT_EQ(PeekSocket(closed, true, 0, nullptr), kSockClosed);
  EXPECT_EQ(ConnectSocket(closed, {kLoopback, 9}, 100, nullptr), kSockClosed);
  EXPECT_EQ(AcceptSocket(closed, &closed, nullptr, 0, nullptr), kSockClosed);
  EXPECT_EQ(GetSocketPeer(closed, &address), kSockClosed);
}

TEST(SocketsTest, SendingToAPeerThatWentAwayIsAnErrorNotASignal) {
  Pair pair;
  CloseSocketHandle(&pair.server);
  std::string block(65536, 'x');
  size_t n = 0;
  int32_t code = 0;
  for (int i = 0; i < 100 && code == 0; ++i) {
    code = SendSocket(pair.client, block.data(), block.size(), &n, 100, nullptr);
  }
  EXPECT_EQ(code, kSockErrConnReset);
  EXPECT_STREQ(NetErrorWordShort(code), "closed");
}

// A wait sleeps in poll: 400 ms of waiting cost little processor time, and the break hook is
// asked about every 10 ms.
TEST(SocketsTest, WaitsSleepInSlicesAndAskTheBreakHook) {
  Pair pair;
  CountingBreak brk;
  qvSocketBreak hook = brk.hook();
  char buffer[8];
  size_t n = 0;
  double cpu = CpuSeconds();
  int64_t start = SocketClockMs();
  EXPECT_EQ(RecvSocket(pair.server, buffer, sizeof buffer, &n, 400, &hook), kSockTimeout);
  int64_t took = SocketClockMs() - start;
  EXPECT_GE(took, 390);
  EXPECT_LT(took, 1000);
  EXPECT_LT(CpuSeconds() - cpu, 0.1);
  EXPECT_GE(brk.calls, 20);
  EXPECT_LE(brk.calls, 45);
  // A wait of 0 only polls, and asks nobody.
  brk.calls = 0;
  EXPECT_EQ(PeekSocket(pair.server, false, 0, &hook), kSockTimeout);
  EXPECT_EQ(brk.calls, 0);
}

TEST(SocketsTest, AnEmptyDatagramIsData) {
  int32_t a = -1, b = -1;
  ASSERT_EQ(CreateSocket(&a, true), 0);
  ASSERT_EQ(CreateSocket(&b, true), 0);
  ASSERT_EQ(BindSocket(a, {kLoopback, 0}), 0);
  ASSERT_EQ(BindSocket(b, {kLoopback, 0}), 0);
  qvSockAddr aAddress, bAddress;
  ASSERT_EQ(GetSocketLocal(a, &aAddress), 0);
  ASSERT_EQ(GetSocketLocal(b, &bAddress), 0);
  size_t n = 99;
  ASSERT_EQ(SendToSocket(b, "", 0, aAddress, &n, 1000, nullptr), 0);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(PeekSocket(a, true, 1000, nullptr), 0);
  char buffer[4];
  qvSockAddr from;
  n = 99;
  ASSERT_EQ(RecvFromSocket(a, buffer, sizeof buffer, &n, &from, 1000, nullptr), 0);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(from.ip, kLoopback);
  EXPECT_EQ(from.port, bAddress.port);
  // A datagram longer than the buffer is data too, cut to the buffer.
  ASSERT_EQ(SendToSocket(b, "abcdefgh", 8, aAddress, &n, 1000, nullptr), 0);
  EXPECT_EQ(PeekSocket(a, true, 1000, nullptr), 0);
  ASSERT_EQ(RecvFromSocket(a, buffer, sizeof buffer, &n, &from, 1000, nullptr), 0);
  EXPECT_EQ(std::string(buffer, n), "abcd");
  EXPECT_EQ(RecvFromSocket(a, buffer, sizeof buffer, &n, &from, 0, nullptr), kSockTimeout);
  CloseSocketHandle(&a);
  CloseSocketHandle(&b);
}

TEST(SocketsTest, LoopbackNamesResolveWithoutLeavingTheMachine) {
  qvHostEntry entry;
  ASSERT_EQ(LookupHostByName("localhost", &entry), 0);
  bool loopback = false;
  for (uint32_t ip : entry.addresses) loopback = loopback || ip == kLoopback;
  EXPECT_TRUE(loopback);
  ASSERT_EQ(LookupHostByAddr(kLoopback, &entry), 0);
  EXPECT_FALSE(entry.name.empty());
  ASSERT_EQ(entry.addresses.size(), 1u);
  EXPECT_EQ(FormatIPv4(entry.addresses[0]), "127.0.0.1");
  char name[257];
  EXPECT_EQ(GetLocalHostName(name, sizeof name), 0);
  EXPECT_GT(std::string(name).size(), 0u);
}

TEST(SocketsTest, ErrorNumbersTextsAndWords) {
  const struct {
    int32_t code;
    const char* text;
    const char* word;
    const char* shortWord;
  } kRows[] = {
      {kSockErrConnRefused, "Connection refused", "Connection refused", "connection refused"},
      {kSockErrHostNotFound, "Host not found", "host not found", "Host not found"},
      {kSockErrVersion, "Socket interface version out of range",
       "Socket interface version out of range", "Socket interface version out of range"},
      {kSockErrAddrInUse, "Address already in use", "Address already in use",
       "address already in use"},
      {kSockErrConnAborted, "Software caused connection abort", "Software caused connection abort",
       "closed"},
      {kSockErrTimedOut, "Connection timed out", "Connection timed out", "timeout"},
      {kSockErrAccess, "Permission denied", "Permission denied", "permission denied"},
      {kSockErrIsConn, "Socket is already connected", "Socket is already connected",
       "already connected"},
      {kSockErrNoData, "Valid name, no data record of requested type",
       "Valid name, no data record of requested type",
       "Valid name, no data record of requested type"},
      {kSockClosed, "Unknown error", "closed", "closed"},
      {kSockTimeout, "Unknown error", "timeout", "timeout"},
      {kSockFailed, "Unknown error", "unknown error", "unknown error"},
      {12345, "Unknown error", "Unknown error", "Unknown error"},
  };
  for (const auto& r : kRows) {
    EXPECT_STREQ(SocketErrorText(r.code), r.text) << r.code;
    EXPECT_STREQ(NetErrorWord(r.code), r.word) << r.code;
    EXPECT_STREQ(NetErrorWordShort(r.code), r.shortWord) << r.code;
  }
  EXPECT_STREQ(NetStatusText(0), "");
  // errno values reach scripts in the numbering they know.
  const struct {
    int error;
    int32_t code;
  } kErrno[] = {{EAGAIN, 10035},       {EINPROGRESS, 10036},  {EADDRINUSE, 10048},
                {ECONNABORTED, 10053}, {ECONNRESET, 10054},   {EPIPE, 10054},
                {ETIMEDOUT, 10060},    {ECONNREFUSED, 10061}, {EHOSTUNREACH, 10065},
                {0, kSockFailed}};
  for (const auto& e : kErrno) EXPECT_EQ(SocketErrorFromErrno(e.error), e.code) << e.error;
}
