// Files, paths and directory scans, dates and attributes, volumes, temporary names and the
// buffered plain files beneath the player's file layer. Names arrive translated by the runtime;
// "\" is accepted as a separator. Every function here may be called on any thread (the current
// directory is the process's own, shared by all); one plain file is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv {

// A file time: UTC seconds and nanoseconds since 1970.
struct qvFileTime {
  int64_t seconds;
  int32_t nanos;
};
// Attribute bits.
enum qvFileAttr : uint32_t {
  QV_FILEATTR_ARCHIVE = 0x20,
  QV_FILEATTR_HIDDEN = 0x80,
  QV_FILEATTR_SYSTEM = 0x100,
  QV_FILEATTR_READONLY = 0x8000,
  QV_FILEATTR_NORMAL = 0x10000,
};
// The places in qvDirEntry::times.
enum qvFileTimeIndex { QV_TIME_CREATION = 0, QV_TIME_ACCESS = 1, QV_TIME_WRITE = 2 };
enum class FileKind { kFile, kDirectory };
struct qvDirEntry {
  int64_t size;         // 0 for a directory
  uint32_t attributes;  // qvFileAttr bits
  FileKind kind;
  qvFileTime times[3];  // creation, last access, last write
};
// {seconds, minutes, hours, day of month, month from 0, year} in local time.
struct qvDate {
  int seconds, minutes, hours, day, month, year;
};

enum class LockMode { kRead, kWrite };
struct qvDirLock;
// A read lock on an existing file or directory (null or "": the current directory), or null when
// it does not exist or cannot be opened. A write lock prints "QVOS_LOCK_WRITE unsupported.\n" and
// gives null.
qvDirLock* LockPath(const char* name, LockMode mode);
// Frees the lock and its scan (null is ignored).
void CloseDirScan(qvDirLock* lock);
// Restarts the scan of a directory: 0; ERR_NOTADIR (naming the path) for a file; ERR_EXAMINE when
// the directory can no longer be read (the scan is then empty).
int ExamineFirstEntry(qvDirLock* lock);
// The lock's own file or directory: true, or false when it can no longer be examined.
bool ExamineDirEntry(qvDirLock* lock, qvDirEntry* entry);
// The next entry of the scan (sorted without regard to case; names beginning with "." are passed
// over; entries gone meanwhile too): true with the name (valid until the next call) and, where
// asked, its kind and entry; false at the end or for a file's lock.
bool ExamineNextEntry(qvDirLock* lock, const char** name, FileKind* kind, qvDirEntry* entry);
// The lock's full path: true, or false when it was cut to fit (always terminated when size > 0).
bool GetLockName(qvDirLock* lock, char* buffer, size_t size);

// Deletes a file or an empty directory: true, or false when it does not exist or cannot be deleted.
bool DeleteFileOrDir(const char* name);
// True, or false on failure; an existing target is never replaced.
bool RenameFile(const char* oldName, const char* newName);
// Makes a directory: 0, or ERR_CREATEDIR (it exists, its parent does not, or no right).
int MakeDirectoryCore(const char* name);
// Makes the directory current and returns a copy of the previous one (free it with std::free),
// null when it cannot change.
char* ChangeCurrentDir(const char* name);
// The current directory's absolute path: true, or false when it cannot be read or does not fit
// (the buffer then holds "" or the path cut to fit).
bool GetCurrentDir(char* buffer, size_t size);
// The absolute path of a name with "." and ".." resolved by name (it need not exist): true, or
// false when it was cut to fit (always terminated when size > 0).
bool GetFullPath(const char* name, char* buffer, size_t size);
// The absolute path of an existing file or directory with every link resolved: true, or false
// when it does not exist or does not fit (the buffer is then left alone).
bool GetRealPath(const char* name, char* buffer, size_t size);
// True when both names reach one existing file (links followed); false when either is missing.
bool IsSameDiskFile(const char* a, const char* b);
// True when the name itself is a symbolic link (whatever it points to, also nothing).
bool IsSymbolicLink(const char* name);
// The text of the link `name`: true, or false when it is no link or the text does not fit.
bool ReadSymbolicLink(const char* name, char* buffer, size_t size);
// Makes `name` a symbolic link holding `target`: true, or false (it exists, or no right).
bool MakeSymbolicLink(const char* target, const char* name);
// Renames `from` over `to`, replacing a file there in one step: true, or false on failure.
bool ReplaceFile(const char* from, const char* to);
// A name in the directory of `target` that no file has now, for writing a file beside its
// target before it replaces it: true, or false when it does not fit.
bool MakeSiblingTempName(const char* target, char* buffer, size_t size);
// What replacing the file `name` by a new whole file means. `path` gets the file to replace: the
// name with its symbolic links followed, so that a link stays a link and the file it names (made
// when missing) gets the bytes. *exists tells whether that file is there; *inPlace that the
// bytes must go into it rather than into a new file renamed over it: it has other hard links, or
// it is no plain file (a device, a pipe). Returns 0, or ERR_WRITEFILE when it cannot be opened
// for writing: a directory, a file the user may not write (whatever the right to write its
// folder), a pipe that nobody reads, links that go round, or a path that does not fit.
int32_t PrepareFileReplace(const char* name, char* path, size_t size, bool* exists, bool* inPlace);
// Makes a new empty file beside `path` (in its folder, under a name no file has) to be written
// whole and renamed over `path`. When `path` exists, the new file gets its owner and group and is
// open to its owner alone until CopyPermissions gives it the old mode. True with its name in the
// buffer, or false when it cannot be made there or cannot take the owner (write in place then).
bool CreateReplacementFile(const char* path, bool exists, char* buffer, size_t size);
// Gives `to` the permission bits of `from`: true, or false when either cannot be examined.
bool CopyPermissions(const char* from, const char* to);
// Lets everybody who may read the file run it: true, or false on failure.
bool MakeExecutable(const char* name);
// Sets last access and last write (the creation time cannot be set here): true, or false on
// failure.
bool SetFileDates(const char* name, const qvFileTime times[3]);
// QV_FILEATTR_NORMAL wins over the rest; read-only takes the write permission away, anything else
// gives the owner's back. True, or false on failure.
bool SetFileAttrBits(const char* name, uint32_t bits);
// A file time as a local date: true, or false (the date untouched) for a time whose year the
// system cannot express.
bool FileTimeToDate(const qvFileTime& time, qvDate* date);
// A local date as a file time, fields out of their range carried over (the 32nd of January is
// the 1st of February): true, or false (the time untouched) for a date the system cannot express.
bool DateToFileTime(const qvDate& date, qvFileTime* time);
// The name of the volume that holds the path (its mount point's last part, "/" for the root):
// true, or false with "" when the path cannot be examined, or cut when it does not fit.
bool GetVolumeLabel(const char* root, char* buffer, size_t size);
// Free bytes (for the user) and used bytes of that volume: true, or false with both 0 when the
// volume cannot be examined.
bool GetDiskSpace(const char* root, uint64_t* freeBytes, uint64_t* usedBytes);
// A new name "qv....tmp" in the private temporary directory ("quillvane-<pid>-XXXXXX" in $TMPDIR
// or /tmp, made on first use, removed with everything in it at shutdown); the file itself does not
// exist. 0, or ERR_CREATEDIR when the directory cannot be made or the name does not fit (the buffer
// then holds "").
int CreateTempName(char* buffer, size_t size);

// Plain files on disk, buffered: the streams beneath the player's file layer (core/vfile.h), which
// adds virtual names, stretches and positions of its own. A file is used by one thread at a time.
struct qvDiskFile;
enum class qvDiskFileMode {
  kRead,    // an existing file, for reading
  kWrite,   // made, or emptied when it exists, for writing
  kUpdate,  // an existing file, for reading and writing; its contents stay
};
enum class qvSeekFrom { kStart, kCurrent, kEnd };
// The open file, or null when it is missing (kRead, kUpdate), cannot be made (kWrite), is a
// directory or is refused by the system.
qvDiskFile* OpenDiskFile(const char* name, qvDiskFileMode mode);
// Closes and frees the file (null is allowed): true when all that was written reached the system.
bool CloseDiskFile(qvDiskFile* file);
// The bytes read or written at the file position, fewer at the end of the file or on an error.
// Between a write and a read (either order) the position must be set with SeekDiskFile.
size_t ReadDiskFile(qvDiskFile* file, void* buffer, size_t count);
size_t WriteDiskFile(qvDiskFile* file, const void* buffer, size_t count);
// Reads like ReadDiskFile but stops after the first byte equal to `delimiter` (0-255): lines
// without a call per byte.
size_t ReadDiskFileUntil(qvDiskFile* file, void* buffer, size_t count, int delimiter);
// Sets the position (past the end is allowed); false when it would lie before the start or the
// system refuses, and then the position is unchanged.
bool SeekDiskFile(qvDiskFile* file, int64_t offset, qvSeekFrom from);
// The position from the start of the file, or -1 when it cannot be told.
int64_t TellDiskFile(qvDiskFile* file);
// Hands buffered writes to the system; false when that fails.
bool FlushDiskFile(qvDiskFile* file);
// True when a read stopped because the file had no more bytes (it may have shrunk meanwhile),
// false when none did or the system failed it.
bool DiskFileAtEnd(qvDiskFile* file);

}  // namespace qv
