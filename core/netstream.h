// TCP streams with their receive buffer, the time-out rules, the send loop and the receive
// machinery that the network commands and the transfer client share. Waits block in the socket
// layer up to the network time-out and ask the user break and the script's End flag every 10 ms.
// Script thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/sockets.h"

namespace qv {

struct qvScriptState;

// Time-outs in seconds; -1 is none.
struct qvNetTimeout {
  double operation = -1;
  double total = -1;
  double start = 0;
};
// The seconds one wait may take: -1 for no limit (both negative); the total's rest (never below
// 0) when only the total is set; the operation time-out when only it is set; the smaller of both
// otherwise.
double NetTimeLeft(const qvNetTimeout& timeout, double now);

// What every wait of one command shares: the network time-out (milliseconds, 0 = no limit), and
// the break hook that asks the user break and the End flag of L (null: nothing breaks).
struct qvNetContext {
  qvScriptState* L = nullptr;
  int64_t timeoutMs = 10000;
  int32_t breakCode = 0;  // ERR_USERABORT once the hook found a break or the End flag
  qvSocketBreak brk;
};
// A context for L (may be null) with that network time-out.
void InitNetContext(qvNetContext* ctx, qvScriptState* L, int64_t timeoutMs);

struct qvSocketStream;
// How a stream moves bytes; a socket's, or a memory stream's for tests and fuzzing. Results as the
// socket layer's.
struct qvStreamOps {
  int32_t (*send)(qvSocketStream* s, const char* data, size_t length, size_t* sent, int64_t waitMs,
                  const qvSocketBreak* brk);
  int32_t (*recv)(qvSocketStream* s, char* buffer, size_t length, size_t* got, int64_t waitMs,
                  const qvSocketBreak* brk);
  void (*close)(qvSocketStream* s);
};

constexpr size_t kStreamBufferSize = 8192;
// A payload receive takes blocks of up to kBulkReceiveSize bytes straight from the socket while
// at least kBulkReceiveMin bytes are wanted (StreamReceive).
constexpr size_t kBulkReceiveSize = size_t{256} * 1024;
constexpr size_t kBulkReceiveMin = size_t{64} * 1024;

struct qvSocketStream {
  int32_t socket = -1;
  const qvStreamOps* ops = nullptr;
  void* source = nullptr;  // a memory stream's state
  double created = 0;      // seconds since 1970
  uint32_t readPos = 0;    // the buffer is empty when readPos >= fill
  uint32_t fill = 0;
  qvNetTimeout timeout;
  char buffer[kStreamBufferSize];
};

// A stream around an open socket (taken over: closing the stream closes it), with both time-outs
// -1 and the creation time now; null without memory (the socket is then closed).
qvSocketStream* NewSocketStream(int32_t socket);
// A stream that receives `input` (copied) in pieces of at most `piece` bytes (0: as much as asked)
// and then reports the peer's close (or, with `stall`, time-outs); what is sent to it is appended
// to *sent (may be null). For tests and fuzz targets.
qvSocketStream* NewMemoryStream(const char* input, size_t size, size_t piece, bool stall,
                                std::string* sent);
// Closes and frees; nothing for null.
void FreeSocketStream(qvSocketStream* stream);
// Whether bytes wait in the receive buffer.
inline bool StreamHasBuffered(const qvSocketStream* s) { return s->readPos < s->fill; }

// Creates a TCP stream connected to the address within the network time-out: 0 with *out, or the
// socket layer's result (kSockTimeout also for a break; ctx->breakCode says which).
int32_t ConnectStream(qvNetContext* ctx, qvSockAddr address, qvSocketStream** out);
// Resolves a host text: a dotted quad directly (ParseDottedIP), else through a look-up. 0 or the
// look-up's error.
int32_t ResolveHost(const char* host, uint32_t* ip);
// "%u.%u.%u.%u" with nothing behind and every part at most 255: true with the address.
bool ParseDottedIP(const char* text, uint32_t* ip);

// The send loop: pieces of at most 8192 bytes, each waiting up to the network time-out since the
// last piece that moved bytes. 0 when all went out, else kSockTimeout (time-out or break),
// kSockClosed or the error; *sent counts what went out either way.
int32_t StreamSendAll(qvNetContext* ctx, qvSocketStream* s, const char* data, size_t length,
                      size_t* sent);

// Where received bytes go. Put returns 0, an error code (the receive ends with it), or kRecvStop
// (the receive ends at once with status 0).
class qvRecvSink {
 public:
  virtual ~qvRecvSink() = default;
  virtual int32_t Put(const char* data, size_t length) = 0;
};
constexpr int32_t kRecvStop = -100;
// A line that passed its byte limit (see StreamReceive).
constexpr int32_t kRecvTooLong = -101;

// A sink into a string; with a limit, bytes past it are dropped (and counted in `seen`).
class qvStringSink : public qvRecvSink {
 public:
  explicit qvStringSink(size_t limit = SIZE_MAX) : limit_(limit) {}
  int32_t Put(const char* data, size_t length) override;
  std::string text;
  uint64_t seen = 0;

 private:
  size_t limit_;
};

enum : int32_t { kReceiveAll = 0, kReceiveBytes = 1, kReceiveLine = 2 };

// Receives from the stream's buffer (refilled with up to 8192 bytes at a time; a payload of
// kBulkReceiveMin bytes or more goes in blocks of kBulkReceiveSize past it) into the sink:
// kReceiveAll everything until the peer closes or nothing more comes (with `wait`, nothing for
// the network time-out since the last data; without, nothing at once); kReceiveBytes exactly
// `count` bytes; kReceiveLine up to a line feed, which is consumed with the carriage returns and
// not passed on. Returns the status: 0, kSockTimeout (time-out or break), kSockClosed, a socket
// error, or the sink's error code. *done is true when the count or the line feed was reached, and
// in kReceiveAll when the loop ended without a status (a close after at least one byte is
// success there). *moved (may be null) grows by the bytes taken from the stream; in kReceiveLine a
// line that takes more than lineLimit bytes ends with kRecvTooLong.
int32_t StreamReceive(qvNetContext* ctx, qvSocketStream* s, int32_t mode, uint64_t count, bool wait,
                      qvRecvSink* sink, bool* done, uint64_t* moved = nullptr,
                      uint64_t lineLimit = UINT64_MAX);

// A line of at most 1023 bytes (a longer one is cut and its tail skipped up to its line feed):
// 0, or StreamReceive's status (kSockClosed also for a line that the close cut off, kRecvTooLong
// when the line takes more than `limit` bytes). *consumed grows by the bytes the line took from
// the stream.
int32_t ReadStreamLine(qvNetContext* ctx, qvSocketStream* s, std::string* line, uint64_t* consumed,
                       uint64_t limit);

// The transfer client's error for a receive status: ERR_USERABORT after a break, ERR_RECVCLOSED
// (also for a reset), ERR_RECVTIMEOUT, the status itself when it is an error code (a sink's),
// else ERR_RECVUNKNOWN.
int32_t ReceiveStatusError(const qvNetContext* ctx, int32_t status);

}  // namespace qv
