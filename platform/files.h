// Files, paths and directory scans, dates and attributes, volumes and temporary names. Names
// arrive translated by the runtime; "\" is accepted as a separator.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv {

// A file time: UTC seconds and nanoseconds since 1970.
struct qvFileTime {
  int64_t seconds;
  int32_t nanos;
};
enum : uint32_t {
  QV_FILEATTR_ARCHIVE = 0x20,
  QV_FILEATTR_HIDDEN = 0x80,
  QV_FILEATTR_SYSTEM = 0x100,
  QV_FILEATTR_READONLY = 0x8000,
  QV_FILEATTR_NORMAL = 0x10000,
};
enum { QV_TIME_CREATION = 0, QV_TIME_ACCESS = 1, QV_TIME_WRITE = 2 };
struct qvDirEntry {
  int64_t size;
  uint32_t attributes;  // QV_FILEATTR_ bits
  int isDirectory;
  qvFileTime times[3];  // creation, last access, last write
};
// {seconds, minutes, hours, day of month, month from 0, year} in local time.
struct qvDate {
  int seconds, minutes, hours, day, month, year;
};

struct qvDirLock;
// A read lock on an existing file or directory (empty name: the current directory), or null. A
// write lock prints "QVOS_LOCK_WRITE unsupported.\n" and fails.
qvDirLock* LockPath(const char* name, int write);
void CloseDirScan(qvDirLock* lock);
// A directory: restarts its scan, *isDir = 1, 0. A file: ERR_NOTADIR naming the path.
int ExamineFirstEntry(qvDirLock* lock, int* isDir);
// The lock's own file or directory; 1, or 0 when it cannot be examined.
int ExamineDirEntry(qvDirLock* lock, qvDirEntry* entry);
// The next entry (sorted without regard to case; names beginning with "." are passed over): 1
// with the name (valid until the next call), its directory flag and, when asked, its entry; 0
// at the end.
int ExamineNextEntry(qvDirLock* lock, const char** name, int* isDir, qvDirEntry* entry);
int GetLockName(qvDirLock* lock, char* buffer, size_t size);  // 1

// Deletes a file or an empty directory: 1, or 0 when it does not exist or cannot be deleted.
int DeleteFileOrDir(const char* name);
// 1, or 0 on failure; an existing target is never replaced.
int RenameFile(const char* oldName, const char* newName);
int MakeDirectoryCore(const char* name);  // 0 or ERR_CREATEDIR
// Makes the directory current and returns a copy of the previous one (free it with std::free),
// null when it cannot change.
char* ChangeCurrentDir(const char* name);
// The absolute, normalised path of a name (need not exist); 1.
int GetFullPath(const char* name, char* buffer, size_t size);
// Sets last access and last write (the creation time cannot be set here); 1, or 0 on failure.
int SetFileDates(const char* name, const qvFileTime times[3]);
// QV_FILEATTR_NORMAL wins over the rest; read-only takes the write permission away. 1, or 0.
int SetFileAttrBits(const char* name, uint32_t bits);
void FileTimeToDate(const qvFileTime& time, qvDate* date);
void DateToFileTime(const qvDate& date, qvFileTime* time);
// The name of the volume that holds the path (its mount point's last part, "/" for the root); 0.
int GetVolumeLabel(const char* root, char* buffer, size_t size);
// Free bytes (for the user) and used bytes of that volume; 0.
int GetDiskSpace(const char* root, uint64_t* freeBytes, uint64_t* usedBytes);
// A new name "qv....tmp" in the private temporary directory (made on first use, removed with
// everything in it at shutdown); the file itself does not exist. 0, or ERR_CREATEDIR.
int CreateTempName(char* buffer, size_t size);

}  // namespace qv
