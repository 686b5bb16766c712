// Files, paths and directory scans: locks on files and directories with sorted scans, delete,
// rename without replacing, directories, full paths, dates and attributes, volumes, and the
// buffered plain files beneath the player's file layer.
#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "base/errors.h"
#include "base/support.h"
#include "platform/os/internal.h"
#include "platform/textout.h"

namespace qv {

namespace {

std::string NativeName(const char* name) {
  std::string s = name ? name : "";
  std::replace(s.begin(), s.end(), '\\', '/');
  return s;
}

bool ReadCurrentDir(std::string* dir) {
  std::vector<char> buffer(4096);
  while (!getcwd(buffer.data(), buffer.size())) {
    if (errno != ERANGE) return false;
    buffer.resize(buffer.size() * 2);
  }
  *dir = buffer.data();
  return true;
}

// The root when the current directory cannot be read (it was removed).
std::string CurrentDir() {
  std::string dir;
  return ReadCurrentDir(&dir) ? dir : "/";
}

// The absolute path with "." and ".." resolved by name, like the name would be seen; a trailing
// separator stays.
std::string FullPathOf(const char* name) {
  std::string s = NativeName(name);
  if (s.empty() || s[0] != '/') s = CurrentDir() + "/" + s;
  std::vector<std::string> parts;
  size_t i = 0;
  while (i < s.size()) {
    size_t j = s.find('/', i);
    if (j == std::string::npos) j = s.size();
    std::string part = s.substr(i, j - i);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = j + 1;
  }
  std::string out;
  for (const auto& part : parts) out += "/" + part;
  if (out.empty()) return "/";
  if (s.back() == '/') out += '/';
  return out;
}

// False when the text was cut to fit.
bool CopyOut(const std::string& s, char* buffer, size_t size) {
  if (size == 0) return false;
  size_t n = std::min(s.size(), size - 1);
  std::memcpy(buffer, s.data(), n);
  buffer[n] = '\0';
  return n == s.size();
}

qvFileTime FromTimestamp(const statx_timestamp& t) {
  return {t.tv_sec, static_cast<int32_t>(t.tv_nsec)};
}

// False when the name does not exist (a dangling link is examined as the link).
bool Examine(const std::string& path, qvDirEntry* entry) {
  struct statx st;
  if (statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &st) != 0 &&
      statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &st) !=
          0) {
    return false;
  }
  if (!entry) return true;
  entry->kind = S_ISDIR(st.stx_mode) ? FileKind::kDirectory : FileKind::kFile;
  entry->size = entry->kind == FileKind::kDirectory ? 0 : static_cast<int64_t>(st.stx_size);
  uint32_t attributes = 0;
  if (!(st.stx_mode & S_IWUSR)) attributes |= QV_FILEATTR_READONLY;
  size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && path.compare(slash + 1, 1, ".") == 0) {
    attributes |= QV_FILEATTR_HIDDEN;  // the dot names of Linux
  }
  entry->attributes = attributes;
  entry->times[QV_TIME_ACCESS] = FromTimestamp(st.stx_atime);
  entry->times[QV_TIME_WRITE] = FromTimestamp(st.stx_mtime);
  // File systems that keep no birth time give the last change.
  entry->times[QV_TIME_CREATION] = FromTimestamp((st.stx_mask & STATX_BTIME) ? st.stx_btime
                                                                             : st.stx_mtime);
  return true;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

struct qvDirLock {
  std::string path;
  bool isDir;
  std::vector<std::string> names;  // the scan, sorted without regard to case
  size_t next;
  std::string current;
};

// Names beginning with "." (with "." and "..") never appear in a scan.
static bool ReadListing(qvDirLock* lock) {
  DIR* d = opendir(lock->path.c_str());
  if (!d) return false;
  lock->names.clear();
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] != '.') lock->names.emplace_back(e->d_name);
  }
  closedir(d);
  std::sort(lock->names.begin(), lock->names.end(), [](const std::string& a, const std::string& b) {
    int c = StrCaseCmp(a.c_str(), b.c_str());
    return c != 0 ? c < 0 : a < b;
  });
  lock->next = 0;
  return true;
}

qvDirLock* LockPath(const char* name, LockMode mode) {
  if (mode != LockMode::kRead) {
    OutputText("QVOS_LOCK_WRITE unsupported.\n");
    return nullptr;
  }
  std::string path = name && *name ? FullPathOf(name) : CurrentDir();
  if (path.size() > 1 && path.back() == '/') path.pop_back();
  auto* lock = new qvDirLock{path, IsDirectory(path), {}, 0, {}};
  bool ok;
  if (lock->isDir) {
    ok = ReadListing(lock);
  } else {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ok = fd >= 0;
    if (ok) close(fd);
  }
  if (!ok) {
    delete lock;
    return nullptr;
  }
  return lock;
}

void CloseDirScan(qvDirLock* lock) { delete lock; }

int ExamineFirstEntry(qvDirLock* lock) {
  if (!lock->isDir) {
    SetErrorString(lock->path.c_str());
    return ERR_NOTADIR;
  }
  if (!ReadListing(lock)) {
    // Never the rest of the old listing as if it were a new scan.
    lock->names.clear();
    lock->next = 0;
    SetErrorString(lock->path.c_str());
    return ERR_EXAMINE;
  }
  return 0;
}

bool ExamineDirEntry(qvDirLock* lock, qvDirEntry* entry) { return Examine(lock->path, entry); }

bool ExamineNextEntry(qvDirLock* lock, const char** name, FileKind* kind, qvDirEntry* entry) {
  if (!lock->isDir) return false;
  while (lock->next < lock->names.size()) {
    lock->current = lock->names[lock->next++];
    qvDirEntry info;
    if (!Examine(lock->path + "/" + lock->current, &info)) continue;  // gone meanwhile
    if (name) *name = lock->current.c_str();
    if (kind) *kind = info.kind;
    if (entry) *entry = info;
    return true;
  }
  return false;
}

bool GetLockName(qvDirLock* lock, char* buffer, size_t size) {
  return CopyOut(lock->path, buffer, size);
}

bool DeleteFileOrDir(const char* name) {
  std::string path = NativeName(name);
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return false;
  return (S_ISDIR(st.st_mode) ? rmdir(path.c_str()) : unlink(path.c_str())) == 0;
}

bool RenameFile(const char* oldName, const char* newName) {
  std::string from = NativeName(oldName), to = NativeName(newName);
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the no-replace flag: test first.
  struct stat st;
  if (lstat(to.c_str(), &st) == 0) return false;
  return rename(from.c_str(), to.c_str()) == 0;
}

int MakeDirectoryCore(const char* name) {
  return mkdir(NativeName(name).c_str(), 0777) == 0 ? 0 : ERR_CREATEDIR;
}

char* ChangeCurrentDir(const char* name) {
  std::string previous = CurrentDir();
  if (chdir(NativeName(name).c_str()) != 0) return nullptr;
  return strdup(previous.c_str());
}

bool GetCurrentDir(char* buffer, size_t size) {
  std::string dir;
  bool read = ReadCurrentDir(&dir);
  return CopyOut(dir, buffer, size) && read;
}

bool GetFullPath(const char* name, char* buffer, size_t size) {
  return CopyOut(FullPathOf(name), buffer, size);
}

bool GetRealPath(const char* name, char* buffer, size_t size) {
  char* real = realpath(NativeName(name).c_str(), nullptr);
  if (!real) return false;
  std::string path = real;
  std::free(real);
  if (path.size() >= size) return false;
  CopyOut(path, buffer, size);
  return true;
}

bool IsSameDiskFile(const char* a, const char* b) {
  struct stat sa, sb;
  return stat(NativeName(a).c_str(), &sa) == 0 && stat(NativeName(b).c_str(), &sb) == 0 &&
         sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool IsSymbolicLink(const char* name) {
  struct stat st;
  return lstat(NativeName(name).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool ReadSymbolicLink(const char* name, char* buffer, size_t size) {
  if (size == 0) return false;
  ssize_t n = readlink(NativeName(name).c_str(), buffer, size);
  if (n < 0 || size_t(n) >= size) return false;
  buffer[n] = '\0';
  return true;
}

bool MakeSymbolicLink(const char* target, const char* name) {
  return symlink(target, NativeName(name).c_str()) == 0;
}

bool ReplaceFile(const char* from, const char* to) {
  return rename(NativeName(from).c_str(), NativeName(to).c_str()) == 0;
}

bool MakeSiblingTempName(const char* target, char* buffer, size_t size) {
  static std::atomic<unsigned> counter{0};
  std::string path = NativeName(target);
  size_t slash = path.find_last_of('/');
  std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = dir + ".qv" + std::to_string(getpid()) + "-" +
                       std::to_string(counter.fetch_add(1)) + ".part";
    struct stat st;
    if (lstat(name.c_str(), &st) != 0) {
      if (!CopyOut(name, buffer, size)) return false;
      // Noted before it is made: a kill at any moment leaves nothing the next start cannot find.
      NotePartialFile(name.c_str());
      return true;
    }
  }
  return false;
}

int32_t PrepareFileReplace(const char* name, char* path, size_t size, bool* exists, bool* inPlace) {
  std::string target = NativeName(name);
  *exists = false;
  *inPlace = false;
  struct stat st;
  if (stat(target.c_str(), &st) == 0) {
    *exists = true;
    if (S_ISDIR(st.st_mode)) return ERR_WRITEFILE;
    // Opening the file for writing decides, not the right to write its folder.
    if (faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return ERR_WRITEFILE;
    // A pipe that nobody reads would hold the writer for ever.
    if (S_ISFIFO(st.st_mode)) {
      int fd = open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0) return ERR_WRITEFILE;
      close(fd);
    }
    // A device or a pipe is written into, and so is a file with other names, which go on naming
    // it only when the bytes go into it. A link leads to the file that it names.
    char* real = S_ISREG(st.st_mode) ? realpath(target.c_str(), nullptr) : nullptr;
    *inPlace = real == nullptr || st.st_nlink > 1;
    if (real != nullptr) {
      target = real;
      std::free(real);
    }
    return CopyOut(target, path, size) ? 0 : ERR_WRITEFILE;
  }
  // Links that go round, or a folder on the way that may not be searched.
  if (errno != ENOENT) return ERR_WRITEFILE;
  // A missing file, or a link to nothing yet: the file to make is the one the links name.
  for (int steps = 0;; ++steps) {
    char text[PATH_MAX];
    ssize_t n = readlink(target.c_str(), text, sizeof text);
    if (n < 0) break;
    if (steps == 40 || n == 0 || size_t(n) >= sizeof text) return ERR_WRITEFILE;
    // A relative link is read from the folder that holds it.
    size_t slash = target.find_last_of('/');
    if (text[0] == '/' || slash == std::string::npos) {
      target.assign(text, size_t(n));
    } else {
      target.resize(slash + 1);
      target.append(text, size_t(n));
    }
  }
  return CopyOut(target, path, size) ? 0 : ERR_WRITEFILE;
}

bool CreateReplacementFile(const char* path, bool exists, char* buffer, size_t size) {
  struct stat old {};
  if (exists && stat(NativeName(path).c_str(), &old) != 0) return false;
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (!MakeSiblingTempName(path, buffer, size)) return false;
    // Open to its owner alone until it takes the old file's mode.
    int fd = open(buffer, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, exists ? 0600 : 0666);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return false;
    struct stat made;
    bool ok = fstat(fd, &made) == 0;
    if (ok && exists && (made.st_uid != old.st_uid || made.st_gid != old.st_gid)) {
      ok = fchown(fd, old.st_uid, old.st_gid) == 0;
    }
    ok = close(fd) == 0 && ok;
    if (!ok) unlink(buffer);
    return ok;
  }
  return false;
}

bool CopyPermissions(const char* from, const char* to) {
  struct stat st;
  return stat(NativeName(from).c_str(), &st) == 0 &&
         chmod(NativeName(to).c_str(), st.st_mode & 07777) == 0;
}

bool MakeExecutable(const char* name) {
  std::string path = NativeName(name);
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  mode_t mode = st.st_mode & 07777;
  // Execute where read is allowed.
  mode |= (mode & 0444) >> 2;
  return chmod(path.c_str(), mode) == 0;
}

bool SetFileDates(const char* name, const qvFileTime times[3]) {
  timespec ts[2] = {{times[QV_TIME_ACCESS].seconds, times[QV_TIME_ACCESS].nanos},
                    {times[QV_TIME_WRITE].seconds, times[QV_TIME_WRITE].nanos}};
  return utimensat(AT_FDCWD, NativeName(name).c_str(), ts, 0) == 0;
}

bool SetFileAttrBits(const char* name, uint32_t bits) {
  std::string path = NativeName(name);
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  mode_t mode = st.st_mode & 07777;
  if ((bits & QV_FILEATTR_READONLY) && !(bits & QV_FILEATTR_NORMAL)) {
    mode &= ~(S_IWUSR | S_IWGRP | S_IWOTH);
  } else {
    mode |= S_IWUSR;
  }
  return chmod(path.c_str(), mode) == 0;
}

bool FileTimeToDate(const qvFileTime& time, qvDate* date) {
  time_t t = static_cast<time_t>(time.seconds);
  tm local{};
  // The year must fit an int once 1900 is added back.
  if (!localtime_r(&t, &local) || local.tm_year > INT_MAX - 1900) return false;
  *date = {local.tm_sec,  local.tm_min, local.tm_hour,
           local.tm_mday, local.tm_mon, local.tm_year + 1900};
  return true;
}

bool DateToFileTime(const qvDate& date, qvFileTime* time) {
  int64_t year = int64_t{date.year} - 1900;
  if (year < INT_MIN) return false;
  tm local{};
  local.tm_sec = date.seconds;
  local.tm_min = date.minutes;
  local.tm_hour = date.hours;
  local.tm_mday = date.day;
  local.tm_mon = date.month;
  local.tm_year = static_cast<int>(year);
  local.tm_isdst = -1;
  // -1 is also the last second of 1969: only the error number tells them apart.
  errno = 0;
  time_t t = mktime(&local);
  if (t == -1 && errno != 0) return false;
  *time = {static_cast<int64_t>(t), 0};
  return true;
}

bool GetVolumeLabel(const char* root, char* buffer, size_t size) {
  // The mount point is the highest directory above the path on the same device.
  std::string path = FullPathOf(root);
  if (path.size() > 1 && path.back() == '/') path.pop_back();
  struct stat st, up;
  if (stat(path.c_str(), &st) != 0) {
    CopyOut("", buffer, size);
    return false;
  }
  while (path != "/") {
    std::string parent = path.substr(0, std::max<size_t>(path.find_last_of('/'), 1));
    if (stat(parent.c_str(), &up) != 0 || up.st_dev != st.st_dev) break;
    path = parent;
  }
  return CopyOut(path == "/" ? "/" : path.substr(path.find_last_of('/') + 1), buffer, size);
}

bool GetDiskSpace(const char* root, uint64_t* freeBytes, uint64_t* usedBytes) {
  struct statvfs vfs;
  *freeBytes = *usedBytes = 0;
  if (statvfs(NativeName(root).c_str(), &vfs) != 0) return false;
  uint64_t total = static_cast<uint64_t>(vfs.f_blocks) * vfs.f_frsize;
  *freeBytes = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
  *usedBytes = total > *freeBytes ? total - *freeBytes : 0;
  return true;
}

// ---- plain files ----

// A stdio stream: its buffer serves the file layer's reads and writes of single bytes.
struct qvDiskFile {
  FILE* stream;
};

qvDiskFile* OpenDiskFile(const char* name, qvDiskFileMode mode) {
  // "e": programs that the player starts inherit none of its files.
  const char* how = mode == qvDiskFileMode::kRead    ? "rbe"
                    : mode == qvDiskFileMode::kWrite ? "wbe"
                                                     : "r+be";
  FILE* stream = fopen(NativeName(name).c_str(), how);
  if (!stream) return nullptr;
  // Linux opens a directory for reading; its reads would only fail later.
  struct stat st;
  if (fstat(fileno(stream), &st) != 0 || S_ISDIR(st.st_mode)) {
    fclose(stream);
    return nullptr;
  }
  auto* file = new (std::nothrow) qvDiskFile{stream};
  if (!file) fclose(stream);
  return file;
}

bool CloseDiskFile(qvDiskFile* file) {
  if (!file) return true;
  bool ok = fclose(file->stream) == 0;
  delete file;
  return ok;
}

size_t ReadDiskFile(qvDiskFile* file, void* buffer, size_t count) {
  return fread(buffer, 1, count, file->stream);
}

size_t ReadDiskFileUntil(qvDiskFile* file, void* buffer, size_t count, int delimiter) {
  FILE* stream = file->stream;
  auto* out = static_cast<unsigned char*>(buffer);
  size_t n = 0;
  flockfile(stream);
  while (n < count) {
#ifdef __GLIBC__
    // Runs of the stream's own buffer go through memchr, as getc_unlocked would take them one
    // byte at a time (it moves the same read pointer).
    if (stream->_IO_read_ptr < stream->_IO_read_end) {
      size_t take = std::min(size_t(stream->_IO_read_end - stream->_IO_read_ptr), count - n);
      auto* from = reinterpret_cast<unsigned char*>(stream->_IO_read_ptr);
      auto* hit = static_cast<unsigned char*>(std::memchr(from, delimiter, take));
      if (hit != nullptr) take = size_t(hit - from) + 1;
      std::memcpy(out + n, from, take);
      stream->_IO_read_ptr += take;
      n += take;
      if (hit != nullptr) break;
      continue;
    }
#endif
    int c = getc_unlocked(stream);
    if (c == EOF) break;
    out[n++] = static_cast<unsigned char>(c);
    if (c == delimiter) break;
  }
  funlockfile(stream);
  return n;
}

size_t WriteDiskFile(qvDiskFile* file, const void* buffer, size_t count) {
  return fwrite(buffer, 1, count, file->stream);
}

bool SeekDiskFile(qvDiskFile* file, int64_t offset, qvSeekFrom from) {
  int whence = from == qvSeekFrom::kStart     ? SEEK_SET
               : from == qvSeekFrom::kCurrent ? SEEK_CUR
                                              : SEEK_END;
  return fseeko(file->stream, static_cast<off_t>(offset), whence) == 0;
}

int64_t TellDiskFile(qvDiskFile* file) { return static_cast<int64_t>(ftello(file->stream)); }

bool FlushDiskFile(qvDiskFile* file) { return fflush(file->stream) == 0; }

bool DiskFileAtEnd(qvDiskFile* file) {
  return feof(file->stream) != 0 && ferror(file->stream) == 0;
}

}  // namespace qv
