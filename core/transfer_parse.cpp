// The readers of the transfer client: URLs, HTTP status lines, header lines and bodies, FTP
// replies, PASV addresses and the sizes of 150 replies. Everything read from a peer is bounded:
// lines are cut at 1023 bytes, heads and replies at 64 KiB, sizes at 63 bits, and memory grows
// with the data that really came, never with what a header announced.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

#include "base/errors.h"
#include "core/transfer.h"
#include "platform/memory.h"

namespace qv {

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (Lower(text[i]) != Lower(prefix[i])) return false;
  }
  return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && StartsWithNoCase(a, b);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view v) {
  while (!v.empty() && IsBlank(v.front())) v.remove_prefix(1);
  while (!v.empty() && IsBlank(v.back())) v.remove_suffix(1);
  return v;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = Lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The directory part of a path (up to and with its last "/", before any query).
std::string DirectoryOf(std::string_view path) {
  size_t query = path.find('?');
  if (query != std::string_view::npos) path = path.substr(0, query);
  size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? "/" : path.substr(0, slash + 1));
}

}  // namespace

std::string PercentEncode(std::string_view url) {
  static const char kSpecial[] = "\"<>%\\^[]`+$,";
  std::string out;
  out.reserve(url.size());
  for (char ch : url) {
    auto c = static_cast<unsigned char>(ch);
    if (c < 0x21 || c > 0x7A || std::strchr(kSpecial, c) != nullptr) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02x", c);
      out += hex;
    } else {
      out += ch;
    }
  }
  return out;
}

int32_t ParseTransferUrl(std::string_view url, qvUrlParts* out) {
  *out = {};
  std::string_view rest;
  if (StartsWithNoCase(url, "http://")) {
    out->scheme = 'h';
    out->port = 80;
    rest = url.substr(7);
  } else if (StartsWithNoCase(url, "ftp://")) {
    out->scheme = 'f';
    out->port = 21;
    rest = url.substr(6);
  } else {
    return ERR_UNKPROTOCOL;
  }
  size_t end = rest.find_first_of("/?");
  std::string_view hostPart = rest.substr(0, end);
  if (end != std::string_view::npos) {
    out->path = rest[end] == '/' ? std::string(rest.substr(end))
                                 : "/" + std::string(rest.substr(end));
  }
  if (out->path.size() > kUrlPathLimit || hostPart.size() > 3 * kUrlPartLimit) return ERR_BADURL;
  out->hostPart = std::string(hostPart);

  if (out->scheme == 'f' && out->path.size() > 7) {
    std::string_view tail = std::string_view(out->path).substr(out->path.size() - 7);
    if (StartsWithNoCase(tail, ";type=")) {
      char letter = Lower(tail[6]);
      if (letter != 'i' && letter != 'a') return ERR_BADURL;
      out->type = letter;
      out->path.resize(out->path.size() - 7);
    }
  }

  size_t at = hostPart.rfind('@');
  if (at != std::string_view::npos) {
    if (out->scheme != 'f') return ERR_BADURL;
    std::string_view userInfo = hostPart.substr(0, at);
    size_t colon = userInfo.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 >= userInfo.size()) {
      return ERR_BADURL;
    }
    out->user = std::string(userInfo.substr(0, colon));
    out->password = std::string(userInfo.substr(colon + 1));
    out->hasUser = true;
    hostPart = hostPart.substr(at + 1);
  }
  size_t colon = hostPart.find(':');
  std::string_view host = hostPart.substr(0, colon);
  if (colon != std::string_view::npos) {
    std::string_view digits = hostPart.substr(colon + 1);
    if (digits.empty() || digits.size() > 5) return ERR_BADURL;
    uint32_t port = 0;
    for (char c : digits) {
      if (!IsDigit(c)) return ERR_BADURL;
      port = port * 10 + static_cast<uint32_t>(c - '0');
    }
    if (port < 1 || port > 65535) return ERR_BADURL;
    out->port = static_cast<uint16_t>(port);
  }
  if (host.empty() || host.size() > kUrlPartLimit || out->user.size() > kUrlPartLimit ||
      out->password.size() > kUrlPartLimit) {
    return ERR_BADURL;
  }
  out->host = std::string(host);
  return 0;
}

std::string ResolveLocation(const qvUrlParts& base, std::string_view location) {
  size_t scheme = location.find("://");
  if (scheme != std::string_view::npos && location.find('/') > scheme) {
    return std::string(location);
  }
  std::string origin = base.scheme == 'f' ? "ftp:" : "http:";
  if (location.substr(0, 2) == "//") return origin + std::string(location);
  origin += "//" + base.hostPart;
  if (!location.empty() && location.front() == '/') return origin + std::string(location);
  if (!location.empty() && location.front() == '?') {
    std::string_view path = base.path;
    return origin + std::string(path.substr(0, path.find('?'))) + std::string(location);
  }
  return origin + DirectoryOf(base.path) + std::string(location);
}

int32_t ParseStatusLine(std::string_view line, int32_t* status) {
  if (line.substr(0, 5) != "HTTP/") return 1001;
  size_t i = 5;
  size_t digits = 0;
  while (i < line.size() && (IsDigit(line[i]) || line[i] == '.')) {
    digits += IsDigit(line[i]) ? 1 : 0;
    ++i;
  }
  if (digits == 0) return 1002;
  if (i >= line.size() || line[i] != ' ') return 1003;
  while (i < line.size() && line[i] == ' ') ++i;
  int32_t value = 0;
  size_t n = 0;
  while (i < line.size() && IsDigit(line[i]) && n < 9) {
    value = value * 10 + (line[i] - '0');
    ++i;
    ++n;
  }
  if (n == 0) return 1003;
  *status = value;
  return 0;
}

int32_t ParseHeaderLine(std::string_view line, qvHttpHead* head) {
  size_t colon = line.find(':');
  if (colon == std::string_view::npos) return 0;
  std::string_view name = Trim(line.substr(0, colon));
  std::string_view value = Trim(line.substr(colon + 1));
  if (EqualsNoCase(name, "content-length")) {
    // A length that is no plain decimal number (empty, negative, past 63 bits) is no length: the
    // body runs until the server closes, as without one.
    int64_t length = value.empty() ? -1 : 0;
    for (char c : value) {
      int64_t digit = c - '0';
      if (!IsDigit(c) || length > (INT64_MAX - digit) / 10) {
        length = -1;
        break;
      }
      length = length * 10 + digit;
    }
    head->contentLength = length;
  } else if (EqualsNoCase(name, "transfer-encoding")) {
    if (EqualsNoCase(value, "chunked")) {
      head->chunked = true;
    } else if (!EqualsNoCase(value, "identity")) {
      return ERR_HTTPTE;
    }
  } else if (EqualsNoCase(name, "location")) {
    head->hasLocation = true;
    head->location = std::string(value);
  }
  return 0;
}

bool ParseChunkSize(std::string_view line, uint64_t* size) {
  size_t i = 0;
  while (i < line.size() && IsBlank(line[i])) ++i;
  uint64_t value = 0;
  size_t digits = 0;
  for (; i < line.size(); ++i) {
    int h = HexValue(line[i]);
    if (h < 0) break;
    if (value > (UINT64_C(0x7FFFFFFFFFFFFFFF) >> 4)) return false;
    value = (value << 4) | static_cast<uint64_t>(h);
    ++digits;
  }
  if (digits == 0) return false;
  *size = value;
  return true;
}

// A head longer than the limit, in lines or in one line: named as what it is, as an HTTP error
// would report a status that the head may well have said was success.
static int32_t HeadTooLong() {
  SetErrorString(kHttpHeadTooLong);
  return ERR_INTERNAL1;
}

int32_t ReadHttpHead(qvNetContext* ctx, qvSocketStream* s, qvHttpHead* head) {
  uint64_t used = 0;
  std::string line;
  for (;;) {
    *head = {};
    if (used >= kHttpHeadLimit) return HeadTooLong();
    int32_t status = ReadStreamLine(ctx, s, &line, &used, kHttpHeadLimit - used);
    if (status == kRecvTooLong) return HeadTooLong();
    if (status != 0) return ReceiveStatusError(ctx, status);
    int32_t number = ParseStatusLine(line, &head->status);
    if (number != 0) {
      SetErrorNumber(number);
      return ERR_HTTPERROR;
    }
    for (;;) {
      if (used >= kHttpHeadLimit) return HeadTooLong();
      status = ReadStreamLine(ctx, s, &line, &used, kHttpHeadLimit - used);
      if (status == kRecvTooLong) return HeadTooLong();
      if (status != 0) return ReceiveStatusError(ctx, status);
      if (line.empty()) break;
      int32_t code = ParseHeaderLine(line, head);
      if (code != 0) return code;
    }
    if (head->status != 100) return 0;
  }
}

int32_t qvPayloadSink::Put(const char* data, size_t length) {
  if (length == 0) return 0;
  int32_t code = Store(data, length);
  if (code != 0) return code;
  count += length;
  if (progress == nullptr) return 0;
  code = progress(progressContext, count, total);
  if (code == kRecvStop) stopped = true;
  return code;
}

qvPayloadBuffer::qvPayloadBuffer(qvPayloadBuffer&& other) noexcept
    : block_(other.block_), size_(other.size_), capacity_(other.capacity_), mapped_(other.mapped_) {
  other.block_ = nullptr;
  other.size_ = other.capacity_ = 0;
  other.mapped_ = false;
}

qvPayloadBuffer& qvPayloadBuffer::operator=(qvPayloadBuffer&& other) noexcept {
  if (this != &other) {
    Clear();
    std::swap(block_, other.block_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    std::swap(mapped_, other.mapped_);
  }
  return *this;
}

qvPayloadBuffer::~qvPayloadBuffer() { Clear(); }

void qvPayloadBuffer::Clear() {
  if (mapped_) {
    UnmapBlock(block_, capacity_);
  } else {
    std::free(block_);
  }
  block_ = nullptr;
  size_ = capacity_ = 0;
  mapped_ = false;
}

bool qvPayloadBuffer::Append(const char* bytes, size_t length) {
  if (length == 0) return true;
  if (length > SIZE_MAX / 4 - size_) return false;
  if (size_ + length > capacity_) {
    // Blocks past a mebibyte come from the kernel in huge pages; below, the heap serves.
    constexpr size_t kMapFrom = size_t{1} << 20;
    size_t capacity = std::max<size_t>(capacity_ * 2, 16384);
    while (capacity < size_ + length) capacity *= 2;
    char* block = nullptr;
    if (capacity < kMapFrom) {
      block = static_cast<char*>(std::realloc(block_, capacity));
    } else if (mapped_) {
      block = static_cast<char*>(ResizeMappedBlock(block_, capacity_, capacity));
    } else {
      block = static_cast<char*>(MapBlock(capacity));
      if (block != nullptr) {
        if (size_ > 0) std::memcpy(block, block_, size_);
        std::free(block_);
        mapped_ = true;
      }
    }
    if (block == nullptr) return false;
    block_ = block;
    capacity_ = capacity;
  }
  std::memcpy(block_ + size_, bytes, length);
  size_ += length;
  return true;
}

int32_t qvMemoryPayload::Store(const char* bytes, size_t length) {
  return data.Append(bytes, length) ? 0 : ERR_MEM;
}

int32_t ReadHttpBody(qvNetContext* ctx, qvSocketStream* s, const qvHttpHead& head,
                     qvPayloadSink* sink) {
  bool done = false;
  if (head.chunked) {
    std::string line;
    for (;;) {
      uint64_t used = 0;
      int32_t status = ReadStreamLine(ctx, s, &line, &used, kHttpHeadLimit);
      uint64_t size = 0;
      if (status == kRecvTooLong || (status == 0 && !ParseChunkSize(line, &size))) {
        SetErrorNumber(3000);
        return ERR_HTTPERROR;
      }
      if (status != 0) return ReceiveStatusError(ctx, status);
      if (size == 0) return 0;
      status = StreamReceive(ctx, s, kReceiveBytes, size, true, sink, &done);
      if (sink->stopped) return 0;
      if (status != 0) return ReceiveStatusError(ctx, status);
      // The line end behind the chunk.
      status = ReadStreamLine(ctx, s, &line, &used, kHttpHeadLimit);
      if (status != 0)
        return status == kRecvTooLong ? ERR_HTTPERROR : ReceiveStatusError(ctx, status);
    }
  }
  if (head.contentLength >= 0) {
    sink->total = static_cast<uint64_t>(head.contentLength);
    if (head.contentLength == 0) return 0;
    int32_t status = StreamReceive(ctx, s, kReceiveBytes, sink->total, true, sink, &done);
    if (sink->stopped) return 0;
    return status != 0 ? ReceiveStatusError(ctx, status) : 0;
  }
  int32_t status = StreamReceive(ctx, s, kReceiveAll, 0, true, sink, &done);
  if (sink->stopped || status == kSockClosed) return 0;
  return status != 0 ? ReceiveStatusError(ctx, status) : 0;
}

int32_t ReadFtpReply(qvNetContext* ctx, qvSocketStream* s, qvFtpReply* reply) {
  *reply = {};
  uint64_t used = 0;
  std::string line;
  int32_t status = ReadStreamLine(ctx, s, &line, &used, kFtpReplyLimit);
  if (status == kRecvTooLong) {
    SetErrorNumber(1);
    return ERR_FTPERROR;
  }
  if (status != 0) return ReceiveStatusError(ctx, status);
  size_t digits = 0;
  while (digits < line.size() && digits < 9 && IsDigit(line[digits])) {
    reply->code = reply->code * 10 + (line[digits] - '0');
    ++digits;
  }
  if (digits > 0 && line.size() > digits && line[digits] == '-') {
    // A multi-line reply ends with the line that begins with the same code and a blank; the lines
    // between may begin with anything.
    std::string code = line.substr(0, digits);
    for (;;) {
      if (used >= kFtpReplyLimit) {
        SetErrorNumber(1);
        return ERR_FTPERROR;
      }
      status = ReadStreamLine(ctx, s, &line, &used, kFtpReplyLimit - used);
      if (status == kRecvTooLong) {
        SetErrorNumber(1);
        return ERR_FTPERROR;
      }
      if (status != 0) return ReceiveStatusError(ctx, status);
      if (line.compare(0, digits, code) == 0 && (line.size() == digits || line[digits] == ' ')) {
        break;
      }
    }
  }
  reply->text = std::move(line);
  return 0;
}

bool ParsePasvReply(std::string_view text, qvSockAddr* address) {
  if (text.size() <= 4) return false;
  std::string_view rest = text.substr(4);
  size_t i = 0;
  while (i < rest.size() && !IsDigit(rest[i])) ++i;
  uint32_t numbers[6];
  int count = 0;
  for (;;) {
    if (i >= rest.size() || !IsDigit(rest[i])) return false;
    uint32_t value = 0;
    while (i < rest.size() && IsDigit(rest[i])) {
      value = value * 10 + static_cast<uint32_t>(rest[i] - '0');
      if (value > 255) return false;
      ++i;
    }
    if (count == 6) return false;
    numbers[count++] = value;
    if (i < rest.size() && rest[i] == ',') {
      ++i;
      continue;
    }
    break;
  }
  if (count != 6) return false;
  address->ip = numbers[0] << 24 | numbers[1] << 16 | numbers[2] << 8 | numbers[3];
  address->port = static_cast<uint16_t>(numbers[4] * 256 + numbers[5]);
  return true;
}

int64_t ParseFtpSize(std::string_view text) {
  size_t end = text.size();
  while (end > 4) {
    if (IsDigit(text[end - 1])) break;
    --end;
  }
  if (end <= 4) return -1;
  size_t begin = end;
  while (begin > 4 && IsDigit(text[begin - 1])) --begin;
  if (text.substr(end, 6) != " bytes") return -1;
  int64_t value = 0;
  for (size_t i = begin; i < end; ++i) {
    if (value > (INT64_MAX - 9) / 10) return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

}  // namespace qv
