// Saves at the edges, through the player: CompressFile and DecompressFile on a full disk and over
// the file size limit, killed outright while they write, and run by several players at once on one
// target; a DownloadFile stopped by a signal. The old file stays whole or a complete new one takes
// its place, and what killed players left beside their targets and in the settings folder goes at
// the next start. A run started ignoring hang-ups and interrupts (nohup) keeps ignoring them.
#include <sys/stat.h>

#include <random>

#include "tests/fixtures/small_disk.h"
#include "tests/network/peer.h"
#include "tests/player/dos_fixture.h"

namespace qv::testing {
namespace {

using namespace std::chrono_literals;

class SavesTest : public DosTest {
 protected:
  void SetUp() override {
    DosTest::SetUp();
    std::filesystem::create_directory(Path("config"));
    env_.push_back("XDG_CONFIG_HOME=" + Path("config"));
  }
  // The script as an applet file.
  void WriteScript(const std::string& file, const std::string& script) {
    WriteFile(file, Applet(qvasm::TranslateOrFail(script, qvasm::kNumberedErrors)));
  }
  std::vector<std::string> PlayerArgs(const std::string& applet, const std::string& out) {
    return {applet, "-QUIET", "-DEBUGDEVICE", "::file" + Path(out)};
  }
  // The names in a folder of the test.
  std::vector<std::string> Names(const std::string& folder) const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(Path(folder))) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  // Waits for the player to end: its status, or -1 after the limit (it is killed then).
  static int WaitExit(pid_t pid, std::chrono::milliseconds limit = 30s) {
    for (auto end = std::chrono::steady_clock::now() + limit;;) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (std::chrono::steady_clock::now() >= end) break;
      std::this_thread::sleep_for(1ms);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
  }
  // A pid that no process has now: a child that has ended.
  static pid_t DeadPid() {
    pid_t pid = fork();
    if (pid == 0) _exit(0);
    waitpid(pid, nullptr, 0);
    return pid;
  }
};

// The inputs: noise that does not compress, its archive made by python3's zlib, and old files.
constexpr char kInputs[] = R"(
import os, zlib
big = os.urandom(4 << 20)
open('big', 'wb').write(big)
open('big.qvpk', 'wb').write(b'QVPK\0\0\0\0' + zlib.compress(big))
os.makedirs('disk', exist_ok=True)
open('disk/packed', 'wb').write(b'QVPK\0\0\0\0' + zlib.compress(b'old archive ' * 1000))
open('disk/plain', 'wb').write(b'old plain file ' * 1000)
)";

constexpr char kCheckOld[] = R"(
import zlib
a = open('disk/packed', 'rb').read()
print(zlib.decompress(a[8:]) == b'old archive ' * 1000, open('disk/plain', 'rb').read() == b'old plain file ' * 1000)
)";

class FullDiskTest : public SavesTest, public ::testing::WithParamInterface<const char*> {};

// A disk that fills, or the file size limit, stops the write: the command fails with its error,
// the run goes on to its end, the old files stay whole and nothing is left beside them.
TEST_P(FullDiskTest, CompressAndDecompressKeepTheOldFile) {
  const std::string how = GetParam();
  std::unique_ptr<qvtest::SmallDisk> disk;
  if (how == "tmpfs") {
    disk = std::make_unique<qvtest::SmallDisk>(Path("disk"), 1 << 20);
    if (!disk->mounted()) GTEST_SKIP() << "a tmpfs needs root";
  }
  Python(kInputs);
  WriteScript("main.qva", R"(
CompressFile("big", "disk/packed")
DecompressFile("big.qvpk", "disk/plain")
do DebugPrint("the end")
)");
  std::vector<std::string> args = PlayerArgs("main.qva", "out.txt");
  PlayerRun r = how == "tmpfs" ? Run(args) : [&] {
    args.insert(args.begin(), {"--fsize=1048576", QV_PLAYER_PATH});
    return Run(args, "/usr/bin/prlimit");
  }();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile("out.txt"),
            "error 1005 CompressFile\nCompressFile(\"big\", \"disk/packed\")\n"
            "error 1052 DecompressFile\nDecompressFile(\"big.qvpk\", \"disk/plain\")\nthe end\n");
  EXPECT_EQ(Python(kCheckOld), "True True\n");
  EXPECT_EQ(Names("disk"), (std::vector<std::string>{"packed", "plain"}));
}

INSTANTIATE_TEST_SUITE_P(Disks, FullDiskTest, ::testing::Values("tmpfs", "limit"));

// Players killed while they compress and decompress: every time the target is the old file or a
// complete new one. The files they were writing stay until a later start removes them, and with
// them the settings store's new file of an ended player; a live player's, and what a link in
// their place points to, stay.
TEST_F(SavesTest, KilledSavesLeaveWholeFilesAndTheNextStartSweeps) {
  Python(R"(
import os, zlib
src = os.urandom(12 << 20)
open('src', 'wb').write(src)
open('src.qvpk', 'wb').write(b'QVPK\0\0\0\0' + zlib.compress(src, 1))
os.makedirs('disk', exist_ok=True)
open('disk/packed', 'wb').write(b'QVPK\0\0\0\0' + zlib.compress(b'old'))
open('disk/plain', 'wb').write(b'old')
)");
  WriteScript("main.qva", R"(
DebugPrint("started")
for i = 1, 1000
  do CompressFile("src", "disk/packed")
  do DecompressFile("src.qvpk", "disk/plain")
end
)");
  std::mt19937 random(54);
  for (int run = 0; run < 8; ++run) {
    pid_t pid = Start(PlayerArgs("main.qva", "out.txt"));
    // Killed once it writes beside its targets, at a random moment of its saves.
    auto writing = [&] {
      for (const std::string& name : Names("disk")) {
        if (name.find(".part") != std::string::npos) return true;
      }
      return false;
    };
    for (int i = 0; i < 20000 && !writing(); ++i) std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 400));
    kill(pid, SIGKILL);
    EXPECT_EQ(WaitExit(pid), 128 + SIGKILL);
    EXPECT_EQ(Python(R"(
import zlib
src = open('src', 'rb').read()
a = open('disk/packed', 'rb').read()
p = open('disk/plain', 'rb').read()
print(zlib.decompress(a[8:]) in (src, b'old'), p in (src, b'old'))
)"),
              "True True\n")
        << "run " << run;
  }
  // Each start removed what the player killed before it was writing; the last one's stays.
  std::vector<std::string> left = Names("disk");
  EXPECT_GT(left.size(), 2u);

  // A dead player's leftovers with its journal, as a kill leaves them, and what must stay.
  pid_t dead = DeadPid();
  std::string own = ".qv" + std::to_string(dead) + "-";
  std::string deadDir = TempDir() + "/quillvane-" + std::to_string(dead) + "-AbCdEf";
  std::filesystem::create_directory(deadDir);
  WriteFile("keep.txt", "kept");
  WriteFile("disk/" + own + "1.part", "partial");
  symlink(Path("keep.txt").c_str(), Path("disk/" + own + "2.part").c_str());
  WriteFile("disk/.qv1-3.part", "another player's name");
  std::ofstream(deadDir + "/parts") << Path("disk/" + own + "1.part") << "\n"
                                    << Path("disk/" + own + "2.part") << "\n"
                                    << Path("disk/.qv1-3.part") << "\n"
                                    << Path("keep.txt") << "\n";
  std::filesystem::create_directories(Path("config/quillvane"));
  std::string deadNew = "config/quillvane/current_user.ini.new" + std::to_string(dead);
  std::string liveNew = "config/quillvane/current_user.ini.new" + std::to_string(getpid());
  WriteFile(deadNew, "[x]");
  WriteFile(liveNew, "[x]");

  WriteScript("hello.qva", "DebugPrint(\"hello\")\n");
  PlayerRun r = Run(PlayerArgs("hello.qva", "hello.txt"));
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> stay = {own + "2.part", ".qv1-3.part", "packed", "plain"};
  std::sort(stay.begin(), stay.end());
  EXPECT_EQ(Names("disk"), stay);
  EXPECT_EQ(ReadFile("keep.txt"), "kept");
  EXPECT_FALSE(Exists(deadNew));
  EXPECT_TRUE(Exists(liveNew));
  EXPECT_EQ(TempLeftovers(), std::vector<std::string>{});
}

// Players that compress into one target at the same moment each write a file of their own beside
// it: the target is one whole archive of one of the sources.
TEST_F(SavesTest, PlayersAtOnceOnOneTargetLeaveOneWholeArchive) {
  constexpr int kPlayers = 6;
  Python(R"(
import os
for i in range(6):
  open('src%d' % i, 'wb').write(os.urandom((2 + 2 * i) << 20))
)");
  std::vector<pid_t> pids;
  for (int i = 0; i < kPlayers; ++i) {
    std::string n = std::to_string(i);
    WriteScript("p" + n + ".qva",
                "for i = 1, 3\ndo CompressFile(\"src" + n + "\", \"packed\")\nend\n");
    pids.push_back(Start(PlayerArgs("p" + n + ".qva", "out" + n + ".txt")));
  }
  for (pid_t pid : pids) EXPECT_EQ(WaitExit(pid), 0);
  EXPECT_EQ(Python(R"(
import zlib
d = zlib.decompressobj()
a = d.decompress(open('packed', 'rb').read()[8:])
print(sum(a == open('src%d' % i, 'rb').read() for i in range(6)), d.eof and not d.unused_data)
)"),
            "1 True\n");
  for (const std::string& name : Names("")) EXPECT_EQ(name.find(".part"), std::string::npos);
}

// A signal while DownloadFile receives into a file ends the run and leaves the old file.
TEST_F(SavesTest, ASignalDuringADownloadLeavesTheOldFile) {
  Peer peer;
  ASSERT_TRUE(peer.Start({PeerScript("http_peer.py")}));
  WriteFile("target.bin", std::string(100000, 'o'));
  WriteScript("main.qva", "DebugPrint(\"started\")\ndo DownloadFile(\"" +
                              peer.Url("http", "/slow/10485760") +
                              "\", {file = \"target.bin\"})\n");
  pid_t pid = Start(PlayerArgs("main.qva", "out.txt"));
  for (int i = 0; i < 20000 && ReadFile("out.txt").empty(); ++i) std::this_thread::sleep_for(1ms);
  std::this_thread::sleep_for(500ms);
  kill(pid, SIGINT);
  EXPECT_EQ(WaitExit(pid, 10s), 0);
  EXPECT_TRUE(ReadFile("target.bin") == std::string(100000, 'o'));
  for (const std::string& name : Names("")) EXPECT_EQ(name.find(".part"), std::string::npos);
}

// The signal bits of /proc/<pid>/status: ignored and caught.
std::pair<uint64_t, uint64_t> SignalBits(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  uint64_t ignored = 0, caught = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("SigIgn:", 0) == 0) ignored = std::stoull(line.substr(7), nullptr, 16);
    if (line.rfind("SigCgt:", 0) == 0) caught = std::stoull(line.substr(7), nullptr, 16);
  }
  return {ignored, caught};
}
constexpr uint64_t Bit(int signal) { return uint64_t{1} << (signal - 1); }

// Started under nohup (hang-up and interrupt ignored), the player keeps them ignored and runs on
// through both; a plain start catches them. SIGXFSZ is ignored either way.
TEST_F(SavesTest, AnInheritedIgnoreOfHangUpAndInterruptStays) {
  WriteScript("loop.qva", "DebugPrint(\"looping\")\nfor i = 1, 1000000000\nend\n");
  for (bool nohup : {true, false}) {
    SCOPED_TRACE(nohup ? "nohup" : "plain");
    ignoredSignals_ = nohup ? std::vector<int>{SIGHUP, SIGINT} : std::vector<int>{};
    std::filesystem::remove(Path("out.txt"));
    pid_t pid = Start(PlayerArgs("loop.qva", "out.txt"));
    for (int i = 0; i < 20000 && ReadFile("out.txt").empty(); ++i) std::this_thread::sleep_for(1ms);
    auto [ignored, caught] = SignalBits(pid);
    EXPECT_TRUE(caught & Bit(SIGTERM));
    EXPECT_TRUE(ignored & Bit(SIGXFSZ));
    EXPECT_EQ((ignored & (Bit(SIGHUP) | Bit(SIGINT))) != 0, nohup);
    kill(pid, SIGHUP);
    kill(pid, SIGINT);
    if (nohup) {
      EXPECT_EQ(WaitExit(pid, 500ms), -1);  // still running: killed after the wait
    } else {
      EXPECT_EQ(WaitExit(pid, 10s), 0);
    }
  }
}

}  // namespace
}  // namespace qv::testing
