#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/os/ipc.h"
#include "tests/platform/fixture.h"

using namespace qv;

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string BlockName(uint32_t k) { return "/brellcombe_quillvane" + std::to_string(k); }

}  // namespace

TEST_F(PlatformTest, FileDeviceHasEveryTextOnDiskAtOnce) {
  char dir[] = "/tmp/qvtextXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string path = std::string(dir) + "/out.txt";
  EXPECT_EQ(ParseOutputArgument(("::file" + path).c_str()), TextTarget::kFile);
  EXPECT_EQ(ParseOutputArgument("::other"), TextTarget::kFile);  // not a device: nothing changes
  EXPECT_EQ(ParseOutputArgument(nullptr), TextTarget::kFile);
  OutputText("first line\n");
  OutputText(nullptr);
  EXPECT_EQ(ReadFile(path), "first line\n");
  OutputText("second\n");
  EXPECT_EQ(ReadFile(path), "first line\nsecond\n");
  EXPECT_FALSE(DebugDeviceFailed());
  // A file that cannot be made leaves standard output, and says why.
  testing::internal::CaptureStderr();
  EXPECT_EQ(ParseOutputArgument(("::file" + std::string(dir) + "/no/such/dir").c_str()),
            TextTarget::kStandardOutput);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Cannot open the debug device " + std::string(dir) +
                "/no/such/dir: No such file or directory\n");
  EXPECT_TRUE(DebugDeviceFailed());
  ShutdownPlatform();  // closes the file
  std::filesystem::remove_all(dir);
}

// A device that takes no text says so once, with the reason; the next device starts afresh.
TEST_F(PlatformTest, FileDeviceThatFailsSaysItOnceOnStandardError) {
  ASSERT_EQ(ParseOutputArgument("::file/dev/full"), TextTarget::kFile);
  EXPECT_FALSE(DebugDeviceFailed());
  testing::internal::CaptureStderr();
  OutputText("lost\n");
  OutputText("lost too\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Cannot write to the debug device /dev/full: No space left on device\n");
  EXPECT_TRUE(DebugDeviceFailed());
  EXPECT_EQ(ParseOutputArgument("::file/dev/null"), TextTarget::kFile);
  EXPECT_FALSE(DebugDeviceFailed());
}

// Standard output is flushed first: a reader of both through one pipe sees them in order.
TEST_F(PlatformTest, ErrorTextComesAfterEverythingWrittenBefore) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  fflush(stdout);
  fflush(stderr);
  int savedOut = dup(1), savedErr = dup(2);
  dup2(fds[1], 1);
  dup2(fds[1], 2);
  close(fds[1]);
  OutputText("first\n");  // a pipe: fully buffered
  WriteErrorText("second\n");
  OutputText("third\n");
  WriteErrorText(nullptr);
  fflush(stdout);
  dup2(savedOut, 1);
  dup2(savedErr, 2);
  close(savedOut);
  close(savedErr);
  char buffer[64] = {};
  ASSERT_GT(read(fds[0], buffer, sizeof buffer - 1), 0);
  close(fds[0]);
  EXPECT_STREQ(buffer, "first\nsecond\nthird\n");
}

// A fake host: takes the records {0x8000, k}, reads block k and answers.
TEST_F(PlatformTest, HostDeviceHandsEachTextThroughTheSharedBlock) {
  char runtime[] = "/tmp/qvrtXXXXXX";
  ASSERT_NE(mkdtemp(runtime), nullptr);
  setenv("XDG_RUNTIME_DIR", runtime, 1);
  std::string dir = PlayerRuntimeDir();
  ASSERT_FALSE(dir.empty());
  int server = ListenUnix(dir + "/hwnd4711");
  ASSERT_GE(server, 0);

  // Another player holds the first free block (and its lock): this one must take a later number.
  int taken = -1, takenFd = -1;
  std::string takenName;
  for (uint32_t k = 0; k < 10000 && taken < 0; ++k) {
    takenFd = shm_open(BlockName(k).c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
    if (takenFd >= 0) {
      flock(takenFd, LOCK_EX);
      taken = static_cast<int>(k);
      takenName = BlockName(k);
    }
  }
  ASSERT_GE(taken, 0);

  std::vector<std::string> texts;
  std::vector<uint32_t> numbers;
  std::thread host([&] {
    int fd = accept(server, nullptr, nullptr);
    uint32_t record[2];
    while (ReceiveAll(fd, record, sizeof record, 5000)) {
      numbers.push_back(record[0] == 0x8000 ? record[1] : 0xffffffff);
      int shm = shm_open(BlockName(record[1]).c_str(), O_RDONLY, 0);
      auto* block = static_cast<char*>(mmap(nullptr, 2048, PROT_READ, MAP_SHARED, shm, 0));
      texts.emplace_back(block, strnlen(block, 2048));
      munmap(block, 2048);
      close(shm);
      char ok = 1;
      SendAll(fd, &ok, 1, 5000);
    }
    close(fd);
  });

  EXPECT_EQ(ParseOutputArgument("::hwnd4711"), TextTarget::kHost);
  OutputText("hello host\n");
  // Start-up's clean-up of another player leaves both live blocks alone.
  EXPECT_TRUE(RemoveLeftoversOfEndedPlayers());
  OutputText(std::string(3000, 'x').c_str());
  ShutdownPlatform();  // closes the connection: the host ends
  host.join();
  close(server);
  shm_unlink(takenName.c_str());
  close(takenFd);
  unsetenv("XDG_RUNTIME_DIR");
  std::filesystem::remove_all(runtime);

  ASSERT_EQ(texts.size(), 2u) << "a live block was removed";
  EXPECT_EQ(texts[0], "hello host\n");
  EXPECT_EQ(texts[1], std::string(2047, 'x'));  // cut to the block, always terminated
  EXPECT_NE(numbers[0], static_cast<uint32_t>(taken));
  EXPECT_EQ(numbers[0], numbers[1]);
  // The block is gone after shutdown.
  EXPECT_LT(shm_open(BlockName(numbers[0]).c_str(), O_RDONLY, 0), 0);
}

TEST_F(PlatformTest, HostDeviceWithoutAHostFallsBackToStandardOutput) {
  char runtime[] = "/tmp/qvrtXXXXXX";
  ASSERT_NE(mkdtemp(runtime), nullptr);
  setenv("XDG_RUNTIME_DIR", runtime, 1);
  EXPECT_EQ(ParseOutputArgument("::hwnd99"), TextTarget::kStandardOutput);
  testing::internal::CaptureStdout();
  OutputText("to stdout\n");
  fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "to stdout\n");
  unsetenv("XDG_RUNTIME_DIR");
  std::filesystem::remove_all(runtime);
}

// A block that nobody holds belongs to a player that is gone: start-up removes it, but not a
// block of another user's name pattern or another player's that is held. Players and tests that
// run beside this one take free names of the same pattern: a name found again must be another
// block than the abandoned one.
TEST_F(PlatformTest, AbandonedHostBlocksAreRemovedAtStartUp) {
  std::vector<std::string> abandoned, held;
  std::vector<ino_t> abandonedInodes;
  std::vector<int> holders;
  for (uint32_t k = 0; k < 10000 && (abandoned.size() < 2 || held.size() < 1); ++k) {
    int fd = shm_open(BlockName(k).c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
    if (fd < 0) continue;
    if (abandoned.size() < 2) {
      struct stat st;
      ASSERT_EQ(fstat(fd, &st), 0);
      abandoned.push_back(BlockName(k));
      abandonedInodes.push_back(st.st_ino);
      close(fd);
    } else {
      flock(fd, LOCK_EX);
      held.push_back(BlockName(k));
      holders.push_back(fd);
    }
  }
  ASSERT_EQ(abandoned.size(), 2u);
  ASSERT_EQ(held.size(), 1u);
  int other = shm_open("/brellcombe_quillvane_other", O_CREAT | O_RDWR, 0600);
  ASSERT_GE(other, 0);
  close(other);

  EXPECT_TRUE(RemoveLeftoversOfEndedPlayers());
  for (size_t i = 0; i < abandoned.size(); ++i) {
    int fd = shm_open(abandoned[i].c_str(), O_RDONLY, 0);
    if (fd < 0) continue;
    struct stat st;
    EXPECT_EQ(fstat(fd, &st), 0);
    EXPECT_NE(st.st_ino, abandonedInodes[i]) << abandoned[i];
    close(fd);
  }
  int still = shm_open(held[0].c_str(), O_RDONLY, 0);
  EXPECT_GE(still, 0);
  close(still);
  still = shm_open("/brellcombe_quillvane_other", O_RDONLY, 0);
  EXPECT_GE(still, 0);
  close(still);
  shm_unlink("/brellcombe_quillvane_other");
  shm_unlink(held[0].c_str());
  for (int fd : holders) close(fd);
}
