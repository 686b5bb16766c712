// One transfer over HTTP/1.1 or FTP: the checks of the options, the connections, the request and
// the exchange. Every way out closes both connections and the file.
#include "core/transfer.h"

#include <cstdio>
#include <cstring>
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

  // Opens the download's file, or makes the memory sink.
  int32_t MakeSink(FilePtr* file, std::unique_ptr<qvPayloadSink>* sink) {
    if (options.hasFile) {
      file->reset(OpenFileQ(options.file.c_str(), kFileWrite));
      if (*file == nullptr) {
        SetErrorString(options.file.c_str());
        return ERR_WRITEFILE;
      }
      sink->reset(new FilePayload(file->get(), options.file));
    } else {
      sink->reset(new qvMemoryPayload);
    }
    (*sink)->progress = options.progress;
    (*sink)->progressContext = options.progressContext;
    return 0;
  }

  void Finish(qvPayloadSink* sink) {
    result->count = sink->count;
    if (auto* memory = dynamic_cast<qvMemoryPayload*>(sink)) result->data = std::move(memory->data);
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
      FilePtr file;
      std::unique_ptr<qvPayloadSink> sink;
      code = MakeSink(&file, &sink);
      if (code != 0) return code;
      code = ReadHttpBody(ctx, control.get(), head, sink.get());
      if (code != 0) return code;
      if (file != nullptr && CloseFileQ(file.release()) == 0) {
        SetErrorString(options.file.c_str());
        return ERR_WRITEFILE;
      }
      Finish(sink.get());
      return 0;
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

    FilePtr file;
    std::unique_ptr<qvPayloadSink> sink;
    bool stopped = false;
    if (!options.upload) {
      code = MakeSink(&file, &sink);
      if (code != 0) return code;
      if (reply.code == 150) {
        int64_t size = ParseFtpSize(reply.text);
        if (size > 0) sink->total = static_cast<uint64_t>(size);
      }
      bool done = false;
      int32_t status = StreamReceive(ctx, data.get(), kReceiveAll, 0, true, sink.get(), &done);
      // The server's close of the data connection ends the data.
      if (!sink->stopped && status != 0 && status != kSockClosed) {
        return ReceiveStatusError(ctx, status);
      }
      stopped = sink->stopped;
      if (file != nullptr && CloseFileQ(file.release()) == 0) {
        SetErrorString(options.file.c_str());
        return ERR_WRITEFILE;
      }
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
    Finish(sink.get());
    if (options.upload) result->data.clear();
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
