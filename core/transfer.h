// The HTTP/1.1 and FTP transfer client behind DownloadFile and UploadFile: one blocking transfer
// of a whole resource to memory or a file, or from memory or a file (FTP), with a progress hook
// that can stop it. The parsers of URLs, HTTP heads and FTP replies are separate so that tests and
// fuzz targets reach them from memory. Script thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/netstream.h"

namespace qv {

// ---- URLs ----

// Every byte outside 0x21..0x7A and each of " < > % \ ^ [ ] ` + $ , as "%" and two lower-case
// hexadecimal digits.
std::string PercentEncode(std::string_view url);

struct qvUrlParts {
  char scheme = 'h';     // 'h' HTTP, 'f' FTP
  std::string hostPart;  // as written between the scheme and the path
  std::string host;
  uint16_t port = 80;
  std::string path = "/";
  std::string user;
  std::string password;
  bool hasUser = false;
  char type = 0;  // the letter of an FTP ";type=" suffix, 0 without one
};
// Longest host, user and password parts, and path, that a URL may have.
constexpr size_t kUrlPartLimit = 255;
constexpr size_t kUrlPathLimit = 8192;
// Splits a URL: 0, ERR_UNKPROTOCOL for a scheme other than http:// and ftp://, or ERR_BADURL (a
// bad ";type=" letter, a bad user part, a port that is not 1-65535, a part over its limit).
int32_t ParseTransferUrl(std::string_view url, qvUrlParts* out);
// A Location against the URL it came from: absolute ("scheme://..."), network-path ("//host/..."),
// absolute-path ("/...") or relative ("x", "?q").
std::string ResolveLocation(const qvUrlParts& base, std::string_view location);

// ---- HTTP heads ----

struct qvHttpHead {
  int32_t status = 0;
  int64_t contentLength = -1;  // -1: no Content-Length
  bool chunked = false;
  bool hasLocation = false;
  std::string location;
};
// A status line "HTTP/<version> <status>": 0 with the status, or the number that ERR_HTTPERROR
// reports (1001 no "HTTP/", 1002 no version, 1003 no blank).
int32_t ParseStatusLine(std::string_view line, int32_t* status);
// One header line into the head (names up to ":" without regard to case, blanks around the value
// skipped): 0, or ERR_HTTPTE for a transfer coding other than chunked or identity. A
// Content-Length that is no decimal number of at most 63 bits leaves the length unknown (-1).
int32_t ParseHeaderLine(std::string_view line, qvHttpHead* head);
// A chunk-size line (hexadecimal digits, then optional blanks and ";extensions"): true with the
// size; false without digits or past 63 bits.
bool ParseChunkSize(std::string_view line, uint64_t* size);
// The largest head (status line and header lines, also those of 1xx responses) that is read.
constexpr uint64_t kHttpHeadLimit = uint64_t{64} * 1024;
// The text argument of the error for a longer head.
inline constexpr char kHttpHeadTooLong[] = "HTTP head over 65536 bytes";
// Reads a status line and its header lines, skipping 100 responses: 0, or ERR_HTTPERROR (with the
// error number), ERR_INTERNAL1 (with kHttpHeadTooLong as its text) for a head over
// kHttpHeadLimit, in lines or in one line, ERR_HTTPTE, or a receive error (ReceiveStatusError).
int32_t ReadHttpHead(qvNetContext* ctx, qvSocketStream* s, qvHttpHead* head);

// Where a transfer's payload goes, with the progress hook: Put returns 0, an error code, or
// kRecvStop.
class qvPayloadSink : public qvRecvSink {
 public:
  int32_t Put(const char* data, size_t length) override;
  virtual int32_t Store(const char* data, size_t length) = 0;
  // Called after each piece with the count so far; 0, an error code or kRecvStop.
  int32_t (*progress)(void* context, uint64_t count, uint64_t total) = nullptr;
  void* progressContext = nullptr;
  uint64_t count = 0;
  uint64_t total = 0;
  bool stopped = false;  // the hook asked to stop
};
// The bytes of a download into memory: one block that doubles when full, on the C heap while
// small and then in huge pages that the kernel moves without copying them, so that a body of any
// size costs each byte one copy and each huge page one fault.
class qvPayloadBuffer {
 public:
  qvPayloadBuffer() = default;
  qvPayloadBuffer(qvPayloadBuffer&& other) noexcept;
  qvPayloadBuffer& operator=(qvPayloadBuffer&& other) noexcept;
  qvPayloadBuffer(const qvPayloadBuffer&) = delete;
  qvPayloadBuffer& operator=(const qvPayloadBuffer&) = delete;
  ~qvPayloadBuffer();
  // False when there is no memory for the bytes (the buffer then as it was).
  bool Append(const char* bytes, size_t length);
  void Clear();
  const char* data() const { return block_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::string_view view() const { return {block_ != nullptr ? block_ : "", size_}; }

 private:
  char* block_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
  bool mapped_ = false;
};

class qvMemoryPayload : public qvPayloadSink {
 public:
  int32_t Store(const char* data, size_t length) override;
  qvPayloadBuffer data;
};
// Reads the body that the head announces (Content-Length, chunked, or up to the close): 0 (also
// when the sink stopped it), ERR_HTTPERROR (number 3000) for a bad chunk size, or a receive error.
int32_t ReadHttpBody(qvNetContext* ctx, qvSocketStream* s, const qvHttpHead& head,
                     qvPayloadSink* sink);

// ---- FTP replies ----

struct qvFtpReply {
  int32_t code = 0;
  std::string text;  // the last line
};
// The largest reply that is read.
constexpr uint64_t kFtpReplyLimit = uint64_t{64} * 1024;
// Reads one reply; a multi-line reply ("123-") runs to the line that begins with its code and a
// blank. 0, ERR_FTPERROR (number 1: a reply over kFtpReplyLimit), or a receive error.
int32_t ReadFtpReply(qvNetContext* ctx, qvSocketStream* s, qvFtpReply* reply);
// The data address of a PASV reply: the six decimal numbers (each 0-255) after its first four
// characters, separated by commas. False unless there are exactly six.
bool ParsePasvReply(std::string_view text, qvSockAddr* address);
// The size that a 150 reply announces: the last run of digits, outside the first four characters,
// followed by " bytes". -1 without one.
int64_t ParseFtpSize(std::string_view text);

// ---- transfers ----

struct qvTransferOptions {
  bool upload = false;
  std::string url;
  bool hasFile = false;
  std::string file;
  bool hasProxy = false;
  std::string proxy;
  bool hasPost = false;
  std::string post;
  std::string postType = "application/x-www-form-urlencoded";
  std::string userAgent = "Quillvane 5.2";
  bool fail404 = false;
  bool redirect = true;
  int32_t transferMode = 'i';  // FTPBINARY 'i' or FTPASCII 'a'
  bool hasData = false;
  std::string data;
  int32_t (*progress)(void* context, uint64_t count, uint64_t total) = nullptr;
  void* progressContext = nullptr;
};
struct qvTransferResult {
  qvPayloadBuffer data;  // a download to memory
  uint64_t count = 0;
};
constexpr int kMaxRedirects = 5;
// The guest login of FTP.
extern const char kFtpGuestUser[];
extern const char kFtpGuestPassword[];
// Runs the transfer: 0 (also when the progress hook stopped it), or the error code with its text
// or number argument stored.
int32_t RunTransfer(qvNetContext* ctx, const qvTransferOptions& options, qvTransferResult* result);

}  // namespace qv
