// Programs and places: running programs without a shell, temporary names in one private directory,
// the program's own path.
#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/errors.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/os/internal.h"

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
int partsJournal = -1;  // the private directory's list of files written beside their targets
size_t partsJournalSize = 0;
// StartLeftoverRemoval's thread; main thread only.
qvThread* leftoverThread = nullptr;
std::string leftoverBase;

// The private directory is "quillvane-<pid>-XXXXXX" in $TMPDIR (when absolute) or /tmp: the
// owner's pid in its name tells start-up whether its player still runs.
constexpr char kTempPrefix[] = "quillvane-";
// In the private directory: the full names of the files that saves write beside their targets
// (".qv<pid>-<n>.part"), one a line, so that the next start finds what a killed player left.
constexpr char kPartsJournal[] = "/parts";
constexpr size_t kPartsJournalLimit = size_t{1} << 20;

std::string TempBase() {
  const char* base = std::getenv("TMPDIR");
  return base && base[0] == '/' ? base : "/tmp";
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  remove(path);
  return 0;
}

// Depth first, never following links out of the directory. True when it is gone.
bool RemoveTree(const std::string& dir) {
  nftw(dir.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
  return access(dir.c_str(), F_OK) != 0;
}

// The owner's pid of a private directory's name, or 0 when the name is not one.
pid_t TempDirOwner(const char* name) {
  size_t prefix = sizeof kTempPrefix - 1;
  if (std::strncmp(name, kTempPrefix, prefix) != 0) return 0;
  const char* p = name + prefix;
  long long pid = 0;
  const char* digits = p;
  while (*p >= '0' && *p <= '9' && pid < (1LL << 32)) pid = pid * 10 + (*p++ - '0');
  if (p == digits || *p != '-' || std::strlen(p + 1) != 6 || pid <= 0 || pid >= (1LL << 31)) {
    return 0;
  }
  return static_cast<pid_t>(pid);
}

bool ProcessGone(pid_t pid) { return kill(pid, 0) != 0 && errno == ESRCH; }

// The private directory, made on first use; tempMutex held. False when it cannot be made.
bool HavePrivateDir() {
  if (!tempDir.empty()) return true;
  std::string pattern = TempBase() + "/" + kTempPrefix + std::to_string(getpid()) + "-XXXXXX";
  if (!mkdtemp(pattern.data())) return false;
  tempDir = pattern;
  return true;
}

// ".qv<owner>-<digits>.part" as the last part of the path.
bool IsPartialFileOf(const std::string& path, pid_t owner) {
  std::string prefix = ".qv" + std::to_string(owner) + "-";
  std::string leaf = path.substr(path.find_last_of('/') + 1);
  constexpr char kSuffix[] = ".part";
  constexpr size_t kSuffixLength = sizeof kSuffix - 1;
  if (leaf.size() <= prefix.size() + kSuffixLength || leaf.compare(0, prefix.size(), prefix) != 0 ||
      leaf.compare(leaf.size() - kSuffixLength, kSuffixLength, kSuffix) != 0) {
    return false;
  }
  for (size_t i = prefix.size(); i < leaf.size() - kSuffixLength; ++i) {
    if (leaf[i] < '0' || leaf[i] > '9') return false;
  }
  return true;
}

// The files that the ended player `owner` was writing beside their targets, as its journal in
// `dir` lists them: only plain files of this user named as that player names them, never what a
// link points to.
void RemovePartialFilesOf(const std::string& dir, pid_t owner) {
  int fd = open((dir + kPartsJournal).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return;
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, size_t(n));
  close(fd);
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) break;  // a line the kill cut off
    std::string path = text.substr(at, end - at);
    at = end + 1;
    struct stat st;
    if (path.empty() || path[0] != '/' || !IsPartialFileOf(path, owner) ||
        lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
      continue;
    }
    unlink(path.c_str());
  }
}

// Private directories of this user in `base` whose player no longer runs.
bool RemoveOrphanedTempDirs(const std::string& base) {
  DIR* dir = opendir(base.c_str());
  if (!dir) return true;
  std::vector<std::string> orphans;
  while (const dirent* entry = readdir(dir)) {
    pid_t owner = TempDirOwner(entry->d_name);
    if (owner == 0 || owner == getpid()) continue;
    std::string path = base + "/" + entry->d_name;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) continue;
    if (ProcessGone(owner)) orphans.push_back(path);
  }
  closedir(dir);
  bool removedAll = true;
  for (const std::string& path : orphans) {
    RemovePartialFilesOf(path, TempDirOwner(path.substr(base.size() + 1).c_str()));
    removedAll &= RemoveTree(path);
  }
  return removedAll;
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

  // The player ignores SIGPIPE and SIGXFSZ, and an ignored signal would stay ignored in the
  // program.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGXFSZ);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
  pid_t pid;
  int spawned = posix_spawn(&pid, program.c_str(), nullptr, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  if (spawned != 0) {
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
  // The script thread is held until the program ends, as by a requester.
  EnterModal();
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      LeaveModal();
      return 0;
    }
  }
  LeaveModal();
  if (exitStatus) {
    *exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  return 0;
}

int SpawnArgv(const std::vector<std::string>& args, int outFd, int* pidOut) {
  if (args.empty()) return EINVAL;
  std::vector<std::string> copy = args;
  std::vector<char*> argv;
  argv.reserve(copy.size() + 1);
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGXFSZ);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (outFd >= 0) posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
  pid_t pid = 0;
  int spawned = posix_spawnp(&pid, copy[0].c_str(), &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (spawned != 0) return spawned;
  *pidOut = pid;
  return 0;
}

void CollectInBackground(int pid) {
  std::thread([pid] {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

int WaitForProgram(int pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int CreateTempName(char* buffer, size_t size) {
  std::lock_guard<std::mutex> lock(tempMutex);
  if (size) buffer[0] = '\0';
  if (!HavePrivateDir()) return ERR_CREATEDIR;
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

void NotePartialFile(const char* name) {
  std::string path = name;
  if (path.empty()) return;
  if (path[0] != '/') {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) return;
    path = std::string(cwd) + "/" + path;
  }
  path += '\n';
  std::lock_guard<std::mutex> lock(tempMutex);
  // What is written in the private directory goes with it.
  if (!tempDir.empty() && path.compare(0, tempDir.size() + 1, tempDir + "/") == 0) return;
  if (partsJournal < 0) {
    if (!HavePrivateDir()) return;
    partsJournal = open((tempDir + kPartsJournal).c_str(),
                        O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (partsJournal < 0) return;
  }
  // A long run with many saves keeps only the lines whose files are still there.
  if (partsJournalSize > kPartsJournalLimit) {
    std::string text, kept;
    char buffer[4096];
    int reader = open((tempDir + kPartsJournal).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    for (ssize_t n; reader >= 0 && (n = read(reader, buffer, sizeof buffer)) > 0;) {
      text.append(buffer, size_t(n));
    }
    if (reader >= 0) close(reader);
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
      struct stat st;
      if (lstat(text.substr(at, end - at).c_str(), &st) == 0) kept += text.substr(at, end - at + 1);
    }
    if (ftruncate(partsJournal, 0) == 0) {
      partsJournalSize = kept.size();
      (void)!write(partsJournal, kept.data(), kept.size());
    }
  }
  // One write a line: a kill can cut only the last one.
  if (write(partsJournal, path.data(), path.size()) > 0) partsJournalSize += path.size();
}

void RemovePrivateTempDir() {
  std::lock_guard<std::mutex> lock(tempMutex);
  if (partsJournal >= 0) close(partsJournal);
  partsJournal = -1;
  partsJournalSize = 0;
  if (tempDir.empty()) return;
  RemoveTree(tempDir);
  tempDir.clear();
}

bool RemoveLeftoversOfEndedPlayers() {
  bool dirs = RemoveOrphanedTempDirs(TempBase());
  bool blocks = RemoveAbandonedBlocks();
  bool store = RemoveAbandonedStoreFiles();
  return dirs && blocks && store;
}

void StartLeftoverRemoval() {
  if (leftoverThread != nullptr) return;
  // The directory is read here: the script may change the environment while the thread runs.
  leftoverBase = TempBase();
  leftoverThread = StartThread(
      "leftovers", 0,
      [](void*) {
        RemoveOrphanedTempDirs(leftoverBase);
        RemoveAbandonedBlocks();
        RemoveAbandonedStoreFiles();
      },
      nullptr, nullptr);
  if (leftoverThread == nullptr) RemoveLeftoversOfEndedPlayers();
}

void FinishLeftoverRemoval() {
  if (leftoverThread == nullptr) return;
  JoinThread(leftoverThread);
  leftoverThread = nullptr;
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

bool FindProgramOnPath(const char* name, char* buffer, size_t size) {
  if (name == nullptr || *name == '\0' || std::strchr(name, '/') != nullptr) return false;
  const char* path = std::getenv("PATH");
  if (path == nullptr) return false;
  std::string dirs = path;
  size_t from = 0;
  while (from <= dirs.size()) {
    size_t to = dirs.find(':', from);
    if (to == std::string::npos) to = dirs.size();
    std::string dir = dirs.substr(from, to - from);
    std::string full = (dir.empty() ? std::string(".") : dir) + "/" + name;
    struct stat st;
    if (stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(full.c_str(), X_OK) == 0) {
      if (full.size() >= size) return false;
      std::memcpy(buffer, full.c_str(), full.size() + 1);
      return true;
    }
    from = to + 1;
  }
  return false;
}

}  // namespace qv
