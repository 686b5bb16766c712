// The player at the edges of its process: the signals that end a run, sent at random moments; a
// standard output whose reader has gone; the order of standard output and standard error in one
// pipe; a debug device that fails; players killed beyond any clean-up; a small compressed applet
// that inflates for ever. After every clean end nothing is left in the temporary directory or
// among the shared blocks.
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>

#include "platform/os/ipc.h"
#include "tests/player/player_fixture.h"

namespace qv::testing {
namespace {

using namespace std::chrono_literals;

// Prints lines until it is stopped.
constexpr char kChatter[] = R"(
.function main
top:
  .line 1
  GETGLOBAL R0, "debugprint"
  LOADCONST R1, "line"
  CALL R0, nargs=1, nres=0
  JUMP @top
  RETURN R0, 1
.end
)";

constexpr char kHello[] = R"(
.function main
  GETGLOBAL R0, "debugprint"
  LOADCONST R1, "hello"
  CALL R0, nargs=1, nres=0
  RETURN R0, 1
.end
)";

constexpr char kFailing[] = R"(
.function main
  .line 1
  GETGLOBAL R0, "debugprint"
  LOADCONST R1, "before the error"
  CALL R0, nargs=1, nres=0
  .line 2
  GETGLOBAL R0, "error"
  LOADCONST R1, "stop"
  CALL R0, nargs=1, nres=0
  RETURN R0, 1
.end
)";

constexpr char kReport[] = "stop\nFile: --- (current line: -1 - In function: Error)\n";
constexpr int kWindow = 7;

// A compressed applet whose stream holds the applet and then `mebibytes` MiB of zeros, about a
// kilobyte per mebibyte: made here rather than kept in the tree. Deflate with a full flush after
// each mebibyte of zeros writes the same bytes every time, so one is made and repeated.
std::vector<uint8_t> Bomb(const std::vector<uint8_t>& applet, int mebibytes) {
  z_stream z{};
  EXPECT_EQ(deflateInit(&z, Z_BEST_COMPRESSION), Z_OK);
  auto deflated = [&z](const std::vector<uint8_t>& in, int flush) {
    std::vector<uint8_t> out(deflateBound(&z, uLong(in.size())) + 64);
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = uInt(in.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    EXPECT_NE(deflate(&z, flush), Z_STREAM_ERROR);
    out.resize(out.size() - z.avail_out);
    return out;
  };
  const std::vector<uint8_t> zeros(1 << 20);
  std::vector<uint8_t> bomb = {'Q', 'V', 'Z', 0, 0, 0, 0, 0};
  std::vector<uint8_t> head = deflated(applet, Z_FULL_FLUSH);
  bomb.insert(bomb.end(), head.begin(), head.end());
  const std::vector<uint8_t> unit = deflated(zeros, Z_FULL_FLUSH);
  EXPECT_EQ(deflated(zeros, Z_FULL_FLUSH), unit);
  deflateEnd(&z);
  uLong adler = adler32(1, applet.data(), uInt(applet.size()));
  const uLong zerosAdler = adler32(1, zeros.data(), uInt(zeros.size()));
  for (int i = 0; i < mebibytes; ++i) {
    bomb.insert(bomb.end(), unit.begin(), unit.end());
    adler = adler32_combine(adler, zerosAdler, z_off_t(zeros.size()));
  }
  // A last, empty block of fixed codes, and the checksum.
  for (uint8_t b : {0x03, 0x00, int(adler >> 24), int(adler >> 16 & 0xFF), int(adler >> 8 & 0xFF),
                    int(adler & 0xFF)}) {
    bomb.push_back(b);
  }
  return bomb;
}

// A debug host for "::hwnd7": answers every record of every player that connects, and notes which
// block each text came through (its number and inode, so that a block made anew under the same
// number by another player is told apart).
class FakeHost {
 public:
  struct Text {
    pid_t player;
    int block;
    ino_t inode;
    std::string text;
  };

  FakeHost() {
    std::string dir = PlayerRuntimeDir();
    server_ = dir.empty() ? -1 : ListenUnix(dir + "/hwnd" + std::to_string(kWindow));
    if (server_ >= 0) acceptor_ = std::thread([this] { Accept(); });
  }
  ~FakeHost() {
    if (server_ >= 0) {
      shutdown(server_, SHUT_RDWR);
      acceptor_.join();
      close(server_);
    }
    for (std::thread& t : clients_) t.join();
  }
  bool Listening() const { return server_ >= 0; }

  std::vector<Text> Texts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return texts_;
  }
  // Waits until the player's text arrived: false after ten seconds.
  bool WaitFor(pid_t player, const std::string& text) {
    for (auto end = std::chrono::steady_clock::now() + 10s;
         std::chrono::steady_clock::now() < end;) {
      for (const Text& t : Texts()) {
        if (t.player == player && t.text == text) return true;
      }
      std::this_thread::sleep_for(1ms);
    }
    return false;
  }
  // Whether the block that carried the text still exists under its name.
  static bool BlockRemains(const Text& t) {
    struct stat st;
    std::string path = "/dev/shm/brellcombe_quillvane" + std::to_string(t.block);
    return stat(path.c_str(), &st) == 0 && st.st_ino == t.inode;
  }

 private:
  void Accept() {
    for (;;) {
      int fd = accept(server_, nullptr, nullptr);
      if (fd < 0) return;
      ucred peer{};
      socklen_t size = sizeof peer;
      getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size);
      std::lock_guard<std::mutex> lock(mutex_);
      clients_.emplace_back([this, fd, pid = peer.pid] { Serve(fd, pid); });
    }
  }
  void Serve(int fd, pid_t player) {
    uint32_t record[2];
    while (ReceiveAll(fd, record, sizeof record, 20000)) {
      Text t{player, static_cast<int>(record[1]), 0, {}};
      std::string name = "/brellcombe_quillvane" + std::to_string(record[1]);
      int shm = shm_open(name.c_str(), O_RDONLY, 0);
      struct stat st;
      if (record[0] == 0x8000 && shm >= 0 && fstat(shm, &st) == 0) {
        t.inode = st.st_ino;
        void* p = mmap(nullptr, 2048, PROT_READ, MAP_SHARED, shm, 0);
        if (p != MAP_FAILED) {
          t.text.assign(static_cast<const char*>(p), strnlen(static_cast<const char*>(p), 2048));
          munmap(p, 2048);
        }
      }
      if (shm >= 0) close(shm);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        texts_.push_back(t);
      }
      char ok = 1;
      if (!SendAll(fd, &ok, 1, 20000)) break;
    }
    close(fd);
  }

  int server_ = -1;
  std::thread acceptor_;
  std::mutex mutex_;
  std::vector<std::thread> clients_;
  std::vector<Text> texts_;
};

class EdgesTest : public PlayerTest {
 protected:
  void SetUp() override {
    PlayerTest::SetUp();
    // The host's socket and the player's lie in the test's own runtime directory.
    std::filesystem::create_directory(Path("run"));
    std::filesystem::permissions(Path("run"), std::filesystem::perms::owner_all);
    setenv("XDG_RUNTIME_DIR", Path("run").c_str(), 1);
  }
  void TearDown() override {
    // A failed check may leave players running; the host waits for them to go.
    for (pid_t pid : running_) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    host_.reset();
    unsetenv("XDG_RUNTIME_DIR");
    PlayerTest::TearDown();
  }

  FakeHost& Host() {
    if (!host_) host_ = std::make_unique<FakeHost>();
    return *host_;
  }
  pid_t Launch(const std::vector<std::string>& args) {
    pid_t pid = Start(args);
    running_.push_back(pid);
    return pid;
  }

  // The player runs and catches the signal: what is sent from here on is the player's to handle.
  static bool WaitCatching(pid_t pid, int signal) {
    for (auto end = std::chrono::steady_clock::now() + 20s;
         std::chrono::steady_clock::now() < end;) {
      std::ifstream in("/proc/" + std::to_string(pid) + "/status");
      bool player = false;
      uint64_t caught = 0;
      for (std::string line; std::getline(in, line);) {
        if (line.rfind("Name:", 0) == 0) player = line.find("quillvane") != std::string::npos;
        if (line.rfind("SigCgt:", 0) == 0) caught = std::stoull(line.substr(7), nullptr, 16);
      }
      if (player && (caught >> (signal - 1) & 1)) return true;
      std::this_thread::sleep_for(200us);
    }
    return false;
  }
  // The exit status (128 + the signal when killed), or -1 when the player has not ended within the
  // limit (it is killed then).
  int WaitExit(pid_t pid, std::chrono::milliseconds limit = 20s) {
    std::erase(running_, pid);
    for (auto end = std::chrono::steady_clock::now() + limit;;) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (std::chrono::steady_clock::now() >= end) break;
      std::this_thread::sleep_for(200us);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
  }
  // Starts the player with its standard output (and standard error too when asked) into a pipe
  // whose reading end comes back; standard error otherwise goes to stderr.txt.
  pid_t StartPiped(const std::vector<std::string>& args, bool withError, int* readEnd) {
    *readEnd = -1;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    std::vector<std::string> argv = {QV_PLAYER_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    std::string err = Path("stderr.txt"), tmp = "TMPDIR=" + TempDir();
    pid_t pid = fork();
    if (pid == 0) {
      int e = withError ? fds[1] : open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (e < 0 || chdir(dir_.c_str()) != 0) _exit(126);
      dup2(fds[1], 1);
      dup2(e, 2);
      putenv(tmp.data());
      execv(cargv[0], cargv.data());
      _exit(127);
    }
    close(fds[1]);
    *readEnd = fds[0];
    if (pid > 0) running_.push_back(pid);
    return pid;
  }
  static std::string ReadAll(int fd) {
    std::string all;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) all.append(buffer, size_t(n));
    return all;
  }
  // The private directories ("quillvane-<pid>-XXXXXX") in the temporary directory.
  std::vector<std::string> PrivateDirs() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(TempDir())) {
      names.push_back(e.path().filename().string());
    }
    return names;
  }
  static std::string PrivateDirOf(pid_t pid) { return "quillvane-" + std::to_string(pid) + "-"; }

 private:
  std::vector<pid_t> running_;
  std::unique_ptr<FakeHost> host_;
};

const char* SignalName(int signal) {
  switch (signal) {
    case SIGHUP:
      return "SIGHUP";
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGQUIT:
      return "SIGQUIT";
    default:
      return "?";
  }
}

class SignalTest : public EdgesTest, public ::testing::WithParamInterface<int> {};

// The signal comes at a random moment, from start-up through unpacking the applet to the running
// script; in half the runs a second signal follows into the shutdown. Each run ends with status 0
// and leaves neither its temporary directory (with the unpacked applet) nor the debug device's
// shared block.
TEST_P(SignalTest, EndsTheRunThroughShutdownAtAnyMoment) {
  const int signal = GetParam();
  WriteFile("loop.qvz", qvasm::CompressApplet(Applet(kLoop)));
  FakeHost& host = Host();
  ASSERT_TRUE(host.Listening());
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  constexpr int kQuitSignals[] = {SIGHUP, SIGINT, SIGTERM, SIGQUIT};
  for (int run = 0; run < 8; ++run) {
    const bool second = run % 2 == 1;
    pid_t pid = Launch({"loop.qvz", "-QUIET", "-DEBUGDEVICE", "::hwnd" + std::to_string(kWindow)});
    ASSERT_TRUE(WaitCatching(pid, signal)) << SignalName(signal);
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 40000));
    kill(pid, signal);
    if (second) {
      std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
      kill(pid, kQuitSignals[random() % 4]);
    }
    PlayerRun r{WaitExit(pid), ReadFile("stdout.txt"), ReadFile("stderr.txt")};
    EXPECT_EQ(r.status, 0) << SignalName(signal) << " run " << run;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(TempLeftovers(), std::vector<std::string>{}) << SignalName(signal) << " run " << run;
  }
  for (const FakeHost::Text& t : host.Texts()) {
    EXPECT_FALSE(FakeHost::BlockRemains(t)) << "block " << t.block << " of " << t.player;
  }
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalTest, ::testing::Values(SIGHUP, SIGINT, SIGTERM, SIGQUIT),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(SignalName(info.param)).substr(3);
                         });

// "quillvane x.qva | head -2": once the reader has gone the run ends through shutdown.
TEST_F(EdgesTest, AReaderThatGoesAwayEndsTheRun) {
  WriteFile("chatter.qvz", qvasm::CompressApplet(Applet(kChatter)));
  int out = -1;
  pid_t pid = StartPiped({"chatter.qvz", "-QUIET"}, false, &out);
  ASSERT_GT(pid, 0);
  std::string head;
  char c;
  while (std::count(head.begin(), head.end(), '\n') < 2 && read(out, &c, 1) == 1) head += c;
  close(out);
  EXPECT_EQ(head, "line\nline\n");
  EXPECT_EQ(WaitExit(pid), 0);
  EXPECT_EQ(ReadFile("stderr.txt"), "");
  EXPECT_EQ(TempLeftovers(), std::vector<std::string>{});
}

// "quillvane x.qva 2>&1 | cat": the script's lines come before the error report that followed them.
TEST_F(EdgesTest, StandardOutputAndErrorKeepTheirOrderInOnePipe) {
  WriteFile("failing.qva", Applet(kFailing));
  int out = -1;
  pid_t pid = StartPiped({"failing.qva", "-QUIET"}, true, &out);
  ASSERT_GT(pid, 0);
  std::string all = ReadAll(out);
  close(out);
  EXPECT_EQ(WaitExit(pid), 1);
  EXPECT_EQ(all, std::string("before the error\n") + kReport);
}

// A debug device that takes no text, or that cannot be made, says so once on standard error with
// the reason; the error report goes there too, and the exit status is that of the run.
TEST_F(EdgesTest, AFailingDebugDeviceIsSaidOnStandardError) {
  WriteFile("failing.qva", Applet(kFailing));
  WriteFile("hello.qva", Applet(kHello));
  const std::string full = "Cannot write to the debug device /dev/full: No space left on device\n";

  PlayerRun r = Run({"failing.qva", "-DEBUGDEVICE", "::file/dev/full"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, full + kReport);

  r = Run({"hello.qva", "-DEBUGDEVICE", "::file/dev/full"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, full);

  const std::string missing = Path("no/such/dir/debug.txt");
  r = Run({"failing.qva", "-QUIET", "-DEBUGDEVICE", "::file" + missing});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "before the error\n");  // standard output took the device's place
  EXPECT_EQ(r.err,
            "Cannot open the debug device " + missing + ": No such file or directory\n" + kReport);
}

// SIGKILL cannot be caught: the killed player's private directory and block stay until the next
// player starts, which removes them, while a second, live player's stay.
TEST_F(EdgesTest, APlayerKilledOutrightIsClearedAwayByTheNextStart) {
  WriteFile("loop.qvz", qvasm::CompressApplet(Applet(kLoop)));
  WriteFile("hello.qva", Applet(kHello));
  FakeHost& host = Host();
  ASSERT_TRUE(host.Listening());
  const std::vector<std::string> args = {"loop.qvz", "-QUIET", "-DEBUGDEVICE",
                                         "::hwnd" + std::to_string(kWindow)};
  pid_t live = Launch(args);
  ASSERT_TRUE(host.WaitFor(live, "looping\n"));
  pid_t killed = Launch(args);
  ASSERT_TRUE(host.WaitFor(killed, "looping\n"));
  kill(killed, SIGKILL);
  EXPECT_EQ(WaitExit(killed), 128 + SIGKILL);

  auto dirsOf = [&](pid_t pid) {
    int n = 0;
    for (const std::string& name : PrivateDirs()) n += name.rfind(PrivateDirOf(pid), 0) == 0;
    return n;
  };
  auto blockOf = [&](pid_t pid) {
    for (const FakeHost::Text& t : host.Texts()) {
      if (t.player == pid) return t;
    }
    return FakeHost::Text{};
  };
  // The killed player's block may be gone already: the shared blocks are the whole machine's,
  // and a player of another test may have started meanwhile. The temporary directory is this
  // test's own.
  ASSERT_EQ(dirsOf(killed), 1);
  ASSERT_EQ(dirsOf(live), 1);
  // The unpacked applet itself went as soon as it was read.
  for (const std::string& name : PrivateDirs()) {
    EXPECT_TRUE(std::filesystem::is_empty(TempDir() + "/" + name)) << name;
  }

  // A plain applet: this player makes no temporary directory of its own.
  EXPECT_EQ(Run({"hello.qva", "-QUIET"}).status, 0);
  EXPECT_EQ(dirsOf(killed), 0);
  EXPECT_FALSE(FakeHost::BlockRemains(blockOf(killed)));
  EXPECT_EQ(dirsOf(live), 1);
  EXPECT_TRUE(FakeHost::BlockRemains(blockOf(live)));

  kill(live, SIGTERM);
  EXPECT_EQ(WaitExit(live), 0);
  EXPECT_EQ(TempLeftovers(), std::vector<std::string>{});
  EXPECT_FALSE(FakeHost::BlockRemains(blockOf(live)));
}

// SIGINT a second into inflating an applet of 8 GiB (from 8 MB): the player is gone at once, as
// after any user abort with status 0, and the partly inflated copy with it. "At once" is about
// 50 ms here, most of it the removal of the copy and the end of the process; a loaded machine
// and the sanitizer build stretch that, so the check allows 500 ms. Before, it took as long as
// the inflation, seconds.
TEST_F(EdgesTest, AQuitStopsTheInflationOfACompressedBomb) {
  constexpr int kMebibytes = 8192;
  WriteFile("bomb.qvz", Bomb(Applet(kLoop), kMebibytes));
  pid_t pid = Launch({"bomb.qvz", "-QUIET"});
  auto unpacked = [&]() -> int64_t {
    for (const auto& e : std::filesystem::recursive_directory_iterator(TempDir())) {
      std::error_code ec;
      if (e.is_regular_file(ec)) return int64_t(e.file_size(ec));
    }
    return -1;
  };
  for (auto end = std::chrono::steady_clock::now() + 20s;
       unpacked() <= 0 && std::chrono::steady_clock::now() < end;) {
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_GT(unpacked(), 0) << "the inflation did not begin";
  std::this_thread::sleep_for(1s);
  const int64_t written = unpacked();
  ASSERT_GT(written, 0);
  ASSERT_LT(written, int64_t(kMebibytes) << 20) << "the inflation ended within a second";
  auto sent = std::chrono::steady_clock::now();
  kill(pid, SIGINT);
  int status = WaitExit(pid);
  auto took = std::chrono::steady_clock::now() - sent;
  EXPECT_EQ(status, 0);
  // The whole inflation would take half a minute; the bound leaves room for a sanitized exit on a
  // busy machine.
  EXPECT_LT(took, 2s) << "after " << (written >> 20) << " MiB";
  EXPECT_EQ(ReadFile("stderr.txt"), "");
  EXPECT_EQ(TempLeftovers(), std::vector<std::string>{});
}

}  // namespace
}  // namespace qv::testing
