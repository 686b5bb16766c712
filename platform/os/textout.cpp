// Text output: standard output, a file ("::file<path>", flushed after every text) or a host
// program ("::hwnd<n>") that reads each text from a 2048-byte POSIX shared memory block named
// "/brellcombe_quillvane<k>" (the first free k from 0 to 9999). After writing a text into the
// block the player sends the host's socket "<runtime dir>/hwnd<n>" the record {0x8000, k} (two
// 32-bit words in the machine's order) and waits for one byte back, so the host has read the block
// before the next text overwrites it.
#include <fcntl.h>
#include <sys/mman.h>
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
#include "platform/textout.h"

namespace qv {

namespace {

constexpr size_t kBlockSize = 2048;
constexpr uint32_t kHostMessage = 0x8000;

std::mutex outputMutex;
FILE* outputFile = nullptr;
struct Host {
  int socket = -1;
  int blockNumber = -1;
  char* block = nullptr;
  std::string blockName;
} host;

void CloseLocked() {
  if (outputFile) fclose(outputFile);
  outputFile = nullptr;
  if (host.block) munmap(host.block, kBlockSize);
  if (!host.blockName.empty()) shm_unlink(host.blockName.c_str());
  if (host.socket >= 0) close(host.socket);
  host = Host{};
  fflush(stdout);
}

// The block of the first free number, mapped; false when none can be made.
bool MakeBlock() {
  for (int k = 0; k <= 9999; ++k) {
    std::string name = "/brellcombe_quillvane" + std::to_string(k);
    int fd = shm_open(name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return false;
    }
    void* p = MAP_FAILED;
    if (ftruncate(fd, kBlockSize) == 0) {
      p = mmap(nullptr, kBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    }
    close(fd);
    if (p == MAP_FAILED) {
      shm_unlink(name.c_str());
      return false;
    }
    host.block = static_cast<char*>(p);
    host.blockNumber = k;
    host.blockName = name;
    return true;
  }
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
    outputFile = fopen(device + 6, "wbe");
  }
  return TargetLocked();
}

void OutputText(const char* text) {
  if (!text) return;
  std::lock_guard<std::mutex> lock(outputMutex);
  if (host.block) {
    SendToHost(text);
  } else if (outputFile) {
    fputs(text, outputFile);
    fflush(outputFile);
  } else {
    fputs(text, stdout);
  }
}

bool ReadConsoleLine(char* buffer, int size) {
  return size >= 2 && fgets(buffer, size, stdin) != nullptr;
}

void CloseTextOutput() {
  std::lock_guard<std::mutex> lock(outputMutex);
  CloseLocked();
}

}  // namespace qv
