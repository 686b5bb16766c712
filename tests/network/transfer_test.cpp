// Transfers against loopback peers started by the tests: python3's http.server, the project's
// HTTP/1.1 peer (peers/http_peer.py), pyftpdlib (peers/ftp_peer.py) and a socket-level FTP mock
// (peers/ftp_mock.py). Hostile peers end with an error within the network time-out.
#include "core/transfer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "base/errors.h"
#include "platform/sockets.h"
#include "tests/fixtures/small_disk.h"
#include "tests/network/peer.h"

using namespace qv;
using qv::testing::BinaryBytes;
using qv::testing::Peer;
using qv::testing::PeerScript;
using qv::testing::TempDir;

namespace {

struct Outcome {
  int32_t code = 0;
  std::string data;
  uint64_t count = 0;
  int64_t ms = 0;
};

Outcome Transfer(qvTransferOptions options, int64_t timeoutMs = 3000) {
  qvNetContext ctx;
  InitNetContext(&ctx, nullptr, timeoutMs);
  qvTransferResult result;
  Outcome o;
  int64_t start = SocketClockMs();
  o.code = RunTransfer(&ctx, options, &result);
  o.ms = SocketClockMs() - start;
  o.data = std::string(result.data.view());
  o.count = result.count;
  return o;
}

qvTransferOptions Get(const std::string& url) {
  qvTransferOptions o;
  o.url = url;
  return o;
}

// Records each call of the progress hook; stops at the call numbered `stopAt` (1-based).
struct Progress {
  std::vector<uint64_t> counts;
  std::vector<uint64_t> totals;
  int stopAt = 0;
  static int32_t Hook(void* context, uint64_t count, uint64_t total) {
    auto* self = static_cast<Progress*>(context);
    self->counts.push_back(count);
    self->totals.push_back(total);
    return static_cast<int>(self->counts.size()) == self->stopAt ? kRecvStop : 0;
  }
  void Attach(qvTransferOptions* o) {
    o->progress = Hook;
    o->progressContext = this;
  }
};

class HttpPeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.Write("blob.bin", BinaryBytes(300000));
    ASSERT_TRUE(peer_.Start({PeerScript("http_peer.py"), "--root", dir_.path()}));
  }
  std::string Url(const std::string& path) const { return peer_.Url("http", path); }
  std::string Host() const { return "127.0.0.1:" + std::to_string(peer_.port()); }

  TempDir dir_;
  Peer peer_;
};

}  // namespace

TEST(HttpServerModuleTest, ABinaryFileToMemoryAndToAFileIsIdentical) {
  TempDir dir;
  std::string bytes = BinaryBytes(1 << 20);
  dir.Write("data.bin", bytes);
  Peer server;
  ASSERT_TRUE(
      server.Start({"-m", "http.server", "--bind", "127.0.0.1", "--directory", dir.path(), "0"}));
  Outcome o = Transfer(Get(server.Url("http", "/data.bin")));
  ASSERT_EQ(o.code, 0);
  EXPECT_EQ(o.count, bytes.size());
  EXPECT_TRUE(o.data == bytes);

  qvTransferOptions toFile = Get(server.Url("http", "/data.bin"));
  toFile.hasFile = true;
  toFile.file = dir.Path("copy.bin");
  o = Transfer(toFile);
  ASSERT_EQ(o.code, 0);
  EXPECT_EQ(o.count, bytes.size());
  EXPECT_TRUE(dir.Read("copy.bin") == bytes);
}

TEST_F(HttpPeerTest, TheRequestBytesExactly) {
  Outcome o = Transfer(Get(Url("/record/a b")));
  ASSERT_EQ(o.code, 0);
  EXPECT_EQ(o.data,
            "GET /record/a%20b HTTP/1.1\r\nTE: trailers\r\nConnection: close, TE\r\nHost: " +
                Host() + "\r\nUser-Agent: Quillvane 5.2\r\n\r\n");
  EXPECT_EQ(o.count, o.data.size());

  qvTransferOptions post = Get(Url("/record"));
  post.hasPost = true;
  post.post = "a=1&b=2";
  post.userAgent = "agent/1";
  post.postType = "text/plain";
  o = Transfer(post);
  ASSERT_EQ(o.code, 0);
  EXPECT_EQ(o.data,
            "POST /record HTTP/1.1\r\nTE: trailers\r\nConnection: close, TE\r\nHost: " + Host() +
                "\r\nUser-Agent: agent/1\r\nContent-Type: text/plain\r\n"
                "Content-Length: 7\r\n\r\na=1&b=2\r\n");

  // Through a proxy the request names the whole URL and "Host" the URL's host part.
  qvTransferOptions proxied = Get("http://far.example:8080/record");
  proxied.hasProxy = true;
  proxied.proxy = Url("");
  o = Transfer(proxied);
  ASSERT_EQ(o.code, 0);
  EXPECT_EQ(o.data,
            "GET http://far.example:8080/record HTTP/1.1\r\nTE: trailers\r\nConnection: close, "
            "TE\r\nHost: far.example:8080\r\nUser-Agent: Quillvane 5.2\r\n\r\n");
}

TEST_F(HttpPeerTest, BodiesToMemoryAndToAFile) {
  const struct {
    const char* path;
    std::string body;
  } kRows[] = {
      {"/file/blob.bin", BinaryBytes(300000)},
      {"/chunked", "hello world"},
      {"/close-delimited", std::string(20000, 'x')},
      {"/headers", "abc"},
      {"/continue", "ok"},
      {"/keepalive-empty", ""},
      {"/status/500", "status 500"},
      {"/status/404", "status 404"},
  };
  for (const auto& r : kRows) {
    SCOPED_TRACE(r.path);
    Outcome o = Transfer(Get(Url(r.path)));
    ASSERT_EQ(o.code, 0);
    EXPECT_EQ(o.data, r.body);
    EXPECT_EQ(o.count, r.body.size());
    EXPECT_LT(o.ms, 1500);  // a keep-alive server with an empty body does not stall the client

    qvTransferOptions toFile = Get(Url(r.path));
    toFile.hasFile = true;
    toFile.file = dir_.Path("out.bin");
    o = Transfer(toFile);
    ASSERT_EQ(o.code, 0);
    EXPECT_EQ(o.data, "");
    EXPECT_EQ(o.count, r.body.size());
    EXPECT_EQ(dir_.Read("out.bin"), r.body);
  }
  qvTransferOptions noDir = Get(Url("/chunked"));
  noDir.hasFile = true;
  noDir.file = dir_.Path("no/such/dir/out.bin");
  EXPECT_EQ(Transfer(noDir).code, ERR_WRITEFILE);
  EXPECT_STREQ(GetErrorString(), noDir.file.c_str());
}

// A download that fails on the way leaves the file that was there as it was, and nothing beside
// it: the body goes into a new file that replaces the old one only once it came whole.
TEST_F(HttpPeerTest, AFailedDownloadLeavesTheOldFile) {
  const std::string old = BinaryBytes(100000);
  qvtest::SmallDisk disk(dir_.Path("disk"), 512 * 1024);
  const struct {
    std::string path;
    int32_t code;
    std::string folder;
    int stopWith = 0;  // the progress hook's error at its third call
  } kRows[] = {
      {"/cut/1048576/10485760", ERR_RECVCLOSED, "plain"},
      {"/bad-chunk-line", ERR_HTTPERROR, "plain"},
      {"/stall", ERR_RECVTIMEOUT, "plain"},
      {"/big/3000000", ERR_USERABORT, "plain", ERR_USERABORT},
      {"/big/3000000", ERR_WRITEFILE, disk.mounted() ? "disk" : ""},
  };
  for (const auto& r : kRows) {
    if (r.folder.empty()) continue;  // no small disk without root
    SCOPED_TRACE(r.path + " in " + r.folder);
    std::filesystem::create_directories(dir_.Path(r.folder));
    std::string target = dir_.Path(r.folder + "/target.bin");
    ASSERT_TRUE(qvtest::WriteBytes(target, old));
    qvTransferOptions options = Get(Url(r.path));
    options.hasFile = true;
    options.file = target;
    struct Stopper {
      int calls = 0;
      int code = 0;
      static int32_t Hook(void* context, uint64_t, uint64_t) {
        auto* self = static_cast<Stopper*>(context);
        return ++self->calls == 3 ? self->code : 0;
      }
    } stopper{0, r.stopWith};
    if (r.stopWith != 0) {
      options.progress = Stopper::Hook;
      options.progressContext = &stopper;
    }
    EXPECT_EQ(Transfer(options, 500).code, r.code);
    EXPECT_TRUE(qvtest::ReadBytes(target) == old);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path(r.folder)),
                            std::filesystem::directory_iterator()),
              1);
  }
  // The same download whole replaces the file.
  qvTransferOptions whole = Get(Url("/big/300000"));
  whole.hasFile = true;
  whole.file = dir_.Path("plain/target.bin");
  ASSERT_EQ(Transfer(whole).code, 0);
  EXPECT_EQ(std::filesystem::file_size(whole.file), 300000u);
}

TEST_F(HttpPeerTest, RedirectsAndStatuses) {
  const struct {
    const char* path;
    bool redirect;
    bool fail404;
    int32_t code;
    int32_t number;
    const char* body;
  } kRows[] = {
      {"/redirect/5", true, false, 0, 0, "done"},        // absolute and relative, 301 and 302
      {"/redirect/6", true, false, 0, 0, "redirect 1"},  // the sixth response as it is
      {"/redirect/1", false, false, 0, 0, "redirect 1"},
      {"/relative/a/b", true, false, 0, 0, "GET /relative/a/c?x=1"},  // 307, relative
      {"/status/204", true, false, ERR_HTTPERROR, 204, ""},
      {"/status/304", true, false, ERR_HTTPERROR, 304, ""},
      {"/status/404", true, true, ERR_FILENOTFOUND, 0, ""},
      {"/status/500", true, true, 0, 0, "status 500"},
  };
  for (const auto& r : kRows) {
    SCOPED_TRACE(r.path);
    qvTransferOptions o = Get(Url(r.path));
    o.redirect = r.redirect;
    o.fail404 = r.fail404;
    Outcome out = Transfer(o);
    EXPECT_EQ(out.code, r.code);
    if (r.number != 0) {
      EXPECT_EQ(GetErrorNumber(), r.number);
    }
    if (r.code == ERR_FILENOTFOUND) {
      EXPECT_STREQ(GetErrorString(), r.path);
    }
    EXPECT_EQ(out.data, r.body);
  }
  // A POST answered with 303 goes on as a GET without a body.
  qvTransferOptions post = Get(Url("/seeother"));
  post.hasPost = true;
  post.post = "x=1";
  Outcome o = Transfer(post);
  ASSERT_EQ(o.code, 0);
  EXPECT_EQ(o.data, "GET /echo\n");
  post.url = Url("/echo");
  o = Transfer(post);
  ASSERT_EQ(o.code, 0);
  EXPECT_EQ(o.data, "POST /echo\nx=1\r\n");
}

TEST_F(HttpPeerTest, TheProgressHookCountsAndCanStop) {
  Progress all;
  qvTransferOptions o = Get(Url("/big/1000000"));
  all.Attach(&o);
  Outcome out = Transfer(o);
  ASSERT_EQ(out.code, 0);
  EXPECT_EQ(out.count, 1000000u);
  ASSERT_GT(all.counts.size(), 1u);
  for (size_t i = 1; i < all.counts.size(); ++i) EXPECT_GT(all.counts[i], all.counts[i - 1]);
  EXPECT_EQ(all.counts.back(), 1000000u);
  for (uint64_t total : all.totals) EXPECT_EQ(total, 1000000u);

  Progress first;
  first.stopAt = 1;
  first.Attach(&o);
  out = Transfer(o);
  ASSERT_EQ(out.code, 0);
  ASSERT_EQ(first.counts.size(), 1u);
  EXPECT_EQ(out.count, first.counts[0]);
  EXPECT_EQ(out.data.size(), first.counts[0]);
  for (size_t i = 0; i < out.data.size(); ++i) {
    ASSERT_EQ(static_cast<uint8_t>(out.data[i]), i % 256) << i;  // the first bytes, in order
  }
  EXPECT_LT(out.count, 1000000u);
}

TEST_F(HttpPeerTest, HostilePeersEndWithinTheTimeOut) {
  const struct {
    const char* path;
    int32_t code;
    int32_t number;
  } kRows[] = {
      {"/endless-headers", ERR_INTERNAL1, -1},
      {"/huge-length", ERR_RECVCLOSED, 0},
      {"/big-chunk", ERR_HTTPERROR, 3000},
      {"/no-http", ERR_HTTPERROR, 1001},
      {"/gzip", ERR_HTTPTE, 0},
      {"/stall", ERR_RECVTIMEOUT, 0},
      {"/silent", ERR_RECVTIMEOUT, 0},
      {"/midclose", ERR_RECVCLOSED, 0},
      {"/reset", ERR_RECVCLOSED, 0},
  };
  for (const auto& r : kRows) {
    SCOPED_TRACE(r.path);
    Outcome o = Transfer(Get(Url(r.path)), 500);
    EXPECT_EQ(o.code, r.code);
    if (r.number > 0) {
      EXPECT_EQ(GetErrorNumber(), r.number);
    }
    EXPECT_LT(o.ms, 2000);
  }
}

TEST_F(HttpPeerTest, ArgumentsAndUrlsThatFail) {
  const struct {
    const char* url;
    bool upload;
    bool proxy;
    const char* proxyUrl;
    int32_t code;
  } kRows[] = {
      {"gopher://h/", false, false, "", ERR_UNKPROTOCOL},
      {"http://u:p@h/", false, false, "", ERR_BADURL},
      {"http://h:0/", false, false, "", ERR_BADURL},
      {"http://127.0.0.1/x", true, false, "", ERR_WRONGUSAGE},  // no upload over HTTP
      {"ftp://127.0.0.1/x", false, true, "http://127.0.0.1/", ERR_WRONGUSAGE},
      {"http://127.0.0.1/x", false, true, "ftp://127.0.0.1/", ERR_WRONGUSAGE},
  };
  for (const auto& r : kRows) {
    SCOPED_TRACE(r.url);
    qvTransferOptions o = Get(r.url);
    o.upload = r.upload;
    if (r.upload) {
      o.hasData = true;
      o.data = "x";
    }
    o.hasProxy = r.proxy;
    o.proxy = r.proxyUrl;
    EXPECT_EQ(Transfer(o).code, r.code);
  }
  qvTransferOptions emptyPost = Get(Url("/echo"));
  emptyPost.hasPost = true;
  EXPECT_EQ(Transfer(emptyPost).code, ERR_WRONGUSAGE);
  qvTransferOptions badMode = Get(Url("/echo"));
  badMode.transferMode = 'x';
  EXPECT_EQ(Transfer(badMode).code, ERR_WRONGUSAGE);

  // Nothing listens: the error word of the refused connection.
  Peer gone;
  uint16_t port = peer_.port();
  peer_.Stop();
  Outcome o = Transfer(Get("http://127.0.0.1:" + std::to_string(port) + "/"));
  EXPECT_EQ(o.code, ERR_SOCKET);
  EXPECT_STREQ(GetErrorString(), "connection refused");
}

class FtpPeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.Write("blob.bin", BinaryBytes(200000));
    dir_.Write("text.txt", "one\ntwo\nthree\n");
    ASSERT_TRUE(peer_.Start({PeerScript("ftp_peer.py"), dir_.path()}))
        << "the FTP peer needs Debian's python3-pyftpdlib (scripts/setup installs it)";
  }
  std::string Url(const std::string& path, const std::string& login = "") const {
    return "ftp://" + login + "127.0.0.1:" + std::to_string(peer_.port()) + path;
  }

  TempDir dir_;
  Peer peer_;
};

TEST_F(FtpPeerTest, Downloads) {
  Outcome o = Transfer(Get(Url("/blob.bin")));
  ASSERT_EQ(o.code, 0);
  EXPECT_EQ(o.data, BinaryBytes(200000));
  EXPECT_EQ(o.count, 200000u);

  qvTransferOptions toFile = Get(Url("/blob.bin", "user:secret@"));
  toFile.hasFile = true;
  toFile.file = dir_.Path("copy.bin");
  o = Transfer(toFile);
  ASSERT_EQ(o.code, 0);
  EXPECT_EQ(dir_.Read("copy.bin"), BinaryBytes(200000));

  // ASCII mode: the server sends CR LF line ends, which the count shows.
  o = Transfer(Get(Url("/text.txt;type=a")));
  ASSERT_EQ(o.code, 0);
  EXPECT_EQ(o.data, "one\r\ntwo\r\nthree\r\n");
  EXPECT_EQ(o.count, 17u);
  qvTransferOptions ascii = Get(Url("/text.txt"));
  ascii.transferMode = 'a';
  EXPECT_EQ(Transfer(ascii).count, 17u);
}

TEST_F(FtpPeerTest, Uploads) {
  qvTransferOptions fromMemory = Get(Url("/up1.bin", "user:secret@"));
  fromMemory.upload = true;
  fromMemory.hasData = true;
  fromMemory.data = BinaryBytes(100000);
  Progress progress;
  progress.Attach(&fromMemory);
  ASSERT_EQ(Transfer(fromMemory).code, 0);
  EXPECT_EQ(dir_.Read("up1.bin"), BinaryBytes(100000));
  ASSERT_FALSE(progress.counts.empty());
  EXPECT_EQ(progress.counts.back(), 100000u);

  dir_.Write("source.bin", BinaryBytes(50000));
  qvTransferOptions fromFile = Get(Url("/up2.bin"));
  fromFile.upload = true;
  fromFile.hasFile = true;
  fromFile.file = dir_.Path("source.bin");
  ASSERT_EQ(Transfer(fromFile).code, 0);
  EXPECT_EQ(dir_.Read("up2.bin"), BinaryBytes(50000));

  fromFile.hasData = true;
  EXPECT_EQ(Transfer(fromFile).code, ERR_WRONGUSAGE);
  fromFile.hasData = false;
  fromFile.file = dir_.Path("missing.bin");
  EXPECT_EQ(Transfer(fromFile).code, ERR_READFILE);
}

TEST_F(FtpPeerTest, RefusedLoginsAndMissingFiles) {
  Outcome o = Transfer(Get(Url("/blob.bin", "user:wrong@")));
  EXPECT_EQ(o.code, ERR_FTPAUTH);
  o = Transfer(Get(Url("/missing.bin")));
  EXPECT_EQ(o.code, ERR_FILENOTFOUND);
  EXPECT_STREQ(GetErrorString(), "/missing.bin");
  qvTransferOptions up = Get(Url("/no/such/dir/x.bin"));
  up.upload = true;
  up.hasData = true;
  up.data = "x";
  EXPECT_EQ(Transfer(up).code, ERR_UPLOADFORBIDDEN);
  EXPECT_STREQ(GetErrorString(), "/no/such/dir/x.bin");
}

TEST(FtpMockTest, RepliesThatRealServersDoNotGive) {
  const struct {
    const char* scenario;
    int32_t code;
    int32_t number;
  } kRows[] = {
      {"multiline", 0, 0},
      {"endless", ERR_FTPERROR, 1},
      {"pasv5", ERR_FTPERROR, 2},
      {"garbage", ERR_FTPERROR, 0},
  };
  for (const auto& r : kRows) {
    SCOPED_TRACE(r.scenario);
    Peer mock;
    ASSERT_TRUE(mock.Start({PeerScript("ftp_mock.py"), r.scenario}));
    qvTransferOptions o = Get(mock.Url("ftp", "/x"));
    Progress progress;
    progress.Attach(&o);
    Outcome out = Transfer(o, 1000);
    EXPECT_EQ(out.code, r.code);
    EXPECT_LT(out.ms, 3000);
    if (r.code != 0) {
      EXPECT_EQ(GetErrorNumber(), r.number);
      continue;
    }
    EXPECT_EQ(out.data, "hello world");
    ASSERT_FALSE(progress.totals.empty());
    EXPECT_EQ(progress.totals.back(), 11u);  // the size the 150 reply announced
  }
}
