// Programs and places: running programs without a shell, temporary names in one private directory,
// the program's own path.
#include <fcntl.h>
#include <ftw.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/errors.h"
#include "platform/files.h"
#include "platform/os/internal.h"
#include "platform/process.h"

extern char** environ;

namespace qv {

namespace {

// Blanks separate arguments; double quotes group blanks into one and are dropped.
std::vector<std::string> SplitArguments(const char* text) {
  std::vector<std::string> out;
  std::string current;
  bool inQuotes = false, have = false;
  for (const char* p = text ? text : ""; *p; ++p) {
    if (*p == '"') {
      inQuotes = !inQuotes;
      have = true;
    } else if (!inQuotes && (*p == ' ' || *p == '\t')) {
      if (have) out.push_back(current);
      current.clear();
      have = false;
    } else {
      current += *p;
      have = true;
    }
  }
  if (have) out.push_back(current);
  return out;
}

std::mutex tempMutex;
std::string tempDir;
unsigned tempCounter = 0;

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  remove(path);
  return 0;
}

}  // namespace

int ExecuteProgram(const char* name, const char* arguments, RunMode mode, int* exitStatus) {
  if (exitStatus) *exitStatus = 0;
  std::string program = name ? name : "";
  for (char& c : program) c = c == '\\' ? '/' : c;
  if (program.empty() || program[0] != '/') {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd)) program = std::string(cwd) + "/" + program;
  }
  std::vector<std::string> args = SplitArguments(arguments);
  std::vector<char*> argv;
  argv.push_back(program.data());
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t pid;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
    SetErrorString(name ? name : "");
    return ERR_FILEEXIST;
  }
  if (mode == RunMode::kAsync) {
    // Someone must collect the program when it ends; it is not waited for here.
    std::thread([pid] {
      while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
    }).detach();
    return 0;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return 0;
  }
  if (exitStatus) {
    *exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  return 0;
}

int CreateTempName(char* buffer, size_t size) {
  std::lock_guard<std::mutex> lock(tempMutex);
  if (size) buffer[0] = '\0';
  if (tempDir.empty()) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && base[0] == '/' ? base : "/tmp") + "/quillvane-XXXXXX";
    if (!mkdtemp(pattern.data())) return ERR_CREATEDIR;
    tempDir = pattern;
  }
  for (;;) {
    char leaf[32];
    std::snprintf(leaf, sizeof leaf, "/qv%04X.tmp", ++tempCounter);
    std::string path = tempDir + leaf;
    // Made and removed again, as the name must be free but the file must not exist.
    int fd = open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return ERR_CREATEDIR;
    }
    close(fd);
    unlink(path.c_str());
    if (path.size() >= size) return ERR_CREATEDIR;
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return 0;
  }
}

void RemovePrivateTempDir() {
  std::lock_guard<std::mutex> lock(tempMutex);
  if (tempDir.empty()) return;
  // Depth first, never following links out of the directory.
  nftw(tempDir.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
  tempDir.clear();
}

bool GetProgramPath(char* buffer, size_t size) {
  if (size == 0) return false;
  ssize_t n = readlink("/proc/self/exe", buffer, size - 1);
  if (n < 0 || static_cast<size_t>(n) >= size - 1) {
    buffer[0] = '\0';
    return false;
  }
  buffer[n] = '\0';
  return true;
}

}  // namespace qv
