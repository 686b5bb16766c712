// The network code's readers fed from memory streams: time-outs, the receive modes over pieces of
// every size, URLs, HTTP heads and bodies, FTP replies, PASV and 150 sizes.
#include <gtest/gtest.h>

#include <string>

#include "base/errors.h"
#include "core/error_table.h"
#include "core/netstream.h"
#include "core/transfer.h"

using namespace qv;

namespace {

struct Memory {
  Memory(const std::string& input, size_t piece = 0, bool stall = false)
      : stream(NewMemoryStream(input.data(), input.size(), piece, stall, &sent)) {
    InitNetContext(&ctx, nullptr, 1000);
  }
  ~Memory() { FreeSocketStream(stream); }
  std::string sent;
  qvSocketStream* stream;
  qvNetContext ctx;
};

struct Received {
  int32_t status;
  std::string text;
  bool done;
};

Received Receive(Memory& m, int32_t mode, uint64_t count = 0, bool wait = true) {
  qvStringSink sink;
  bool done = false;
  int32_t status = StreamReceive(&m.ctx, m.stream, mode, count, wait, &sink, &done);
  return {status, sink.text, done};
}

constexpr size_t kPieces[] = {1, 3, 0};

}  // namespace

TEST(NetTimeoutTest, TheTimeLeftForOneWait) {
  const struct {
    double operation, total, start, now, want;
  } kRows[] = {
      {-1, -1, 0, 5, -1},                            // no limit
      {-1, 10, 100, 104, 6}, {-1, 10, 100, 120, 0},  // the total's rest, never below 0
      {3, -1, 100, 500, 3},                          // the operation time-out
      {3, 10, 100, 104, 3},  {3, 10, 100, 109, 1},  {0, 0, 100, 100, 0},
  };
  for (const auto& r : kRows) {
    qvNetTimeout t{r.operation, r.total, r.start};
    EXPECT_DOUBLE_EQ(NetTimeLeft(t, r.now), r.want) << r.operation << " " << r.total;
  }
}

TEST(StreamReceiveTest, LinesOverCrLfAndLfInPiecesOfEverySize) {
  for (size_t piece : kPieces) {
    SCOPED_TRACE(piece);
    Memory m("abc\r\ndef\nlast", piece);
    Received r = Receive(m, kReceiveLine);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.text, "abc");
    EXPECT_TRUE(r.done);
    r = Receive(m, kReceiveLine);
    EXPECT_EQ(r.text, "def");
    EXPECT_TRUE(r.done);
    // A line that the close cuts off is not done.
    r = Receive(m, kReceiveLine);
    EXPECT_EQ(r.status, kSockClosed);
    EXPECT_EQ(r.text, "last");
    EXPECT_FALSE(r.done);
  }
}

TEST(StreamReceiveTest, BytesAreDoneOnlyWhenTheCountWasReached) {
  for (size_t piece : kPieces) {
    SCOPED_TRACE(piece);
    Memory m("0123456789", piece, true);
    Received r = Receive(m, kReceiveBytes, 4);
    EXPECT_EQ(r.text, "0123");
    EXPECT_TRUE(r.done);
    r = Receive(m, kReceiveBytes, 10);
    EXPECT_EQ(r.status, kSockTimeout);
    EXPECT_EQ(r.text, "456789");
    EXPECT_FALSE(r.done);
  }
}

TEST(StreamReceiveTest, AllUntilTheCloseOrNothingMore) {
  Memory closes("ten bytes!", 3);
  Received r = Receive(closes, kReceiveAll);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.text, "ten bytes!");
  EXPECT_TRUE(r.done);
  r = Receive(closes, kReceiveAll);
  EXPECT_EQ(r.status, kSockClosed);
  EXPECT_FALSE(r.done);

  Memory stalls("", 0, true);
  r = Receive(stalls, kReceiveAll, 0, false);
  EXPECT_EQ(r.text, "");
  EXPECT_FALSE(r.done);
}

TEST(StreamReceiveTest, AnOverlongLineIsCutAndItsTailSkipped) {
  std::string line(1023, 'a');
  Memory m(line + "Content-Length: 5\r\nnext\r\n", 100);
  std::string got;
  uint64_t used = 0;
  EXPECT_EQ(ReadStreamLine(&m.ctx, m.stream, &got, &used, 1 << 16), 0);
  EXPECT_EQ(got, line);
  EXPECT_EQ(ReadStreamLine(&m.ctx, m.stream, &got, &used, 1 << 16), 0);
  EXPECT_EQ(got, "next");
  // A limit ends a line that never ends.
  Memory endless(std::string(100000, 'x'), 512);
  EXPECT_EQ(ReadStreamLine(&endless.ctx, endless.stream, &got, &used, 20000), kRecvTooLong);
}

TEST(UrlTest, PercentEncoding) {
  EXPECT_EQ(PercentEncode("http://h/a b"), "http://h/a%20b");
  EXPECT_EQ(PercentEncode("/\"<>%\\^[]`+$,{|}~\x7f\xff!z"),
            "/%22%3c%3e%25%5c%5e%5b%5d%60%2b%24%2c%7b%7c%7d%7e%7f%ff!z");
  EXPECT_EQ(PercentEncode("/a?b=c&d;e:f@g"), "/a?b=c&d;e:f@g");
}

TEST(UrlTest, Parts) {
  const struct {
    const char* url;
    int32_t code;
    char scheme;
    const char* host;
    int port;
    const char* path;
    const char* user;
    const char* password;
    char type;
  } kRows[] = {
      {"http://host", 0, 'h', "host", 80, "/", "", "", 0},
      {"HTTP://host:8080/a%20b", 0, 'h', "host", 8080, "/a%20b", "", "", 0},
      {"http://host?q=1", 0, 'h', "host", 80, "/?q=1", "", "", 0},
      {"ftp://host/f.txt", 0, 'f', "host", 21, "/f.txt", "", "", 0},
      {"ftp://u:p@w@host:2121/f;type=A", 0, 'f', "host", 2121, "/f", "u", "p@w", 'a'},
      {"ftp://host/f;type=i", 0, 'f', "host", 21, "/f", "", "", 'i'},
      {"ftp://host/;type=a", 0, 'f', "host", 21, "/", "", "", 'a'},
      {"ftp://host/file;type=x", ERR_BADURL},
      {"ftp://:p@host/", ERR_BADURL},
      {"ftp://user@host/", ERR_BADURL},
      {"ftp://user:@host/", ERR_BADURL},
      {"http://u:p@host/", ERR_BADURL},
      {"http://host:/", ERR_BADURL},
      {"http://host:x/", ERR_BADURL},
      {"http://host:0/", ERR_BADURL},
      {"http://host:65536/", ERR_BADURL},
      {"http:///path", ERR_BADURL},
      {"gopher://host/", ERR_UNKPROTOCOL},
      {"host/", ERR_UNKPROTOCOL},
  };
  for (const auto& r : kRows) {
    SCOPED_TRACE(r.url);
    qvUrlParts u;
    ASSERT_EQ(ParseTransferUrl(r.url, &u), r.code);
    if (r.code != 0) continue;
    EXPECT_EQ(u.scheme, r.scheme);
    EXPECT_EQ(u.host, r.host);
    EXPECT_EQ(u.port, r.port);
    EXPECT_EQ(u.path, r.path);
    EXPECT_EQ(u.user, r.user);
    EXPECT_EQ(u.password, r.password);
    EXPECT_EQ(u.type, r.type);
  }
  qvUrlParts u;
  EXPECT_EQ(ParseTransferUrl("http://" + std::string(256, 'h') + "/", &u), ERR_BADURL);
  EXPECT_EQ(ParseTransferUrl("ftp://" + std::string(256, 'u') + ":p@h/", &u), ERR_BADURL);
  EXPECT_EQ(ParseTransferUrl("http://h/" + std::string(kUrlPathLimit, 'p'), &u), ERR_BADURL);
}

TEST(UrlTest, LocationsAgainstTheirUrl) {
  qvUrlParts base;
  ASSERT_EQ(ParseTransferUrl("http://h:81/dir/page?x=1", &base), 0);
  const struct {
    const char* location;
    const char* want;
  } kRows[] = {
      {"http://other/x", "http://other/x"},   {"ftp://f/y", "ftp://f/y"},
      {"//other:9/z", "http://other:9/z"},    {"/root", "http://h:81/root"},
      {"sib?y=2", "http://h:81/dir/sib?y=2"}, {"?y=2", "http://h:81/dir/page?y=2"},
      {"a/b://c", "http://h:81/dir/a/b://c"},
  };
  for (const auto& r : kRows) EXPECT_EQ(ResolveLocation(base, r.location), r.want) << r.location;
}

TEST(HttpHeadTest, StatusLines) {
  const struct {
    const char* line;
    int32_t number;
    int32_t status;
  } kRows[] = {
      {"HTTP/1.1 200 OK", 0, 200}, {"HTTP/1.0 404", 0, 404},     {"HTTP/2 301 x", 0, 301},
      {"HTTP/1.1  204", 0, 204},   {"HTTX/1.1 200 OK", 1001, 0}, {"", 1001, 0},
      {"HTTP/ 200", 1002, 0},      {"HTTP/1.1", 1003, 0},        {"HTTP/1.1-200", 1003, 0},
      {"HTTP/1.1 OK", 1003, 0},
  };
  for (const auto& r : kRows) {
    int32_t status = 0;
    EXPECT_EQ(ParseStatusLine(r.line, &status), r.number) << r.line;
    if (r.number == 0) {
      EXPECT_EQ(status, r.status) << r.line;
    }
  }
}

TEST(HttpHeadTest, HeaderLines) {
  const struct {
    const char* line;
    int32_t code;
    int64_t length;
    bool chunked;
    const char* location;
  } kRows[] = {
      {"Content-Length: 12", 0, 12, false, nullptr},
      {"content-length:12", 0, 12, false, nullptr},
      {"CONTENT-LENGTH \t:  0  ", 0, 0, false, nullptr},
      {"Content-Length: 9223372036854775800", 0, 9223372036854775800, false, nullptr},
      // A broken length is no length: the body runs until the server closes.
      {"Content-Length: 99999999999999999999", 0, -1, false, nullptr},
      {"Content-Length: -5", 0, -1, false, nullptr},
      {"Content-Length:", 0, -1, false, nullptr},
      {"Content-Length: 12abc", 0, -1, false, nullptr},
      {"Content-Length: +7", 0, -1, false, nullptr},
      {"Content-Lengthy: 5", 0, -1, false, nullptr},
      {"Transfer-Encoding: CHUNKED", 0, -1, true, nullptr},
      {"transfer-encoding : identity", 0, -1, false, nullptr},
      {"Transfer-Encoding: gzip, chunked", ERR_HTTPTE, -1, false, nullptr},
      {"Location:   /x y", 0, -1, false, "/x y"},
      {"no colon at all", 0, -1, false, nullptr},
  };
  for (const auto& r : kRows) {
    qvHttpHead head;
    EXPECT_EQ(ParseHeaderLine(r.line, &head), r.code) << r.line;
    EXPECT_EQ(head.contentLength, r.length) << r.line;
    EXPECT_EQ(head.chunked, r.chunked) << r.line;
    EXPECT_EQ(head.hasLocation, r.location != nullptr) << r.line;
    if (r.location) {
      EXPECT_EQ(head.location, r.location) << r.line;
    }
  }
}

TEST(HttpHeadTest, ChunkSizes) {
  const struct {
    const char* line;
    bool ok;
    uint64_t size;
  } kRows[] = {
      {"5", true, 5},
      {"1aF", true, 0x1AF},
      {"a;name=value", true, 10},
      {"  10 ; x", true, 16},
      {"7FFFFFFFFFFFFFFF", true, 0x7FFFFFFFFFFFFFFF},
      {"0", true, 0},
      {"8000000000000000", false},
      {"FFFFFFFFFFFFFFFFFFFF", false},
      {"", false},
      {";x", false},
      {"g", false},
  };
  for (const auto& r : kRows) {
    uint64_t size = 0;
    EXPECT_EQ(ParseChunkSize(r.line, &size), r.ok) << r.line;
    if (r.ok) {
      EXPECT_EQ(size, r.size) << r.line;
    }
  }
}

TEST(HttpHeadTest, HeadsAndBodies) {
  const struct {
    const char* reply;
    int32_t code;
    int32_t number;
    const char* body;
  } kRows[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhelloEXTRA", 0, 0, "hello"},
      {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", 0, 0, ""},
      {"HTTP/1.1 200 OK\n\nuntil the close", 0, 0, "until the close"},
      {"HTTP/1.1 200 OK\r\n\r\n", 0, 0, ""},
      {"HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nuntil the close", 0, 0, "until the close"},
      {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: x\r\n\r\nuntil the close", 0, 0,
       "until the close"},
      {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", 0, 0, "ok"},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", 0, 0,
       "hello"},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3;a=b\r\nabc\r\n2\r\nde\r\n0\r\n", 0,
       0, "abcde"},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", ERR_HTTPERROR, 3000, ""},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10000000000000000\r\n", ERR_HTTPERROR,
       3000, ""},
      {"HTTP/1.1 200 OK\r\nContent-Length: 1000000000000\r\n\r\nshort", ERR_RECVCLOSED, 0, "short"},
      {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n", ERR_RECVCLOSED, 0, ""},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: x\r\n\r\n", ERR_HTTPTE, 0, ""},
      {"FTP/1.1 200 OK\r\n\r\n", ERR_HTTPERROR, 1001, ""},
  };
  for (const auto& r : kRows) {
    for (size_t piece : kPieces) {
      SCOPED_TRACE(std::string(r.reply) + " in pieces of " + std::to_string(piece));
      Memory m(r.reply, piece);
      qvHttpHead head;
      qvMemoryPayload sink;
      int32_t code = ReadHttpHead(&m.ctx, m.stream, &head);
      if (code == 0) code = ReadHttpBody(&m.ctx, m.stream, head, &sink);
      EXPECT_EQ(code, r.code);
      if (r.number != 0) {
        EXPECT_EQ(GetErrorNumber(), r.number);
      }
      EXPECT_EQ(sink.data.view(), r.body);
      EXPECT_EQ(sink.count, sink.data.size());
    }
  }
}

// A head past its limit, in many lines, in one line or in the status line, is said to be that, not
// an HTTP error of the status that it may have given as success.
TEST(HttpHeadTest, HeadsPastTheLimitEndWithAClearError) {
  std::string lines = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < 100000; ++i) lines += "X-Filler: f\r\n";
  lines += "\r\nbody";
  const std::string kHeads[] = {
      lines,
      "HTTP/1.1 200 OK\r\nX-Long: " + std::string(50 << 20, 'y') + "\r\n\r\nbody",
      "HTTP/1.1 200 " + std::string(kHttpHeadLimit, 'O') + "\r\n\r\nbody",
      "HTTP/1.1 100 Continue\r\n" + std::string(kHttpHeadLimit, 'x') +
          "\r\n\r\nHTTP/1.1 200 OK\r\n\r\nbody",
  };
  for (const std::string& reply : kHeads) {
    SCOPED_TRACE(reply.substr(0, 40));
    Memory m(reply, 65536);
    qvHttpHead head;
    SetErrorNumber(0);
    EXPECT_EQ(ReadHttpHead(&m.ctx, m.stream, &head), ERR_INTERNAL1);
    EXPECT_STREQ(GetErrorString(), kHttpHeadTooLong);
    char text[256];
    FormatErrorText(ERR_INTERNAL1, text, sizeof text);
    EXPECT_STREQ(text, "Internal limit reached! Error code HTTP head over 65536 bytes.");
  }
}

TEST(FtpReplyTest, RepliesOfOneAndManyLines) {
  const struct {
    const char* input;
    int32_t code;
    int32_t reply;
    const char* text;
  } kRows[] = {
      {"220 ready\r\n", 0, 220, "220 ready"},
      {"220-Welcome\r\nno code here\r\n220-more\r\n  220 indented\r\n220 ready\r\n", 0, 220,
       "220 ready"},
      {"230-a\r\n230\r\n", 0, 230, "230"},
      {"hello\r\n", 0, 0, "hello"},
      {"220-never ends\r\n220-x\r\n", ERR_RECVCLOSED, 0, ""},
      {"220 cut", ERR_RECVCLOSED, 0, ""},
  };
  for (const auto& r : kRows) {
    for (size_t piece : kPieces) {
      SCOPED_TRACE(std::string(r.input) + " in pieces of " + std::to_string(piece));
      Memory m(r.input, piece);
      qvFtpReply reply;
      ASSERT_EQ(ReadFtpReply(&m.ctx, m.stream, &reply), r.code);
      if (r.code != 0) continue;
      EXPECT_EQ(reply.code, r.reply);
      EXPECT_EQ(reply.text, r.text);
    }
  }
  std::string endless = "220-x\r\n";
  while (endless.size() < kFtpReplyLimit + 100) endless += "220-and more\r\n";
  Memory m(endless, 4096);
  qvFtpReply reply;
  EXPECT_EQ(ReadFtpReply(&m.ctx, m.stream, &reply), ERR_FTPERROR);
  EXPECT_EQ(GetErrorNumber(), 1);
}

TEST(FtpReplyTest, PassiveAddresses) {
  const struct {
    const char* text;
    bool ok;
    uint32_t ip;
    uint16_t port;
  } kRows[] = {
      {"227 Entering Passive Mode (127,0,0,1,195,80).", true, 0x7F000001, 195 * 256 + 80},
      {"227 =10,1,2,3,0,21", true, 0x0A010203, 21},
      {"227 Entering Passive Mode (127,0,0,1,4)", false},
      {"227 (127,0,0,1,4,5,6)", false},
      {"227 (127,0,0,1,256,5)", false},
      {"227 (127,0,0,1,4,)", false},
      {"227 no numbers", false},
      {"227", false},
  };
  for (const auto& r : kRows) {
    qvSockAddr a;
    EXPECT_EQ(ParsePasvReply(r.text, &a), r.ok) << r.text;
    if (r.ok) {
      EXPECT_EQ(a.ip, r.ip) << r.text;
      EXPECT_EQ(a.port, r.port) << r.text;
    }
  }
}

TEST(FtpReplyTest, SizesOfDownloads) {
  const struct {
    const char* text;
    int64_t size;
  } kRows[] = {
      {"150 Opening BINARY mode data connection for f (1234 bytes)", 1234},
      {"150 1234 bytes", 1234},
      {"150 File status okay.", -1},
      {"150 (12 bytes) then 34 more", -1},
      {"150 99999999999999999999 bytes", -1},
      {"150 bytes", -1},
  };
  for (const auto& r : kRows) EXPECT_EQ(ParseFtpSize(r.text), r.size) << r.text;
}
