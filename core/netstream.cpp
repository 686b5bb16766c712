// Streams, the send loop and the receive machinery of the network code.
#include "core/netstream.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "base/errors.h"
#include "core/events.h"
#include "platform/time.h"
#include "vm/vm.h"

namespace qv {

namespace {

int BreakHook(void* context) {
  auto* ctx = static_cast<qvNetContext*>(context);
  if (ctx->breakCode != 0) return 1;
  if (ctx->L == nullptr) return 0;
  if (VmGetEndFlag(ctx->L) != 0) {
    ctx->breakCode = ERR_USERABORT;
    return 1;
  }
  int32_t code = CheckBreak(ctx->L, 0, nullptr);
  if (code != 0) {
    ctx->breakCode = code;
    return 1;
  }
  return 0;
}

int32_t SocketSend(qvSocketStream* s, const char* data, size_t length, size_t* sent, int64_t waitMs,
                   const qvSocketBreak* brk) {
  return SendSocket(s->socket, data, length, sent, waitMs, brk);
}
int32_t SocketRecv(qvSocketStream* s, char* buffer, size_t length, size_t* got, int64_t waitMs,
                   const qvSocketBreak* brk) {
  return RecvSocket(s->socket, buffer, length, got, waitMs, brk);
}
void SocketClose(qvSocketStream* s) { CloseSocketHandle(&s->socket); }

const qvStreamOps kSocketOps = {SocketSend, SocketRecv, SocketClose};

struct MemorySource {
  std::string input;
  size_t position = 0;
  size_t piece = 0;
  bool stall = false;
  std::string* sent = nullptr;
};

int32_t MemorySend(qvSocketStream* s, const char* data, size_t length, size_t* sent, int64_t,
                   const qvSocketBreak*) {
  auto* m = static_cast<MemorySource*>(s->source);
  if (m->sent != nullptr) m->sent->append(data, length);
  *sent = length;
  return 0;
}
int32_t MemoryRecv(qvSocketStream* s, char* buffer, size_t length, size_t* got, int64_t,
                   const qvSocketBreak*) {
  auto* m = static_cast<MemorySource*>(s->source);
  *got = 0;
  if (m->position >= m->input.size()) return m->stall ? kSockTimeout : kSockClosed;
  size_t n = std::min(length, m->input.size() - m->position);
  if (m->piece != 0) n = std::min(n, m->piece);
  m->input.copy(buffer, n, m->position);
  m->position += n;
  *got = n;
  return 0;
}
void MemoryClose(qvSocketStream* s) {
  delete static_cast<MemorySource*>(s->source);
  s->source = nullptr;
}

const qvStreamOps kMemoryOps = {MemorySend, MemoryRecv, MemoryClose};

// Milliseconds a wait may take when the last progress was at `since`: kSockNoLimit without a
// network time-out, else what is left of it (at least 0).
int64_t WaitLeft(const qvNetContext* ctx, int64_t since) {
  if (ctx->timeoutMs <= 0) return kSockNoLimit;
  return std::max<int64_t>(0, ctx->timeoutMs - (SocketClockMs() - since));
}

}  // namespace

double NetTimeLeft(const qvNetTimeout& t, double now) {
  if (t.operation < 0 && t.total < 0) return -1;
  double rest = std::max(0.0, t.start + t.total - now);
  if (t.operation < 0) return rest;
  if (t.total < 0) return t.operation;
  return std::min(t.operation, rest);
}

void InitNetContext(qvNetContext* ctx, qvScriptState* L, int64_t timeoutMs) {
  ctx->L = L;
  ctx->timeoutMs = timeoutMs;
  ctx->breakCode = 0;
  ctx->brk.check = BreakHook;
  ctx->brk.context = ctx;
}

qvSocketStream* NewSocketStream(int32_t socket) {
  auto* s = new (std::nothrow) qvSocketStream;
  if (s == nullptr) {
    CloseSocketHandle(&socket);
    return nullptr;
  }
  s->socket = socket;
  s->ops = &kSocketOps;
  s->created = GetUnixTimeFloat();
  return s;
}

qvSocketStream* NewMemoryStream(const char* input, size_t size, size_t piece, bool stall,
                                std::string* sent) {
  auto* s = new qvSocketStream;
  auto* m = new MemorySource;
  m->input.assign(input, size);
  m->piece = piece;
  m->stall = stall;
  m->sent = sent;
  s->ops = &kMemoryOps;
  s->source = m;
  return s;
}

void FreeSocketStream(qvSocketStream* stream) {
  if (stream == nullptr) return;
  stream->ops->close(stream);
  delete stream;
}

bool ParseDottedIP(const char* text, uint32_t* ip) {
  uint32_t result = 0;
  const char* p = text;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (*p != '.') return false;
      ++p;
    }
    if (*p < '0' || *p > '9') return false;
    uint32_t value = 0;
    int digits = 0;
    while (*p >= '0' && *p <= '9') {
      value = value * 10 + static_cast<uint32_t>(*p - '0');
      if (++digits > 3 || value > 255) return false;
      ++p;
    }
    result = (result << 8) | value;
  }
  if (*p != '\0') return false;
  *ip = result;
  return true;
}

int32_t ResolveHost(const char* host, uint32_t* ip) {
  if (ParseDottedIP(host, ip)) return 0;
  qvHostEntry entry;
  int32_t code = LookupHostByName(host, &entry);
  if (code != 0) return code;
  *ip = entry.addresses.front();
  return 0;
}

int32_t ConnectStream(qvNetContext* ctx, qvSockAddr address, qvSocketStream** out) {
  *out = nullptr;
  int32_t socket = -1;
  int32_t code = CreateSocket(&socket, false);
  if (code != 0) return code;
  code = ConnectSocket(socket, address, ctx->timeoutMs, &ctx->brk);
  if (code != 0) {
    CloseSocketHandle(&socket);
    return code;
  }
  qvSocketStream* s = NewSocketStream(socket);
  if (s == nullptr) return kSockErrNoBufs;
  s->timeout.operation = 0;
  s->timeout.total = 0;
  *out = s;
  return 0;
}

int32_t StreamSendAll(qvNetContext* ctx, qvSocketStream* s, const char* data, size_t length,
                      size_t* sent) {
  *sent = 0;
  int64_t lastProgress = SocketClockMs();
  while (*sent < length) {
    if (BreakHook(ctx) != 0) return kSockTimeout;
    size_t piece = std::min(length - *sent, kStreamBufferSize);
    size_t moved = 0;
    int32_t code = s->ops->send(s, data + *sent, piece, &moved, WaitLeft(ctx, lastProgress),
                                &ctx->brk);
    if (code != 0) return code;
    if (moved > 0) lastProgress = SocketClockMs();
    *sent += moved;
  }
  return 0;
}

int32_t qvStringSink::Put(const char* data, size_t length) {
  seen += length;
  if (text.size() >= limit_) return 0;
  size_t take = std::min(length, limit_ - text.size());
  text.append(data, take);
  return 0;
}

int32_t StreamReceive(qvNetContext* ctx, qvSocketStream* s, int32_t mode, uint64_t count, bool wait,
                      qvRecvSink* sink, bool* done, uint64_t* moved, uint64_t lineLimit) {
  *done = false;
  uint64_t ignored = 0;
  if (moved == nullptr) moved = &ignored;
  if (mode != kReceiveAll) wait = true;
  uint64_t taken = 0;
  int64_t lastData = SocketClockMs();
  int32_t status = 0;
  std::unique_ptr<char[]> bulk;
  for (;;) {
    if (mode == kReceiveBytes && taken >= count) {
      *done = true;
      return 0;
    }
    // A large payload goes from the socket to the sink in big blocks, bypassing the stream's
    // buffer: a system call and a sink call per 8 KiB would cost more than the bytes themselves.
    // Never more than the count asks for, so the stream keeps what follows.
    uint64_t want = mode == kReceiveAll     ? kBulkReceiveSize
                    : mode == kReceiveBytes ? count - taken
                                            : 0;
    if (!StreamHasBuffered(s) && want >= kBulkReceiveMin) {
      if (bulk == nullptr) bulk.reset(new (std::nothrow) char[kBulkReceiveSize]);
      if (bulk != nullptr) {
        size_t got = 0;
        int64_t waitMs = wait ? WaitLeft(ctx, lastData) : 0;
        size_t ask = static_cast<size_t>(std::min<uint64_t>(want, kBulkReceiveSize));
        status = s->ops->recv(s, bulk.get(), ask, &got, waitMs, &ctx->brk);
        if (status != 0) break;
        lastData = SocketClockMs();
        taken += got;
        *moved += got;
        int32_t code = sink->Put(bulk.get(), got);
        if (code == kRecvStop) {
          *done = true;
          return 0;
        }
        if (code != 0) return code;
        if (BreakHook(ctx) != 0) return kSockTimeout;
        continue;
      }
    }
    if (!StreamHasBuffered(s)) {
      s->readPos = 0;
      s->fill = 0;
      size_t got = 0;
      int64_t waitMs = wait ? WaitLeft(ctx, lastData) : 0;
      status = s->ops->recv(s, s->buffer, sizeof s->buffer, &got, waitMs, &ctx->brk);
      if (status != 0) break;
      s->fill = static_cast<uint32_t>(got);
      lastData = SocketClockMs();
    }
    const char* avail = s->buffer + s->readPos;
    size_t n = s->fill - s->readPos;
    int32_t code = 0;
    if (mode == kReceiveAll) {
      s->readPos += static_cast<uint32_t>(n);
      taken += n;
      *moved += n;
      code = sink->Put(avail, n);
    } else if (mode == kReceiveBytes) {
      size_t take = static_cast<size_t>(std::min<uint64_t>(n, count - taken));
      s->readPos += static_cast<uint32_t>(take);
      taken += take;
      *moved += take;
      code = sink->Put(avail, take);
    } else {
      // Runs of ordinary bytes go out whole; carriage returns are dropped; a line feed ends.
      size_t i = 0, runStart = 0;
      bool ended = false;
      while (i < n && code == 0) {
        char c = avail[i];
        if (c == '\n' || c == '\r') {
          if (i > runStart) code = sink->Put(avail + runStart, i - runStart);
          runStart = i + 1;
          if (c == '\n') {
            ended = true;
            ++i;
            break;
          }
        }
        ++i;
      }
      if (code == 0 && !ended && i > runStart) code = sink->Put(avail + runStart, i - runStart);
      s->readPos += static_cast<uint32_t>(i);
      taken += i;
      *moved += i;
      if (ended && code == 0) {
        *done = true;
        return 0;
      }
      if (taken > lineLimit) return kRecvTooLong;
    }
    if (code == kRecvStop) {
      *done = true;
      return 0;
    }
    if (code != 0) return code;
    if (BreakHook(ctx) != 0) return kSockTimeout;
  }
  if (mode == kReceiveAll && status == kSockClosed && taken > 0) {
    *done = true;
    return 0;
  }
  return status;
}

int32_t ReadStreamLine(qvNetContext* ctx, qvSocketStream* s, std::string* line, uint64_t* consumed,
                       uint64_t limit) {
  qvStringSink sink(1023);
  bool done = false;
  int32_t status = StreamReceive(ctx, s, kReceiveLine, 0, true, &sink, &done, consumed, limit);
  *line = std::move(sink.text);
  if (status != 0) return status;
  return done ? 0 : kSockClosed;
}

int32_t ReceiveStatusError(const qvNetContext* ctx, int32_t status) {
  if (ctx->breakCode != 0) return ctx->breakCode;
  // Socket error numbers lie above every error code.
  if (status >= 1000 && status < kSockErrInterrupted) return status;
  if (status == kSockClosed || status == kSockErrConnReset || status == kSockErrConnAborted) {
    return ERR_RECVCLOSED;
  }
  if (status == kSockTimeout) return ERR_RECVTIMEOUT;
  return ERR_RECVUNKNOWN;
}

}  // namespace qv
