// One transfer over HTTP/1.1 or FTP: the checks of the options, the connections, the request and
// the exchange. Every way out closes both connections and the file.
#include "core/transfer.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

#include "base/errors.h"
#include "core/vfile.h"

namespace qv {

const char kFtpGuestUser[] = "anonymous";
const char kFtpGuestPassword[] = "quillvane@example.invalid";

namespace {

struct StreamCloser {
  void operator()(qvSocketStream* s) const { FreeSocketStream(s); }
};
using StreamPtr = std::unique_ptr<qvSocketStream, StreamCloser>;

struct FileCloser {
  void operator()(qvFile* f) const { CloseFileQ(f); }
};
using FilePtr = std::unique_ptr<qvFile, FileCloser>;

class FilePayload : public qvPayloadSink {
 public:
  FilePayload(qvFile* file, const std::string& name) : file_(file), name_(name) {}
  int32_t Store(const char* data, size_t length) override {
    if (WriteFileQ(file_, data, length) != length) {
      SetErrorString(name_.c_str());
      return ERR_WRITEFILE;
    }
    return 0;
  }

 private:
  qvFile* file_;
  const std::string& name_;
};

bool StartsWithHttp(const std::string& text) {
  if (text.size() < 7) return false;
  for (size_t i = 0; i < 7; ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != "http://"[i]) return false;
  }
  return true;
}

// Connects to host:port: 0, the break's code, or ERR_SOCKET with the error word as its text.
int32_t Connect(qvNetContext* ctx, const std::string& host, uint16_t port, StreamPtr* out) {
  uint32_t ip = 0;
  int32_t code = ResolveHost(host.c_str(), &ip);
  if (code != 0) {
    SetErrorString(NetErrorWord(code));
    return ERR_SOCKET;
  }
  qvSocketStream* s = nullptr;
  code = ConnectStream(ctx, {ip, port}, &s);
  if (code != 0) {
    if (ctx->breakCode != 0) return ctx->breakCode;
    SetErrorString(NetErrorWordShort(code));
    return ERR_SOCKET;
  }
  out->reset(s);
  return 0;
}

int32_t SendText(qvNetContext* ctx, qvSocketStream* s, const std::string& text) {
  size_t sent = 0;
  int32_t code = StreamSendAll(ctx, s, text.data(), text.size(), &sent);
  if (ctx->breakCode != 0) return ctx->breakCode;
  if (code != 0 || sent != text.size()) return ERR_SENDDATA;
  return 0;
}

// Sends the payload in pieces of 8192 bytes with the progress hook after each: 0 (also when the
// hook stopped it), an error code.
int32_t SendPayload(qvNetContext* ctx, qvSocketStream* s, const char* data, size_t length,
                    qvPayloadSink* progress) {
  for (size_t at = 0; at < length;) {
    size_t piece = std::min(length - at, kStreamBufferSize);
    size_t sent = 0;
    int32_t code = StreamSendAll(ctx, s, data + at, piece, &sent);
    if (ctx->breakCode != 0) return ctx->breakCode;
    if (code != 0 || sent != piece) return ERR_SENDDATA;
    at += piece;
    progress->count += piece;
    if (progress->progress != nullptr) {
      code = progress->progress(progress->progressContext, progress->count, progress->total);
      if (code == kRecvStop) {
        progress->stopped = true;
        return 0;
      }
      if (code != 0) return code;
    }
  }
  return 0;
}

bool Is2xx(int32_t code) { return code >= 200 && code <= 299; }

int32_t FtpError(int32_t number) {
  SetErrorNumber(number);
  return ERR_FTPERROR;
}

class CountingSink : public qvPayloadSink {
 public:
  int32_t Store(const char*, size_t) override { return 0; }
};

struct Transfer {
  qvNetContext* ctx;
  const qvTransferOptions& options;
  qvTransferResult* result;
  std::string post;
  bool hasPost;
  qvFile* source = nullptr;  // an upload's file
  uint64_t sourceLength = 0;

  // Receives the payload through `receive` into memory, or into a new file beside the
  // download's file that replaces it only when the payload came whole: a transfer that fails
  // (a close, a bad chunk, a full disk, a break) leaves an old file as it was.
  int32_t Receive(int64_t total, const std::function<int32_t(qvPayloadSink*)>& receive) {
    auto prepare = [&](qvPayloadSink* sink) {
      sink->progress = options.progress;
      sink->progressContext = options.progressContext;
      if (total > 0) sink->total = static_cast<uint64_t>(total);
    };
    if (!options.hasFile) {
      qvMemoryPayload sink;
      prepare(&sink);
      int32_t code = receive(&sink);
      if (code != 0) return code;
      result->count = sink.count;
      result->data = std::move(sink.data);
      return 0;
    }
    uint64_t count = 0;
    int32_t code = WriteBeside(options.file.c_str(), [&](const char* temp) -> int32_t {
      FilePtr file(OpenFileQ(temp, kFileWrite));
      if (file == nullptr) return ERR_WRITEFILE;
      FilePayload sink(file.get(), options.file);
      prepare(&sink);
      int32_t result = receive(&sink);
      if (CloseFileQ(file.release()) == 0 && result == 0) result = ERR_WRITEFILE;
      count = sink.count;
      return result;
    });
    if (code != 0) return code;
    result->count = count;
    return 0;
  }

  int32_t Http(std::string url) {
    for (int redirects = 0;;) {
      qvUrlParts u;
      int32_t code = ParseTransferUrl(url, &u);
      if (code != 0) return code;
      if (u.scheme == 'f') return Ftp(u);
      if (options.upload) return ERR_WRONGUSAGE;
      qvUrlParts via = u;
      if (options.hasProxy) {
        if (!StartsWithHttp(options.proxy)) return ERR_WRONGUSAGE;
        code = ParseTransferUrl(options.proxy, &via);
        if (code != 0) return code;
      }
      StreamPtr control;
      code = Connect(ctx, via.host, via.port, &control);
      if (code != 0) return code;

      std::string host = u.host;
      if (u.port != 80) host += ":" + std::to_string(u.port);
      std::string request = std::string(hasPost ? "POST" : "GET") + " " +
                            (options.hasProxy ? url : u.path) + " HTTP/1.1\r\n";
      request += "TE: trailers\r\nConnection: close, TE\r\nHost: " +
                 (options.hasProxy ? u.hostPart : host) + "\r\nUser-Agent: " + options.userAgent +
                 "\r\n";
      if (hasPost) {
        request += "Content-Type: " + options.postType +
                   "\r\nContent-Length: " + std::to_string(post.size()) + "\r\n";
      }
      request += "\r\n";
      if (hasPost) request += post + "\r\n";
      code = SendText(ctx, control.get(), request);
      if (code != 0) return code;

      qvHttpHead head;
      code = ReadHttpHead(ctx, control.get(), &head);
      if (code != 0) return code;
      int32_t status = head.status;
      bool redirect = status == 301 || status == 302 || status == 303 || status == 307 ||
                      status == 308;
      if (redirect && head.hasLocation && options.redirect && redirects < kMaxRedirects) {
        ++redirects;
        url = ResolveLocation(u, head.location);
        if (status == 303) {
          hasPost = false;
          post.clear();
        }
        continue;
      }
      if (status == 404 && options.fail404) {
        SetErrorString(u.path.c_str());
        return ERR_FILENOTFOUND;
      }
      if (status == 204 || status == 304 || (status >= 101 && status <= 199)) {
        SetErrorNumber(status);
        return ERR_HTTPERROR;
      }
      return Receive(
          -1, [&](qvPayloadSink* sink) { return ReadHttpBody(ctx, control.get(), head, sink); });
    }
  }

  int32_t Reply(qvSocketStream* s, qvFtpReply* reply) { return ReadFtpReply(ctx, s, reply); }

  int32_t Command(qvSocketStream* s, const std::string& text, qvFtpReply* reply) {
    int32_t code = SendText(ctx, s, text);
    if (code != 0) return code;
    return Reply(s, reply);
  }

  int32_t Ftp(const qvUrlParts& u) {
    if (options.hasProxy) return ERR_WRONGUSAGE;
    int32_t type = u.type != 0 ? u.type : options.transferMode;
    StreamPtr control;
    int32_t code = Connect(ctx, u.host, u.port, &control);
    if (code != 0) return code;
    qvFtpReply reply;
    if ((code = Reply(control.get(), &reply)) != 0) return code;
    if (reply.code >= 100 && reply.code <= 199 && (code = Reply(control.get(), &reply)) != 0) {
      return code;
    }
    if (!Is2xx(reply.code)) return FtpError(0);

    std::string user = u.hasUser ? u.user : kFtpGuestUser;
    std::string password = u.hasUser ? u.password : kFtpGuestPassword;
    if ((code = Command(control.get(), "user " + user + "\r\n", &reply)) != 0) return code;
    if (reply.code == 331 &&
        (code = Command(control.get(), "pass " + password + "\r\n", &reply)) != 0) {
      return code;
    }
    if (reply.code == 530) return ERR_FTPAUTH;
    if (!Is2xx(reply.code)) return FtpError(0);

    if ((code = Command(control.get(), "pasv\r\n", &reply)) != 0) return code;
    if (!Is2xx(reply.code)) return FtpError(0);
    qvSockAddr dataAddress;
    if (!ParsePasvReply(reply.text, &dataAddress)) return FtpError(2);
    StreamPtr data;
    code = Connect(ctx, FormatIPv4(dataAddress.ip), dataAddress.port, &data);
    if (code != 0) return code;

    char typeLine[16];
    std::snprintf(typeLine, sizeof typeLine, "type %c\r\n", static_cast<char>(type));
    if ((code = Command(control.get(), typeLine, &reply)) != 0) return code;
    if (reply.code != 200) return FtpError(0);

    std::string verb = options.upload ? "stor " : "retr ";
    if ((code = Command(control.get(), verb + u.path + "\r\n", &reply)) != 0) return code;
    if (reply.code == 550) {
      SetErrorString(u.path.c_str());
      return options.upload ? ERR_UPLOADFORBIDDEN : ERR_FILENOTFOUND;
    }
    if (reply.code < 100 || reply.code > 299) return FtpError(0);

    std::unique_ptr<qvPayloadSink> sink;
    bool stopped = false;
    if (!options.upload) {
      // The reply that ends the transfer is read before the file replaces the old one: a
      // server that reports a failure after the data leaves the old file too.
      code = Receive(reply.code == 150 ? ParseFtpSize(reply.text) : -1, [&](qvPayloadSink* in) {
        bool done = false;
        int32_t status = StreamReceive(ctx, data.get(), kReceiveAll, 0, true, in, &done);
        // The server's close of the data connection ends the data.
        if (!in->stopped && status != 0 && status != kSockClosed) {
          return ReceiveStatusError(ctx, status);
        }
        stopped = in->stopped;
        data.reset();
        if (!stopped && reply.code >= 100 && reply.code <= 199) {
          if ((status = Reply(control.get(), &reply)) != 0) return status;
          if (!Is2xx(reply.code)) return FtpError(0);
        }
        return 0;
      });
      if (code != 0) return code;
      SendText(ctx, control.get(), "quit\r\n");
      return 0;
    } else {
      sink.reset(new CountingSink);
      sink->progress = options.progress;
      sink->progressContext = options.progressContext;
      if (source == nullptr) {
        sink->total = options.data.size();
        code = SendPayload(ctx, data.get(), options.data.data(), options.data.size(), sink.get());
        if (code != 0) return code;
      } else {
        sink->total = sourceLength;
        std::unique_ptr<char[]> piece(new char[kStreamBufferSize]);
        for (;;) {
          size_t n = ReadFileQ(source, piece.get(), kStreamBufferSize);
          if (n == 0) break;
          code = SendPayload(ctx, data.get(), piece.get(), n, sink.get());
          if (code != 0) return code;
          if (sink->stopped) break;
        }
        if (!sink->stopped && sink->count != sourceLength) return ERR_SENDDATA;
      }
      stopped = sink->stopped;
    }
    data.reset();
    if (!stopped && reply.code >= 100 && reply.code <= 199) {
      if ((code = Reply(control.get(), &reply)) != 0) return code;
      if (!Is2xx(reply.code)) return FtpError(0);
    }
    SendText(ctx, control.get(), "quit\r\n");
    result->count = sink->count;
    return 0;
  }
};

}  // namespace

int32_t RunTransfer(qvNetContext* ctx, const qvTransferOptions& options, qvTransferResult* result) {
  *result = {};
  FilePtr source;
  Transfer t{ctx, options, result, options.post, options.hasPost};
  if (options.upload) {
    if (options.hasData && options.hasFile) return ERR_WRONGUSAGE;
    if (options.hasFile) {
      source.reset(OpenFileQ(options.file.c_str(), kFileRead));
      if (source == nullptr) {
        SetErrorString(options.file.c_str());
        return ERR_READFILE;
      }
      SeekFileQ(source.get(), 0, kSeekEnd);
      int64_t length = SeekFileQ(source.get(), 0, kSeekStart);
      t.sourceLength = length > 0 ? static_cast<uint64_t>(length) : 0;
      t.source = source.get();
    } else if (!options.hasData || options.data.empty()) {
      return ERR_WRONGUSAGE;
    }
  } else if (options.hasPost && options.post.empty()) {
    return ERR_WRONGUSAGE;
  }
  if (options.transferMode != 'i' && options.transferMode != 'a') return ERR_WRONGUSAGE;
  return t.Http(PercentEncode(options.url));
}

}  // namespace qv
