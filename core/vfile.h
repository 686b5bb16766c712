// Virtual file names, buffered files (`qvFile`), directory handles and the small path helpers.
//
// Every file routine of the player accepts, next to ordinary paths:
//   ":::chunk<offset>:<length>*<display name>/<container path>"  a stretch of a larger file (a file
//       linked into an applet or an executable), read in place;
//   ":::chunkS<reference>:<length>*<display name>/<address>"     a string held in memory. Only
//       the names of in-memory files registered in this process's table open; a name that carries
//       any other address is refused, so a script cannot make the player read arbitrary memory.
// Messages show the display name of such a name instead of the whole name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "core/player_state.h"
#include "platform/files.h"

namespace qv {

// Longest name (virtual names, paths) that the file routines take, without the terminator.
inline constexpr size_t kMaxPathLength = 1023;
// The display name of a virtual name is cut to this many characters.
inline constexpr size_t kMaxDisplayName = 259;

// ---- path helpers ----

// The program's own directory, which "PROGDIR:" stands for. Set once at start-up.
void SetProgramDir(const char* dir);
const char* GetProgramDir();

bool IsVirtualName(const char* name);     // begins with ":::chunk" (stretches and memory files)
bool IsMemoryFileName(const char* name);  // begins with ":::chunkS"

// The name shown to the user: for a virtual name the part between its first "*" and the next "/"
// (in a per-thread buffer, cut to kMaxDisplayName characters); otherwise the part after the last
// "/" or "\", else after a ":". Names shorter than 2 characters come back unchanged.
const char* GetDisplayName(const char* name);
// Pointer into `path` after the last "/", "\" or ":"; leading "/" characters do not count as
// separators.
const char* GetFilePart(const char* path);
// Appends "/" (unless `dir` is empty or ends in "/" or "\") and `name` to the buffer `dir` of
// `size` bytes. Returns false, with the result cut, when it does not fit.
bool JoinPath(char* dir, size_t size, const char* name);
// Case-insensitive comparison (ISO-8859-1 folding) in which "/" and "\" are equal; 0 when equal.
int ComparePaths(const char* a, const char* b);
// The name as the host opens it: a virtual name is copied unchanged; "PROGDIR:" becomes the
// program's directory; every "\" becomes "/". Returns `out`, or null when the name (or the
// result) is longer than kMaxPathLength or does not fit `out`.
char* MakeNativePath(const char* name, char* out, size_t size);
// The container path of a ":::chunk" stretch name; other names are copied unchanged. False when
// the result does not fit.
bool ParseChunkName(const char* name, char* out, size_t size);
// Appends the extension (from the last ".") of the display name of `name` to `out`.
bool GetChunkExtension(const char* name, char* out, size_t size);

// ":::chunk<offset + base>:<length>*<display name of displaySource>/<container>". False when
// the name does not fit `out` (which then holds a cut name that no routine opens).
bool MakeChunkName(const char* displaySource, char* out, size_t size, uint64_t offset,
                   uint64_t length, uint64_t base, const char* container);

// ---- in-memory files ----

// Registers `length` bytes at `data` as a memory file and writes its ":::chunkS" name into `out`.
// `ref` is the caller's opaque number (the script string's registry reference); it must not be
// registered already. The caller keeps the bytes alive until `release` runs: it is called once
// the file has been unregistered and the last `qvFile` open on it is closed. Returns false when
// the reference is taken or the name does not fit.
bool RegisterMemoryFile(const char* displaySource, const void* data, uint64_t length, int32_t ref,
                        std::function<void()> release, char* out, size_t size);
// Removes the memory file whose reference a ":::chunkS" name carries. Returns false when no such
// file is registered.
bool UnregisterMemoryFile(const char* name);

// ---- buffered files ----

enum : int { kFileRead = 0, kFileWrite = 1, kFileReadWrite = 2 };
enum : int { kSeekCurrent = 0, kSeekStart = 1, kSeekEnd = 2 };

struct qvMemoryFile;

struct qvFile {
  qvDiskFile* stream = nullptr;  // null for memory files
  bool chunk = false;            // a stretch of a container, or a memory file: reads stay inside
  int64_t start = 0;             // absolute offset of the first byte in the container
  int64_t length = 0;            // -1: unknown (files opened for writing)
  int64_t position = 0;          // relative to start
  bool lastWasWrite = false;
  const uint8_t* memory = nullptr;
  std::shared_ptr<qvMemoryFile> memoryEntry;  // keeps a memory file's bytes alive while open
};

qvFile* OpenFileQ(const char* name, int mode);
// 1 when the stream closed without error (or there was none), else 0. Frees the record.
int CloseFileQ(qvFile* file);
// Returns the position before the seek. Inside a stretch the target is kept within
// [start, start + length]; a plain file is never positioned before its first byte.
int64_t SeekFileQ(qvFile* file, int64_t offset, int mode);
size_t ReadFileQ(qvFile* file, void* buffer, size_t count);
int ReadByteQ(qvFile* file);  // 0-255, or -1
// ReadFileQ that stops after the first byte equal to `delimiter` (0-255).
size_t ReadUntilQ(qvFile* file, void* buffer, size_t count, int delimiter);
size_t WriteFileQ(qvFile* file, const void* buffer, size_t count);
int WriteByteQ(qvFile* file, int byte);  // the byte written, or -1
int FlushFileQ(qvFile* file);            // 1
int EofFileQ(const qvFile* file);        // 1 at or past the length, or when the length is unknown
// The error of a read that gave fewer bytes than the file's known length promised:
// ERR_READRANGE when the file ended early (it shrank while it was read), ERR_READ when the
// system failed the read.
int32_t ShortReadError(const qvFile* file);

// Values assembled from ReadByteQ bytes; a missing byte reads as -1 and so sets bits.
uint32_t ReadU32BE(qvFile* file);
uint32_t ReadU32LE(qvFile* file);
uint16_t ReadU16BE(qvFile* file);
uint16_t ReadU16LE(qvFile* file);
// Each returns the result of its last WriteByteQ.
int WriteU32BE(qvFile* file, uint32_t value);
int WriteU32LE(qvFile* file, uint32_t value);
int WriteU16BE(qvFile* file, uint16_t value);
int WriteU16LE(qvFile* file, uint16_t value);

// True when writing `target` would overwrite the file that `source` reads (the same file, or
// the container of a stretch).
bool IsSameFile(const char* source, const char* target);

// Copies `source` (also a virtual file) into the plain file `target` in blocks of 16384 bytes.
// Returns 0; ERR_MEM; ERR_READFILE when the source does not open, ERR_READRANGE when it ends
// early (it shrank while it was read), ERR_READ when a read fails;
// ERR_WRITEFILE when the target does not open or a write falls short; ERR_WRONGUSAGE when the
// target is the source's own file. The name that a message needs is stored as the error's text
// argument.
int CopyFileBlocks(const char* source, const char* target);

// Writes the bytes as the whole file `name` through a new file beside it, renamed over it only
// when every byte and the close succeeded: on failure (a full disk) no partial file is left and
// an old file stays as it was. What the name stands for stays: a symbolic link stays a link and
// the file it names gets the bytes; a replaced file keeps its mode, owner and group; a file with
// other hard links, a device, or a file whose folder the user may not write (or whose owner a new
// file cannot take) is written in place. 0; ERR_WRITEFILE when the file cannot be opened for
// writing (a directory, a file the user may not write, no new file in a missing or closed folder,
// a virtual name), ERR_WRITE when a write, the close or the rename fails. The name is stored as
// the error's text argument.
int32_t WriteWholeFile(const char* name, const void* data, size_t size);
// The same road for a writer that makes a file by name: `write` gets the name of the new file
// beside the target, which replaces the target only when the writer returns 0 (it is removed
// otherwise), or the target's own name where it is written in place. The writer's code,
// ERR_WRITEFILE as above, ERR_WRITE when the rename fails.
int32_t WriteBeside(const char* name, const std::function<int32_t(const char* temp)>& write);

// A new temporary file name (the platform's, in the player's private directory) ending in the
// extension of the display name of the virtual name, for loaders that go by the extension.
// 0, the platform's error code, or ERR_NAMETOOLONG when the name does not fit.
int MakeTempNameForChunk(char* out, size_t size, const char* virtualName);

// ---- linked files ----

// The ":::chunk" name (written into `out`) of the linked file (of the applet settings) that
// `name` refers to, or `name` itself when none matches. With `fontFlag` a font is looked up:
// "x.font" as the font "x", while "x.ttf" and "x.otf" are looked up as ordinary files. `isFont`
// (may be null) tells whether a font record matched.
const char* ResolveLinkedFile(std::span<const qvLinkedFile> files, uint64_t appletOffset,
                              const char* scriptPath, const char* name, bool fontFlag, bool* isFont,
                              char* out, size_t size);

// ---- directories ----

struct qvDirHandle;

// A handle on a file or directory (a read lock of the platform; other modes fail), or on a
// virtual name. An empty name stands for the current directory.
qvDirHandle* OpenDirQ(const char* name, int mode);
void CloseDirQ(qvDirHandle* handle);
// The full name of the file or directory; for a virtual name the current directory joined with
// its display name ("unknown" when that is empty). False when it does not fit.
bool GetDirLockName(const qvDirHandle* handle, char* out, size_t size);
// 0 with the information of the file or directory itself, or ERR_EXAMINE when it cannot be
// examined.
// A virtual name gives a file of the length the name carries, attributes 15 and all three times
// at 16 August 1982, 00:00 local time.
int ExamineFileQ(qvDirHandle* handle, qvDirEntry* entry);
// Starts a scan of a directory: 0; ERR_NOTADIR for a file or a virtual name, ERR_EXAMINE for a
// directory that can no longer be read (the name stored as the error's text argument).
int ExamineDirQ(qvDirHandle* handle);
// The next entry of the scan, as the platform's ExamineNextEntry gives it: true, or false at the
// end.
bool ReadDirQ(qvDirHandle* handle, const char** name, FileKind* kind, qvDirEntry* entry);

}  // namespace qv
