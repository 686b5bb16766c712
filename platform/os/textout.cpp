// Text output: standard output, a file ("::file<path>", flushed after every text) or a host
// program ("::hwnd<n>") that reads each text from a 2048-byte POSIX shared memory block named
// "/brellcombe_quillvane<k>" (the first free k from 0 to 9999). After writing a text into the
// block the player sends the host's socket "<runtime dir>/hwnd<n>" the record {0x8000, k} (two
// 32-bit words in the machine's order) and waits for one byte back, so the host has read the block
// before the next text overwrites it.
//
// The block's name is what the host knows, so it cannot carry its owner. Instead the player holds
// an exclusive lock on its block for as long as it lives, and the block appears under its name
// already locked: a block nobody holds belongs to a player that is gone, and start-up removes it.
#include "platform/textout.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/os/internal.h"
#include "platform/os/ipc.h"

namespace qv {

namespace {

constexpr size_t kBlockSize = 2048;
constexpr uint32_t kHostMessage = 0x8000;
constexpr char kShmDir[] = "/dev/shm";
constexpr char kBlockPrefix[] = "brellcombe_quillvane";
constexpr int kLastBlock = 9999;

std::mutex outputMutex;
FILE* outputFile = nullptr;
std::string outputPath;     // the "::file" device's path, for the failure notice
bool deviceFailed = false;  // the "::file" device could not be made or lost a text
bool stdoutGone = false;    // standard output's reader went away
struct Host {
  int socket = -1;
  int blockFd = -1;  // holds the block's lock
  int blockNumber = -1;
  char* block = nullptr;
  std::string blockPath;
} host;

std::string BlockPath(int k) {
  return std::string(kShmDir) + "/" + kBlockPrefix + std::to_string(k);
}

// "brellcombe_quillvane<k>" with k from 0 to 9999.
bool IsBlockName(const char* name) {
  size_t prefix = sizeof kBlockPrefix - 1;
  if (std::strncmp(name, kBlockPrefix, prefix) != 0) return false;
  const char* digits = name + prefix;
  size_t n = std::strlen(digits);
  if (n == 0 || n > 4) return false;
  for (size_t i = 0; i < n; ++i) {
    if (digits[i] < '0' || digits[i] > '9') return false;
  }
  return true;
}

void WriteErrorTextLocked(const std::string& text) {
  fflush(stdout);
  fputs(text.c_str(), stderr);
  fflush(stderr);
}

// Said once, with the reason, until the next device is chosen.
void DeviceFailedLocked(const char* what, int error) {
  if (deviceFailed) return;
  deviceFailed = true;
  char reason[128];
  WriteErrorTextLocked(std::string("Cannot ") + what + " the debug device " + outputPath + ": " +
                       strerror_r(error, reason, sizeof reason) + "\n");
}

void CloseLocked() {
  if (outputFile) fclose(outputFile);
  outputFile = nullptr;
  outputPath.clear();
  if (host.block) munmap(host.block, kBlockSize);
  if (!host.blockPath.empty()) unlink(host.blockPath.c_str());
  if (host.blockFd >= 0) close(host.blockFd);
  if (host.socket >= 0) close(host.socket);
  host = Host{};
  fflush(stdout);
}

// The block of the first free number, mapped and locked; false when none can be made. The block
// is made without a name and locked first, then linked under the first free name (linking never
// replaces an existing one).
bool MakeBlock() {
  int fd = open(kShmDir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  void* p = MAP_FAILED;
  if (ftruncate(fd, kBlockSize) == 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) {
    p = mmap(nullptr, kBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  }
  if (p == MAP_FAILED) {
    close(fd);
    return false;
  }
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  for (int k = 0; k <= kLastBlock; ++k) {
    std::string path = BlockPath(k);
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0) {
      if (errno == EEXIST) continue;
      break;
    }
    host.block = static_cast<char*>(p);
    host.blockFd = fd;
    host.blockNumber = k;
    host.blockPath = path;
    return true;
  }
  munmap(p, kBlockSize);
  close(fd);
  return false;
}

void SendToHost(const char* text) {
  // Always terminated: at most 2047 bytes of text.
  size_t n = strnlen(text, kBlockSize - 1);
  std::memcpy(host.block, text, n);
  host.block[n] = '\0';
  uint32_t message[2] = {kHostMessage, static_cast<uint32_t>(host.blockNumber)};
  char answer;
  // When the host is gone the text is lost, as with a closed host window.
  if (SendAll(host.socket, message, sizeof message, -1)) ReceiveAll(host.socket, &answer, 1, -1);
}

TextTarget TargetLocked() {
  if (host.block) return TextTarget::kHost;
  return outputFile ? TextTarget::kFile : TextTarget::kStandardOutput;
}

}  // namespace

TextTarget ParseOutputArgument(const char* device) {
  std::lock_guard<std::mutex> lock(outputMutex);
  if (!device) return TargetLocked();
  if (std::strncmp(device, "::hwnd", 6) == 0) {
    CloseLocked();
    long number = std::strtol(device + 6, nullptr, 10);
    std::string dir = PlayerRuntimeDir();
    if (dir.empty() || !MakeBlock()) return TargetLocked();
    host.socket = ConnectUnix(dir + "/hwnd" + std::to_string(number));
    if (host.socket < 0) CloseLocked();  // no host: standard output
  } else if (std::strncmp(device, "::file", 6) == 0) {
    CloseLocked();
    deviceFailed = false;
    outputPath = device + 6;
    outputFile = fopen(outputPath.c_str(), "wbe");
    if (!outputFile) DeviceFailedLocked("open", errno);
  }
  return TargetLocked();
}

void OutputText(const char* text) {
  if (!text) return;
  bool readerGone = false;
  {
    std::lock_guard<std::mutex> lock(outputMutex);
    if (host.block) {
      SendToHost(text);
    } else if (outputFile) {
      if (fputs(text, outputFile) == EOF || fflush(outputFile) != 0)
        DeviceFailedLocked("write to", errno);
    } else if (!stdoutGone) {
      // As a Linux program under "| head" is expected to: the run ends once nobody reads.
      if (fputs(text, stdout) == EOF && errno == EPIPE) stdoutGone = readerGone = true;
    }
  }
  if (readerGone) RequestQuit();
}

void WriteErrorText(const char* text) {
  if (!text) return;
  std::lock_guard<std::mutex> lock(outputMutex);
  WriteErrorTextLocked(text);
}

bool DebugDeviceFailed() {
  std::lock_guard<std::mutex> lock(outputMutex);
  return deviceFailed;
}

bool ReadConsoleLine(char* buffer, int size) {
  return size >= 2 && fgets(buffer, size, stdin) != nullptr;
}

void CloseTextOutput() {
  std::lock_guard<std::mutex> lock(outputMutex);
  CloseLocked();
  deviceFailed = false;
  stdoutGone = false;
}

bool RemoveAbandonedBlocks() {
  DIR* dir = opendir(kShmDir);
  if (!dir) return true;
  bool removedAll = true;
  while (const dirent* entry = readdir(dir)) {
    if (!IsBlockName(entry->d_name)) continue;
    std::string path = std::string(kShmDir) + "/" + entry->d_name;
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    // Only a block that is still the one locked here goes: not one that its player removed
    // meanwhile and another player made anew under the same name.
    struct stat held, named;
    if (fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && held.st_uid == geteuid() &&
        flock(fd, LOCK_EX | LOCK_NB) == 0 && stat(path.c_str(), &named) == 0 &&
        named.st_dev == held.st_dev && named.st_ino == held.st_ino && unlink(path.c_str()) != 0 &&
        errno != ENOENT) {
      removedAll = false;
    }
    close(fd);
  }
  closedir(dir);
  return removedAll;
}

}  // namespace qv
