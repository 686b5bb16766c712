// Open files as numbered objects of type FILE: opening, closing, big-endian numbers, strings and
// lines through them, positions and lengths; the line iterator FileLines; the file list's
// teardown.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "base/errors.h"
#include "base/support.h"
#include "core/args.h"
#include "core/error_table.h"
#include "core/errors.h"
#include "core/registry.h"
#include "core/vfile.h"
#include "libs/dos/commands.h"
#include "libs/dos/dos_files.h"
#include "libs/dos/dos_internal.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {

namespace {

qvObjectHeader* gFiles = nullptr;
int32_t gIoMode = kIoBuffered;

// The bytes that a FileLines call hands out at most.
constexpr size_t kLinePiece = 1024;
constexpr char kDosFileMeta[] = "DOSFILE";
// ReadString keeps a buffer up to this size between calls.
constexpr size_t kKeptReadBuffer = 1 << 20;

void CloseRecord(qvScriptState* L, qvDosFile* f) {
  for (qvObjectHeader** p = &gFiles; *p != nullptr; p = &(*p)->next) {
    if (*p == &f->header) {
      *p = f->header.next;
      break;
    }
  }
  CloseFileQ(f->file);
  FreeObjectData(L, &f->header);
  std::free(f);
}

void SwapToHost(uint8_t* bytes, size_t count) {
  if (count != 2 && count != 4 && count != 8) return;
  uint16_t probe = 1;
  uint8_t first;
  std::memcpy(&first, &probe, 1);
  if (first == 0) return;  // a big-endian host keeps the file's order
  for (size_t i = 0; i < count / 2; ++i) {
    uint8_t t = bytes[i];
    bytes[i] = bytes[count - 1 - i];
    bytes[count - 1 - i] = t;
  }
}

// Writes one byte through the byte operation or a one-byte block, as the I/O mode says.
bool PutByte(qvFile* file, int byte) {
  if (gIoMode == kIoUnbuffered) {
    uint8_t b = uint8_t(byte);
    return WriteFileQ(file, &b, 1) == 1;
  }
  return WriteByteQ(file, byte) >= 0;
}

int GetByte(qvFile* file) {
  if (gIoMode == kIoUnbuffered) {
    uint8_t b;
    return ReadFileQ(file, &b, 1) == 1 ? b : -1;
  }
  return ReadByteQ(file);
}

// Removes every carriage return from the n bytes at p; the bytes left.
size_t DropCarriageReturns(char* p, size_t n) {
  char* at = static_cast<char*>(std::memchr(p, '\r', n));
  if (at == nullptr) return n;
  char* to = at;
  for (char* from = at; from < p + n; ++from) {
    if (*from != '\r') *to++ = *from;
  }
  return size_t(to - p);
}

// Opens a file; when the process has run out of file descriptors, a full collection first gives
// back those held by line iterators that a loop left early, then the open is tried once more.
qvFile* OpenCollecting(qvScriptState* L, const char* name, int mode) {
  errno = 0;
  qvFile* file = OpenFileQ(name, mode);
  if (file == nullptr && (errno == EMFILE || errno == ENFILE)) {
    VmSetGCThreshold(L, 0);
    file = OpenFileQ(name, mode);
  }
  return file;
}

// The userdata of a FileLines iterator.
struct LineSource {
  qvFile* file;
};

// Iterators whose file is still open, and how many may be open before the next FileLines runs a
// full collection first: loops left early would otherwise hold descriptors until the process has
// none left, and every other part of the player (sound, network, windows) needs some too. The
// bound doubles past the iterators still alive after a collection, so nested loops that really
// hold many files do not collect on every call.
constexpr int kLineSourcesBeforeCollect = 16;
int gOpenLineSources = 0;
int gLineSourceBound = kLineSourcesBeforeCollect;

void CloseLineSourceFile(LineSource* source) {
  CloseFileQ(source->file);
  source->file = nullptr;
  --gOpenLineSources;
}

int32_t CloseLineSource(qvScriptState* L) {
  auto* source = static_cast<LineSource*>(VmToUserdata(L, 1));
  if (source != nullptr && source->file != nullptr) CloseLineSourceFile(source);
  return 0;
}

// One line (or a piece of one) per call; nothing at the end, which closes the file.
int32_t NextLine(qvScriptState* L) {
  auto* source = static_cast<LineSource*>(VmToUserdata(L, VmUpvalueIndex(2)));
  if (source == nullptr || source->file == nullptr) return 0;
  char line[kLinePiece + 2];
  size_t kept = 0;
  bool any = false;
  while (kept < kLinePiece) {
    size_t n = ReadUntilQ(source->file, line + kept, kLinePiece - kept, '\n');
    if (n == 0) break;
    any = true;
    bool end = line[kept + n - 1] == '\n';
    // Carriage returns go wherever they stand, so does the line feed.
    kept += DropCarriageReturns(line + kept, end ? n - 1 : n);
    if (end) break;
    if (kept == kLinePiece) {
      // A line of exactly one piece keeps its end: the next call starts the next line.
      int next = ReadByteQ(source->file);
      if (next == '\r') next = ReadByteQ(source->file);
      if (next >= 0 && next != '\n') SeekFileQ(source->file, -1, kSeekCurrent);
    }
  }
  if (!any) {
    if (VmToNumber(L, VmUpvalueIndex(3)) != 0) {
      VmSetTop(L, 0);
      CloseLineSourceFile(source);
    }
    return 0;
  }
  VmPushLString(L, line, kept);
  return 1;
}

}  // namespace

int32_t RegisterDosFiles(qvScriptState* L) {
  // The iterators' files close when a loop left early lets them go.
  VmNewMetaTable(L, kDosFileMeta);
  VmPushString(L, "__gc");
  VmPushCClosure(L, CloseLineSource, 0);
  VmRawSet(L, -3);
  VmSetTop(L, -2);
  return RegisterObjectList(&gFiles);
}

void FreeDosFiles(qvScriptState* L) {
  while (gFiles != nullptr) CloseRecord(L, reinterpret_cast<qvDosFile*>(gFiles));
}

int32_t FindFile(qvObjectId id, qvDosFile** out) {
  return FindObjectAs(kObjectFile, id, ERR_FINDFILE, out);
}

int32_t FindReadableFile(qvScriptState* L, int index, qvDosFile** out) {
  int32_t code = FindFile(CheckObjectId(L, index), out);
  if (code == 0 && (*out)->access == kDosAccessWrite) return ERR_WRITEONLY;
  return code;
}

int32_t FindWritableFile(qvScriptState* L, int index, qvDosFile** out) {
  int32_t code = FindFile(CheckObjectId(L, index), out);
  if (code == 0 && (*out)->access == kDosAccessRead) return ERR_READONLY;
  return code;
}

int32_t ReadBigEndianValue(qvDosFile* record, qvFile* file, void* buffer, bool raw, size_t count) {
  if (record != nullptr &&
      (record->position > record->length || uint64_t(record->length - record->position) < count)) {
    return ERR_READRANGE;
  }
  size_t n = ReadFileQ(file, buffer, count);
  if (record != nullptr) record->position += int64_t(n);
  if (n != count) return ShortReadError(file);
  if (!raw) SwapToHost(static_cast<uint8_t*>(buffer), count);
  return 0;
}

int32_t WriteDosBytes(qvDosFile* record, const void* buffer, size_t count) {
  size_t n = WriteFileQ(record->file, buffer, count);
  record->position += int64_t(n);
  if (record->position > record->length) record->length = record->position;
  return n == count ? 0 : ERR_WRITE;
}

int32_t SeekDosFile(qvDosFile* record, int64_t position) {
  if (position < 0 || position > record->length) return ERR_SEEK;
  SeekFileQ(record->file, position, kSeekStart);
  record->position = position;
  return 0;
}

int32_t GetDosIoMode() { return gIoMode; }

namespace cmd {

// OpenFile(id or Nil, name, mode = MODE_READ): returns the handle of an automatic id.
int32_t OpenFile(qvScriptState* L) {
  CheckArgCount(L, 2, 3);
  qvOptionalId id = OptObjectId(L, 1);
  int32_t mode = VmOptInt(L, 3, kModeRead);
  int32_t access;
  const char* name;
  if (mode == kModeRead) {
    name = ResolveLinkedFileArg(L, 2, kLinkedFileFile, nullptr);
    access = kDosAccessRead;
  } else if (mode == kModeWrite || mode == kModeReadWrite) {
    name = CheckName(L, 2);
    access = mode == kModeWrite ? kDosAccessWrite : kDosAccessReadWrite;
  } else {
    return ERR_WRONGUSAGE;
  }
  if (*name == '\0') return ERR_WRONGUSAGE;
  if (!id.automatic) {
    if (auto* old = reinterpret_cast<qvDosFile*>(FindObject(kObjectFile, {id.number, nullptr}))) {
      CloseRecord(L, old);
    }
  }
  PrintStatusMessage(GetErrorText(kTextOpeningFile), name, true);
  SetErrorString(name);
  static const int kFileModes[] = {kFileRead, kFileWrite, kFileReadWrite};
  qvFile* file = OpenCollecting(L, name, kFileModes[access]);
  if (file == nullptr) return access == kDosAccessRead ? ERR_READFILE : ERR_WRITEFILE;
  SeekFileQ(file, 0, kSeekEnd);
  int64_t length = file->position;
  SeekFileQ(file, 0, kSeekStart);
  auto* f = static_cast<qvDosFile*>(AllocVecQ(sizeof(qvDosFile), true));
  if (f == nullptr) {
    CloseFileQ(file);
    return ERR_MEM;
  }
  f->openArg = mode;
  f->access = access;
  f->length = length;
  f->file = file;
  AddObject(&gFiles, &f->header, kObjectFile, id.number, id.automatic);
  PrintDoneMessage();
  return PushNewObjectId(L, id, f);
}

int32_t CloseFile(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvDosFile* f;
  int32_t code = FindFile(CheckObjectId(L, 1), &f);
  if (code != 0) return code;
  CloseRecord(L, f);
  return 0;
}

int32_t Eof(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvDosFile* f;
  int32_t code = FindFile(CheckObjectId(L, 1), &f);
  if (code != 0) return code;
  VmPushNumber(L, f->position >= f->length ? 1 : 0);
  return 1;
}

int32_t ReadChr(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvDosFile* f;
  int32_t code = FindReadableFile(L, 1, &f);
  if (code != 0) return code;
  if (f->position >= f->length) return ERR_READRANGE;
  int c = GetByte(f->file);
  if (c < 0) return ShortReadError(f->file);
  ++f->position;
  VmPushNumber(L, c);
  return 1;
}

// ReadShort, ReadInt and ReadFloat: one big-endian number of that type.
template <typename Number>
int32_t ReadBigEndianNumber(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvDosFile* f;
  int32_t code = FindReadableFile(L, 1, &f);
  if (code != 0) return code;
  Number v;
  code = ReadBigEndianValue(f, f->file, &v, false, sizeof v);
  if (code != 0) return code;
  VmPushNumber(L, v);
  return 1;
}

int32_t ReadShort(qvScriptState* L) { return ReadBigEndianNumber<uint16_t>(L); }
int32_t ReadInt(qvScriptState* L) { return ReadBigEndianNumber<int32_t>(L); }
int32_t ReadFloat(qvScriptState* L) { return ReadBigEndianNumber<double>(L); }

// ReadString(id, length): exactly that many bytes.
int32_t ReadString(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvDosFile* f;
  int32_t code = FindReadableFile(L, 1, &f);
  if (code != 0) return code;
  double want = VmCheckNumber(L, 2);
  if (!(want >= 0)) return ERR_WRONGUSAGE;
  if (want > double(f->length - f->position)) return ERR_READRANGE;
  size_t count = size_t(want);
  if (count == 0) {
    VmPushLString(L, "", 0);
    return 1;
  }
  // One buffer for every call: blocks read in a loop cost no allocation each.
  static std::vector<char> buffer;
  try {
    if (buffer.size() < count) buffer.resize(count);
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  code = ReadBigEndianValue(f, f->file, buffer.data(), true, count);
  if (code == 0) VmPushLString(L, buffer.data(), count);
  // A huge read does not keep its memory.
  if (buffer.size() > kKeptReadBuffer) std::vector<char>().swap(buffer);
  return code == 0 ? 1 : code;
}

// ReadLine(id): the bytes up to the next line feed, every carriage return dropped.
int32_t ReadLine(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvDosFile* f;
  int32_t code = FindReadableFile(L, 1, &f);
  if (code != 0) return code;
  if (f->position >= f->length) return ERR_READRANGE;
  char piece[4096];
  qvStringBuffer b;
  bool buffered = false;
  for (;;) {
    int64_t left = f->length - f->position;
    if (left <= 0) break;
    size_t n;
    if (gIoMode == kIoUnbuffered) {
      int c = GetByte(f->file);
      if (c < 0) return ShortReadError(f->file);
      piece[0] = char(c);
      n = 1;
    } else {
      n = ReadUntilQ(f->file, piece, size_t(std::min<int64_t>(left, sizeof piece)), '\n');
      if (n == 0) return ShortReadError(f->file);
    }
    f->position += int64_t(n);
    bool end = piece[n - 1] == '\n';
    size_t keep = DropCarriageReturns(piece, end ? n - 1 : n);
    if (end && !buffered) {
      // The common line: one piece, no joining.
      VmPushLString(L, piece, keep);
      return 1;
    }
    if (!buffered) {
      VmBufferInit(L, &b);
      buffered = true;
    }
    VmBufferAddLString(&b, piece, keep);
    if (end) break;
  }
  if (!buffered) {
    VmPushLString(L, "", 0);
    return 1;
  }
  VmBufferPushResult(&b);
  return 1;
}

// Seek(id, position): EOF stands for the length.
int32_t Seek(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvDosFile* f;
  int32_t code = FindFile(CheckObjectId(L, 1), &f);
  if (code != 0) return code;
  double to = VmCheckNumber(L, 2);
  if (to == kEofPosition) to = double(f->length);
  if (!(to >= 0) || to > double(f->length)) return ERR_SEEK;
  return SeekDosFile(f, int64_t(to));
}

int32_t FilePos(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvDosFile* f;
  int32_t code = FindFile(CheckObjectId(L, 1), &f);
  if (code != 0) return code;
  VmPushNumber(L, double(f->position));
  return 1;
}

int32_t FileLength(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvDosFile* f;
  int32_t code = FindFile(CheckObjectId(L, 1), &f);
  if (code != 0) return code;
  VmPushNumber(L, double(f->length));
  return 1;
}

int32_t WriteChr(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvDosFile* f;
  int32_t code = FindWritableFile(L, 1, &f);
  if (code != 0) return code;
  int byte = VmCheckInt(L, 2) & 0xFF;
  if (!PutByte(f->file, byte)) return ERR_WRITE;
  if (++f->position > f->length) f->length = f->position;
  return 0;
}

int32_t WriteShort(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvDosFile* f;
  int32_t code = FindWritableFile(L, 1, &f);
  if (code != 0) return code;
  uint32_t v = uint32_t(VmCheckInt(L, 2));
  const uint8_t bytes[2] = {uint8_t(v >> 8), uint8_t(v)};
  return WriteDosBytes(f, bytes, 2);
}

int32_t WriteInt(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvDosFile* f;
  int32_t code = FindWritableFile(L, 1, &f);
  if (code != 0) return code;
  uint32_t v = uint32_t(VmCheckInt(L, 2));
  const uint8_t bytes[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
  return WriteDosBytes(f, bytes, 4);
}

int32_t WriteFloat(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvDosFile* f;
  int32_t code = FindWritableFile(L, 1, &f);
  if (code != 0) return code;
  double v = VmCheckNumber(L, 2);
  uint64_t bits;
  std::memcpy(&bits, &v, 8);
  uint8_t bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = uint8_t(bits >> (56 - 8 * i));
  return WriteDosBytes(f, bytes, 8);
}

// WriteString(id, string, length = 0): the first `length` bytes, 0 for all of them.
int32_t WriteString(qvScriptState* L) {
  CheckArgCount(L, 2, 3);
  qvDosFile* f;
  int32_t code = FindWritableFile(L, 1, &f);
  if (code != 0) return code;
  size_t len = 0;
  const char* text = VmCheckString(L, 2, &len);
  double want = VmOptNumber(L, 3, 0);
  if (!(want >= 0)) return ERR_WRONGUSAGE;
  if (want > double(len)) return ERR_STRTOOSHORT;
  if (want >= 1) len = size_t(want);
  return WriteDosBytes(f, text, len);
}

// WriteLine(id, string): the text up to its first zero byte, then CR LF.
int32_t WriteLine(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvDosFile* f;
  int32_t code = FindWritableFile(L, 1, &f);
  if (code != 0) return code;
  const char* text = VmCheckString(L, 2);
  code = WriteDosBytes(f, text, std::strlen(text));
  if (code == 0) code = WriteDosBytes(f, "\r\n", 2);
  return code;
}

int32_t FlushFile(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvDosFile* f;
  int32_t code = FindFile(CheckObjectId(L, 1), &f);
  if (code != 0) return code;
  FlushFileQ(f->file);
  return 0;
}

int32_t SetIOMode(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  int32_t mode = VmCheckInt(L, 1);
  if (mode != kIoBuffered && mode != kIoUnbuffered) return ERR_WRONGUSAGE;
  gIoMode = mode;
  return 0;
}

// FileLines(name): an iterator over the file's lines for a generic for.
int32_t FileLines(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  const char* name = CheckName(L, 1);
  SetErrorString(name);
  if (gOpenLineSources >= gLineSourceBound) {
    VmSetGCThreshold(L, 0);
    gLineSourceBound = std::max(kLineSourcesBeforeCollect, 2 * gOpenLineSources);
  }
  qvFile* file = OpenCollecting(L, name, kFileRead);
  if (file == nullptr) return ERR_READFILE;
  VmGetNamedMetaTable(L, kDosFileMeta);
  auto* source = static_cast<LineSource*>(VmNewUserdata(L, sizeof(LineSource)));
  source->file = file;
  ++gOpenLineSources;
  VmPushValue(L, -2);
  VmSetMetaTable(L, -2);
  VmPushNumber(L, 1);
  VmPushCClosure(L, NextLine, 3);
  return 1;
}

}  // namespace cmd

}  // namespace qv
